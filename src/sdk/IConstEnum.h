#pragma once

#include "sdk/DeletingDestructor.h"

namespace qv {

// Where an enumerator stands, as an opaque value: the address of the element it is on, or null
// past the end.
using EnumPosition = const void*;

// A read-only walk over the elements of an IMap. Slot order is part of the map's contract.
template <typename K, typename V>
class IConstEnum {
  public:
    // True while the enumerator is on an element.
    virtual bool HasCurrent() const = 0;
    // Steps to the next element; returns the position it left.
    virtual EnumPosition MoveNext() = 0;
    // The current element's key and value; null past the end.
    virtual const K* GetKey() const = 0;
    virtual const V* GetValue() const = 0;
    // Deletes the enumerator through the destructor slot. EnumPtr calls it, and skips a null
    // enumerator.
    virtual void Destroy() { DeletingDestructor(kDestroyAndFree); }
    // Back to the first element (past the end for an empty map); returns that position.
    virtual EnumPosition Reset() = 0;
    // The destructor in the platform compiler's form (sdk/DeletingDestructor.h): bit 0 of flags
    // frees the enumerator; returns its address.
    virtual void* DeletingDestructor(unsigned int flags) = 0;

  protected:
    ~IConstEnum() = default;
};

}  // namespace qv
