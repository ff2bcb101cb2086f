#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "sdk/InterfaceId.h"

namespace devicescan::host {

// Loads the module DLL and resolves its two exports; unloads it when destroyed.
//
// Threads: the main thread only.
class ModuleLoader {
  public:
    using CreateFunction = std::uint32_t (*)(const wchar_t* name, qv::InterfaceId id, void** out);
    using DestroyFunction = void (*)(const wchar_t* name, void* object);

    ModuleLoader() = default;
    ModuleLoader(const ModuleLoader&) = delete;
    ModuleLoader& operator=(const ModuleLoader&) = delete;
    ~ModuleLoader() { Unload(); }

    // devicescan.dll in the directory of the running executable.
    static std::wstring DefaultPath();

    // Loads the DLL at path (made absolute first, so no search path is involved): 0, or the
    // code LoadLibrary failed with. FullPath() gives the path that was tried.
    std::uint32_t Load(const std::wstring& path);
    // Resolves QvCreateObject and QvDestroyObject: null when both are there, else the name of
    // the first one missing.
    const char* ResolveExports();
    void Unload() noexcept;

    const std::wstring& FullPath() const noexcept { return fullPath; }
    CreateFunction Create() const noexcept { return create; }
    DestroyFunction Destroy() const noexcept { return destroy; }

  private:
    std::wstring fullPath;
    HMODULE module = nullptr;
    CreateFunction create = nullptr;
    DestroyFunction destroy = nullptr;
};

}  // namespace devicescan::host
