#pragma once

#include <cstdint>

#include "sdk/DeletingDestructor.h"
#include "sdk/InterfaceId.h"
#include "sdk/StringT.h"

namespace qv::rnsdk::FileScan {

// The device-scan view of the service: listeners are added and removed through it. Not derived
// from IQvBaseInterface: in the service object it is a second, independent base, so its view is
// a different pointer from the IServPlugin view.
class IDeviceScanSP {
  public:
    // {700DEBC8-B4DC-B4C1-E546-623EA7DAB617}
    static constexpr InterfaceId kId{0xb4c1b4dc700debc8ull, 0x17b6daa73e6246e5ull};

    static constexpr std::int32_t kDeviceTypeLocal = 1;   // removable, or fixed but hot-pluggable
    static constexpr std::int32_t kDeviceTypeRemote = 2;  // network drive
    static constexpr std::int32_t kDeviceTypeCdRom = 3;   // optical drive

    // One mounted volume. Copies are deep: each copy owns its own strings.
    struct Device {
        std::int32_t type = 0;                 // 0 in a fresh record, never announced
        String path;                           // drive root, E:\ form
        String remote;                         // UNC name of a network drive, else empty
        std::uint64_t fullSize = 0;            // bytes
        std::uint64_t storedSize = 0;          // bytes in use
        std::uint32_t sessionId = 0xFFFFFFFF;  // console session at Init; all bits: unknown
    };

    // Implemented by the host. Records are valid for the duration of the call only.
    class IEvents {
      public:
        // First slot: the host's own business; the module never calls it.
        virtual int Reserved() = 0;
        virtual int OnDeviceMounted(const Device& device) = 0;
        virtual int OnDeviceUnmounted(const Device& device) = 0;
    };

    // 0, 87 for a null listener, 1627 when it is already registered.
    virtual std::uint32_t Register(IEvents* listener) = 0;
    // 0, 87 for a null listener, 1627 when it is not registered.
    virtual std::uint32_t Unregister(IEvents* listener) = 0;
    // Third and last slot: the object's destructor in the platform compiler's form
    // (sdk/DeletingDestructor.h). Bit 0 of flags frees the object; returns its address.
    virtual void* DeletingDestructor(unsigned int flags) = 0;

  protected:
    ~IDeviceScanSP() = default;
};

}  // namespace qv::rnsdk::FileScan
