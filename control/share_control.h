#pragma once
// Copies the local transform of another object onto its owner, switching source at given times.
#include <vector>

#include "object/ref_list.h"
#include "control/rts_control.h"
#include "object/fields.h"

namespace KX {

// Per source, 40 bytes as stored.
struct ShareEntry {
  float startTime = 0.0f;
  uint8_t reserved1[24] = {};
  uint8_t copyScale = 0;  // set: the scale is scaleFactor times the source's
  uint8_t reserved2[3] = {};
  float scaleFactor = 1.0f;
  uint8_t reserved3[4] = {};
};
static_assert(sizeof(ShareEntry) == 40);

inline void DescribeValue(CFieldSink& sink, const char* name, const ShareEntry& e) {
  CFieldRecord(sink, name)("startTime", e.startTime)("reserved1", e.reserved1)(
      "copyScale", e.copyScale)("reserved2", e.reserved2)("scaleFactor", e.scaleFactor)(
      "reserved3", e.reserved3);
}

class CShareControl : public CRTSControl {
  KX_DECLARE_CLASS(CShareControl)

 public:
  std::vector<CSpatial*> sources;  // not owned; null: the owner's rest pose
  std::vector<ShareEntry> shareEntries;
  // Per-component factors of the shared position, rotation (as angles about x, y, z) and scale.
  CVector3<float> positionFactor{1.0f, 1.0f, 1.0f};
  CVector3<float> rotationFactor{1.0f, 1.0f, 1.0f};
  CVector3<float> scaleFactor{1.0f, 1.0f, 1.0f};

  CShareControl() = default;
  CShareControl(const CShareControl&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  void VisitReferences(CReferenceVisitor& visit) override;

  float GetDuration() const override { return 0.0f; }
  // kErrMalformed when no entry has started; kErrPending while the source is not evaluated.
  Status EvaluateTransform(float time) override;
};

}  // namespace KX
