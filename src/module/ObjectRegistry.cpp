#include "module/ObjectRegistry.h"

#include <mutex>

namespace devicescan::module {

ObjectRegistry* NewObjectRegistry() {
    return new ObjectRegistry();
}

void ObjectRegistry::Register(const std::wstring& name, qv::IObjectConstructor* constructor) {
    std::lock_guard<qv::CriticalSection> lock(registryLock);
    constructors.try_emplace(name, constructor);
}

void ObjectRegistry::Unregister(const std::wstring& name) {
    std::lock_guard<qv::CriticalSection> lock(registryLock);
    constructors.erase(name);
}

qv::IQvBaseInterface* ObjectRegistry::CreateObject(const wchar_t* name) {
    std::lock_guard<qv::CriticalSection> lock(registryLock);
    const auto entry = constructors.find(name);
    if (entry == constructors.end()) {
        return nullptr;
    }
    return entry->second->Create();
}

void ObjectRegistry::DestroyObject(const wchar_t* name, qv::IQvBaseInterface* object) {
    std::lock_guard<qv::CriticalSection> lock(registryLock);
    const auto entry = constructors.find(name);
    if (entry != constructors.end()) {
        entry->second->Destroy(object);
    }
}

}  // namespace devicescan::module
