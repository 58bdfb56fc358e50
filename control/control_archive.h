#pragma once
// Shapes the controller blocks store that CArchive states in more than one call: lists behind a
// uint32 count, lists of lists, and the lists and records a listing nests fields in. Each is one
// statement for every pass, like the archive's own.
#include <concepts>
#include <cstdint>
#include <vector>

#include "core/alloc.h"
#include "object/archive.h"

namespace KX {

// A uint32 count, then that many elements, bounded by what the stream still holds; listed as
// `name`.
template <class Values>
CArchive& UintCounted(CArchive& ar, const char* name, Values& values) {
  auto count = static_cast<uint32_t>(values.size());
  return ar.Count(count).Array(name, values, count);
}

// A list or record of the listing, open while the returned scope lives; only a write with a
// field sink lists anything.
[[nodiscard]] inline CWriter::Scope ListScope(CArchive& ar, const char* name) {
  return CWriter::Scope(ar.Saving() ? ar.writer().fields() : nullptr, false, name);
}
[[nodiscard]] inline CWriter::Scope RecordScope(CArchive& ar, const char* name) {
  return CWriter::Scope(ar.Saving() ? ar.writer().fields() : nullptr, true, name);
}

// A count of type `Count`, then each list with a count of the same type before its elements;
// listed as `name`, a list of unnamed lists. Every list takes at least its count, so a count the
// stream cannot hold fails the read before anything is allocated.
template <std::integral Count, class T>
CArchive& ListOfLists(CArchive& ar, const char* name, std::vector<std::vector<T>>& lists) {
  if (ar.Linking()) return ar;  // no ids among them
  auto count = static_cast<Count>(lists.size());
  ar.Count(count);
  if (ar.Loading()) {
    lists.clear();
    if (!ar.reader().CanHold(count, sizeof(Count))) return ar;
    if (const Status s = TryResize(lists, static_cast<size_t>(count)); Failed(s)) {
      ar.reader().Fail(s);
      return ar;
    }
  }
  const auto list = ListScope(ar, name);
  for (auto& entry : lists) {
    auto size = static_cast<Count>(entry.size());
    ar.Count(size).Array(nullptr, entry, size);
    if (ar.Loading() && !ar.ok()) break;
  }
  return ar;
}

}  // namespace KX
