#pragma once

/* The folder of the running program, where the shipped binaries lie beside it. Plain C, so that
 * the C host among the tests uses the same code as the C++ programs. */

#include <windows.h>

/* Writes the folder of this process's program, ending in '\', into buffer (capacity characters,
 * the terminating NUL included) and returns its length; 0, and an empty buffer, when the name
 * cannot be read or does not fit. */
static inline DWORD QvProgramDirectory(wchar_t* buffer, DWORD capacity) {
    DWORD length = capacity == 0 ? 0 : GetModuleFileNameW(NULL, buffer, capacity);
    if (length == 0 || length >= capacity) {
        length = 0;
    }
    while (length > 0 && buffer[length - 1] != L'\\') {
        --length;
    }
    if (capacity > 0) {
        buffer[length] = L'\0';
    }
    return length;
}

#ifdef __cplusplus

#include <string>

namespace qv {

// The folder of this program, ending in '\' (empty when its name cannot be read), for paths of
// any length.
inline std::wstring ProgramDirectory() {
    std::wstring folder(MAX_PATH, L'\0');
    while (folder.size() < 32768) {
        const DWORD length = QvProgramDirectory(folder.data(), static_cast<DWORD>(folder.size()));
        if (length > 0) {
            folder.resize(length);
            return folder;
        }
        folder.resize(folder.size() * 2);
    }
    return {};
}

}  // namespace qv

#endif
