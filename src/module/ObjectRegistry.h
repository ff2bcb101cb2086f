#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "sdk/CriticalSection.h"
#include "sdk/IObjectConstructor.h"
#include "sdk/SharedInstance.h"

namespace devicescan::module {

// The process-wide map from object name to constructor behind the two exports.
//
// Existence: the registry lives while holds are outstanding (SharedRegistry, RegistryHold): the
// first hold creates it, the last one destroys it. Every export
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

    // The first registration of a name wins; a later one is ignored.
    void Register(const std::wstring& name, qv::IObjectConstructor* constructor);
    void Unregister(const std::wstring& name);
    // The new object's root view, or null for an unknown name or a failed construction.
    qv::IQvBaseInterface* CreateObject(const wchar_t* name);
    // Hands object to the constructor registered under name, if any.
    void DestroyObject(const wchar_t* name, qv::IQvBaseInterface* object);

  private:
    std::map<std::wstring, qv::IObjectConstructor*> constructors;  // owns the keys only
    qv::CriticalSection registryLock;
};

// A new registry for the first hold; throws when memory runs out.
ObjectRegistry* NewObjectRegistry();

// The module's one registry, and the holds the exports and declarations keep on it.
using SharedRegistry = qv::SharedInstance<ObjectRegistry, &NewObjectRegistry>;
using RegistryHold = qv::SharedHold<SharedRegistry, ObjectRegistry>;

}  // namespace devicescan::module
