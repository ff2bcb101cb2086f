#pragma once

#include <string>

#include "module/RegistryHold.h"
#include "sdk/DeletingDestructor.h"
#include "sdk/IObjectConstructor.h"

namespace qv::module {

// Declares class T under a name for the exports. One module-level instance per exported class:
// built while the module loads (registering the name and keeping the registry alive), destroyed
// while it unloads (unregistering it). T must answer the IQvBaseInterface identity and have a
// deleting-destructor slot (sdk/DeletingDestructor.h).
template <typename T>
class ExportedObjectDeclaration final : public IObjectConstructor {
  public:
    explicit ExportedObjectDeclaration(const wchar_t* name) {
        hold.Take();
        objectName = name;
        hold.Registry()->Register(objectName, this);
    }
    ~ExportedObjectDeclaration() {
        hold.Registry()->Unregister(objectName);
        hold.GiveBack();
    }
    ExportedObjectDeclaration(const ExportedObjectDeclaration&) = delete;
    ExportedObjectDeclaration& operator=(const ExportedObjectDeclaration&) = delete;

    // If T's construction throws, new gives the memory back and the exception passes on.
    IQvBaseInterface* Create() override {
        T* object = new T();
        return static_cast<IQvBaseInterface*>(object->QueryInterface(IQvBaseInterface::kId));
    }

    // Only objects of class T are destroyed; null and foreign objects are left alone. T is
    // destroyed and freed through its deleting-destructor slot, the one the hosts' tables have.
    void Destroy(IQvBaseInterface* object) override {
        T* typed = dynamic_cast<T*>(object);
        if (typed != nullptr) {
            typed->DeletingDestructor(kDestroyAndFree);
        }
    }

    bool IsSingleton() override { return false; }

    const std::wstring& Name() const noexcept { return objectName; }

  private:
    std::wstring objectName;
    RegistryHold hold;
};

}  // namespace qv::module
