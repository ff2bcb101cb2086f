#include "module/Exports.h"

#include "module/ObjectRegistry.h"
#include "sdk/ResultCodes.h"

namespace {

using devicescan::module::RegistryHold;
using qv::IQvBaseInterface;

IQvBaseInterface* CreateByName(const wchar_t* name) {
    RegistryHold hold;
    return hold.Take()->CreateObject(name);
}

void DestroyByName(const wchar_t* name, IQvBaseInterface* object) {
    RegistryHold hold;
    hold.Take()->DestroyObject(name, object);
}

}  // namespace

extern "C" std::uint32_t QvCreateObject(const wchar_t* name, qv::InterfaceId id,
                                        void** out) noexcept {
    *out = nullptr;
    IQvBaseInterface* object = nullptr;
    try {
        object = CreateByName(name);
    } catch (...) {
        // A construction that threw (out of memory) has already given back its memory, the
        // registry lock and the hold while unwinding. Exceptions never cross into the host.
        return qv::kResultNotFound;
    }
    if (object == nullptr) {
        return qv::kResultNotFound;
    }
    *out = object->QueryInterface(id);
    if (*out != nullptr) {
        return qv::kResultSuccess;
    }
    DestroyByName(name, object);
    return qv::kResultNotFound;
}

extern "C" void QvDestroyObject(const wchar_t* name, void* object) noexcept {
    DestroyByName(name, static_cast<IQvBaseInterface*>(object));
}
