#include "image/image.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <new>

#include "core/alloc.h"
#include "object/container.h"
#include "core/io_buffer.h"
#include "object/load_jobs.h"
#include "object/archive.h"
#include "core/text.h"
#include "image/codec.h"
#include "image/picture_block.h"

namespace KX {

KX_DEFINE_CLASS(CImage, CBase, 2, 1)
KX_DEFINE_CLASS(CAnmImage, CBase, 2, 0)

namespace {

// Stored versions below this one carry one unused word before the path, and from 1.01 on two more.
constexpr int32_t kNoExtraWordsFrom = 200;
constexpr int32_t kThreeExtraWordsFrom = 101;
// From this stored version on an embedded encoded picture names its format.
constexpr int32_t kEncodeFormatFrom = 200;
// Embedded pictures up to this size are checked from a copy of their own while the load goes on:
// mapping the kept block would cost more than the check.
constexpr size_t kCheckFromCopyUpTo = size_t{128} << 10;

// A frame record as the file holds it: the image reference is its id.
struct DiskFrame {
  int32_t frameValue1;
  int32_t frameValue2;
  int32_t offsetX;
  int32_t offsetY;
  uint8_t frameBytes[3];
  uint8_t reserved;
  int32_t imageId;
};
static_assert(sizeof(DiskFrame) == 24);

// Listed like the frame it stores: the id is the frame's image.
void DescribeValue(CFieldSink& sink, const char* name, const DiskFrame& frame) {
  CFieldRecord record(sink, name);
  record("frameValue1", frame.frameValue1)("frameValue2", frame.frameValue2)
      ("offsetX", frame.offsetX)("offsetY", frame.offsetY)("frameBytes", frame.frameBytes)
      ("reserved", frame.reserved);
  sink.Reference("image", frame.imageId);
}

// The stored record of a frame whose image has the id `imageId`.
DiskFrame ToDisk(const CAnmFrame& frame, int32_t imageId) {
  return DiskFrame{frame.frameValue1, frame.frameValue2, frame.offsetX, frame.offsetY,
                   {frame.frameBytes[0], frame.frameBytes[1], frame.frameBytes[2]},
                   frame.reserved, imageId};
}

// The frame's values; its image comes with the link.
void FromDisk(const DiskFrame& stored, CAnmFrame& frame) {
  frame.frameValue1 = stored.frameValue1;
  frame.frameValue2 = stored.frameValue2;
  frame.offsetX = stored.offsetX;
  frame.offsetY = stored.offsetY;
  std::memcpy(frame.frameBytes, stored.frameBytes, 3);
  frame.reserved = stored.reserved;
}

bool ExistsOnDisk(const std::string& file) {
  struct stat st;
  return ::stat(file.c_str(), &st) == 0;
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// Windows separators become ours; a name stored by the old tools may hold several levels.
std::u16string NativeSeparators(std::u16string_view path) {
  std::u16string out(path);
  for (auto& c : out)
    if (c == u'\\') c = u'/';
  return out;
}

std::u16string InFolder(const std::string& folder, std::u16string_view name) {
  std::u16string out = FromUtf8(folder);
  if (!out.empty() && !IsSeparator(out.back())) out.push_back(u'/');
  out += NativeSeparators(name);
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Caches: resolved path -> image, never owning. An image removes its own entry when destroyed.

class CImageCacheAccess {
 public:
  template <class T>
  static std::map<std::u16string, T*, std::less<>>& Cache() {
    static std::map<std::u16string, T*, std::less<>> cache;
    return cache;
  }

  template <class T>
  static T* Find(std::u16string_view key) {
    auto& cache = Cache<T>();
    const auto it = cache.find(key);
    return it == cache.end() ? nullptr : it->second;
  }

  template <class T>
  static void Enter(T& image, const std::u16string& key) {
    Leave(image);
    // An empty key would look like "not cached" to Leave and outlive its image.
    if (key.empty()) return;
    try {
      Cache<T>().insert_or_assign(key, &image);
      image.cacheKey_ = key;
    } catch (const std::bad_alloc&) {
      // Without an entry the next load of this file reads it again; nothing else changes.
    }
  }

  template <class T>
  static void Leave(T& image) {
    if (image.cacheKey_.empty()) return;
    auto& cache = Cache<T>();
    if (const auto it = cache.find(image.cacheKey_); it != cache.end() && it->second == &image)
      cache.erase(it);
    image.cacheKey_.clear();
  }
};

CImage* FindCachedImage(std::u16string_view resolvedPath) {
  return CImageCacheAccess::Find<CImage>(resolvedPath);
}

CAnmImage* FindCachedAnmImage(std::u16string_view resolvedPath) {
  return CImageCacheAccess::Find<CAnmImage>(resolvedPath);
}

// ---------------------------------------------------------------------------------------------

Status ResolveStoredImagePath(std::u16string_view stored, const CIoBuffer& scene, bool askStream,
                              std::u16string& resolved) {
  const bool hasColon = stored.find(u':') != std::u16string_view::npos;
  const bool network = stored.size() >= 2 && IsSeparator(stored[0]) && IsSeparator(stored[1]);
  // A path written on this platform starts at the root; the old tools never wrote such paths
  // (theirs start with a drive or two backslashes), so a leading '/' is ours and absolute.
  const bool rooted = !stored.empty() && stored[0] == u'/';
  std::string folder;

  if (!hasColon && !network && !rooted) {
    KX_RETURN_IF_FAILED(scene.GetFolder(folder));
    size_t first = std::u16string_view::npos;
    for (size_t i = 0; i < stored.size() && first == std::u16string_view::npos; ++i)
      if (IsSeparator(stored[i])) first = i;
    resolved = InFolder(folder, first == std::u16string_view::npos ? stored
                                                                   : stored.substr(first + 1));
    return kOk;
  }

  const std::u16string native = NativeSeparators(stored);
  const std::string file = ToUtf8(native);
  if (askStream ? scene.FileExists(file) : ExistsOnDisk(file)) {
    resolved = native;
    return kOk;
  }
  size_t last = std::u16string_view::npos;
  for (size_t i = 0; i < stored.size(); ++i)
    if (IsSeparator(stored[i])) last = i;
  if (last == std::u16string_view::npos) return kErrMalformed;
  KX_RETURN_IF_FAILED(scene.GetFolder(folder));
  resolved = InFolder(folder, stored.substr(last + 1));
  return kOk;
}

// ---------------------------------------------------------------------------------------------
// CImage

CImage::CImage(int16_t storageKind) : picture(storageKind) {}

CImage::CImage(const CImage& other)
    : CBase(other), encodeFormat(other.encodeFormat), storeEncoded(other.storeEncoded) {}

CImage::~CImage() {
  CImageCacheAccess::Leave(*this);
  FreeBlob();
}

Status CImage::KeepBlob(std::span<const uint8_t> bytes) {
  if (bytes.size() > static_cast<size_t>(INT32_MAX)) return kErrBadArgument;
  FreeBlob();
  if (bytes.empty()) return kOk;
  // Encoded pictures can be large and are rarely touched: they live in the mapped storage when
  // it has room, on the heap otherwise.
  blob = CEncodedBytes::Keep(bytes);
  if (!blob) return kErrOutOfMemory;
  blobHandle = blob->handle();
  blobSize = static_cast<int32_t>(bytes.size());
  return kOk;
}

void CImage::FreeBlob() {
  blob.reset();
  blobHandle = 0;
  blobSize = 0;
}

Status CImage::GetBlob(std::vector<uint8_t>& bytes) const {
  bytes.clear();
  if (!blob) return kOk;
  KX_RETURN_IF_FAILED(TryResize(bytes, blob->size()));
  return blob->Read([&](const uint8_t* data, size_t length) {
    std::memcpy(bytes.data(), data, length);
    return kOk;
  });
}

namespace {

// Copies the blob of `from` into `to`.
Status CopyBlob(const CImage& from, CImage& to) {
  if (&from == &to) return kNothingDone;
  std::vector<uint8_t> bytes;
  KX_RETURN_IF_FAILED(from.GetBlob(bytes));
  return to.KeepBlob(bytes);
}

}  // namespace

Status CImage::Clone(CRefPtr<CBase>& out) const {
  CRefPtr<CBase> copy;
  KX_RETURN_IF_FAILED(CloneByCopy(*this, copy));
  auto* image = static_cast<CImage*>(copy.get());
  // Same row layout, so that raw pixels are saved as they are here.
  image->picture.alignRows = picture.alignRows;
  KX_RETURN_IF_FAILED(image->picture.CopyFrom(picture));
  KX_RETURN_IF_FAILED(CopyBlob(*this, *image));
  out = copy;
  return kOk;
}

Status CImage::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CBase::AssignTo(target, released));
  auto* image = KindOf<CImage>(target);
  if (!image) return kErrMalformed;
  if (image == this) return kOk;
  image->path = path;
  KX_RETURN_IF_FAILED(image->picture.CopyFrom(picture));
  image->encodeFormat = encodeFormat;
  image->storeEncoded = storeEncoded;
  KX_RETURN_IF_FAILED(CopyBlob(*this, *image));
  return kOk;
}

Status CImage::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CBase::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  if (ar.Loading() && version < kNoExtraWordsFrom)
    ar.reader().Skip(version >= kThreeExtraWordsFrom ? 12 : 4);
  int16_t storageKind = picture.storage;
  ar("path", path)("storage", storageKind);
  if (ar.Loading()) {
    if (!ar.ok()) return ar.status();
    // Memory handed in by a caller means nothing in a file: such pictures come back on the heap.
    picture.Free();
    picture.storage = storageKind == kStorageMapped ? kStorageMapped : kStorageHeap;
    if (!path.empty()) return LoadExternal(ar.reader());
  }
  // An external picture stores its path alone.
  if (!path.empty()) return ar.status();
  ar("storeEncoded", storeEncoded);
  if (!ar.ok()) return ar.status();
  if (!storeEncoded) return PersistPictureBlock(ar, "picture", picture);
  if (version >= kEncodeFormatFrom) ar("encodeFormat", encodeFormat);
  return PersistBlob(ar);
}

Status CImage::LoadExternal(CReader& in) {
  std::u16string resolved;
  KX_RETURN_IF_FAILED(ResolveStoredImagePath(path, in.stream(), true, resolved));
  path = resolved;
  if (CImage* shared = FindCachedImage(resolved); shared && shared != this) {
    // Every reference to this record's id now reaches the image loaded before; this object is
    // dropped with the record.
    in.ReplaceObject(shared);
    return kNothingDone;
  }
  const Status status = LoadFromFile(resolved);
  if (Succeeded(status)) CImageCacheAccess::Enter(*this, resolved);
  return status;
}

Status CImage::PersistBlob(CArchive& ar) {
  // Pixels nothing prepared (the image joined the save through another object) are encoded
  // here rather than written as no picture; PrepareSave keeps the bytes and spares this.
  const bool encodeHere = ar.Saving() && !HasBlob() && picture.HasPixels();
  std::vector<uint8_t> encoded;
  int32_t size = blobSize;
  if (encodeHere) {
    if (const Status status = EncodeBlob(picture, encodeFormat, encoded); Failed(status))
      return ar.Fail(status);
    if (encoded.size() > static_cast<size_t>(INT32_MAX)) return ar.Fail(kErrBadArgument);
    size = static_cast<int32_t>(encoded.size());
  }
  ar.Count(size);
  if (ar.Loading()) return LoadBlob(ar.reader(), size);
  if (!ar.Saving()) return ar.status();
  CWriter& out = ar.writer();
  if (encodeHere) {
    out.FieldBytes("blob", encoded.data(), encoded.size());
    return out.status();
  }
  if (!out.ok()) return out.status();
  if (!blob) {
    out.FieldBytes("blob", nullptr, 0);
    return out.status();
  }
  const Status status = blob->Read([&](const uint8_t* bytes, size_t length) {
    out.FieldBytes("blob", bytes, length);
    return out.status();
  });
  return ar.Fail(status);
}

Status CImage::LoadBlob(CReader& in, int32_t size) {
  if (!in.ok() || size == 0) return in.status();
  // The bytes pass through the load's scratch on their way to where the blob keeps them.
  std::vector<uint8_t> local;
  std::vector<uint8_t>& bytes = in.contextOrNull() ? in.context().scratch : local;
  in.ReadArray(bytes, size);
  if (!in.ok()) return in.status();
  KX_RETURN_IF_FAILED(KeepBlob(bytes));
  // The kept bytes are shared with the picture, which decodes its pixels from them only when
  // they are used (a save writes the kept bytes back and never needs them), when the codec can
  // vouch for them without decoding; other pictures are decoded now.
  const int32_t format = encodeFormat;
  if (CLoadJobs* jobs = in.contextOrNull() ? in.context().jobs : nullptr) {
    // With jobs, the check or decode runs beside the rest of the load, which waits for it before
    // anything looks at the picture. A small picture is read from a copy of its own, gone with
    // the check; a large one where the blob keeps it, rather than from as much fresh memory.
    std::vector<uint8_t> copy;
    if (bytes.size() <= kCheckFromCopyUpTo)
      TryAllocate([&] { copy.assign(bytes.begin(), bytes.end()); }).Ignore();
    Status queued = kOk;
    if (copy.empty())
      queued = jobs->Queue(
          [this, kept = blob, format] { return DecodeBlobWhenUsed(picture, format, kept); });
    else
      queued = jobs->Queue([this, kept = blob, format, copy = std::move(copy)] {
        return DecodeBlobWhenUsed(picture, format, kept, copy);
      });
    if (Succeeded(queued)) return kOk;
  }
  KX_RETURN_IF_FAILED(DecodeBlobWhenUsed(picture, format, blob, bytes));
  return kOk;
}

Status CImage::PrepareSave(CPersistContext&) {
  if (HasBlob() || !storeEncoded) return kNothingDone;
  // An external picture writes only its path, and an empty one writes an empty blob: neither has
  // anything to encode.
  if (!path.empty() || !picture.HasPixels()) return kNothingDone;
  std::vector<uint8_t> bytes;
  KX_RETURN_IF_FAILED(EncodeBlob(picture, encodeFormat, bytes));
  return KeepBlob(bytes);
}

int64_t CImage::GetMemorySize() const {
  return static_cast<int64_t>(picture.stride) * picture.height +
         2 * static_cast<int64_t>(path.size()) + 140;
}

Status CImage::LoadFromFile(std::u16string_view file) {
  if (file.empty()) return kErrBadArgument;
  FreeBlob();
  modified = 1;
  return DecodeFile(ToUtf8(file), picture, encodeFormat);
}

Status CImage::BlitFrom(int32_t destX, int32_t destY, const CImage* source, int32_t srcX,
                        int32_t srcY, int32_t w, int32_t h, int32_t alpha) {
  if (!source) return kErrBadArgument;
  modified = 1;
  const Status status = Blit(picture, destX, destY, source->picture, srcX, srcY, w, h, alpha);
  // The kept bytes describe the old pixels; a blit that changed nothing leaves them valid.
  if (Succeeded(status)) FreeBlob();
  return status;
}

// ---------------------------------------------------------------------------------------------
// CAnmImage

CAnmImage::CAnmImage(const CAnmImage& other) : CBase(other), frames(other.frames) {}

CAnmImage::~CAnmImage() { CImageCacheAccess::Leave(*this); }

Status CAnmImage::Clone(CRefPtr<CBase>& out) const { return CloneByCopy(*this, out); }

Status CAnmImage::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CBase::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = static_cast<CAnmImage*>(out.get());
  for (size_t i = 0; i < frames.size(); ++i) {
    if (!frames[i].image) continue;
    CRefPtr<CBase> image;
    KX_RETURN_IF_FAILED(frames[i].image->Duplicate(image, map));
    copy->frames[i].image = KindOf<CImage>(image.get());
  }
  return kOk;
}

