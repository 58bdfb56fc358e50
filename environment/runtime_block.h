#pragma once
// The saved form a tree or wind keeps for the runtime behind it: made by PrepareSave as the object
// joins a save, and written by the write pass of Persist. Writing changes nothing (it also runs
// to count the record's size), so a write without a prepared block writes the runtime's saved
// form made on the spot: the same bytes, never an empty block that would lose the object on the
// next load.
#include <climits>
#include <cstdint>
#include <vector>

#include "object/archive.h"

namespace KX {

// `makeBlock(std::vector<uint8_t>&)` asks the runtime for its saved form; null when there is none.
template <class Runtime, class MakeBlock>
Status PrepareRuntimeBlock(const Runtime* runtime, std::vector<uint8_t>& block, MakeBlock makeBlock) {
  if (!runtime) {
    block = {};
    return kOk;
  }
  std::vector<uint8_t> made;
  // A runtime fails to make its saved form only for want of memory.
  if (Failed(makeBlock(made))) return kErrOutOfMemory;
  block = std::move(made);
  return kOk;
}

// The block's size word and bytes, listed as `name`. Writing writes `prepared`, or the saved form
// made here when nothing was prepared; a load reads the bytes into `loaded` (left empty by a
// zero size), for the object to hand to its runtime.
template <class Runtime, class MakeBlock>
Status PersistRuntimeBlock(CArchive& ar, const char* name, const Runtime* runtime,
                           const std::vector<uint8_t>& prepared, std::vector<uint8_t>& loaded,
                           MakeBlock makeBlock) {
  if (ar.Loading()) {
    CReader& in = ar.reader();
    const int32_t size = in.Get<int32_t>();
    if (size != 0) in.ReadArray(loaded, size);
    return in.status();
  }
  if (!ar.Saving()) return ar.status();
  CWriter& out = ar.writer();
  std::vector<uint8_t> unprepared;
  const std::vector<uint8_t>* block = &prepared;
  if (prepared.empty() && runtime) {
    if (const Status status = makeBlock(unprepared); Failed(status)) {
      out.Fail(status);
      return out.status();
    }
    block = &unprepared;
  }
  if (block->size() > static_cast<size_t>(INT32_MAX)) {
    out.Fail(kErrBadArgument);
    return out.status();
  }
  out.Count(static_cast<int32_t>(block->size()));
  out.FieldBytes(name, block->data(), block->size());
  return out.status();
}

}  // namespace KX
