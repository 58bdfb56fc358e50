#include "control/link_control.h"

#include "control/key_search.h"
#include "core/alloc.h"
#include "object/archive.h"
#include "scene/node.h"

namespace KX {

KX_DEFINE_CLASS(CLinkControl, CRTSControl, 2, 3)

namespace {

// Links of blocks up to 2.1 never had their offsets taken; they are taken on first use.
constexpr int32_t kLastUntakenVersion = 201;

}  // namespace

CLinkControl::CLinkControl(const CLinkControl& other)
    : CRTSControl(other),
      linkOffsets(other.linkOffsets),
      linkBases(other.linkBases),
      linkTimes(other.linkTimes),
      linkParents(other.linkParents),
      linkModes(other.linkModes),
      linkFlags(other.linkFlags),
      linkPending(other.linkPending) {}

Status CLinkControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CRTSControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  // Not stored: which links still take their offset goes with the copy; the link in force is
  // taken afresh.
  auto* link = static_cast<CLinkControl*>(target);
  KX_RETURN_IF_FAILED(TryAssign(link->linkPending, linkPending));
  link->currentLink = -1;
  link->currentParent = nullptr;
  link->currentOffset = CMatrix4{};
  return kOk;
}

Status CLinkControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CRTSControl::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  ar.Counted("linkOffsets", linkOffsets).RefList("linkParents", linkParents);
  ar.Counted("linkTimes", linkTimes).Counted("linkFlags", linkFlags);
  ar.Counted("linkModes", linkModes).Counted("linkBases", linkBases);
  if (!ar.Loading() || !ar.ok()) return ar.status();
  KX_RETURN_IF_FAILED(TryAllocate(
      [&] { linkPending.assign(linkTimes.size(), version <= kLastUntakenVersion ? 1 : 0); }));
  currentLink = -1;
  currentParent = nullptr;
  return kOk;
}

int64_t CLinkControl::GetMemorySize() const {
  return CRTSControl::GetMemorySize() + 72 + 6 * 16 + CountedSize(linkOffsets) +
         RefListSize(linkParents) + CountedSize(linkTimes) + CountedSize(linkFlags) +
         CountedSize(linkModes) + CountedSize(linkBases) + CountedSize(linkPending);
}

void CLinkControl::VisitReferences(CReferenceVisitor& visit) {
  CRTSControl::VisitReferences(visit);
  visit.Each(linkParents, kRetarget);
  visit(currentParent);
}

Status CLinkControl::AddLink(float time, CSpatial* parent, int32_t mode, bool followScale) {
  const size_t n = linkTimes.size();
  try {
    // Lists a damaged file left short are filled up first, so that entry n is this link's.
    linkOffsets.resize(n, CMatrix4{});
    linkBases.resize(n, CMatrix4{});
    linkParents.resize(n, nullptr);
    linkModes.resize(n, kLinkKeepWorldPose);
    linkFlags.resize(n, 0);
    linkPending.resize(n, 0);
    linkTimes.push_back(time);
    linkOffsets.emplace_back();
    linkBases.emplace_back();
    linkParents.push_back(parent);
    linkModes.push_back(mode);
    linkFlags.push_back(followScale ? 0 : 1);
    linkPending.push_back(1);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  modified = 1;
  return kOk;
}

CMatrix4 CLinkControl::ParentMatrix(const CSpatial& parent, size_t i) const {
  CMatrix4 w = parent.transform;
  if (i < linkFlags.size() && linkFlags[i]) {
    const CMatrix3 r = NormalisedRotation(w);
    for (int row = 0; row < 3; ++row) w.SetRow(row, r.Row(row), w.m[row][3]);
  }
  return w;
}

void CLinkControl::TakeOffset(size_t i, const CSpatial& self, CSpatial* parent) {
  // The owner's pose under the link that ends now: the previous link's offset in the previous
  // parent's space.
  CMatrix4 r = i > 0 ? OffsetOf(i - 1) : CMatrix4{};
  if (currentParent && currentLink != -1)
    r = r * ParentMatrix(*currentParent, static_cast<size_t>(currentLink));
  const bool pending = linkPending[i] != 0;
  CMatrix4 offset = linkOffsets[i];
  bool taken = false;
  if (parent) {
    CMatrix4 inverse;
    MatrixInverse(inverse, ParentMatrix(*parent, i));
    const int32_t mode = i < linkModes.size() ? linkModes[i] : kLinkKeepWorldPose;
    if (mode == kLinkKeepWorldPose && pending) {
      offset = r * inverse;
      taken = true;
    } else if (mode == kLinkKeepPosition && pending) {
      CMatrix4 undo;
      MatrixInverse(undo, currentOffset);
      const CMatrix4 d = self.transform * undo;
      const CMatrix4 w = ParentMatrix(*parent, i);
      offset = MatrixTranslation(w.Translation() - d.Translation()) * inverse;
      taken = true;
    } else if (mode == kLinkFromBase) {
      CMatrix4 undo;
      MatrixInverse(undo, self.transform);
      offset = undo * (i < linkBases.size() ? linkBases[i] : CMatrix4{});
    }
  } else if (pending) {
    // Unlinked: the pose under the previous link stays; the link is taken again next time.
    offset = r;
  }
  // Offsets are saved with the scene: a degenerate pose must not put NaN into the file.
  if (!IsFinite(offset)) return;
  linkOffsets[i] = offset;
  if (taken) linkPending[i] = 0;
}

Status CLinkControl::EvaluateTransform(float time) {
  if (const Status s = IsDisabled(); s != kOk) return s;
  CSpatial* self = SpatialOwner();
  if (!self) return kErrBadArgument;
  const KeyNear near = FindKeyNearFrom(timeScale * time, linkTimes, currentLink);
  if (near.code == kKeyNone || near.code == kKeyBefore) {
    currentParent = self->parent;
    currentLink = -1;
    matrix = self->transform;
    return kNothingDone;
  }
  const auto i = static_cast<size_t>(near.index);
  CSpatial* parent = ParentOf(i);
  if (IsPending(parent)) return kErrPending;
  if (static_cast<int64_t>(i) == static_cast<int64_t>(currentLink) + 1) {
    if (IsPending(currentParent)) return kErrPending;
    try {
      // A damaged file may give fewer offsets than links; the missing ones start as identity.
      if (linkOffsets.size() < linkTimes.size()) linkOffsets.resize(linkTimes.size(), CMatrix4{});
      if (linkPending.size() < linkTimes.size()) linkPending.resize(linkTimes.size(), 0);
    } catch (const std::bad_alloc&) {
      return kErrOutOfMemory;
    }
    TakeOffset(i, *self, parent);
  }
  const CMatrix4 offset = OffsetOf(i);
  matrix = self->transform * offset;
  currentOffset = offset;
  if (parent) {
    const CMatrix4 w = ParentMatrix(*parent, i);
    matrix = matrix * w;
    currentOffset = currentOffset * w;
  }
  currentParent = parent;
  currentLink = static_cast<int32_t>(i);
  return kOk;
}

}  // namespace KX
