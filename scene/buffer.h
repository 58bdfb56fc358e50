#pragma once
// Containers of geometry: typed element buffers, bit sets and a counted holder for data that is
// not a scene object. Buffers move to and from files as whole arrays, one transfer each.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "core/bulk_memory.h"
#include "core/math/vector.h"
#include "object/persist.h"
#include "core/status.h"

namespace KX {

// An owned array and its length. Index buffers hold 32-bit values: files store them as 32-bit
// whatever the width of a long on the platform that wrote them.
template <class T>
class CBuffer {
 public:
  // Large arrays come from the bulk arena (core/bulk_memory.h), small ones from the heap, the
  // smallest (up to 16 bytes) stay inside the buffer.
  CBulkArray<T> items;

  int32_t count() const { return static_cast<int32_t>(items.size()); }
  size_t size() const { return items.size(); }
  bool empty() const { return items.empty(); }
  T* data() { return items.data(); }
  const T* data() const { return items.data(); }
  T& operator[](size_t i) { return items[i]; }
  const T& operator[](size_t i) const { return items[i]; }
  auto begin() { return items.begin(); }
  auto end() { return items.end(); }
  auto begin() const { return items.begin(); }
  auto end() const { return items.end(); }
  std::span<const T> span() const { return items; }

  // Replaces the contents with n elements copied from `source`, or zeros without one. The old
  // array goes first, so a resize never holds both. n <= 0: kErrBadArgument, nothing changes.
  Status Resize(int64_t n, const T* source = nullptr) {
    if (n <= 0) return kErrBadArgument;
    Free();
    try {
      if (source)
        items.assign(source, source + n);
      else
        items.resize(static_cast<size_t>(n));
    } catch (const std::bad_alloc&) {
      return kErrOutOfMemory;
    }
    return kOk;
  }
  // Becomes a copy of `other`; an empty source empties this buffer.
  Status CopyFrom(const CBuffer& other) {
    if (&other == this) return kOk;
    if (other.empty()) {
      Free();
      return kOk;
    }
    return Resize(other.count(), other.data());
  }
  void Free() { items.reset(); }
  friend bool operator==(const CBuffer& a, const CBuffer& b) { return a.items == b.items; }
};

using CVectorBuffer = CBuffer<CVector3<float>>;
using CIndexBuffer = CBuffer<uint32_t>;

// Writing and reading the "presence word, then the array" pattern of the geometry blocks. The
// count is written elsewhere; a buffer is written with exactly `count` elements, so that the
// layout always agrees with the count before it: a shorter buffer is padded with zeros, elements
// beyond the count have no place in the file.
inline bool BufferPresent(size_t size, int64_t count) { return size > 0 && count > 0; }

// Writes `count` elements as the list `name`: the zeros that pad a shorter buffer are elements
// of the same list.
template <class Array>
void WriteExactly(CWriter& out, const char* name, const Array& items, int64_t count) {
  using T = typename Array::value_type;
  const size_t stored = std::min(items.size(), static_cast<size_t>(std::max<int64_t>(count, 0)));
  const uint64_t padding = count > 0 ? static_cast<uint64_t>(count) - stored : 0;
  if (out.fields()) {
    auto list = out.List(name);
    for (size_t i = 0; i < stored; ++i) out.Note(nullptr, items[i]);
    for (uint64_t i = 0; i < padding; ++i) out.Note(nullptr, T{});
  }
  out.DataBytes(items.data(), stored * sizeof(T));
  static constexpr uint8_t kZeros[4096] = {};
  for (uint64_t left = padding * sizeof(T); left > 0 && out.ok();) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, sizeof(kZeros)));
    out.DataBytes(kZeros, chunk);
    left -= chunk;
  }
}

// The presence word frames the array; an array that is not stored is listed as absent.
template <class T>
void WritePresentArray(CWriter& out, const char* name, const CBuffer<T>& buffer, int64_t count) {
  const bool present = BufferPresent(buffer.size(), count);
  out.Count(static_cast<int32_t>(present ? 1 : 0));
  if (present)
    WriteExactly(out, name, buffer.items, count);
  else
    out.Absent(name);
}

// Any non-zero presence word means the array follows. A buffer that is not stored loads empty,
// whatever the count says: there is nothing to fill it with. The elements may come only when
// the load waits for its jobs (CReader::ReadArrayAside).
template <class T>
void ReadPresentArray(CReader& in, CBuffer<T>& buffer, int64_t count) {
  const int32_t presence = in.Get<int32_t>();
  buffer.Free();
  if (!in.ok() || presence == 0) return;
  in.ReadArrayAside(buffer.items, count);
}

// A bit set packed into 32-bit words, with its own stored form (bit count, word count, presence
// word, words). The word count is the number of words held.
class CBitArray {
 public:
  int32_t bitCount = 0;
  std::vector<uint32_t> words;

  CBitArray() = default;

  int32_t wordCount() const { return static_cast<int32_t>(words.size()); }
  // Sets the number of bits; every bit starts clear. Negative counts count as 0.
  Status Resize(int32_t bits);
  // Bits past the end (or past the words a file stored) read as clear and cannot be set.
  bool Test(int64_t bit) const;
  void Set(int64_t bit, bool value = true);
  int64_t CountSet() const;

  // The stored form, for every pass of the archive.
  Status Persist(CArchive& ar);
  // A read or write of the array alone, outside a class block: a pass of Persist.
  Status Load(CReader& in);
  Status Save(CWriter& out) const;
  int64_t GetMemorySize() const { return 4 * static_cast<int64_t>(words.size()) + 16; }
  friend bool operator==(const CBitArray&, const CBitArray&) = default;
};

// A counted holder of data that is not a scene object (index lists that several objects share);
// the last holder frees it.
template <class T>
class CSharePointer {
 public:
  CSharePointer() = default;
  explicit CSharePointer(T* object) : p_(object) {}

  // A holder of a new default-constructed object; empty when the allocation failed.
  static CSharePointer Create() {
    CSharePointer holder;
    try {
      holder.p_ = std::make_shared<T>();
    } catch (const std::bad_alloc&) {
    }
    return holder;
  }
  T* get() const { return p_.get(); }
  T* operator->() const { return p_.get(); }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return static_cast<bool>(p_); }
  long holders() const { return p_.use_count(); }
  void reset() { p_.reset(); }

 private:
  std::shared_ptr<T> p_;
};

}  // namespace KX
