#pragma once

#include <windows.h>

// The image base of whatever binary this code is linked into, provided by the linker.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace devicescan::logging {

// The handle of the module that writes: the DLL (or program) the logging code is linked into.
inline HMODULE ThisModule() noexcept {
    return reinterpret_cast<HMODULE>(&__ImageBase);
}

}  // namespace devicescan::logging
