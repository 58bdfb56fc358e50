#include "material/texture.h"

#include <string>

#include "object/container.h"
#include "object/persist.h"
#include "image/image.h"

namespace KX {

KX_DEFINE_CLASS(CTexture, CMaterialBase, 2, 0)
KX_DEFINE_CLASS(CTextureMap, CTexture, 2, 0)
KX_DEFINE_CLASS(CBlendTex, CTexture, 2, 0)
KX_DEFINE_CLASS(CNormalBumpTex, CTexture, 2, 0)
KX_DEFINE_CLASS(CRefractionMap, CTexture, 2, 0)
KX_DEFINE_CLASS(CCubeMap, CTexture, 2, 0)

namespace {

// Blocks stored before this version: a texture block carries one byte nothing uses, and a
// texture map counts its coordinate channels from 1.
constexpr int32_t kCurrentBlockVersion = 200;

// What memory estimates add per level.
constexpr int64_t kTextureMapMemory = 8;
constexpr int64_t kBlendTexMemory = 16;
constexpr int64_t kNormalBumpMemory = 20;
constexpr int64_t kRefractionMemory = 4;

// What a texture refers to is searched, saved and remapped with it; name binding stops at the
// texture itself.
constexpr Walks kTexturePart = kFollowAll & ~kResolve;

// Duplicates a set reference through the map into the copy's slot.
template <class T>
Status DuplicateInto(const CRefPtr<T>& mine, CRefPtr<T>& theirs, DuplicateMap& map) {
  if (!mine) return kOk;
  CRefPtr<CBase> copy;
  KX_RETURN_IF_FAILED(mine->Duplicate(copy, map));
  theirs = KindOf<T>(copy.get());
  return kOk;
}

}  // namespace

Status CTexture::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CMaterialBase::Load(in));
  if (in.Version(classRecord) < kCurrentBlockVersion) in.Skip(1);
  return in.status();
}

Status CTexture::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CMaterialBase::Save(out));
  out.Version(classRecord);
  return out.status();
}

// ---------------------------------------------------------------------------------------------

Status CTextureMap::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CTexture::Duplicate(out, map);
  if (status != kOk) return status;
  return DuplicateInto(image, static_cast<CTextureMap*>(out.get())->image, map);
}

Status CTextureMap::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CTexture::AssignTo(target, released));
  auto* map = KindOf<CTextureMap>(target);
  if (!map) return kErrMalformed;
  map->channel = channel;
  KX_RETURN_IF_FAILED(ShareReference(map->image, image, released));
  return kOk;
}

Status CTextureMap::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CTexture::Load(in));
  const int32_t version = in.Version(classRecord);
  in.Read(channel).Ref();
  if (!in.ok()) return in.status();
  // Old tools numbered the channels from 1; 0 there meant the first channel as well.
  if (version < kCurrentBlockVersion && channel > 0) --channel;
  return kOk;
}

Status CTextureMap::Link(CLinker& in) {
  KX_RETURN_IF_FAILED(CTexture::Link(in));
  CBase* object = in.NextObject();
  if (object && !KindOf<CImage>(object) && !KindOf<CAnmImage>(object)) {
    in.context().Warn(&in.record(), std::string("refers to a ") +
                                        object->GetRuntimeClass()->className +
                                        " where a picture belongs; the reference was dropped");
    object = nullptr;
  }
  image = object;
  return kOk;
}

Status CTextureMap::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CTexture::Save(out));
  out.Version(classRecord).Field("channel", channel).Ref("image", image.get());
  return out.status();
}

int64_t CTextureMap::GetMemorySize() const { return CTexture::GetMemorySize() + kTextureMapMemory; }

void CTextureMap::VisitReferences(CReferenceVisitor& visit) {
  CTexture::VisitReferences(visit);
  visit(image, kTexturePart);
}

// ---------------------------------------------------------------------------------------------

Status CBlendTex::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CTexture::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = static_cast<CBlendTex*>(out.get());
  KX_RETURN_IF_FAILED(DuplicateInto(texture1, copy->texture1, map));
  return DuplicateInto(texture2, copy->texture2, map);
}

