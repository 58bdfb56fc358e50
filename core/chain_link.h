#pragma once
// What every member of an owned chain (controllers, custom data records) adds to its base: the
// owning `next` link and the walks that continue along it. Searches, duplication, collection for
// saving, name binding and reference remapping first handle the object itself, then the rest of
// the chain.
#include "core/base.h"

namespace KX {

template <class Base, class Member>
class CChainLink : public Base {
 public:
  CRefPtr<Member> next;

  CChainLink() = default;
  // A copy starts a chain of its own.
  CChainLink(const CChainLink& other) : Base(other) {}

  CBase* FindObject(NameFilter name, const CRuntimeClass* cls, bool kindOf) override {
    if (CBase* hit = Base::FindObject(name, cls, kindOf)) return hit;
    return next ? next->FindObject(name, cls, kindOf) : nullptr;
  }

  void FindObjects(std::vector<CBase*>& list, NameFilter name, const CRuntimeClass* cls,
                   bool kindOf) override {
    Base::FindObjects(list, name, cls, kindOf);
    if (next) next->FindObjects(list, name, cls, kindOf);
  }

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

  Status CollectForSave(CPersistContext& context) override {
    const Status status = Base::CollectForSave(context);
    if (status != kOk) return status;
    return next ? next->CollectForSave(context) : kOk;
  }

  bool HasAttachments() const override { return next || Base::HasAttachments(); }

  void VisitReferences(CReferenceVisitor& visit) override {
    Base::VisitReferences(visit);
    visit(next);
  }

  Status ResolveNames(CBase* root) override {
    KX_RETURN_IF_FAILED(Base::ResolveNames(root));
    return next ? next->ResolveNames(root) : kOk;
  }

  Status RemapReferences(DuplicateMap& map) override {
    KX_RETURN_IF_FAILED(Base::RemapReferences(map));
    return next ? next->RemapReferences(map) : kOk;
  }

 protected:
  // AssignTo's part: the target shares this member's tail; the tail it had goes to `released`.
  void ShareNextWith(CChainLink& target, ReleasedList& released) const {
    if (target.next) released.emplace_back(target.next.get());
    target.next = next;
  }
};

}  // namespace KX
