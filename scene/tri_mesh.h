#pragma once
// Triangle meshes and their extra texture-map channels.
#include <cstdint>
#include <limits>
#include <vector>

#include "object/fields.h"
#include "scene/geometry.h"

namespace KX {

// A texture-map channel of a mesh: map vertices and, per face, three indices into them. Also
// stored under the older class name "CTriMeshUVWMap".
class CUvwMap : public CCorva {
  KX_DECLARE_CLASS(CUvwMap)

 public:
  int32_t faceCount = 0;
  CVectorBuffer mapVertices;
  CIndexBuffer values;       // a count of their own
  CIndexBuffer faceIndices;  // 3 per face, into mapVertices

  CUvwMap() = default;
  CUvwMap(const CUvwMap& other);

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;

  // Sets the face count and sizes faceIndices to three per face (zeros); n <= 0 empties it.
  Status SetFaceCount(int32_t n);
  Status SetValueCount(int32_t n);
  Status SetMapVertexCount(int32_t n);
};

// Three 32-bit values carried along with a mesh.
struct ExtraVector {
  uint32_t v[3] = {0, 0, 0};
  friend bool operator==(const ExtraVector&, const ExtraVector&) = default;
};
static_assert(sizeof(ExtraVector) == 12);

inline void DescribeValue(CFieldSink& sink, const char* name, const ExtraVector& e) {
  CFieldRecord(sink, name)("v", e.v);
}

// What a ray query found.
struct RayHit {
  int32_t face = 0;
  float distance = std::numeric_limits<float>::max();
  CVector3<float> point;
  CVector3<float> normal;
};

class CTriMesh : public CGeometry {
  KX_DECLARE_CLASS(CTriMesh)

 public:
  int32_t faceCount = 0;
  CIndexBuffer facePositionIndices;  // 3 per face, into positions / worldPositions
  CIndexBuffer faceNormalIndices;    // 3 per face, into normals / worldNormals
  CIndexBuffer faceMapIndices;       // 3 per face, into mapVertices
  CIndexBuffer faceTriples4;         // 3 per face
  CIndexBuffer faceValues1;          // 1 per face
  CIndexBuffer faceValues2;          // 1 per face
  // Shared with other meshes; entries may be empty.
  std::vector<CRefPtr<CUvwMap>> mapChannels;
  std::vector<ExtraVector> extraVectors;

  CTriMesh() = default;
  // Deep copy of every buffer; the copy shares the same map channel objects.
  CTriMesh(const CTriMesh& other);

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  // The geometry's references, then the map channels in order, followed by every walk.
  void VisitReferences(CReferenceVisitor& visit) override;
  // Rest positions -> working copy, deformers, world space, normals, map channels.
  Status Update(float time) override;

  // The nearest face the ray from `origin` along `direction` passes through, in worldPositions;
  // faces seen from behind count only when twoSided. Points on an edge are outside. On a miss
  // `hit` holds face 0 and the largest float as distance.
  virtual bool IntersectRay(const CVector3<float>& origin, const CVector3<float>& direction,
                            bool twoSided, RayHit& hit);
  // Smooth normals from worldPositions: each face adds its area-weighted normal to the normals
  // its corners name. kNothingDone when there is nothing to compute or they are valid already.
  virtual Status ComputeNormals();
  // worldPositions *= transform, as points; sets inWorldSpace.
  virtual Status TransformToWorld();

  // Faces whose three position indices are all stored; never more than faceCount.
  int64_t StoredFaces(const CIndexBuffer& indices) const;
};

}  // namespace KX
