#include "core/walker.h"

#include <cstdint>
#include <functional>

namespace KX {
namespace walker_detail {

namespace {

size_t HashOf(const CBase* object) {
  // Objects are at least 8-byte aligned; mix the remaining bits.
  uint64_t x = reinterpret_cast<uintptr_t>(object) >> 3;
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  return static_cast<size_t>(x);
}

}  // namespace

bool CVisited::Insert(const CBase* object) {
  if ((count_ + 1) * 4 > slots_.size() * 3) Grow();
  const size_t mask = slots_.size() - 1;
  for (size_t i = HashOf(object) & mask;; i = (i + 1) & mask) {
    if (slots_[i] == object) return false;
    if (!slots_[i]) {
      slots_[i] = object;
      ++count_;
      return true;
    }
  }
}

void CVisited::Grow() {
  std::vector<const CBase*> old(slots_.empty() ? 32 : slots_.size() * 2, nullptr);
  old.swap(slots_);
  const size_t mask = slots_.size() - 1;
  for (const CBase* object : old) {
    if (!object) continue;
    size_t i = HashOf(object) & mask;
    while (slots_[i]) i = (i + 1) & mask;
    slots_[i] = object;
  }
}

}  // namespace walker_detail

CBase* FindFirst(CBase* start, NameFilter name, const CRuntimeClass* cls, bool kindOf) {
  CBase* hit = nullptr;
  const Status status = Walk(start, kSearch, [&](CBase* object) {
    if (!object->Matches(name, cls, kindOf)) return WalkStep::kDescend;
    hit = object;
    return WalkStep::kStop;
  });
  // A walk that ran out of memory or depth has found nothing it could answer.
  return Failed(status) ? nullptr : hit;
}

void FindAll(CBase* start, std::vector<CBase*>& list, NameFilter name, const CRuntimeClass* cls,
             bool kindOf) {
  (void)Walk(start, kSearch, [&](CBase* object) {
    if (object->Matches(name, cls, kindOf)) list.push_back(object);
    return WalkStep::kDescend;
  });
}

}  // namespace KX
