#include "environment/environment.h"

#include "core/alloc.h"
#include "object/archive.h"

namespace KX {

KX_DEFINE_CLASS(CSky, CCorva, 2, 0)
KX_DEFINE_CLASS(CWater, CCorva, 2, 1)
KX_DEFINE_CLASS(CTerrain, CCorva, 2, 0)

namespace {

// Water blocks store waterValue9 from this version on.
constexpr int32_t kWaterValue9Version = 201;

// What memory estimates add per class.
constexpr int64_t kSkyMemory = 8;
constexpr int64_t kWaterMemory = 84;
constexpr int64_t kTerrainMemory = 4;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Shared content

Status CEnvironmentObject::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CCorva::Duplicate(out, map);
  if (status != kOk || !content) return status;
  auto* copy = static_cast<CEnvironmentObject*>(out.get());
  CRefPtr<CBase> contentCopy;
  KX_RETURN_IF_FAILED(content->Duplicate(contentCopy, map));
  copy->content = KindOf<CCorva>(contentCopy.get());
  copy->modified = 1;
  return kOk;
}

bool CEnvironmentObject::HasAttachments() const { return content || CCorva::HasAttachments(); }

void CEnvironmentObject::VisitReferences(CReferenceVisitor& visit) {
  CCorva::VisitReferences(visit);
  visit(content);
}

Status CEnvironmentObject::ShareContentWith(CEnvironmentObject& target,
                                            ReleasedList& released) const {
  if (&target == this) return kOk;
  if (target.content)
    KX_RETURN_IF_FAILED(TryAppend(released, CRefPtr<CBase>(target.content.get())));
  target.content = content;
  return kOk;
}

// ---------------------------------------------------------------------------------------------
// Sky

Status CSky::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  auto* sky = KindOf<CSky>(target);
  if (!sky) return kErrMalformed;
  sky->skyFlag = skyFlag;
  return ShareContentWith(*sky, released);
}

Status CSky::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  ar.Version(classRecord);
  ar.Ref("content", content)("skyFlag", skyFlag);
  return ar.status();
}

int64_t CSky::GetMemorySize() const { return CCorva::GetMemorySize() + kSkyMemory; }

// ---------------------------------------------------------------------------------------------
// Water

void CWater::CopySettingsTo(CWater& target) const {
  target.waterVector1 = waterVector1;
  target.waterFlag1 = waterFlag1;
  target.waterVector2 = waterVector2;
  target.waterVector3 = waterVector3;
  target.waterValue1 = waterValue1;
  target.waterValue2 = waterValue2;
  target.waterValue3 = waterValue3;
  target.waterValue4 = waterValue4;
  target.waterValue5 = waterValue5;
  target.waterValue6 = waterValue6;
  target.waterValue7 = waterValue7;
  target.waterValue8 = waterValue8;
  target.waterValue9 = waterValue9;
  target.waterFlag2 = waterFlag2;
  target.waterFlag3 = waterFlag3;
}

Status CWater::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  auto* water = KindOf<CWater>(target);
  if (!water) return kErrMalformed;
  CopySettingsTo(*water);
  return ShareContentWith(*water, released);
}

Status CWater::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  ar.Ref("content", content);
  ar("waterVector1", waterVector1)("waterFlag1", waterFlag1);
  ar("waterVector2", waterVector2)("waterVector3", waterVector3);
  ar("waterValue1", waterValue1)("waterValue2", waterValue2)("waterValue3", waterValue3);
  ar("waterValue4", waterValue4)("waterValue5", waterValue5)("waterValue6", waterValue6);
  ar("waterValue7", waterValue7)("waterValue8", waterValue8);
  if (version >= kWaterValue9Version) ar("waterValue9", waterValue9);
  ar("waterFlag2", waterFlag2)("waterFlag3", waterFlag3);
  return ar.status();
}

int64_t CWater::GetMemorySize() const { return CCorva::GetMemorySize() + kWaterMemory; }

// ---------------------------------------------------------------------------------------------
// Terrain

Status CTerrain::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  auto* terrain = KindOf<CTerrain>(target);
  if (!terrain) return kErrMalformed;
  return ShareContentWith(*terrain, released);
}

Status CTerrain::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  ar.Version(classRecord);
  ar.Ref("content", content);
  return ar.status();
}

int64_t CTerrain::GetMemorySize() const { return CCorva::GetMemorySize() + kTerrainMemory; }

}  // namespace KX
