#pragma once
// Data controllers that move the vertices of the mesh they are attached to: skinning by bones,
// one morph target with an animated weight, a stored vertex selection, and the welding of the
// seam between two meshes. They run in the owner's data pass, after the mesh has copied its rest
// positions into worldPositions, and read the transforms the transform pass wrote.
#include <cstdint>
#include <string>
#include <vector>

#include "object/control.h"
#include "object/fields.h"
#include "core/math/matrix.h"
#include "scene/buffer.h"

namespace KX {

class CGeometry;
class CSpatial;
class CTriMesh;

// A vertex a bone moves and how strongly.
struct BoneInfluence {
  uint32_t vertex = 0;
  float weight = 0.0f;
  friend bool operator==(const BoneInfluence&, const BoneInfluence&) = default;
};
static_assert(sizeof(BoneInfluence) == 8);

inline void DescribeValue(CFieldSink& sink, const char* name, const BoneInfluence& b) {
  CFieldRecord(sink, name)("vertex", b.vertex)("weight", b.weight);
}

// One influencing bone. The bone is a plain reference; its name is kept beside it so that a copy
// whose bones are not in the copied graph can find bones of the same name again (name binding).
struct SkinBone {
  CSpatial* bone = nullptr;
  std::u16string boneName;
  CMatrix4 bindMatrix;
  std::vector<BoneInfluence> influences;
};

class CBoneSkinControl : public CDataControl {
  KX_DECLARE_CLASS(CBoneSkinControl)

 public:
  // In stored order, which is the order they are saved in again.
  std::vector<SkinBone> bones;

  // Derived from `bones`, never saved. Group 0 holds the vertices no bone moves (they follow the
  // owner rigidly), group 1 every skinned vertex. Per vertex, the bones that move it (as indices
  // into `bones`) and their weights, packed: vertex v's entries are [weightStart[v],
  // weightStart[v + 1]).
  std::vector<std::vector<uint32_t>> vertexGroups;
  std::vector<uint32_t> weightStart;
  std::vector<uint32_t> weightBones;
  std::vector<float> weights;
  // Influences that named a vertex the owner does not have, left out of the last rebuild.
  uint64_t skippedIndices = 0;

  CBoneSkinControl() = default;
  CBoneSkinControl(const CBoneSkinControl& other);

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  void VisitReferences(CReferenceVisitor& visit) override;
  // Skins the owner's worldPositions and leaves them in world space.
  Status Update(float time) override;
  // Binds bones by their names under `root`, then rebuilds the derived tables.
  Status ResolveOwnNames(CBase* root) override;
  // The tables leave out bones that are gone: remapping may have cleared some.
  Status RemapOwnReferences(DuplicateMap& map) override;
  float GetDuration() const override { return 0.0f; }
  Status ApplyData() override { return owner ? kNothingDone : kErrBadArgument; }

  // Appends a bone (its name is taken along) and rebuilds the derived tables.
  Status AddBone(CSpatial* bone, const CMatrix4& bindMatrix, std::vector<BoneInfluence> influences);
  // Rebuilds the derived tables for `vertexCount` vertices (the owner's, by default).
  Status RebuildTables();
  Status RebuildTables(size_t vertexCount);

 private:
  size_t tableVertices_ = 0;
  bool tablesBuilt_ = false;
  std::vector<CSpatial*> builtBones_;  // the bones the tables were built for
  std::vector<CMatrix4> skin_;  // per bone, reused by every update
};

class CMorphControl : public CDataControl {
  KX_DECLARE_CLASS(CMorphControl)

 public:
  // Offset of each covered vertex at full weight; their count is the number of vertices covered.
  std::vector<CVector3<float>> deltas;
  std::vector<float> weightKeys;
  std::vector<float> weightTimes;
  int32_t cursor = 0;
  // Deltas for vertices the owner does not have, left out by updates.
  uint64_t skippedIndices = 0;

  CMorphControl() = default;
  CMorphControl(const CMorphControl&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  // Adds the weighted deltas to the owner's worldPositions. Weight 0: kNothingDone.
  Status Update(float time) override;
  float GetDuration() const override { return weightTimes.empty() ? 0.0f : weightTimes.back(); }
  Status ApplyData() override { return owner ? kNothingDone : kErrBadArgument; }

  // The weight at controller time `t`; false when there are no keys to take it from.
  bool WeightAt(float t, float& weight);
};

// A stored vertex selection; nothing to evaluate.
class CMeshSelControl : public CDataControl {
  KX_DECLARE_CLASS(CMeshSelControl)

 public:
  CBitArray selection;

  CMeshSelControl() = default;
  CMeshSelControl(const CMeshSelControl&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  Status Update(float) override { return kNothingDone; }
  float GetDuration() const override { return 0.0f; }
  Status ApplyData() override { return owner ? kNothingDone : kErrBadArgument; }
};

// The seam between two meshes, shared by a connect controller on each of them. Once both meshes
// have been updated to the same time, the seam vertices of both are moved to their average and
// the normals around each seam vertex are joined.
class CConnectData : public CCorva {
  KX_DECLARE_CLASS(CConnectData)

 public:
  CTriMesh* mesh1 = nullptr;  // plain references
  CTriMesh* mesh2 = nullptr;
  std::vector<uint32_t> seamVertices1;
  // k partners in mesh2 per seam vertex, k = |seamVertices2| / |seamVertices1|.
  std::vector<uint32_t> seamVertices2;
  // The times each mesh was last updated to; not a number until it has been.
  float time1;
  float time2;
  std::vector<std::vector<uint32_t>> normalGroups1;
  std::vector<std::vector<uint32_t>> normalGroups2;
  // Seam or normal indices out of range that welding skipped.
  uint64_t skippedIndices = 0;

  CConnectData();
  CConnectData(const CConnectData& other);

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  void VisitReferences(CReferenceVisitor& visit) override;
  // Welds when both meshes reached `time`; otherwise kNothingDone and nothing moves.
  Status Update(float time) override;
};

class CConnectControl : public CDataControl {
  KX_DECLARE_CLASS(CConnectControl)

 public:
  CRefPtr<CConnectData> connection;  // shared with the controller on the other mesh

  CConnectControl() = default;
  // The copy shares the connection; Duplicate gives it a copy.
  CConnectControl(const CConnectControl& other);

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  void VisitReferences(CReferenceVisitor& visit) override;
  // Records that the owner reached `time`, brings its normals up to date, then lets the
  // connection weld.
  Status Update(float time) override;
  float GetDuration() const override { return 0.0f; }
  Status ApplyData() override { return owner ? kNothingDone : kErrBadArgument; }
};

}  // namespace KX
