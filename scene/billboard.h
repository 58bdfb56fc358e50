#pragma once
// Billboards: geometry whose vertices are moved into world space at every update, like a mesh's,
// carrying a list of further objects that update with it.
#include <cstdint>
#include <vector>

#include "scene/geometry.h"

namespace KX {

class CBillboard : public CGeometry {
  KX_DECLARE_CLASS(CBillboard)

 public:
  uint32_t billboardValue1 = 0;
  uint32_t billboardValue2 = 0;
  // Shared with other objects; entries may be empty. Any object a file names: only scene
  // objects among them are updated.
  std::vector<CRefPtr<CBase>> subObjects;

  CBillboard() = default;
  // Copies the geometry and the values; the copy shares the same sub-objects.
  CBillboard(const CBillboard& other);

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  // The target shares this billboard's sub-objects; the ones it had go to `released`.
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  // The geometry's references, then the sub-objects in order, which only collection for saving
  // follows: searches, name binding and remapping stop at the billboard.
  void VisitReferences(CReferenceVisitor& visit) override;
  // Rest positions -> working copy, controllers and material, world space, then the sub-objects.
  // No normals are computed.
  Status Update(float time) override;

  // worldPositions *= transform, as points; sets inWorldSpace.
  virtual Status TransformToWorld();
};

}  // namespace KX
