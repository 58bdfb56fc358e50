#pragma once
// Geometry: spatial objects that carry vertex data in typed buffers and a material. The rest
// positions stay as loaded; every update works on a copy (worldPositions) that deformers change
// and that ends up in world space, with normals recomputed from it. A load leaves that copy to
// be made when something first needs it: most loaded scenes are converted or saved, never
// updated, and their copies would only cost memory.
#include <cstdint>
#include <span>

#include "material/material_base.h"
#include "scene/buffer.h"
#include "scene/spatial.h"

namespace KX {

class CGeometry : public CSpatial {
  KX_DECLARE_CLASS(CGeometry)

 public:
  CVectorBuffer positions;       // rest positions; their count is the vertex count n
  CVectorBuffer worldPositions;  // working copy, sized with positions; never saved (see
                                 // PrepareWorkingBuffers)
  CIndexBuffer vertexValues;     // one value per vertex
  CVectorBuffer normals;         // rest normals, a count of their own
  CVectorBuffer worldNormals;    // recomputed from worldPositions, sized with normals
  CVectorBuffer mapVertices;
  CIndexBuffer indexList1;  // the three lists share one count
  CIndexBuffer indexList2;
  CIndexBuffer indexList3;
  CRefPtr<CMaterialBase> material;  // shared with other geometry
  bool geometryFlag = false;
  bool normalsValid = false;  // worldNormals match worldPositions
  bool inWorldSpace = false;  // worldPositions are in world space already
  bool autoNormals = true;    // recompute normals at update
  // Indices out of range (files can hold them) that the operations on this object skipped since
  // it was created or the count was last reset. Not saved, not copied.
  uint64_t skippedIndices = 0;

  CGeometry() = default;
  // Deep copy of every buffer and the flags; the copy has no material of its own yet
  // (Duplicate gives it one).
  CGeometry(const CGeometry& other);

  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  // The spatial part's references, then the material, followed by every walk.
  void VisitReferences(CReferenceVisitor& visit) override;
  Status Update(float time) override;
  void CollectSpatials(SpatialQueue& queue) override { queue.push_back(this); }
  // The bound of the first n worldPositions (n = the vertex count): box, its middle, and the
  // farthest point.
  Status UpdateBound() override;

  int32_t VertexCount() const { return positions.count(); }
  // Sizes the working buffers to the rest buffers where they differ: positions are copied,
  // normals start at zero.
  Status SizeWorkingBuffers();
  // Makes the working buffers that a load left to be made (SizeWorkingBuffers, as the load did
  // before); nothing otherwise. Whatever reads or changes worldPositions or worldNormals of a
  // loaded object outside its update calls this first.
  Status PrepareWorkingBuffers() { return workingPending_ ? SizeWorkingBuffers() : kOk; }
  // The working positions as a reader sees them: until they are made, the copy they would be
  // made as (the rest positions). Never more than the vertex count.
  std::span<const CVector3<float>> CurrentPositions() const;

 protected:
  // Index-list count as written: the longest of the three lists.
  int64_t IndexListCount() const;
  // worldPositions *= transform, as points (the first n, n = the vertex count); sets
  // inWorldSpace. What every geometry that is moved into world space at its update does.
  void TransformWorldPositions();

 private:
  // Loaded, and the working buffers not made since: they are empty, and stand for a copy of the
  // rest positions and zero normals. Copied with the object.
  bool workingPending_ = false;
};

}  // namespace KX
