#include "image/picture_block.h"

#include "object/archive.h"

namespace KX {

int64_t PictureBytes(const CPixelBuffer& picture) {
  if (!picture.HasPixels()) return 0;
  return static_cast<int64_t>(picture.stride) * picture.height;
}

Status ReadPictureBlock(CReader& in, CPixelBuffer& picture) {
  int32_t width = 0, height = 0, format = 0, resolutionX = 0, resolutionY = 0, present = 0;
  int16_t alignRows = 0;
  in.Read(width).Read(height).Read(format).Read(alignRows).Read(resolutionX).Read(resolutionY)
      .Read(present);
  if (!in.ok()) return in.status();

  picture.Free();
  picture.alignRows = alignRows;
  picture.resolutionX = resolutionX;
  picture.resolutionY = resolutionY;
  if (present == 0) return kOk;

  // The rows must be in the stream before the buffer is sized for them: a hostile header can
  // claim gigabytes. Sizes that describe no buffer at all are left for Create to refuse.
  const int32_t bpp = BytesPerPixelOf(format);
  if (width > 0 && height > 0 && bpp > 0) {
    int64_t stride = static_cast<int64_t>(width) * bpp;
    if (alignRows != 0) stride = (stride + 3) & ~int64_t{3};
    if (!in.CanHold(height, static_cast<size_t>(stride))) return in.status();
  }
  KX_RETURN_IF_FAILED(picture.Create(width, height, format, 0));
  // Rows are read as they were held, padding included.
  CPixelLock lock(picture);
  if (lock.get() == nullptr) return kErrOutOfMemory;
  in.ReadBytes(lock.get(), static_cast<size_t>(PictureBytes(picture)));
  return in.status();
}

Status WritePictureBlock(CWriter& out, const char* name, const CPixelBuffer& picture) {
  const bool present = picture.HasPixels();
  auto record = out.Record(name);
  out.Field("width", picture.width).Field("height", picture.height).Field("format", picture.format);
  out.Field("alignRows", picture.alignRows).Field("resolutionX", picture.resolutionX);
  out.Field("resolutionY", picture.resolutionY).Count(int32_t{present ? 1 : 0});
  if (!present) {
    out.Absent("pixels");
    return out.status();
  }
  if (!out.ok()) return out.status();
  CPixelLock lock(picture);
  if (lock.get() == nullptr) {
    out.Fail(kErrOutOfMemory);
    return out.status();
  }
  out.FieldBytes("pixels", lock.get(), static_cast<size_t>(PictureBytes(picture)));
  return out.status();
}

Status PersistPictureBlock(CArchive& ar, const char* name, CPixelBuffer& picture) {
  if (ar.Loading()) return ReadPictureBlock(ar.reader(), picture);
  if (ar.Saving()) return WritePictureBlock(ar.writer(), name, picture);
  return ar.status();
}

}  // namespace KX
