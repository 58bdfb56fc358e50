#include "environment/environment.h"

#include "core/alloc.h"
#include "object/persist.h"

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

Status CEnvironmentObject::Link(CLinker& in) {
  KX_RETURN_IF_FAILED(CCorva::Link(in));
  in.Resolve(content);
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

Status CSky::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CCorva::Load(in));
  in.Version(classRecord);
  in.Ref().Read(skyFlag);
  return in.status();
}

Status CSky::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CCorva::Save(out));
  out.Version(classRecord).Ref("content", content.get()).Field("skyFlag", skyFlag);
  return out.status();
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

Status CWater::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CCorva::Load(in));
  const int32_t version = in.Version(classRecord);
  in.Ref().Read(waterVector1).Read(waterFlag1).Read(waterVector2).Read(waterVector3);
  in.Read(waterValue1).Read(waterValue2).Read(waterValue3).Read(waterValue4);
  in.Read(waterValue5).Read(waterValue6).Read(waterValue7).Read(waterValue8);
  if (version >= kWaterValue9Version) in.Read(waterValue9);
  in.Read(waterFlag2).Read(waterFlag3);
  return in.status();
}

Status CWater::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CCorva::Save(out));
  out.Version(classRecord).Ref("content", content.get());
  out.Field("waterVector1", waterVector1).Field("waterFlag1", waterFlag1);
  out.Field("waterVector2", waterVector2).Field("waterVector3", waterVector3);
  out.Field("waterValue1", waterValue1).Field("waterValue2", waterValue2);
  out.Field("waterValue3", waterValue3).Field("waterValue4", waterValue4);
  out.Field("waterValue5", waterValue5).Field("waterValue6", waterValue6);
  out.Field("waterValue7", waterValue7).Field("waterValue8", waterValue8);
  out.Field("waterValue9", waterValue9);
  out.Field("waterFlag2", waterFlag2).Field("waterFlag3", waterFlag3);
  return out.status();
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

Status CTerrain::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CCorva::Load(in));
  in.Version(classRecord);
  in.Ref();
  return in.status();
}

Status CTerrain::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CCorva::Save(out));
  out.Version(classRecord).Ref("content", content.get());
  return out.status();
}

int64_t CTerrain::GetMemorySize() const { return CCorva::GetMemorySize() + kTerrainMemory; }

}  // namespace KX
