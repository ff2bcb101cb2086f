#include "host/hosting/ModuleLoader.h"

#include "host/scan/FullPathName.h"
#include "sdk/ProcAddress.h"
#include "sdk/ProgramDirectory.h"

namespace devicescan::host {

namespace {

std::wstring AbsolutePath(const std::wstring& path) {
    return scan::FullPathName(path).value_or(path);
}

}  // namespace

std::wstring ModuleLoader::DefaultPath() {
    return qv::ProgramDirectory() + L"devicescan.dll";
}

std::uint32_t ModuleLoader::Load(const std::wstring& path) {
    Unload();
    fullPath = AbsolutePath(path);
    // No "cannot load" dialog box: a bad module is reported on stderr.
    DWORD oldMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
    module = LoadLibraryExW(fullPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD error = GetLastError();
    SetThreadErrorMode(oldMode, nullptr);
    if (module != nullptr) {
        return ERROR_SUCCESS;
    }
    return error != ERROR_SUCCESS ? error : ERROR_MOD_NOT_FOUND;
}

const char* ModuleLoader::ResolveExports() {
    create = qv::GetProcAddressAs<CreateFunction>(module, "QvCreateObject");
    destroy = qv::GetProcAddressAs<DestroyFunction>(module, "QvDestroyObject");
    if (create == nullptr) {
        return "QvCreateObject";
    }
    if (destroy == nullptr) {
        return "QvDestroyObject";
    }
    return nullptr;
}

void ModuleLoader::Unload() noexcept {
    create = nullptr;
    destroy = nullptr;
    if (module != nullptr) {
        FreeLibrary(module);
        module = nullptr;
    }
}

}  // namespace devicescan::host
