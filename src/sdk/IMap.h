#pragma once

#include <cstdint>

#include "sdk/IConstEnum.h"
#include "sdk/IEnum.h"

namespace qv {

// The SDK's hash map of unique keys. Slot order is part of its contract. No virtual destructor:
// a map is destroyed as a member of its owner, never through this view.
template <typename K, typename V>
class IMap {
  public:
    // 0 when added; 183 when the key is present, the stored value left unchanged.
    virtual std::uint32_t Insert(const K& key, const V& value) = 0;
    // The stored value, valid until its element is removed; null when absent.
    virtual V* Find(const K& key) = 0;
    virtual const V* Find(const K& key) const = 0;
    // 0 and a deep copy of the stored value in out, or 1168 with out untouched.
    virtual std::uint32_t Get(const K& key, V& out) const = 0;
    // Removes the element under the enumerator, which moves on to the element that followed it;
    // returns that position.
    virtual EnumPosition EraseAt(IEnum<K, V>& enumerator) = 0;
    // 0 when removed, 1168 when absent.
    virtual std::uint32_t Remove(const K& key) = 0;
    // New enumerators on the first element; the caller destroys them (EnumPtr).
    virtual IConstEnum<K, V>* GetConstEnum() const = 0;
    virtual IEnum<K, V>* GetEnum() = 0;
    // Removes every element; the table goes back to its initial size.
    virtual void Clear() = 0;
    virtual std::uint64_t GetCount() const = 0;

  protected:
    ~IMap() = default;
};

}  // namespace qv
