#include "scene/billboard.h"

#include <cstring>

#include "core/alloc.h"
#include "object/archive.h"
#include "scene/scene_archive.h"

namespace KX {

KX_DEFINE_CLASS(CBillboard, CGeometry, 2, 0)

namespace {

// What an estimate of a billboard's memory adds to the geometry part, besides its list.
constexpr int64_t kBillboardMemorySize = 16;

}  // namespace

CBillboard::CBillboard(const CBillboard& other)
    : CGeometry(other),
      billboardValue1(other.billboardValue1),
      billboardValue2(other.billboardValue2),
      subObjects(other.subObjects) {}

Status CBillboard::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CGeometry::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = static_cast<CBillboard*>(out.get());
  for (size_t i = 0; i < subObjects.size() && i < copy->subObjects.size(); ++i) {
    if (!subObjects[i]) continue;
    CRefPtr<CBase> objectCopy;
    KX_RETURN_IF_FAILED(subObjects[i]->Duplicate(objectCopy, map));
    copy->subObjects[i] = objectCopy;
  }
  return kOk;
}

Status CBillboard::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CGeometry::AssignTo(target, released));
  auto* billboard = KindOf<CBillboard>(target);
  if (!billboard) return kErrMalformed;
  if (billboard == this) return kOk;
  billboard->billboardValue1 = billboardValue1;
  billboard->billboardValue2 = billboardValue2;
  return Guarded([&]() -> Status {
    for (const auto& old : billboard->subObjects)
      if (old) released.emplace_back(old.get());
    billboard->subObjects = subObjects;
    return kOk;
  });
}

Status CBillboard::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CGeometry::Persist(ar));
  ar.Version(classRecord);
  ar("billboardValue1", billboardValue1)("billboardValue2", billboardValue2);
  HeldRefList(ar, "subObjects", subObjects);
  return ar.status();
}

int64_t CBillboard::GetMemorySize() const {
  return CGeometry::GetMemorySize() + kBillboardMemorySize +
         4 * static_cast<int64_t>(subObjects.size());
}

bool CBillboard::HasAttachments() const {
  for (const auto& object : subObjects)
    if (object) return true;
  return CGeometry::HasAttachments();
}

void CBillboard::VisitReferences(CReferenceVisitor& visit) {
  CGeometry::VisitReferences(visit);
  visit.Each(subObjects, kCollect);
}

Status CBillboard::Update(float time) {
  // The working buffers match the rest buffers already unless someone replaced those since.
  KX_RETURN_IF_FAILED(SizeWorkingBuffers());
  if (!positions.empty())
    std::memcpy(worldPositions.data(), positions.data(), positions.size() * sizeof(positions[0]));
  inWorldSpace = false;
  KX_RETURN_IF_FAILED(CGeometry::Update(time));
  if (!inWorldSpace) KX_RETURN_IF_FAILED(TransformToWorld());
  for (const auto& object : subObjects)
    if (auto* corva = KindOf<CCorva>(object.get())) KX_RETURN_IF_FAILED(corva->Update(time));
  return kOk;
}

Status CBillboard::TransformToWorld() {
  KX_RETURN_IF_FAILED(PrepareWorkingBuffers());
  TransformWorldPositions();
  return kOk;
}

}  // namespace KX
