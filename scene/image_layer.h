#pragma once
// Image layers: spatial objects holding a set of layer parameters, one source object and a list
// of further objects that update with the layer.
#include <array>
#include <cstdint>
#include <vector>

#include "scene/spatial.h"

namespace KX {

class CImageLayer : public CSpatial {
  KX_DECLARE_CLASS(CImageLayer)

 public:
  float layerValue1 = 1.0f;
  std::array<uint8_t, 8> layerValue2{};
  uint32_t layerValue3 = 0;
  uint32_t layerValue4 = 0;
  std::array<uint8_t, 8> layerValue5{};
  uint32_t layerValue6 = 0;
  uint32_t layerValue7 = 0;
  uint32_t layerValue8 = 0;
  uint32_t layerValue9 = 0;
  uint32_t layerValue10 = 0;
  uint32_t layerValue11 = 0;
  uint32_t layerValue12 = 0;
  bool layerFlag1 = false;
  bool layerFlag2 = false;
  bool layerFlag3 = false;  // not stored by files of stream version 2.00 and older
  uint32_t layerValue13 = 0;
  // Any object a file names: a picture is the usual source, a scene object may be one too.
  CRefPtr<CBase> layerSource;
  std::vector<CRefPtr<CBase>> layerObjects;  // entries may be empty

  CImageLayer() = default;
  // Copies every value and flag; the copy shares the source and the objects.
  CImageLayer(const CImageLayer&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  // Files of stream version 2.00 and older store the block without its version pair and
  // without layerFlag3.
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  // The spatial part's references, then the source, then the objects in order, each followed by
  // every walk.
  void VisitReferences(CReferenceVisitor& visit) override;
  // The spatial part, then the source and each object that is a scene object (a picture has
  // nothing to update).
  Status Update(float time) override;
  void CollectSpatials(SpatialQueue& queue) override { queue.push_back(this); }
  Status UpdateBound() override { return kNothingDone; }
};

}  // namespace KX
