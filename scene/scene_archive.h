#pragma once
// Shapes of the scene blocks that the archive (object/archive.h) has no one-call form for: a
// buffer behind a presence word, and a list of ids whose entries the object holds. Each runs
// the pass the archive is on, like the archive's own statements.
#include <cstdint>
#include <vector>

#include "core/alloc.h"
#include "object/archive.h"
#include "scene/buffer.h"

namespace KX {

// A presence word, then `count` elements when present (ReadPresentArray, WritePresentArray).
// The count is stated before, by the caller: the blocks keep it apart from the array, and some
// arrays share one.
template <class T>
CArchive& PresentArray(CArchive& ar, const char* name, CBuffer<T>& buffer, int64_t count) {
  if (ar.Loading())
    ReadPresentArray(ar.reader(), buffer, count);
  else if (ar.Saving())
    WritePresentArray(ar.writer(), name, buffer, count);
  return ar;
}

// Reads an int32 count and queues one id per entry; the list gets one empty entry per id for
// the link. With `dropFirst`, the first id of a non-empty list is read past: it makes no entry.
template <class T>
void ReadHeldRefList(CReader& in, std::vector<CRefPtr<T>>& list, bool dropFirst = false) {
  int32_t count = in.Get<int32_t>();
  list.clear();
  if (!in.CanHold(count, kIdSize)) return;
  if (dropFirst && count > 0) {
    in.Skip(kIdSize);
    --count;
  }
  if (const Status s = TryResize(list, static_cast<size_t>(count)); Failed(s)) {
    in.Fail(s);
    return;
  }
  for (int32_t i = 0; i < count && in.ok(); ++i) in.Ref();
}

// The count, then one id per entry, listed as `name`.
template <class T>
void WriteHeldRefList(CWriter& out, const char* name, const std::vector<CRefPtr<T>>& list) {
  out.Count(static_cast<int32_t>(list.size()));
  const auto entries = out.List(name);
  for (const auto& object : list) out.Ref(nullptr, object.get());
}

// An int32 count, then one id per entry of a list that holds its objects: read, linked in list
// order (an object of another class leaves its entry empty) and written. `dropFirst` as for
// ReadHeldRefList; it only changes what a load reads.
template <class T>
CArchive& HeldRefList(CArchive& ar, const char* name, std::vector<CRefPtr<T>>& list,
                      bool dropFirst = false) {
  if (ar.Loading())
    ReadHeldRefList(ar.reader(), list, dropFirst);
  else if (ar.Saving())
    WriteHeldRefList(ar.writer(), name, list);
  else if (ar.Linking())
    for (auto& entry : list) ar.linker().Resolve(entry);
  return ar;
}

}  // namespace KX
