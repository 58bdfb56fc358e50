#pragma once
// Persistent pictures: a still image and an animated sequence of images. A picture is linked to an
// external file by its path, or embedded in the scene file as the encoded file bytes or as raw
// pixels. Images loaded from the same external file are shared through a process-wide cache.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "object/base.h"
#include "image/encoded_bytes.h"
#include "image/pixel_buffer.h"

namespace KX {

class CIoBuffer;

class CImage : public CBase {
  KX_DECLARE_CLASS(CImage)

 public:
  std::u16string path;  // external picture file; empty for an embedded picture
  CPixelBuffer picture;
  int32_t encodeFormat = 2;  // codec format code of the encoded form (JPEG until loaded)
  bool storeEncoded = true;  // embed as encoded bytes rather than raw pixels
  // The encoded bytes the picture was read with, kept so that an unchanged picture is saved
  // without re-encoding: in a mapped block when `blobHandle` names one, else on the heap. The
  // picture shares them while its pixels wait to be decoded from them.
  int32_t blobSize = 0;
  uint32_t blobHandle = 0;
  std::shared_ptr<const CEncodedBytes> blob;

  explicit CImage(int16_t storageKind = kStorageHeap);
  // Copies the name, encodeFormat and storeEncoded; the picture and the blob start empty.
  CImage(const CImage& other);
  ~CImage() override;

  Status Clone(CRefPtr<CBase>& out) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  Status PrepareSave(CPersistContext& context) override;
  int64_t GetMemorySize() const override;

  // Decodes a picture file into `picture`; the format comes from the extension.
  Status LoadFromFile(std::u16string_view file);
  // Blends a rectangle of `source`'s picture onto this picture.
  Status BlitFrom(int32_t destX, int32_t destY, const CImage* source, int32_t srcX, int32_t srcY,
                  int32_t w, int32_t h, int32_t alpha);

  bool HasBlob() const { return blobSize > 0; }
  // Replaces the blob with a copy of `bytes`, in mapped storage when a block can be had.
  Status KeepBlob(std::span<const uint8_t> bytes);
  void FreeBlob();
  // A copy of the blob's bytes (empty without a blob).
  Status GetBlob(std::vector<uint8_t>& bytes) const;

 private:
  // A load of a record that names an external file: the picture comes from the file, or the
  // image an earlier load of that file made takes this record's place.
  Status LoadExternal(CReader& in);
  // The encoded bytes of an embedded picture, after their size word; read, then checked or
  // decoded beside the load when it has jobs, else here.
  Status LoadBlob(CReader& in, int32_t size);
  // The size word and the encoded bytes on every pass.
  Status PersistBlob(CArchive& ar);

  std::u16string cacheKey_;  // the path this image is cached under; empty when not cached
  friend class CImageCacheAccess;
};

// One frame of an animated picture: the decoder's values for it and its pixels.
struct CAnmFrame {
  int32_t frameValue1 = 0;
  int32_t frameValue2 = 0;  // the frame's time step
  int32_t offsetX = 0;      // placement of the frame in the whole picture
  int32_t offsetY = 0;
  uint8_t frameBytes[3] = {0, 0, 0};
  uint8_t reserved = 0;
  CRefPtr<CImage> image;
};

class CAnmImage : public CBase {
  KX_DECLARE_CLASS(CAnmImage)

 public:
  std::u16string path;  // external animated picture; empty for embedded frames
  std::vector<CAnmFrame> frames;

  CAnmImage() = default;
  // Copies the name and the frames; the frame images are shared.
  CAnmImage(const CAnmImage& other);
  ~CAnmImage() override;

  Status Clone(CRefPtr<CBase>& out) const override;
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  void VisitReferences(CReferenceVisitor& visit) override;

  // Decodes every frame of an animated picture file into frames of their own.
  Status LoadFromFile(std::u16string_view file);
  // Copies the frame record at `index` (bad argument past the end).
  Status GetFrame(int32_t index, CAnmFrame& frame) const;
  // Appends a frame with the values of `values` and the picture `image`.
  Status AddFrame(const CAnmFrame& values, CImage* image);

 private:
  // A load of a record that names an external file: the frames come from the file, or the
  // image an earlier load of that file made takes this record's place.
  Status LoadExternal(CReader& in);

  std::u16string cacheKey_;
  friend class CImageCacheAccess;
};

// The image an earlier load of the external file `resolvedPath` made, or null. The caches never
// own their images: an image leaves its cache when it is destroyed.
CImage* FindCachedImage(std::u16string_view resolvedPath);
CAnmImage* FindCachedAnmImage(std::u16string_view resolvedPath);

// Where a picture path stored in a scene file points on this machine. Old tools wrote Windows
// paths; "\\" and "/" both separate. A relative path is taken in the folder of `scene` (the
// stream being read); an absolute one is kept when the file exists (asked of `scene` when
// `askStream`, else of the file system) and is otherwise looked for by its name in that folder.
Status ResolveStoredImagePath(std::u16string_view stored, const CIoBuffer& scene, bool askStream,
                              std::u16string& resolved);

}  // namespace KX
