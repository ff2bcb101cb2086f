#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "sdk/CriticalSection.h"
#include "sdk/IObjectConstructor.h"

namespace qv::module {

// The process-wide map from object name to constructor behind the two exports.
//
// Existence: the registry lives while holds are outstanding (see RegistryHold). Holds are counted
// under a spin lock; the first hold creates the registry, the last one destroys it. Every export
// call keeps a hold for as long as it touches the registry, and each declaration one for its
// whole life.
//
// Threads: any. registryLock serialises lookups, registrations and every Create and Destroy, so
// objects are never built or destroyed concurrently. Lock order: a hold is taken before
// registryLock is entered and given back after it is left.
class ObjectRegistry {
  public:
    ObjectRegistry() = default;
    ObjectRegistry(const ObjectRegistry&) = delete;
    ObjectRegistry& operator=(const ObjectRegistry&) = delete;

    // Takes one hold and returns the registry it keeps alive (created when none was held).
    static ObjectRegistry* TakeHold();
    // Gives one hold back; the last one destroys the registry.
    static void GiveHoldBack() noexcept;
    // The registry while one exists, else null; the number of holds outstanding.
    static ObjectRegistry* Current() noexcept;
    static std::int32_t HoldCount() noexcept;

    // The first registration of a name wins; a later one is ignored.
    void Register(const std::wstring& name, IObjectConstructor* constructor);
    void Unregister(const std::wstring& name);
    // The new object's root view, or null for an unknown name or a failed construction.
    IQvBaseInterface* CreateObject(const wchar_t* name);
    // Hands object to the constructor registered under name, if any.
    void DestroyObject(const wchar_t* name, IQvBaseInterface* object);

  private:
    std::map<std::wstring, IObjectConstructor*> constructors;  // owns the keys only
    CriticalSection registryLock;
};

}  // namespace qv::module
