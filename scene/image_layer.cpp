#include "scene/image_layer.h"

#include "core/alloc.h"
#include "object/archive.h"
#include "scene/scene_archive.h"

namespace KX {

KX_DEFINE_CLASS(CImageLayer, CSpatial, 2, 2)

namespace {

// Streams up to this version wrote the layer block without a version pair and without its
// third flag.
constexpr int32_t kLastUnversionedStream = 200;

constexpr int64_t kImageLayerMemorySize = 76;

// Eight bytes stored as they are and listed as bytes.
void EightBytes(CArchive& ar, const char* name, std::array<uint8_t, 8>& bytes) {
  if (ar.Loading())
    ar.reader().Read(bytes);
  else if (ar.Saving())
    ar.writer().FieldBytes(name, bytes.data(), bytes.size());
}

}  // namespace

Status CImageLayer::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CSpatial::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = static_cast<CImageLayer*>(out.get());
  auto duplicate = [&](const CRefPtr<CBase>& original, CRefPtr<CBase>& slot) -> Status {
    if (!original) return kOk;
    CRefPtr<CBase> objectCopy;
    KX_RETURN_IF_FAILED(original->Duplicate(objectCopy, map));
    slot = objectCopy;
    return kOk;
  };
  KX_RETURN_IF_FAILED(duplicate(layerSource, copy->layerSource));
  for (size_t i = 0; i < layerObjects.size() && i < copy->layerObjects.size(); ++i)
    KX_RETURN_IF_FAILED(duplicate(layerObjects[i], copy->layerObjects[i]));
  return kOk;
}

Status CImageLayer::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CSpatial::Persist(ar));
  const bool versioned = ar.StreamVersion() > kLastUnversionedStream;
  if (versioned) ar.Version(classRecord);
  ar("layerValue1", layerValue1);
  EightBytes(ar, "layerValue2", layerValue2);
  ar("layerValue3", layerValue3)("layerValue4", layerValue4);
  EightBytes(ar, "layerValue5", layerValue5);
  ar("layerValue6", layerValue6)("layerValue7", layerValue7)("layerValue8", layerValue8);
  ar("layerValue9", layerValue9)("layerValue10", layerValue10)("layerValue11", layerValue11);
  ar("layerValue12", layerValue12)("layerFlag1", layerFlag1)("layerFlag2", layerFlag2);
  if (ar.Loading()) layerFlag3 = false;
  if (versioned) ar("layerFlag3", layerFlag3);
  ar("layerValue13", layerValue13).Ref("layerSource", layerSource);
  HeldRefList(ar, "layerObjects", layerObjects);
  return ar.status();
}

int64_t CImageLayer::GetMemorySize() const {
  return CSpatial::GetMemorySize() + kImageLayerMemorySize +
         4 * static_cast<int64_t>(layerObjects.size());
}

bool CImageLayer::HasAttachments() const {
  if (layerSource) return true;
  for (const auto& object : layerObjects)
    if (object) return true;
  return CSpatial::HasAttachments();
}

void CImageLayer::VisitReferences(CReferenceVisitor& visit) {
  CSpatial::VisitReferences(visit);
  visit(layerSource);
  visit.Each(layerObjects);
}

Status CImageLayer::Update(float time) {
  KX_RETURN_IF_FAILED(CSpatial::Update(time));
  if (auto* source = KindOf<CCorva>(layerSource.get()))
    KX_RETURN_IF_FAILED(source->Update(time));
  for (const auto& object : layerObjects)
    if (auto* corva = KindOf<CCorva>(object.get())) KX_RETURN_IF_FAILED(corva->Update(time));
  return kOk;
}

}  // namespace KX
