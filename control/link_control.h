#pragma once
// Re-parenting over time: from each link time on, the owner moves with another object (its link
// parent), keeping the offset it had to that parent when the link began.
#include <vector>

#include "object/ref_list.h"
#include "control/rts_control.h"

namespace KX {

// How a link takes its offset at the switch.
enum LinkMode : int32_t {
  kLinkKeepWorldPose = 0,    // the owner keeps its world pose at the switch
  kLinkKeepPosition = 1,     // only the world position is kept
  kLinkFromBase = 2,         // taken from the link's base matrix at every switch
};

class CLinkControl : public CRTSControl {
  KX_DECLARE_CLASS(CLinkControl)

 public:
  // One entry per link in each list; lists that are shorter than linkTimes (a damaged file) give
  // their defaults (identity, null, mode 0, no flag) for the links they lack.
  std::vector<CMatrix4> linkOffsets;
  std::vector<CMatrix4> linkBases;
  std::vector<float> linkTimes;
  std::vector<CSpatial*> linkParents;  // not owned; null unlinks
  std::vector<int32_t> linkModes;
  // Set: the link follows its parent's position and rotation but not its scale.
  std::vector<uint8_t> linkFlags;
  // Transient: the link in force (-1 before the first), its parent and the offset last applied.
  int32_t currentLink = -1;
  CSpatial* currentParent = nullptr;
  CMatrix4 currentOffset;
  // Transient, per link: its offset is still to be taken when it begins.
  std::vector<uint8_t> linkPending;

  CLinkControl() = default;
  // Copies the links; the copy takes the link in force afresh on its first evaluation.
  CLinkControl(const CLinkControl& other);

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  void VisitReferences(CReferenceVisitor& visit) override;

  float GetDuration() const override { return 0.0f; }
  Status EvaluateTransform(float time) override;

  // Appends a link whose offset is taken when it begins.
  Status AddLink(float time, CSpatial* parent, int32_t mode, bool followScale = true);

  // The parent's world matrix as link `i` sees it.
  CMatrix4 ParentMatrix(const CSpatial& parent, size_t i) const;

 private:
  CMatrix4 OffsetOf(size_t i) const { return i < linkOffsets.size() ? linkOffsets[i] : CMatrix4{}; }
  CSpatial* ParentOf(size_t i) const { return i < linkParents.size() ? linkParents[i] : nullptr; }
  // Takes the offset of link i, which begins now.
  void TakeOffset(size_t i, const CSpatial& self, CSpatial* parent);
};

}  // namespace KX
