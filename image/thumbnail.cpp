#include "image/thumbnail.h"

#include "object/persist.h"
#include "image/picture_block.h"

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

Status CThumbnail::Load(CReader& in) {
  // The old layout's thumbnail section holds this level's fields alone, with no base blocks and
  // no version pair (Version then answers the stream version without reading).
  if (!in.OldLayout()) KX_RETURN_IF_FAILED(CCorva::Load(in));
  in.Version(classRecord);
  KX_RETURN_IF_FAILED(ReadPictureBlock(in, picture));
  in.Read(value1).Read(value2).Read(flag2).Read(value3);
  return in.status();
}

Status CThumbnail::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CCorva::Save(out));
  out.Version(classRecord);
  KX_RETURN_IF_FAILED(WritePictureBlock(out, "picture", picture));
  out.Field("value1", value1).Field("value2", value2).Field("flag2", flag2).Field("value3", value3);
  return out.status();
}

int64_t CThumbnail::GetMemorySize() const {
  return CCorva::GetMemorySize() + PictureBytes(picture) + 60;
}

}  // namespace KX