Status CAnmImage::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CBase::AssignTo(target, released));
  auto* anm = KindOf<CAnmImage>(target);
  if (!anm) return kErrMalformed;
  if (anm == this) return kOk;
  try {
    std::vector<CAnmFrame> copy(frames);
    for (auto& frame : anm->frames)
      if (frame.image) released.emplace_back(frame.image.get());
    anm->path = path;
    anm->frames = std::move(copy);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  return kOk;
}

Status CAnmImage::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CBase::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  if (ar.Loading() && version < kNoExtraWordsFrom)
    ar.reader().Skip(version >= kThreeExtraWordsFrom ? 12 : 4);
  ar("path", path);
  if (ar.Loading()) {
    if (!ar.ok()) return ar.status();
    if (!path.empty()) return LoadExternal(ar.reader());
  }
  // Frames decoded from an external file have their images already and queued no ids. That is
  // also what an image shared from the cache finds when a later scene's record links it.
  if (!path.empty()) return ar.status();
  if (ar.Saving() && frames.size() > static_cast<size_t>(INT32_MAX))
    return ar.Fail(kErrBadArgument);
  auto count = static_cast<int32_t>(frames.size());
  ar.Count(count);
  if (ar.Loading() && (!ar.ok() || count <= 0)) return ar.status();
  // The frame records as stored: each holds its image's id.
  std::vector<DiskFrame> stored;
  if (ar.Saving()) {
    if (const Status status = TryResize(stored, frames.size()); Failed(status))
      return ar.Fail(status);
    for (size_t i = 0; i < frames.size(); ++i)
      stored[i] = ToDisk(frames[i], ar.writer().IdOf(frames[i].image.get()));
  }
  ar.Array("frames", stored, count);
  if (ar.Loading()) {
    CReader& in = ar.reader();
    if (!in.ok()) return in.status();
    KX_RETURN_IF_FAILED(TryResize(frames, stored.size()));
    for (size_t i = 0; i < stored.size(); ++i) {
      FromDisk(stored[i], frames[i]);
      in.QueueId(stored[i].imageId);  // the image is set by the link
    }
    return kOk;
  }
  if (ar.Linking())
    for (auto& frame : frames) ar.linker().Resolve(frame.image);
  return ar.status();
}

