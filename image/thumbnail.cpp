#include "image/thumbnail.h"

#include "image/picture_block.h"
#include "object/archive.h"

namespace KX {

KX_DEFINE_CLASS(CThumbnail, CCorva, 2, 0)

// A copy is a fresh scene object (a thumbnail travels between files without its old name).
CThumbnail::CThumbnail(const CThumbnail& other)
    : CCorva(), value1(other.value1), value2(other.value2), flag2(other.flag2),
      value3(other.value3) {}

CThumbnail::~CThumbnail() = default;

Status CThumbnail::Clone(CRefPtr<CBase>& out) const {
  CRefPtr<CBase> copy;
  KX_RETURN_IF_FAILED(CloneByCopy(*this, copy));
  auto* thumbnail = static_cast<CThumbnail*>(copy.get());
  thumbnail->picture.alignRows = picture.alignRows;
  KX_RETURN_IF_FAILED(thumbnail->picture.CopyFrom(picture));
  out = copy;
  return kOk;
}

Status CThumbnail::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  auto* thumbnail = KindOf<CThumbnail>(target);
  if (!thumbnail) return kErrMalformed;
  if (thumbnail == this) return kOk;
  thumbnail->value1 = value1;
  thumbnail->value2 = value2;
  thumbnail->flag2 = flag2;
  thumbnail->value3 = value3;
  KX_RETURN_IF_FAILED(thumbnail->picture.CopyFrom(picture));
  return kOk;
}

Status CThumbnail::Persist(CArchive& ar) {
  // The old layout's thumbnail section holds this level's fields alone, with no base blocks and
  // no version pair (Version then answers the stream version without reading).
  if (!ar.OldLayout()) KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  ar.Version(classRecord);
  KX_RETURN_IF_FAILED(PersistPictureBlock(ar, "picture", picture));
  ar("value1", value1)("value2", value2)("flag2", flag2)("value3", value3);
  return ar.status();
}

int64_t CThumbnail::GetMemorySize() const {
  return CCorva::GetMemorySize() + PictureBytes(picture) + 60;
}

}  // namespace KX
