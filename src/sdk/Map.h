#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <utility>

#include "sdk/IConstEnum.h"
#include "sdk/IEnum.h"
#include "sdk/IMap.h"
#include "sdk/MapKeyTraits.h"
#include "sdk/ResultCodes.h"

namespace qv {

// The SDK's hash map: a standard unordered map with the SDK's key hash and exact key equality,
// a maximum load factor of 1.0, and a table that starts at (and Clear returns to) 8 requested
// buckets; the standard container rounds that to its own bucket sizes. Elements hold deep copies
// of key and value.
//
// Threads: no lock of its own. The owner serialises every call, and pointers from Find and
// enumerator positions are not used after the owner's lock is left.
template <typename K, typename V>
class Map final : public IMap<K, V> {
    using Table = std::unordered_map<K, V, MapKeyHash<K>, MapKeyEqual<K>>;

  public:
    class Enum;
    class ConstEnum;

    static constexpr std::size_t kInitialBuckets = 8;

    Map() : table(kInitialBuckets) { table.max_load_factor(1.0f); }
    Map(const Map&) = delete;
    Map& operator=(const Map&) = delete;

    // Copies key and value first, then moves the copies into the new element (strings change
    // hands by pointer). A duplicate key discards the new element.
    std::uint32_t Insert(const K& key, const V& value) override {
        std::pair<K, V> entry(key, value);
        const bool added = table.emplace(std::move(entry.first), std::move(entry.second)).second;
        return added ? kResultSuccess : kResultAlreadyExists;
    }
    V* Find(const K& key) override {
        const auto found = table.find(key);
        return found == table.end() ? nullptr : &found->second;
    }
    const V* Find(const K& key) const override {
        const auto found = table.find(key);
        return found == table.end() ? nullptr : &found->second;
    }
    std::uint32_t Get(const K& key, V& out) const override {
        const V* stored = Find(key);
        if (stored == nullptr) {
            return kResultNotFound;
        }
        out = *stored;
        return kResultSuccess;
    }
    // The enumerator must be one of this map's; past the end it is left alone.
    EnumPosition EraseAt(IEnum<K, V>& enumerator) override {
        auto& position = static_cast<Enum&>(enumerator).position;
        if (position != table.end()) {
            position = table.erase(position);
        }
        return static_cast<Enum&>(enumerator).Current();
    }
    std::uint32_t Remove(const K& key) override {
        return table.erase(key) == 1 ? kResultSuccess : kResultNotFound;
    }
    IConstEnum<K, V>* GetConstEnum() const override { return new ConstEnum(&table); }
    IEnum<K, V>* GetEnum() override { return new Enum(&table); }
    void Clear() override {
        table.clear();
        table.rehash(kInitialBuckets);
    }
    std::uint64_t GetCount() const override { return table.size(); }

  private:
    Table table;
};

// Enumerator that may change values. Made on the heap by the map; deletes itself in Destroy.
// Valid while the map changes only through EraseAt with this enumerator.
template <typename K, typename V>
class Map<K, V>::Enum final : public IEnum<K, V> {
  public:
    explicit Enum(Table* table) noexcept : table(table), position(table->begin()) {}

    bool HasCurrent() const override { return position != table->end(); }
    EnumPosition MoveNext() override {
        const EnumPosition left = Current();
        if (HasCurrent()) {
            ++position;
        }
        return left;
    }
    V* GetValue() override { return HasCurrent() ? &position->second : nullptr; }
    const K* GetKey() const override { return HasCurrent() ? &position->first : nullptr; }
    void Destroy() override { delete this; }
    EnumPosition Reset() override {
        position = table->begin();
        return Current();
    }

  private:
    friend class Map;

    EnumPosition Current() const noexcept { return HasCurrent() ? &*position : nullptr; }

    Table* table;
    typename Table::iterator position;
};

// Read-only enumerator. Made on the heap by the map; deletes itself in Destroy. Valid while the
// map does not change. It walks the table as Enum does; the two stay separate classes because
// they implement two different interfaces (IEnum and IConstEnum, each with its own slot order).
template <typename K, typename V>
class Map<K, V>::ConstEnum final : public IConstEnum<K, V> {
  public:
    explicit ConstEnum(const Table* table) noexcept : table(table), position(table->begin()) {}

    bool HasCurrent() const override { return position != table->end(); }
    EnumPosition MoveNext() override {
        const EnumPosition left = Current();
        if (HasCurrent()) {
            ++position;
        }
        return left;
    }
    const K* GetKey() const override { return HasCurrent() ? &position->first : nullptr; }
    const V* GetValue() const override { return HasCurrent() ? &position->second : nullptr; }
    void Destroy() override { delete this; }
    EnumPosition Reset() override {
        position = table->begin();
        return Current();
    }

  private:
    EnumPosition Current() const noexcept { return HasCurrent() ? &*position : nullptr; }

    const Table* table;
    typename Table::const_iterator position;
};

}  // namespace qv
