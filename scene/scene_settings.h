#pragma once
// Scene-level objects that have no place in space themselves: the scene settings, and the camera
// switcher that picks the active camera of a scene over time.
#include <array>
#include <cstdint>
#include <vector>

#include "object/scene_object_base.h"
#include "core/math/vector.h"

namespace KX {

class CSpatial;

// Scene-wide settings: eight references to other objects and six values, stored, copied,
// searched and remapped; what they mean is up to the tools that fill them. The first six hold
// scene objects only; the seventh and eighth any object.
class CScene : public CCorva {
  KX_DECLARE_CLASS(CScene)

 public:
  CRefPtr<CBase> object1, object2, object3, object4, object5, object6;  // scene objects
  CRefPtr<CBase> object7;  // stored from class version 2.1 on
  CRefPtr<CBase> object8;  // never stored or searched
  CVector3<float> value1;
  CVector4<float> value2;
  bool value3 = false;
  CVector3<float> value4;
  CVector3<float> value5{0.0f, 6000.0f, 6000.0f};
  float value6 = 0.5f;

  CScene() = default;
  // Copies the values; the copy shares all eight objects.
  CScene(const CScene&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  // The target shares object1 to object4, object6 and object7; object5 and object8 stay its own.
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  // object1 to object7 go with every walk; object8, never stored, only with name binding and
  // remapping.
  void VisitReferences(CReferenceVisitor& visit) override;

  // Null: kErrBadArgument. Every setter but the last marks the scene modified.
  Status SetObject1(CCorva* object) { return Set(object1, object, true); }
  Status SetObject2(CCorva* object) { return Set(object2, object, true); }
  Status SetObject3(CCorva* object) { return Set(object3, object, true); }
  Status SetObject4(CCorva* object) { return Set(object4, object, true); }
  Status SetObject5(CCorva* object) { return Set(object5, object, true); }
  Status SetObject6(CCorva* object) { return Set(object6, object, true); }
  Status SetObject7(CBase* object) { return Set(object7, object, true); }
  Status SetObject8(CBase* object) { return Set(object8, object, false); }

 private:
  Status Set(CRefPtr<CBase>& slot, CBase* object, bool mark);
  // object1 to object8, in that order.
  std::array<CRefPtr<CBase>*, 8> Objects();
  std::array<const CRefPtr<CBase>*, 8> Objects() const;
};

// Chooses the active camera: either by time from a list of cameras with switch times, or by
// driving a fixed camera (the primary or the secondary one) that is already the active one.
class CCameraSwitcher : public CCorva {
  KX_DECLARE_CLASS(CCameraSwitcher)

 public:
  // cameras[i] becomes active at switchTimes[i]. The cameras are not owned: the scene holds them.
  std::vector<CSpatial*> cameras;
  std::vector<float> switchTimes;
  // The fixed cameras and the extra object may be any object a file names; only spatial ones
  // are driven.
  CRefPtr<CBase> primaryCamera;
  CBase* secondaryCamera = nullptr;  // not owned; stored from class version 1.2 on
  CRefPtr<CBase> extraObject;        // stored from class version 1.2 on
  // 0: drive the fixed camera; otherwise choose from the list by time.
  int32_t switching = 0;
  CBase* activeCamera = nullptr;  // not owned: the camera chosen at the last update

  CCameraSwitcher() = default;
  // Copies the list, the times and the mode and shares the extra object; the copy has no
  // primary, secondary or active camera.
  CCameraSwitcher(const CCameraSwitcher& other);

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  // The camera list and the active camera only point at their copies after a copy (one that was
  // not copied fails the remapping, malformed); the primary camera and the extra object go with
  // every walk; the secondary camera, not owned, with searches and remapping only.
  void VisitReferences(CReferenceVisitor& visit) override;
  // Switching: picks the camera whose interval holds `time` (none before the first switch time,
  // the last camera of the list from the last time on). Otherwise evaluates the fixed camera's
  // subtree at `time` when it is the active one; kNothingDone when neither is.
  Status Update(float time) override;
};

}  // namespace KX
