#pragma once
// Lists of plain object references kept by the constraint controllers (targets, parents, sources):
// stored as a count and one object id per entry, resolved by Link in the same order.
#include <vector>

#include "core/alloc.h"
#include "object/persist.h"
#include "object/scene_object_base.h"

namespace KX {

// Reads the count and queues one id per entry; the list gets one null slot per entry for Link.
template <class T>
void ReadRefList(CReader& in, std::vector<T*>& list) {
  const int32_t count = in.Get<int32_t>();
  if (!in.CanHold(count, kIdSize)) return;
  if (const Status s = TryAllocate([&] { list.assign(static_cast<size_t>(count), nullptr); });
      Failed(s)) {
    in.Fail(s);
    return;
  }
  for (int32_t i = 0; i < count; ++i) in.Ref();
}

template <class T>
void ResolveRefList(CLinker& in, std::vector<T*>& list) {
  for (T*& slot : list) in.Resolve(slot);
}

// The count, then one id per entry, listed as `name`.
template <class T>
void WriteRefList(CWriter& out, const char* name, const std::vector<T*>& list) {
  out.Count(static_cast<int32_t>(list.size()));
  const auto entries = out.List(name);
  for (const T* object : list) out.Ref(nullptr, object);
}

template <class T>
int64_t RefListSize(const std::vector<T*>& list) {
  return 4 + kIdSize * static_cast<int64_t>(list.size());
}

// An object the running subtree evaluation has not reached yet.
inline bool IsPending(const CCorva* object) { return object && object->flag; }

// A counted array of plain values, as the controller blocks store them, listed as `name`.
template <class Array>
void WriteCounted(CWriter& out, const char* name, const Array& values) {
  out.Count(static_cast<int32_t>(values.size())).FieldArray(name, values);
}
template <class Array>
int64_t CountedSize(const Array& values) {
  return 4 + static_cast<int64_t>(sizeof(typename Array::value_type)) *
                 static_cast<int64_t>(values.size());
}

}  // namespace KX
