#pragma once
// Bounding objects: the space an object occupies, kept apart from the renderer's own bound. A box
// given by its eight corners, and triangle hulls that follow a spatial object's transform. A
// spatial object keeps its hulls in a chain behind its `bounding` reference; updates, searches,
// name binding and reference remapping run along that chain.
#include <array>
#include <cstdint>

#include "object/chain_link.h"
#include "object/scene_object_base.h"
#include "scene/buffer.h"

namespace KX {

class CSpatial;

// An oriented box: eight corners, stored as given.
class CBoundingBox : public CCorva {
  KX_DECLARE_CLASS(CBoundingBox)

 public:
  std::array<CVector3<float>, 8> corners{};

  CBoundingBox() = default;
  CBoundingBox(const CBoundingBox&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
};

class CBoundingMesh;

// A triangle hull in the local space of `node`; Update moves it with the node's current
// transform. `next` (from CChainLink) owns the following hull of the chain.
class CBoundingMesh : public CChainLink<CCorva, CBoundingMesh> {
  KX_DECLARE_CLASS(CBoundingMesh)

 public:
  CSpatial* node = nullptr;  // not owned: the object whose transform moves the hull
  int32_t faceCount = 0;
  CIndexBuffer faceIndices;  // three per face, into vertices
  CVectorBuffer vertices;
  CVectorBuffer worldVertices;  // vertices moved by the node's transform; never saved
  // Carried along by copies; nothing here reads them.
  CVector3<float> scale{1.0f, 1.0f, 1.0f};
  bool hullFlag1 = true;
  bool hullFlag2 = true;

  CBoundingMesh() = default;
  // Copies the node link, the buffers and the settings; the copy starts a chain of its own.
  CBoundingMesh(const CBoundingMesh& other);

  Status Clone(CRefPtr<CBase>& out) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  // The base's chains, `node` (followed by no walk: the two hooks below bind and remap it), then
  // the rest of the chain, followed by every walk.
  void VisitReferences(CReferenceVisitor& visit) override;
  Status Update(float time) override;
  // Binds `node` again by its name: the spatial object of that name under `root`; none there:
  // kErrNodeNotFound.
  Status ResolveOwnNames(CBase* root) override;
  // `node` becomes its copy from the map; one that names a copy already stays. Not a retargeting
  // statement, because a node that was not copied fails with kErrNodeNotFound, not as malformed.
  Status RemapOwnReferences(DuplicateMap& map) override;

  // Appends `object` (with whatever tail it carries) at the end of this chain. Null, or an object
  // that would close the chain into a loop: kErrBadArgument, nothing changes.
  Status AppendBounding(CBoundingMesh* object);
  // Sizes vertices and worldVertices to n zeroed entries; n <= 0: kErrBadArgument.
  Status SetVertexCount(int32_t n);
};

}  // namespace KX
