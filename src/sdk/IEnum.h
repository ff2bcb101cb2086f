#pragma once

#include "sdk/IConstEnum.h"

namespace qv {

// A walk over the elements of an IMap that may change the values, and through IMap::EraseAt
// remove elements. The slots of IConstEnum, with the key and value slots exchanged.
template <typename K, typename V>
class IEnum {
  public:
    virtual bool HasCurrent() const = 0;
    virtual EnumPosition MoveNext() = 0;
    virtual V* GetValue() = 0;
    virtual const K* GetKey() const = 0;
    virtual void Destroy() { DeletingDestructor(kDestroyAndFree); }
    virtual EnumPosition Reset() = 0;
    // The destructor in the platform compiler's form (sdk/DeletingDestructor.h): bit 0 of flags
    // frees the enumerator; returns its address.
    virtual void* DeletingDestructor(unsigned int flags) = 0;

  protected:
    ~IEnum() = default;
};

}  // namespace qv
