#include "material/texture.h"

#include <string>

#include "content/archive_shapes.h"
#include "image/image.h"
#include "object/archive.h"
#include "object/container.h"

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

// Links a texture map's image: only a picture is taken; another object is dropped with a load
// warning.
void LinkPicture(CLinker& in, CRefPtr<CBase>& image) {
  CBase* object = in.NextObject();
  if (object && !KindOf<CImage>(object) && !KindOf<CAnmImage>(object)) {
    in.context().Warn(&in.record(), std::string("refers to a ") +
                                        object->GetRuntimeClass()->className +
                                        " where a picture belongs; the reference was dropped");
    object = nullptr;
  }
  image = object;
}

}  // namespace

Status CTexture::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CMaterialBase::Persist(ar));
  if (ar.Version(classRecord) < kCurrentBlockVersion) PassOver(ar, 1);
  return ar.status();
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

Status CTextureMap::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CTexture::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  ar("channel", channel);
  if (ar.Linking())
    LinkPicture(ar.linker(), image);
  else
    ar.Ref("image", image);
  // Old tools numbered the channels from 1; 0 there meant the first channel as well.
  if (ar.Loading() && ar.ok() && version < kCurrentBlockVersion && channel > 0) --channel;
  return ar.status();
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

Status CBlendTex::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CTexture::Persist(ar));
  ar.Version(classRecord);
  ar("weight1", weight1)("weight2", weight2).Ref("texture1", texture1).Ref("texture2", texture2);
  return ar.status();
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

Status CNormalBumpTex::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CTexture::Persist(ar));
  ar.Version(classRecord);
  ar("use1", use1)("use2", use2)("amount1", amount1)("amount2", amount2);
  ar.Ref("map1", map1).Ref("map2", map2);
  return ar.status();
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

Status CRefractionMap::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CTexture::Persist(ar));
  ar.Version(classRecord);
  ar("refraction", refraction);
  return ar.status();
}

int64_t CRefractionMap::GetMemorySize() const {
  return CTexture::GetMemorySize() + kRefractionMemory;
}

// ---------------------------------------------------------------------------------------------

Status CCubeMap::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CTexture::Persist(ar));
  ar.Version(classRecord);
  return ar.status();
}

}  // namespace KX
