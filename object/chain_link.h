#pragma once
// What every member of an owned chain (controllers, custom data records) adds to its base: the
// owning `next` link, which every walk follows after the member itself, and duplication along
// the chain.
#include "object/base.h"

namespace KX {

template <class Base, class Member>
class CChainLink : public Base {
 public:
  CRefPtr<Member> next;

  CChainLink() = default;
  // A copy starts a chain of its own.
  CChainLink(const CChainLink& other) : Base(other) {}

  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override {
    const Status status = Base::Duplicate(out, map);
    if (status != kOk) return status;
    auto* copy = static_cast<CChainLink*>(out.get());
    if (next) {
      CRefPtr<CBase> nextCopy;
      KX_RETURN_IF_FAILED(next->Duplicate(nextCopy, map));
      copy->next = static_cast<Member*>(nextCopy.get());
    }
    copy->modified = 1;
    return kOk;
  }

  bool HasAttachments() const override { return next || Base::HasAttachments(); }

  // The base's references, then the rest of the chain. A member that walks parts of its own
  // before the rest of the chain states them between the two (see VisitNext).
  void VisitReferences(CReferenceVisitor& visit) override {
    Base::VisitReferences(visit);
    VisitNext(visit);
  }

 protected:
  void VisitNext(CReferenceVisitor& visit) { visit(next); }
  // AssignTo's part: the target shares this member's tail; the tail it had goes to `released`.
  void ShareNextWith(CChainLink& target, ReleasedList& released) const {
    if (target.next) released.emplace_back(target.next.get());
    target.next = next;
  }
};

}  // namespace KX
