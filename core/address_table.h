#pragma once
// Open-addressing tables keyed by object address. Walks over large object graphs (the ownership
// check of a load, the ids of a save, the passes of the conversion) look up every object a few
// times; these tables allocate once for the whole walk instead of once per object.
#include <bit>
#include <cstdint>
#include <utility>
#include <vector>

namespace KX {

class CBase;

template <class Value>
class CAddressTable {
 public:
  explicit CAddressTable(size_t expected = 0) { Rehash(Capacity(expected)); }

  // The value of `key`, default-constructed when the key is new.
  Value& operator[](const CBase* key) { return Insert(key).first; }

  // The value of `key` and whether it was new.
  std::pair<Value&, bool> Insert(const CBase* key) {
    size_t i = Slot(key);
    if (keys_[i] == key) return {values_[i], false};
    if ((size_ + 1) * 2 > keys_.size()) {
      Rehash(keys_.size() * 2);
      i = Slot(key);
    }
    keys_[i] = key;
    ++size_;
    return {values_[i], true};
  }

  // The value of `key`, or null when it has none.
  const Value* Find(const CBase* key) const {
    const size_t i = Slot(key);
    return keys_[i] == key ? &values_[i] : nullptr;
  }
  Value* Find(const CBase* key) {
    const size_t i = Slot(key);
    return keys_[i] == key ? &values_[i] : nullptr;
  }

  size_t size() const { return size_; }
  // Room for `expected` keys in all without growing again.
  void Reserve(size_t expected) {
    if (Capacity(expected) > keys_.size()) Rehash(Capacity(expected));
  }
  void Clear(size_t expected = 0) {
    size_ = 0;
    keys_.assign(Capacity(expected), nullptr);
    values_.assign(keys_.size(), Value{});
    shift_ = ShiftFor(keys_.size());
  }

 private:
  static size_t Capacity(size_t expected) {
    size_t capacity = 16;
    while (capacity < expected * 2) capacity *= 2;
    return capacity;
  }
  // The search starts at the top bits of the address times the golden ratio: every bit of the
  // address counts towards them, where the low bits of the product see only the low bits of the
  // address, which objects of one size share in long runs.
  static unsigned ShiftFor(size_t capacity) {
    return 64u - static_cast<unsigned>(std::countr_zero(capacity));
  }
  // The key's slot, or the empty slot where it would go.
  size_t Slot(const CBase* key) const {
    const size_t mask = keys_.size() - 1;
    const uint64_t hash = reinterpret_cast<uintptr_t>(key) * 0x9E3779B97F4A7C15ull;
    size_t i = static_cast<size_t>(hash >> shift_);
    while (keys_[i] && keys_[i] != key) i = (i + 1) & mask;
    return i;
  }
  void Rehash(size_t capacity) {
    std::vector<const CBase*> oldKeys(capacity, nullptr);
    std::vector<Value> oldValues(capacity);
    oldKeys.swap(keys_);
    oldValues.swap(values_);
    shift_ = ShiftFor(capacity);
    for (size_t i = 0; i < oldKeys.size(); ++i)
      if (oldKeys[i]) {
        const size_t j = Slot(oldKeys[i]);
        keys_[j] = oldKeys[i];
        values_[j] = std::move(oldValues[i]);
      }
  }

  std::vector<const CBase*> keys_;
  std::vector<Value> values_;
  size_t size_ = 0;
  unsigned shift_ = 64;  // 64 - log2 of the capacity
};

}  // namespace KX
