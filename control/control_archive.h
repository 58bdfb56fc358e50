#pragma once
// Lists of lists, as the controller blocks store them: one statement for every pass, like the
// archive's own.
#include <concepts>
#include <cstdint>
#include <vector>

#include "core/alloc.h"
#include "object/archive.h"

namespace KX {

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
