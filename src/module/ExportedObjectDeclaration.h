#pragma once

#include <string>

#include "module/ObjectRegistry.h"
#include "sdk/IObjectConstructor.h"

namespace devicescan::module {

// Declares class T under a name for the exports. One module-level instance per exported class:
// built while the module loads (registering the name and keeping the registry alive), destroyed
// while it unloads (unregistering it). T must answer the qv::IQvBaseInterface identity.
template <typename T>
class ExportedObjectDeclaration final : public qv::IObjectConstructor {
  public:
    explicit ExportedObjectDeclaration(const wchar_t* name) {
        hold.Take();
        objectName = name;
        hold.Held()->Register(objectName, this);
    }
    ~ExportedObjectDeclaration() {
        hold.Held()->Unregister(objectName);
        hold.GiveBack();
    }
    ExportedObjectDeclaration(const ExportedObjectDeclaration&) = delete;
    ExportedObjectDeclaration& operator=(const ExportedObjectDeclaration&) = delete;

    // If T's construction throws, new gives the memory back and the exception passes on.
    qv::IQvBaseInterface* Create() override {
        T* object = new T();
        return static_cast<qv::IQvBaseInterface*>(
            object->QueryInterface(qv::IQvBaseInterface::kId));
    }

    // Only objects of class T are destroyed; null and foreign objects are left alone.
    void Destroy(qv::IQvBaseInterface* object) override {
        T* typed = dynamic_cast<T*>(object);
        if (typed != nullptr) {
            delete typed;
        }
    }

    bool IsSingleton() override { return false; }

    const std::wstring& Name() const noexcept { return objectName; }

  private:
    std::wstring objectName;
    RegistryHold hold;
};

}  // namespace devicescan::module
