#include "module/ObjectRegistry.h"

#include <mutex>

#include "sdk/SpinLock.h"

namespace qv::module {
namespace {

// Module-wide state, zero when the module is loaded; guarded by registrySpinLock.
ObjectRegistry* currentRegistry = nullptr;
std::int32_t registryHolds = 0;
constinit SpinLock registrySpinLock;

}  // namespace

ObjectRegistry* ObjectRegistry::TakeHold() {
    std::lock_guard<SpinLock> lock(registrySpinLock);
    if (registryHolds == 0) {
        delete currentRegistry;
        currentRegistry = nullptr;
        currentRegistry = new ObjectRegistry();
    }
    ++registryHolds;
    return currentRegistry;
}

void ObjectRegistry::GiveHoldBack() noexcept {
    std::lock_guard<SpinLock> lock(registrySpinLock);
    if (registryHolds > 0) {
        --registryHolds;
    }
    if (currentRegistry != nullptr && registryHolds == 0) {
        delete currentRegistry;
        currentRegistry = nullptr;
    }
}

ObjectRegistry* ObjectRegistry::Current() noexcept {
    std::lock_guard<SpinLock> lock(registrySpinLock);
    return currentRegistry;
}

std::int32_t ObjectRegistry::HoldCount() noexcept {
    std::lock_guard<SpinLock> lock(registrySpinLock);
    return registryHolds;
}

void ObjectRegistry::Register(const std::wstring& name, IObjectConstructor* constructor) {
    std::lock_guard<CriticalSection> lock(registryLock);
    constructors.try_emplace(name, constructor);
}

void ObjectRegistry::Unregister(const std::wstring& name) {
    std::lock_guard<CriticalSection> lock(registryLock);
    constructors.erase(name);
}

IQvBaseInterface* ObjectRegistry::CreateObject(const wchar_t* name) {
    std::lock_guard<CriticalSection> lock(registryLock);
    const auto entry = constructors.find(name);
    if (entry == constructors.end()) {
        return nullptr;
    }
    return entry->second->Create();
}

void ObjectRegistry::DestroyObject(const wchar_t* name, IQvBaseInterface* object) {
    std::lock_guard<CriticalSection> lock(registryLock);
    const auto entry = constructors.find(name);
    if (entry != constructors.end()) {
        entry->second->Destroy(object);
    }
}

}  // namespace qv::module
