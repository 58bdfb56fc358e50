#pragma once
// Statements for field shapes that several class levels store and the archive has no one-call
// form for: fixed arrays, fixed byte blocks, runs of references without a count of their own,
// and tables stored as all their values and then all their keys. Each is one statement that
// every pass runs alike (object/archive.h).
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "core/alloc.h"
#include "object/archive.h"

namespace KX {

// Bytes a load passes over (what older blocks carry and nothing keeps); nothing on other passes.
inline CArchive& PassOver(CArchive& ar, uint64_t bytes) {
  if (ar.Loading()) ar.reader().Skip(bytes);
  return ar;
}

// A fixed array of plain values, stored as its elements and listed as a list.
template <class T, size_t N>
CArchive& FixedArray(CArchive& ar, const char* name, std::array<T, N>& values) {
  if (ar.Loading())
    ar.reader().Read(values);
  else if (ar.Saving())
    ar.writer().FieldArray(name, std::span<const T>(values));
  return ar;
}

// A fixed block of opaque bytes, listed as bytes.
template <size_t N>
CArchive& FixedBytes(CArchive& ar, const char* name, std::array<uint8_t, N>& bytes) {
  if (ar.Loading())
    ar.reader().Read(bytes);
  else if (ar.Saving())
    ar.writer().FieldBytes(name, bytes.data(), bytes.size());
  return ar;
}

// One id per slot of `slots` (an array, a vector or a span of references), with no count of its
// own, listed as the list `name`: queued when read, resolved slot by slot when linked.
template <class Slots>
CArchive& RefSlots(CArchive& ar, const char* name, Slots&& slots) {
  const auto list = ListScope(ar, name);
  for (auto& slot : slots) ar.Ref(nullptr, slot);
  return ar;
}

// A table stored as its int32 count, the values of all entries in key order, then all the keys
// in the same order; listed as the table. A load replaces the table; where a file repeats a key
// its first value stays, as the table keeps one value per key.
template <class Value>
CArchive& ValuesThenKeys(CArchive& ar, const char* name, std::map<std::u16string, Value>& table) {
  int32_t count = static_cast<int32_t>(table.size());
  ar.Count(count);
  if (ar.Saving()) {
    CWriter& out = ar.writer();
    out.Note(name, table);
    for (const auto& [key, value] : table) out.Data(value);
    for (const auto& [key, value] : table) out.Data(key);
  } else if (ar.Loading()) {
    CReader& in = ar.reader();
    // Each entry takes its value and at least a key length.
    if (!in.CanHold(count, sizeof(Value) + 4)) return ar;
    std::vector<Value> values;
    in.ReadArray(values, count);
    std::vector<std::u16string> keys;
    if (in.ok()) in.Fail(TryResize(keys, values.size()));
    for (auto& key : keys) in.Read(key);
    if (!in.ok()) return ar;
    table.clear();
    in.Fail(TryAllocate([&] {
      for (size_t i = 0; i < keys.size(); ++i) table.emplace(std::move(keys[i]), values[i]);
    }));
  }
  return ar;
}

}  // namespace KX