Status CAnmImage::LoadExternal(CReader& in) {
  std::u16string resolved;
  KX_RETURN_IF_FAILED(ResolveStoredImagePath(path, in.stream(), false, resolved));
  path = resolved;
  if (CAnmImage* shared = FindCachedAnmImage(resolved); shared && shared != this) {
    in.ReplaceObject(shared);
    return kOk;
  }
  CImageCacheAccess::Enter(*this, resolved);
  const Status status = LoadFromFile(resolved);
  // A picture that did not load must not be handed to the next scene that names it.
  if (Failed(status)) CImageCacheAccess::Leave(*this);
  return status;
}

int64_t CAnmImage::GetMemorySize() const { return 96; }

bool CAnmImage::HasAttachments() const {
  for (const auto& frame : frames)
    if (frame.image) return true;
  return false;
}

void CAnmImage::VisitReferences(CReferenceVisitor& visit) {
  for (auto& frame : frames) visit(frame.image);
}

Status CAnmImage::LoadFromFile(std::u16string_view file) {
  const std::string name = ToUtf8(file);
  const int32_t format = CodecFormatFromPath(name);
  if (format == kCodecNone) return kErrBadArgument;
  std::vector<uint8_t> bytes;
  KX_RETURN_IF_FAILED(ReadWholeFile(name, bytes));
  CCodecImage decoded;
  KX_RETURN_IF_FAILED(CodecDecode(bytes.data(), bytes.size(), format, decoded));
  bytes = {};

  // The frames are built aside, so that a failure leaves the frames this object had.
  std::vector<CAnmFrame> built;
  for (size_t i = 0; i < decoded.FrameCount(); ++i) {
    const CodecFrameInfo& info = decoded.Frame(i);
    CRefPtr<CImage> image(new (std::nothrow) CImage(kStorageHeap));
    if (!image) return kErrOutOfMemory;
    image->modified = 1;
    KX_RETURN_IF_FAILED(
        image->picture.Create(info.width, info.height, info.hasAlpha ? kPixelBGRA : kPixelBGR, 0));
    image->FreeBlob();
    image->encodeFormat = format;
    image->picture.resolutionX = ResolutionFromCodec(info.resolutionUnit, info.resolutionX);
    image->picture.resolutionY = ResolutionFromCodec(info.resolutionUnit, info.resolutionY);
    {
      CPixelLock lock(image->picture);
      if (lock.get() == nullptr) return kErrOutOfMemory;
      KX_RETURN_IF_FAILED(
          decoded.ExportPixels(i, info.hasAlpha, lock.get(), image->picture.stride));
    }
    CAnmFrame values;
    values.frameValue1 = info.frameValue1;
    values.frameValue2 = info.frameValue2;
    values.offsetX = info.offsetX;
    values.offsetY = info.offsetY;
    std::memcpy(values.frameBytes, info.frameBytes, 3);
    values.image = image;
    KX_RETURN_IF_FAILED(TryAppend(built, std::move(values)));
  }
  frames.swap(built);
  modified = 1;
  return kOk;
}

Status CAnmImage::GetFrame(int32_t index, CAnmFrame& frame) const {
  if (index < 0 || static_cast<size_t>(index) >= frames.size()) return kErrBadArgument;
  frame = frames[static_cast<size_t>(index)];
  return kOk;
}

Status CAnmImage::AddFrame(const CAnmFrame& values, CImage* image) {
  if (!image) return kErrBadArgument;
  try {
    CAnmFrame& frame = frames.emplace_back(values);
    frame.reserved = 0;
    frame.image = image;
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  modified = 1;
  return kOk;
}

}  // namespace KX
