#pragma once
// Terrain structure: the nodes of a four-way spatial subdivision, and the height-field blocks.
// The values are stored and copied; the geometry lives in the objects they reference.
#include <array>
#include <cstdint>
#include <vector>

#include "object/scene_object_base.h"

namespace KX {

// One node of the subdivision: an origin, two values and four children (nodes or leaf objects),
// each slot possibly empty.
class CQuadTree : public CCorva {
  KX_DECLARE_CLASS(CQuadTree)

 public:
  float origin[2] = {0.0f, 0.0f};
  uint32_t quadValue1 = 0;
  uint32_t quadValue2 = 0;
  std::array<CRefPtr<CBase>, 4> children;

  CQuadTree() = default;
  // Copies the origin and the values; the copy has no children.
  CQuadTree(const CQuadTree& other);

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  // Checks the target's class; copies nothing of this level.
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  void VisitReferences(CReferenceVisitor& visit) override;
};

// Height-field parameters and a sample block. Only the version of the level is stored; the
// samples are built at run time and never copied.
class CHeightData : public CCorva {
  KX_DECLARE_CLASS(CHeightData)

 public:
  float range1[2] = {0.0f, 0.0f};
  float range2[2] = {0.0f, 0.0f};
  uint32_t heightValue1 = 0;
  uint32_t heightValue2 = 0;
  std::vector<float> samples;

  CHeightData() = default;
  // Copies the parameters; the copy has no samples.
  CHeightData(const CHeightData& other);

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  // Checks the target's class; copies nothing of this level.
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
};

// A height map: its own height-field block (never stored) and the object it is built from.
class CHeightMap : public CCorva {
  KX_DECLARE_CLASS(CHeightMap)

 public:
  CHeightData heightData;
  CRefPtr<CBase> source;

  CHeightMap() = default;
  // The copy has a fresh height-field block and no source.
  CHeightMap(const CHeightMap& other) : CCorva(other) {}

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  // Checks the target's class; copies nothing of this level.
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  void VisitReferences(CReferenceVisitor& visit) override;
};

}  // namespace KX
