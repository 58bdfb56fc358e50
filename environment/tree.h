#pragma once
// Trees: a procedural tree model (CTree) that owns a runtime of our tree library, keeps the
// runtime's saved form in scene files and grows the tree again after loading; and the objects
// that place a shared tree in the scene (CTreeInstance) and answer bound and ray queries on it.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "object/scene_object_base.h"
#include "environment/tree_runtime/tree_runtime.h"
#include "object/fields.h"
#include "scene/spatial.h"

namespace KX {

class CTree : public CCorva {
  KX_DECLARE_CLASS(CTree)

 public:
  static constexpr size_t kPartCount = 10;
  // Wind matrices a loaded tree's vertices are spread over.
  static constexpr int32_t kWindMatrices = 10;

  // Null only after a copy from a tree without one.
  std::unique_ptr<CTreeRuntime> runtime;
  uint32_t seed = 1;
  // The size the tree is grown to and its variation per seed; negative: the model's own size.
  float treeSize = -1.0f;
  float sizeVariance = -1.0f;
  // The corners of the grown tree's box; empty when there is no geometry. Never saved.
  std::vector<CVector3<float>> corners;
  // Objects that go with the tree (materials, meshes, ...), each slot possibly empty; shared.
  std::array<CRefPtr<CBase>, kPartCount> parts;
  // The runtime's saved form, made as the tree joins a save (PrepareSave) and written with the
  // record. It stays until the next save makes it again or AssignTo changes the tree; it is only
  // the saved form of what the runtime holds, so letting it go loses nothing.
  std::vector<uint8_t> treeBlock;

  CTree();
  ~CTree() override;

  // A tree without a runtime, sharing the parts; when this tree has a runtime the copy gets a
  // copy of it and is grown again.
  Status Clone(CRefPtr<CBase>& out) const override;
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  // A tree block of our runtime that is damaged: kErrOpen, the status old files answered for a
  // tree the runtime would not take. Blocks of other runtimes load and are kept as they are.
  // Writing writes the prepared block; a tree nobody prepared writes the runtime's saved form
  // made here (the same bytes), so that saving without a collection never drops the tree.
  Status Persist(CArchive& ar) override;
  // Makes the runtime's saved form afresh, so that what is written is what the runtime holds now.
  Status PrepareSave(CPersistContext& context) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  // The chains, then the parts in slot order, searched and saved with the tree.
  void VisitReferences(CReferenceVisitor& visit) override;

  // Grows the tree from the runtime (static lighting, no wind, the stored size when it is set,
  // the seed, composite strips) and takes the corners of its box. kErrOpen when the runtime
  // cannot grow it; kNothingDone without a runtime (no corners).
  Status ComputeTree();

 protected:
  // Copies the seed, sizes, corners and parts; no runtime, no block.
  CTree(const CTree& other);
};

// One record of a tree instance: four vectors and a value, 52 bytes as stored.
struct CTreeInstanceRecord {
  CVector3<float> vectors[4];
  int32_t value = 0;

  friend bool operator==(const CTreeInstanceRecord&, const CTreeInstanceRecord&) = default;
};
static_assert(sizeof(CTreeInstanceRecord) == 52);

inline void DescribeValue(CFieldSink& sink, const char* name, const CTreeInstanceRecord& r) {
  CFieldRecord(sink, name)("vectors", r.vectors)("value", r.value);
}

class CTreeInstance : public CSpatial {
  KX_DECLARE_CLASS(CTreeInstance)

 public:
  CRefPtr<CTree> tree;
  CRefPtr<CBase> instanceObject;
  int32_t instanceValue = 0;
  // The current transform split up by EvaluateTransform; never saved.
  CVector3<float> worldPosition;
  CVector3<float> worldScale{1.0f, 1.0f, 1.0f};
  CMatrix3 worldRotation;
  // The tree's corners through the current transform (UpdateBound); never saved.
  std::vector<CVector3<float>> worldCorners;
  std::array<float, 8> instanceBlock{};
  std::array<CTreeInstanceRecord, 3> instanceRecords{};

  CTreeInstance() = default;
  // Copies every field, the computed ones included; the copy shares the tree and the object.
  CTreeInstance(const CTreeInstance&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  // The spatial part's references, then the tree, then the object, searched and saved with it.
  void VisitReferences(CReferenceVisitor& visit) override;
  void CollectSpatials(SpatialQueue& queue) override { queue.push_back(this); }
  // The controllers, then the current transform split into the world values.
  Status EvaluateTransform(float time) override;
  // The tree's corners through the current transform, and the bound around them. A tree without
  // geometry (one kept in another runtime's form) gives the empty bound; without a tree the
  // bound stays as it was.
  Status UpdateBound() override;
  // The nearest front face of the tree's coarsest branch strip that the ray meets, through the
  // current transform; points on an edge count as inside. `index` is the strip position.
  virtual bool IntersectRay(const CVector3<float>& origin, const CVector3<float>& direction,
                            int32_t& index, float& distance, CVector3<float>& point) const;
};

}  // namespace KX
