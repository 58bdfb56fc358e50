#include "scene/image_layer.h"

#include "core/alloc.h"
#include "object/persist.h"

namespace KX {

KX_DEFINE_CLASS(CImageLayer, CSpatial, 2, 2)

namespace {

// Streams up to this version wrote the layer block without a version pair and without its
// third flag.
constexpr int32_t kLastUnversionedStream = 200;

constexpr int64_t kImageLayerMemorySize = 76;

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

Status CImageLayer::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CSpatial::Load(in));
  const bool versioned = in.StreamVersion() > kLastUnversionedStream;
  if (versioned) in.Version(classRecord);
  in.Read(layerValue1).Read(layerValue2).Read(layerValue3).Read(layerValue4).Read(layerValue5);
  in.Read(layerValue6).Read(layerValue7).Read(layerValue8).Read(layerValue9);
  in.Read(layerValue10).Read(layerValue11).Read(layerValue12);
  in.Read(layerFlag1).Read(layerFlag2);
  layerFlag3 = false;
  if (versioned) in.Read(layerFlag3);
  in.Read(layerValue13).Ref();
  const int32_t count = in.Get<int32_t>();
  layerObjects.clear();
  if (!in.CanHold(count, kIdSize)) return in.status();
  KX_RETURN_IF_FAILED(TryResize(layerObjects, static_cast<size_t>(count)));
  for (int32_t i = 0; i < count && in.ok(); ++i) in.Ref();
  return in.status();
}

Status CImageLayer::Link(CLinker& in) {
  KX_RETURN_IF_FAILED(CSpatial::Link(in));
  in.Resolve(layerSource);
  for (auto& object : layerObjects) in.Resolve(object);
  return kOk;
}

Status CImageLayer::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CSpatial::Save(out));
  out.Version(classRecord).Field("layerValue1", layerValue1);
  out.FieldBytes("layerValue2", layerValue2.data(), layerValue2.size());
  out.Field("layerValue3", layerValue3).Field("layerValue4", layerValue4);
  out.FieldBytes("layerValue5", layerValue5.data(), layerValue5.size());
  out.Field("layerValue6", layerValue6).Field("layerValue7", layerValue7);
  out.Field("layerValue8", layerValue8).Field("layerValue9", layerValue9);
  out.Field("layerValue10", layerValue10).Field("layerValue11", layerValue11);
  out.Field("layerValue12", layerValue12).Field("layerFlag1", layerFlag1);
  out.Field("layerFlag2", layerFlag2).Field("layerFlag3", layerFlag3);
  out.Field("layerValue13", layerValue13).Ref("layerSource", layerSource.get());
  out.Count(static_cast<int32_t>(layerObjects.size()));
  {
    auto list = out.List("layerObjects");
    for (const auto& object : layerObjects) out.Ref(nullptr, object.get());
  }
  return out.status();
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
