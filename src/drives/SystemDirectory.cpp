#include "drives/SystemDirectory.h"

#include <windows.h>
#include <shlwapi.h>

#include "drives/Platform.h"

namespace devicescan::service {

bool GetSystemDirectoryPath(qv::String& directory) {
    // PathAddBackslashW may write up to MAX_PATH characters.
    if (directory.GetCapacity() < MAX_PATH && !directory.Preallocate(MAX_PATH)) {
        return false;
    }
    wchar_t* buffer = directory.GetBuffer();
    const UINT read =
        platform::GetSystemDirectoryW(buffer, static_cast<UINT>(directory.GetCapacity()));
    directory.ReleaseBuffer();
    if (read == 0) {
        return false;
    }
    const wchar_t* end = PathAddBackslashW(buffer);
    directory.ReleaseBuffer();
    return end != nullptr;
}

}  // namespace devicescan::service
