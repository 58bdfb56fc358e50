#pragma once
// Cameras and the objects they aim at. A camera's eye, up and target are given in its own space
// and turned into world values at every update; a camera with a target object and without a
// fixed target looks at wherever that object currently is.
#include <cstdint>

#include "scene/spatial.h"

namespace KX {

class CCamera : public CSpatial {
  KX_DECLARE_CLASS(CCamera)

 public:
  // Viewing parameters, stored, copied and animated; their use is the renderer's.
  float param1 = 1.0f;
  float param2 = 2.0f;
  float param3 = 1.0f;
  float param4 = 0.0f;
  float param5 = 1.0f;
  float param6 = 0.0f;
  float param7 = 1.0f;
  CVector3<float> localEye;
  CVector3<float> localUp{0.0f, 1.0f, 0.0f};
  CVector3<float> worldEye;                   // computed by Update, never saved
  CVector3<float> worldUp{0.0f, 1.0f, 0.0f};  // computed by Update, never saved
  bool cameraFlag = true;
  // Set: the camera looks at localTarget even when it has a target object.
  bool fixedTarget = true;
  // Shared with the scene, which normally holds it as a node's child as well.
  CRefPtr<CSpatial> target;
  CVector3<float> localTarget{0.0f, 0.0f, -1.0f};
  CVector3<float> worldTarget{0.0f, 0.0f, -1.0f};  // computed by Update, never saved
  float param8 = 0.0f;
  float param9 = 1000.0f;
  float param10 = 1.0f;
  // Four bytes kept exactly as stored; not an object reference, although tools wrote one there.
  uint32_t param11 = 0;

  CCamera() = default;
  // Copies every field, the computed ones included; the copy shares the target object.
  CCamera(const CCamera&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  // The spatial part's references, then the target object, followed by every walk.
  void VisitReferences(CReferenceVisitor& visit) override;
  Status Update(float time) override;
  // The camera, then its target object's objects: evaluating a camera evaluates what it aims at.
  void CollectSpatials(SpatialQueue& queue) override;
  Status UpdateBound() override { return kNothingDone; }
};

// What a camera aims at: a spatial object with nothing of its own.
class CCameraTarget : public CSpatial {
  KX_DECLARE_CLASS(CCameraTarget)

 public:
  CCameraTarget() = default;
  CCameraTarget(const CCameraTarget&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Persist(CArchive& ar) override;
  void CollectSpatials(SpatialQueue& queue) override { queue.push_back(this); }
  Status UpdateBound() override { return kNothingDone; }
};

}  // namespace KX
