#pragma once
// The one walker behind every generic walk over a graph of objects: searches, collection for
// saving, name binding and remapping after a copy. It follows the references each class states
// (object/references.h) depth first, in the stated order, visiting each object once per walk, with
// an explicit stack: whatever plain references point at, a walk ends, in time linear in the
// references it follows and without deep recursion.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/address_table.h"
#include "object/base.h"
#include "core/prefetch.h"

namespace KX {

// Paths longer than this are refused by the walks that answer a status (malformed), and not
// searched further by the searches. Loading already refuses owned nesting deeper than its own
// limit; plain references can only make paths longer by joining such trees.
inline constexpr size_t kMaxWalkDepth = 1u << 16;

// What a walk does at each object it reaches.
enum class WalkStep {
  kDescend,  // go on into the object's references
  kSkip,     // leave its references alone
  kStop,     // end the walk
};

// Walks from `start` along the references whose statement includes `follow`, calling
// `step(object)` once per object in depth-first pre-order. `step` may change the references of
// the object it is called for; they are read after it answers. Answers kOk, kNothingDone when
// `step` skipped `start` itself, the status `step` stored in `failure` when it stopped, or
// kErrMalformed when a path ran deeper than kMaxWalkDepth.
template <class Step>
Status Walk(CBase* start, Walks follow, Step&& step, Status* failure = nullptr);

class CObjectNumbers;

// The object itself or the first object in its references that matches, in search order.
CBase* FindFirst(CBase* start, NameFilter name, const CRuntimeClass* cls, bool kindOf);
// Appends every match in search order, each once.
void FindAll(CBase* start, std::vector<CBase*>& list, NameFilter name, const CRuntimeClass* cls,
             bool kindOf);

// --------------------------------------------------------------------------------------------

namespace walker_detail {

// Reference targets a walk follows, appended to its stack in statement order at the given depth.
template <class Pending>
class CFollowCollector final : public CReferenceVisitor {
 public:
  CFollowCollector(Walks follow, std::vector<Pending>& out) : follow_(follow), out_(out) {}
  void Owned(const CReference& ref) override { Add(ref); }
  void Plain(const CReference& ref) override { Add(ref); }
  size_t depth = 0;

 private:
  void Add(const CReference& ref) {
    if (ref.Follows(follow_)) out_.push_back({ref.target, depth});
  }
  Walks follow_;
  std::vector<Pending>& out_;
};

// The objects one walk has reached. One walk at a time in the process marks the objects
// themselves with its number: no table to look up, and nothing to clear, since the next walk has
// a new number. A walk that starts while another holds the marks (a walk run from inside
// another one's step, or on another thread) keeps an open-addressing table of addresses instead,
// whose slots carry the number of the walk that filled them, so that starting over is one
// increment and a table sized by one walk serves the next without being cleared or grown again.
class CVisited {
 public:
  friend class ::KX::CObjectNumbers;
  // Starts a walk: takes the marks when no other walk holds them.
  void Begin();
  // Ends the walk, gives the marks back, and forgets every object reached.
  void Clear();
  // True when `object` was not reached before (and is now).
  bool Insert(const CBase* object) {
    if (marking_) {
      uint64_t& mark = object->walkMark.walk_;
      if (mark == markWalk_) return false;
      mark = markWalk_;
      ++count_;
      return true;
    }
    return InsertInTable(object);
  }
  // True when `object` was reached in this walk.
  bool Contains(const CBase* object) const {
    if (marking_) return object->walkMark.walk_ == markWalk_;
    return ContainedInTable(object);
  }
  size_t size() const { return count_; }

 private:
  struct Slot {
    const CBase* object = nullptr;
    uint64_t walk = 0;
  };
  static uint64_t& MarkOf(const CBase* object) { return object->walkMark.walk_; }
  bool InsertInTable(const CBase* object);
  bool ContainedInTable(const CBase* object) const;
  void Grow();
  std::vector<Slot> slots_;
  size_t count_ = 0;
  uint64_t walk_ = 1;
  bool marking_ = false;
  uint64_t markWalk_ = 0;
};

// What one walk works with. Walks lease these from a pool kept per thread, so that the many
// small walks of a conversion allocate nothing and a walk run from inside another one's step
// gets its own set.
struct CWalkScratch {
  struct Pending {
    CBase* object;
    size_t depth;
  };
  std::vector<Pending> stack;
  CVisited visited;
};

class CScratchLease {
 public:
  CScratchLease();
  ~CScratchLease();
  CScratchLease(const CScratchLease&) = delete;
  CScratchLease& operator=(const CScratchLease&) = delete;
  CWalkScratch& operator*() const { return *scratch_; }

 private:
  CWalkScratch* scratch_;
};

}  // namespace walker_detail

// Numbers 0, 1, 2, ... for the objects a pass meets, in the order it meets them: what a pass over
// a large graph keeps per object goes into a plain array indexed by them. While no walk holds the
// marks the numbers are kept on the objects themselves (their marks then lie above every walk
// number handed out before, and below every one handed out after); otherwise in a table.
class CObjectNumbers {
 public:
  CObjectNumbers();
  ~CObjectNumbers();
  CObjectNumbers(const CObjectNumbers&) = delete;
  CObjectNumbers& operator=(const CObjectNumbers&) = delete;

  // The object's number, and whether it was new (and is now numbered).
  std::pair<size_t, bool> Insert(const CBase* object) {
    if (!marking_) return InsertInTable(object);
    uint64_t& mark = walker_detail::CVisited::MarkOf(object);
    if (mark >= base_ && mark - base_ < count_) return {static_cast<size_t>(mark - base_), false};
    mark = base_ + count_;
    return {count_++, true};
  }
  size_t size() const { return count_; }

 private:
  std::pair<size_t, bool> InsertInTable(const CBase* object);
  bool marking_ = false;
  uint64_t base_ = 0;
  size_t count_ = 0;
  CAddressTable<size_t> table_;
};

template <class Step>
Status Walk(CBase* start, Walks follow, Step&& step, Status* failure) {
  if (!start) return kErrBadArgument;
  Status status = kOk;
  try {
    const walker_detail::CScratchLease lease;
    auto& [stack, visited] = *lease;
    walker_detail::CFollowCollector<walker_detail::CWalkScratch::Pending> collector(follow, stack);
    stack.push_back({start, 1});
    while (!stack.empty()) {
      const auto current = stack.back();
      stack.pop_back();
      // What waits a few places down the stack is walked soon: usually the next siblings.
      if (stack.size() >= kRequestAhead) RequestObject(stack[stack.size() - kRequestAhead].object);
      if (!visited.Insert(current.object)) continue;
      const WalkStep next = step(current.object);
      if (next == WalkStep::kStop) return failure ? *failure : kOk;
      if (next == WalkStep::kSkip) {
        if (current.object == start) status = kNothingDone;
        continue;
      }
      // The targets go straight onto the stack, then are turned round, so that the first stated
      // reference is walked first.
      const size_t before = stack.size();
      collector.depth = current.depth + 1;
      current.object->VisitReferences(collector);
      if (stack.size() == before) continue;
      if (current.depth >= kMaxWalkDepth) return kErrMalformed;
      std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(before), stack.end());
    }
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  return status;
}

}  // namespace KX
