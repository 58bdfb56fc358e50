#pragma once
// Spatial objects: everything that has a place in the scene. Each carries a rest transform, the
// current transform its controllers write, a bounding volume and a link to the node that holds
// it; nodes (node.h) form the hierarchy.
#include <cstdint>
#include <deque>

#include "core/held_value.h"
#include "core/math/matrix.h"
#include "object/scene_object_base.h"
#include "scene/bound_volume.h"

namespace KX {

class CNode;
class CSpatial;

// The objects of a subtree in pre-order, taken from the front while the transforms of a subtree
// are evaluated.
using SpatialQueue = std::deque<CSpatial*>;

// Bits of CSpatial::flags: which parts of the parent's transform a child takes over. 0 means all
// of it (a plain multiplication by the parent's matrix).
enum SpatialInherit : uint32_t {
  kInheritTranslationX = 1u << 0,
  kInheritTranslationY = 1u << 1,
  kInheritTranslationZ = 1u << 2,
  kInheritRotationX = 1u << 3,
  kInheritRotationY = 1u << 4,
  kInheritRotationZ = 1u << 5,
  kInheritScaleX = 1u << 6,
  kInheritScaleY = 1u << 7,
  kInheritScaleZ = 1u << 8,
};

class CSpatial : public CCorva {
  KX_DECLARE_CLASS(CSpatial)

 public:
  CNode* parent = nullptr;  // not owned: the node whose child list holds this object
  uint32_t flags = 0;
  CVector3<float> position;
  CVector3<float> scale{1.0f, 1.0f, 1.0f};
  CMatrix3 rotation;
  // Written by the transform controllers; never saved, identity until they have run.
  CHeldValue<CMatrix4> transform;
  // Recomputed by UpdateBound; never saved.
  CHeldValue<Bound> bound;
  CRefPtr<CCorva> attachment;
  // Head of the chain of bounding objects; each member carries the rest of the chain itself.
  CRefPtr<CCorva> bounding;
  bool visible = true;
  bool frozen = false;
  // Carried along by copies and AssignTo; nothing here reads them.
  uint8_t auxFlag = 0;
  int32_t auxMode = 2;

  CSpatial() = default;
  // Copies the transform, bound and settings; the copy has no parent, attachment or bounding.
  CSpatial(const CSpatial& other);

  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  // The attachment is searched and saved with the object, but neither bound by name nor
  // remapped; the bounding chain goes with every walk; the parent link with none.
  void VisitReferences(CReferenceVisitor& visit) override;
  Status Update(float time) override;

  // Appends this object and, for nodes, its subtree in pre-order.
  virtual void CollectSpatials(SpatialQueue& queue) = 0;
  virtual bool Reserved3(void*, void*, void*, void*, void*, void*) { return false; }
  // The object the first controller that names one waits for at `time`, or null.
  virtual CBase* GetTargetAt(float time);
  // Runs the controller chain: each controller evaluates, then writes its result into this
  // object, so a later controller sees what an earlier one wrote. The first failure is answered.
  virtual Status EvaluateTransform(float time);
  // Recomputes `bound`; kNothingDone for objects without geometry.
  virtual Status UpdateBound() = 0;

  // Null: kErrBadArgument. Makes `object` the head of the bounding chain when there is none, else
  // appends it at the end of the chain. Only hulls (CBoundingMesh) chain: appending to a head
  // that is not one, appending something that is not one, or appending a hull that would close
  // the chain into a loop answers kErrBadArgument and changes nothing.
  Status AddBounding(CCorva* object);
  // The rest transform as one matrix: scale along the local axes, then rotate, then translate.
  CMatrix4 GetLocalMatrix() const;
  // Splits a matrix into rotation, position and scale (a mirroring turns all three scale factors
  // negative) and marks the object modified.
  void SetFromMatrix(const CMatrix4& matrix);
  // Evaluates the subtree's transforms at every multiple of 1/rate after startTime up to
  // startTime + deltaTime and at that end time (once at the end when rate is 0), then updates the
  // data and the bounds; with notifyAncestors the bounds of every ancestor as well.
  Status UpdateHierarchy(float startTime, float deltaTime, float rate, bool notifyAncestors);

 private:
  Status EvaluateSubtreeAt(float time);
  // The block of the old layout: a rest matrix, the visibility and ids nothing uses.
  Status LoadOldBlock(CReader& in);
};

// Sets every quaternion component of `rotation` smaller than 0.00001 in magnitude to exactly 0:
// old tools wrote axis-aligned rotations with noise in the last digits. Answers whether there was
// such noise; a rotation without any is left untouched.
bool CleanRotation(CMatrix3& rotation);

}  // namespace KX
