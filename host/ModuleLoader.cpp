#include "host/ModuleLoader.h"

#include "host/scan/FullPathName.h"
#include "sdk/ProcAddress.h"

namespace devicescan::host {

namespace {

std::wstring AbsolutePath(const std::wstring& path) {
    return scan::FullPathName(path).value_or(path);
}

}  // namespace

std::wstring ModuleLoader::DefaultPath() {
    std::wstring self(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
        if (length == 0) {
            return L"devicescan.dll";
        }
        if (length < self.size()) {
            self.resize(length);
            break;
        }
        self.resize(self.size() * 2);
    }
    return self.substr(0, self.find_last_of(L'\\') + 1) + L"devicescan.dll";
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
