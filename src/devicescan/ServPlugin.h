#pragma once

#include <cstdint>

#include "logging/LogApi.h"
#include "logging/LogMessage.h"
#include "sdk/IComponentManager.h"
#include "sdk/IDeviceScanEventProducer.h"
#include "sdk/StringT.h"

namespace devicescan::service {

// The name under which ServPlugin<T> writes its log records.
template <typename T>
constexpr const wchar_t* ServPluginGetPluginName();

template <>
constexpr const wchar_t* ServPluginGetPluginName<qv::rnsdk::FileScan::IDeviceScanEventProducer>() {
    return L"ServPlugin<struct qv::rnsdk::FileScan::IDeviceScanEventProducer>::GetPlugin";
}

// A plugin of interface T acquired by name from the host's component manager, together with the
// manager it came from. The manager is remembered only after a successful acquisition, so that
// a plugin is always given back to the manager that handed it out.
//
// Threads: acquired and released on the host's thread (Init, UnInit, destruction); the window
// thread only reads Plugin() between Start and the end of the window thread.
template <typename T>
class ServPlugin {
  public:
    explicit ServPlugin(const wchar_t* pluginName) {
        name.Preallocate(64);
        name = pluginName;
    }
    ~ServPlugin() { Release(); }
    ServPlugin(const ServPlugin&) = delete;
    ServPlugin& operator=(const ServPlugin&) = delete;

    // Gives back a plugin still held, then asks manager (may be null) for the plugin. Returns the
    // plugin held afterwards, null when none.
    T* GetPlugin(qv::IComponentManager* givenManager) {
        Release();
        if (givenManager == nullptr) {
            logging::LogMessage(logging::LOG_ERROR, ServPluginGetPluginName<T>(),
                                L"Null component manager");
            return plugin;
        }
        const std::uint32_t result = givenManager->AcquirePlugin(name.GetString(), T::kId,
                                                                 reinterpret_cast<void**>(&plugin));
        if (result == 0) {
            manager = givenManager;
        } else {
            logging::LogMessage(logging::LOG_WARNING, ServPluginGetPluginName<T>(),
                                L"Error %d getting plugin \"%s\"", result, name.GetString());
        }
        return plugin;
    }

    // Gives a held plugin back to its manager; nothing happens when none is held.
    void Release() noexcept {
        if (plugin == nullptr) {
            return;
        }
        if (manager != nullptr) {
            manager->ReleasePlugin(name.GetString());
        }
        manager = nullptr;
        plugin = nullptr;
    }

    T* Plugin() const noexcept { return plugin; }
    const qv::String& Name() const noexcept { return name; }

  private:
    qv::IComponentManager* manager = nullptr;
    T* plugin = nullptr;
    qv::String name;
};

}  // namespace devicescan::service
