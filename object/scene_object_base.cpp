#include "object/scene_object_base.h"

#include <unordered_set>

#include "object/archive.h"
#include "object/control.h"
#include "object/custom_data.h"
#include "object/persist.h"
#include "object/walker.h"

namespace KX {

KX_DEFINE_CLASS(CCorva, CBase, 2, 0)

namespace {

// The stored CCorva version from which the second controller chain and the custom data are kept.
constexpr int32_t kThreeChainsAbove = 100;

template <class T>
T* LastOf(T* head) {
  if (!head) return nullptr;
  while (head->next) head = head->next.get();
  return head;
}

// Points the references an object states for retargeting at their copies.
class CRetargeter final : public CReferenceVisitor {
 public:
  explicit CRetargeter(const DuplicateMap& map) : map_(map) {}

  Status Apply(CBase& object) {
    status_ = kOk;
    object.VisitReferences(*this);
    return status_;
  }
  void Owned(const CReference& ref) override { Retarget(ref); }
  void Plain(const CReference& ref) override { Retarget(ref); }

 private:
  void Retarget(const CReference& ref) {
    if (Failed(status_) || !ref.Follows(kRetarget | kRetargetOrFail)) return;
    if (const auto it = map_.find(ref.target); it != map_.end()) {
      if (!ref.Assign(it->second.get())) status_ = kErrMalformed;
      return;
    }
    if (ref.Follows(kRetarget)) {
      ref.Clear();
      return;
    }
    // Reached before through an owner that two copies share: it names a copy already.
    if (!IsCopy(ref.target)) status_ = kErrMalformed;
  }
  bool IsCopy(const CBase* object) {
    if (copies_.empty())
      for (const auto& entry : map_) copies_.insert(entry.second.get());
    return copies_.count(object) != 0;
  }

  const DuplicateMap& map_;
  std::unordered_set<const CBase*> copies_;
  Status status_ = kOk;
};

}  // namespace

CCorva::CCorva() = default;
CCorva::CCorva(const CCorva& other) : CBase(other), flag(other.flag) {}

CCorva::~CCorva() {
  // A controller of these chains that something else still holds must not keep pointing here.
  for (CControl* head : {controllers.get(), controllers2.get()})
    for (CControl* c = head; c; c = c->next.get())
      if (c->owner == this) c->owner = nullptr;
  customData = nullptr;
  controllers2 = nullptr;
  controllers = nullptr;
}

Status CCorva::Clone(CRefPtr<CBase>&) const { return kErrBadArgument; }

Status CCorva::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CBase::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = static_cast<CCorva*>(out.get());
  // A member copied before (shared by two originals) is shared by the copies too: it keeps the
  // owner its first copy gave it.
  auto duplicateChain = [&](const auto& head, auto& copyHead, auto attach) -> Status {
    if (!head) return kOk;
    CRefPtr<CBase> member;
    const Status s = head->Duplicate(member, map);
    if (Failed(s)) return s;
    using Member = std::remove_reference_t<decltype(*head)>;
    auto* typed = static_cast<Member*>(member.get());
    if (s == kOk) return (copy->*attach)(typed);
    copyHead = typed;
    return kOk;
  };
  KX_RETURN_IF_FAILED(duplicateChain(controllers, copy->controllers, &CCorva::AttachController));
  KX_RETURN_IF_FAILED(duplicateChain(controllers2, copy->controllers2, &CCorva::AttachController2));
  KX_RETURN_IF_FAILED(duplicateChain(customData, copy->customData, &CCorva::AttachCustomData));
  return kOk;
}

Status CCorva::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CBase::AssignTo(target, released));
  auto* corva = KindOf<CCorva>(target);
  if (!corva) return kErrMalformed;
  corva->flag = flag;
  // The target shares this object's chains; what it held before goes to the caller.
  auto share = [&](auto& theirs, const auto& mine) {
    if (theirs) released.emplace_back(theirs.get());
    theirs = mine;
  };
  share(corva->controllers, controllers);
  share(corva->controllers2, controllers2);
  share(corva->customData, customData);
  return kOk;
}

Status CCorva::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CBase::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  ar.Ref("controllers", controllers);
  if (version > kThreeChainsAbove) ar.Ref("controllers2", controllers2).Ref("customData", customData);
  return ar.status();
}

int64_t CCorva::GetMemorySize() const { return CBase::GetMemorySize() + 16; }

