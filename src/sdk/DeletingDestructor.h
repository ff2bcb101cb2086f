#pragma once

#include <type_traits>

namespace qv {

// The flags of a deleting-destructor slot. Bit 0 set: free the memory after destroying.
inline constexpr unsigned int kDestroyOnly = 0;
inline constexpr unsigned int kDestroyAndFree = 1;

// Implements the destructor slot of an interface whose objects are destroyed across the module
// boundary (IDeviceScanSP, the map's enumerators). Hosts are built with the platform's own
// compiler, which gives a virtual destructor one table slot, `void* (unsigned int flags)`: it runs
// the destructor, frees the memory when bit 0 of flags is set, and returns the object's address.
// GCC and Clang give a C++ virtual destructor two slots instead (destroy, then destroy and free),
// which would move every later slot and add one the hosts do not know. So these interfaces
// declare that slot as a plain virtual function in its place, keep their own destructor
// protected and non-virtual (nobody deletes through the interface), and each concrete class
// fills the slot with this helper:
//
//     void* DeletingDestructor(unsigned int flags) override {
//         return qv::RunDeletingDestructor(this, flags);
//     }
//
// Concrete must be final, so that its destructor is the whole object's and delete frees the
// block that new gave, with the operator delete that goes with it.
template <typename Concrete>
void* RunDeletingDestructor(Concrete* object, unsigned int flags) noexcept {
    static_assert(std::is_final_v<Concrete>, "the deleting destructor belongs to a final class");
    void* const address = object;
    if ((flags & kDestroyAndFree) != 0) {
        delete object;
    } else {
        object->~Concrete();
    }
    return address;
}

}  // namespace qv
