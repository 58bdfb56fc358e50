#pragma once
// Grass: layers of blade records over an area. A grass object is placed like any spatial
// object, but its record leaves the spatial level out: the rest transform, flags, attachment and
// bounding chain are not stored, and the searches and saves of a grass object pass them by.
#include <array>
#include <cstdint>
#include <vector>

#include "object/fields.h"
#include "scene/spatial.h"

namespace KX {

// One blade, kept exactly as stored.
struct CGrassBlade {
  std::array<uint8_t, 60> bytes{};
  friend bool operator==(const CGrassBlade&, const CGrassBlade&) = default;
};
static_assert(sizeof(CGrassBlade) == 60);

inline void DescribeValue(CFieldSink& sink, const char* name, const CGrassBlade& blade) {
  sink.Bytes(name, blade.bytes);
}

struct CGrassLayer {
  CVector3<float> vector1;
  CVector3<float> vector2;
  CVector3<float> vector3;
  uint32_t value = 0;
  std::vector<CGrassBlade> blades;
};

class CGrass : public CSpatial {
  KX_DECLARE_CLASS(CGrass)

 public:
  int32_t grassValue1 = 0;
  int32_t grassValue2 = 0;
  CVector3<float> grassVector;
  int32_t grassValue3 = 0;
  float grassValue4 = 1.0f;
  float grassValue5 = 1.0f;
  int32_t grassValue6 = 0;
  int32_t grassValue7 = 0;
  std::vector<CGrassLayer> layers;
  Bound area{{0.0f, 0.0f, 0.0f}, 0.0f, {0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 1.0f}};
  CRefPtr<CBase> grassObject1;
  CRefPtr<CBase> grassObject2;

  CGrass() = default;
  // Copies every field; the copy shares the two objects (and, as every spatial copy, has no
  // parent, attachment or bounding chain).
  CGrass(const CGrass&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  // The chains, the rest transform and settings, the grass fields; the target shares the two
  // objects. Its attachment and bounding chain stay its own, as they are no part of a grass.
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  // The chains, then the two objects (searched and saved with the grass). The spatial level's
  // attachment is followed by no walk; its bounding chain only by name binding and remapping.
  void VisitReferences(CReferenceVisitor& visit) override;
  void CollectSpatials(SpatialQueue& queue) override { queue.push_back(this); }
  Status UpdateBound() override { return kNothingDone; }
};

}  // namespace KX