bool CCorva::HasAttachments() const {
  return controllers || controllers2 || customData || CBase::HasAttachments();
}

void CCorva::VisitReferences(CReferenceVisitor& visit) {
  visit(controllers);
  visit(controllers2);
  visit(customData);
}

Status CCorva::Update(float time) {
  // Data controllers only; transform controllers are run by spatial objects.
  for (CControl* current = controllers.get(); current;) {
    auto* data = KindOf<CDataControl>(
        current->FindObject(std::nullopt, &CDataControl::classRecord, true));
    if (!data) break;
    KX_RETURN_IF_FAILED(data->Update(time));
    KX_RETURN_IF_FAILED(data->ApplyData());
    current = data->next.get();
  }
  for (CControl* c = controllers2.get(); c; c = c->next.get()) KX_RETURN_IF_FAILED(c->Update(time));
  for (CCustomData* d = customData.get(); d; d = d->next.get()) KX_RETURN_IF_FAILED(d->Update(time));
  return kOk;
}

Status CCorva::ResolveNames(CBase* root) {
  if (!root) return kErrBadArgument;
  Status failure = kOk;
  const Status status = Walk(this, kResolve, [&](CBase* object) {
    auto* corva = KindOf<CCorva>(object);
    failure = corva ? corva->ResolveOwnNames(root) : kOk;
    return Failed(failure) ? WalkStep::kStop : WalkStep::kDescend;
  }, &failure);
  return Failed(status) ? status : kOk;
}

Status CCorva::RemapReferences(DuplicateMap& map) {
  CRetargeter retarget(map);
  Status failure = kOk;
  const Status status = Walk(this, kRemap, [&](CBase* object) {
    failure = retarget.Apply(*object);
    if (Succeeded(failure))
      if (auto* corva = KindOf<CCorva>(object)) failure = corva->RemapOwnReferences(map);
    return Failed(failure) ? WalkStep::kStop : WalkStep::kDescend;
  }, &failure);
  return Failed(status) ? status : kOk;
}

Status CCorva::ResolveOwnNames(CBase*) { return kOk; }
Status CCorva::RemapOwnReferences(DuplicateMap&) { return kOk; }

Status CCorva::AttachTo(CRefPtr<CControl>& head, CControl* controller) {
  if (!controller || controller->owner) return kErrBadArgument;
  modified = 1;
  for (CControl* c = controller; c; c = c->next.get()) {
    c->modified = 1;
    c->SetOwner(this);
  }
  if (!head) {
    head = controller;
  } else {
    CControl* last = LastOf(head.get());
    last->next = controller;
    last->modified = 1;
  }
  return kOk;
}

Status CCorva::AttachController(CControl* controller) { return AttachTo(controllers, controller); }
Status CCorva::AttachController2(CControl* controller) { return AttachTo(controllers2, controller); }

Status CCorva::AttachCustomData(CCustomData* record) {
  if (!record) return kErrBadArgument;
  modified = 1;
  if (!customData) {
    customData = record;
  } else {
    CCustomData* last = LastOf(customData.get());
    last->next = record;
    last->modified = 1;
  }
  return kOk;
}

Status CCorva::DetachController(CControl* controller) {
  if (!controller || !controllers || controller->owner != this) return kErrBadArgument;
  modified = 1;
  const CRefPtr<CControl> keep(controller);
  if (controllers.get() == controller) {
    controller->SetOwner(nullptr);
    controllers = controller->next;
    controller->next = nullptr;
    controller->modified = 1;
    return kOk;
  }
  for (CControl* c = controllers.get(); c->next; c = c->next.get()) {
    if (c->next.get() == controller) {
      controller->SetOwner(nullptr);
      c->next = controller->next;
      c->modified = 1;
      controller->next = nullptr;
      return kOk;
    }
  }
  return kErrMalformed;
}

void CCorva::DetachAllControllers() {
  if (!controllers) return;
  modified = 1;
  for (CControl* c = controllers.get(); c; c = c->next.get()) c->SetOwner(nullptr);
  controllers = nullptr;
}

CControl* CCorva::GetLastController() const { return LastOf(controllers.get()); }
CControl* CCorva::GetLastController2() const { return LastOf(controllers2.get()); }
CCustomData* CCorva::GetLastCustomData() const { return LastOf(customData.get()); }

}  // namespace KX