Status CBlendTex::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CTexture::AssignTo(target, released));
  auto* blend = KindOf<CBlendTex>(target);
  if (!blend) return kErrMalformed;
  blend->weight1 = weight1;
  blend->weight2 = weight2;
  KX_RETURN_IF_FAILED(ShareReference(blend->texture1, texture1, released));
  KX_RETURN_IF_FAILED(ShareReference(blend->texture2, texture2, released));
  return kOk;
}

Status CBlendTex::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CTexture::Load(in));
  in.Version(classRecord);
  in.Read(weight1).Read(weight2).Ref().Ref();
  return in.status();
}

Status CBlendTex::Link(CLinker& in) {
  KX_RETURN_IF_FAILED(CTexture::Link(in));
  in.Resolve(texture1);
  in.Resolve(texture2);
  return kOk;
}

Status CBlendTex::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CTexture::Save(out));
  out.Version(classRecord).Field("weight1", weight1).Field("weight2", weight2);
  out.Ref("texture1", texture1.get()).Ref("texture2", texture2.get());
  return out.status();
}

int64_t CBlendTex::GetMemorySize() const { return CTexture::GetMemorySize() + kBlendTexMemory; }

void CBlendTex::VisitReferences(CReferenceVisitor& visit) {
  CTexture::VisitReferences(visit);
  visit(texture1, kTexturePart);
  visit(texture2, kTexturePart);
}

// ---------------------------------------------------------------------------------------------

Status CNormalBumpTex::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CTexture::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = static_cast<CNormalBumpTex*>(out.get());
  KX_RETURN_IF_FAILED(DuplicateInto(map1, copy->map1, map));
  return DuplicateInto(map2, copy->map2, map);
}

Status CNormalBumpTex::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CTexture::AssignTo(target, released));
  auto* bump = KindOf<CNormalBumpTex>(target);
  if (!bump) return kErrMalformed;
  bump->use1 = use1;
  bump->use2 = use2;
  bump->amount1 = amount1;
  bump->amount2 = amount2;
  KX_RETURN_IF_FAILED(ShareReference(bump->map1, map1, released));
  KX_RETURN_IF_FAILED(ShareReference(bump->map2, map2, released));
  return kOk;
}

Status CNormalBumpTex::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CTexture::Load(in));
  in.Version(classRecord);
  in.Read(use1).Read(use2).Read(amount1).Read(amount2).Ref().Ref();
  return in.status();
}

Status CNormalBumpTex::Link(CLinker& in) {
  KX_RETURN_IF_FAILED(CTexture::Link(in));
  in.Resolve(map1);
  in.Resolve(map2);
  return kOk;
}

Status CNormalBumpTex::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CTexture::Save(out));
  out.Version(classRecord).Field("use1", use1).Field("use2", use2);
  out.Field("amount1", amount1).Field("amount2", amount2);
  out.Ref("map1", map1.get()).Ref("map2", map2.get());
  return out.status();
}

int64_t CNormalBumpTex::GetMemorySize() const {
  return CTexture::GetMemorySize() + kNormalBumpMemory;
}

void CNormalBumpTex::VisitReferences(CReferenceVisitor& visit) {
  CTexture::VisitReferences(visit);
  visit(map1, kTexturePart);
  visit(map2, kTexturePart);
}

// ---------------------------------------------------------------------------------------------

Status CRefractionMap::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CTexture::AssignTo(target, released));
  auto* refractionMap = KindOf<CRefractionMap>(target);
  if (!refractionMap) return kErrMalformed;
  refractionMap->refraction = refraction;
  return kOk;
}

Status CRefractionMap::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CTexture::Load(in));
  in.Version(classRecord);
  in.Read(refraction);
  return in.status();
}

Status CRefractionMap::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CTexture::Save(out));
  out.Version(classRecord).Field("refraction", refraction);
  return out.status();
}

int64_t CRefractionMap::GetMemorySize() const {
  return CTexture::GetMemorySize() + kRefractionMemory;
}

// ---------------------------------------------------------------------------------------------

Status CCubeMap::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CTexture::Load(in));
  in.Version(classRecord);
  return in.status();
}

Status CCubeMap::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CTexture::Save(out));
  out.Version(classRecord);
  return out.status();
}

}  // namespace KX
