#include "object/walker.h"

#include <atomic>
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

namespace {

// Whether a walk holds the marks, and the number of the last walk that took them. Only the holder
// reads or writes marks; taking and giving back order its marks before the next holder's.
std::atomic<bool> marksTaken{false};
uint64_t lastMarkingWalk = 0;

}  // namespace

void CVisited::Begin() {
  marking_ = !marksTaken.exchange(true, std::memory_order_acquire);
  if (marking_) markWalk_ = ++lastMarkingWalk;
}

void CVisited::Clear() {
  count_ = 0;
  ++walk_;
  if (marking_) {
    marking_ = false;
    marksTaken.store(false, std::memory_order_release);
  }
}

bool CVisited::InsertInTable(const CBase* object) {
  if ((count_ + 1) * 4 > slots_.size() * 3) Grow();
  const size_t mask = slots_.size() - 1;
  for (size_t i = HashOf(object) & mask;; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (slot.walk != walk_) {
      slot = {object, walk_};
      ++count_;
      return true;
    }
    if (slot.object == object) return false;
  }
}

bool CVisited::ContainedInTable(const CBase* object) const {
  if (slots_.empty()) return false;
  const size_t mask = slots_.size() - 1;
  for (size_t i = HashOf(object) & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.walk != walk_) return false;
    if (slot.object == object) return true;
  }
}

void CVisited::Grow() {
  std::vector<Slot> old(slots_.empty() ? 32 : slots_.size() * 2);
  old.swap(slots_);
  const size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.walk != walk_) continue;
    size_t i = HashOf(slot.object) & mask;
    while (slots_[i].walk == walk_) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

namespace {

// Sets not leased at the moment, per thread. A lease that finds none makes one.
std::vector<std::unique_ptr<CWalkScratch>>& FreeScratch() {
  thread_local std::vector<std::unique_ptr<CWalkScratch>> free;
  return free;
}

// How many sets this thread made; the free list always has room for all of them.
size_t& ScratchMade() {
  thread_local size_t made = 0;
  return made;
}

}  // namespace

CScratchLease::CScratchLease() {
  auto& free = FreeScratch();
  if (free.empty()) {
    // Room first, so that the return in the destructor cannot fail.
    free.reserve(ScratchMade() + 1);
    scratch_ = new CWalkScratch;
    ++ScratchMade();
  } else {
    scratch_ = free.back().release();
    free.pop_back();
  }
  scratch_->visited.Begin();
}

CScratchLease::~CScratchLease() {
  scratch_->stack.clear();
  scratch_->visited.Clear();
  FreeScratch().emplace_back(scratch_);
}

}  // namespace walker_detail

CObjectNumbers::CObjectNumbers() {
  using walker_detail::marksTaken;
  marking_ = !marksTaken.exchange(true, std::memory_order_acquire);
  if (marking_) base_ = walker_detail::lastMarkingWalk + 1;
}

CObjectNumbers::~CObjectNumbers() {
  if (!marking_) return;
  // The numbers used up walk numbers: the walks after this pass start above them.
  walker_detail::lastMarkingWalk = base_ + count_;
  walker_detail::marksTaken.store(false, std::memory_order_release);
}

std::pair<size_t, bool> CObjectNumbers::InsertInTable(const CBase* object) {
  auto [number, added] = table_.Insert(object);
  if (added) number = count_++;
  return {number, added};
}

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
  if (!name && !cls) {
    // Everything the search reaches: no test to make per object.
    (void)Walk(start, kSearch, [&](CBase* object) {
      list.push_back(object);
      return WalkStep::kDescend;
    });
    return;
  }
  (void)Walk(start, kSearch, [&](CBase* object) {
    if (object->Matches(name, cls, kindOf)) list.push_back(object);
    return WalkStep::kDescend;
  });
}

}  // namespace KX
