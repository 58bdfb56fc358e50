#include "image/codec.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <mutex>
#include <new>

#include <dlfcn.h>
#include <magick/api.h>

#include "core/alloc.h"
#include "image/jpeg_check.h"

namespace KX {

namespace {

// Decoding limits. Hostile headers can claim any size; the library refuses images beyond these
// before allocating for them. 2^27 pixels (for example 16384 x 8192) is far above any texture.
constexpr int64_t kMaxSide = 65535;
constexpr int64_t kMaxPixels = int64_t{1} << 27;

// The library reports through ExceptionInfo records, which we turn into statuses; its handlers
// would print to the terminal (and the fatal one end the process), so they are replaced.
void SilentError(const ExceptionType, const char*, const char*) {}
void SilentWarning(const ExceptionType, const char*, const char*) {}
// The library declares its handler type with the GNU attribute, which clang treats as part of
// the function type; the standard attribute would not match it.
__attribute__((noreturn)) void SilentFatal(const ExceptionType, const char*, const char*) {
  // Raised only when the library's own machinery is broken (never for file content); it cannot
  // be continued from, so the process ends quietly with a failure code.
  std::_Exit(EXIT_FAILURE);
}

// The library is opened on first use rather than linked: loading it with the forty libraries it
// pulls in costs every process start some 10 ms, and most conversions never decode a picture (a
// kept JPEG is only checked, through the JPEG library).
#define KX_MAGICK_FUNCTIONS(X) \
  X(BlobToImage)               \
  X(CloneImageInfo)            \
  X(ConstituteImage)           \
  X(DestroyExceptionInfo)      \
  X(DestroyImageInfo)          \
  X(DestroyImageList)          \
  X(DispatchImage)             \
  X(GetExceptionInfo)          \
  X(GetMagickResource)         \
  X(GetMagickResourceLimit)    \
  X(ImageToBlob)               \
  X(InitializeMagickEx)        \
  X(MagickFree)                \
  X(SetErrorHandler)           \
  X(SetFatalErrorHandler)      \
  X(SetMagickResourceLimit)    \
  X(SetWarningHandler)

struct MagickFunctions {
#define KX_MAGICK_MEMBER(name) decltype(&::name) name = nullptr;
  KX_MAGICK_FUNCTIONS(KX_MAGICK_MEMBER)
#undef KX_MAGICK_MEMBER
};

MagickFunctions& Gm() {
  static MagickFunctions functions;
  return functions;
}

// Opens the library and finds every function; false when any is missing (the library is not
// installed as built against), which leaves the table empty.
bool OpenLibrary() {
  void* library = ::dlopen(KX_MAGICK_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return false;
  MagickFunctions found;
  bool complete = true;
#define KX_MAGICK_FIND(name)                                                 \
  found.name = reinterpret_cast<decltype(&::name)>(::dlsym(library, #name)); \
  complete = complete && found.name != nullptr;
  KX_MAGICK_FUNCTIONS(KX_MAGICK_FIND)
#undef KX_MAGICK_FIND
  if (!complete) return false;  // the handle stays open; nothing of it is used
  Gm() = found;
  return true;
}

// Opens and initialises the library once; false when it cannot be opened.
bool InitialiseCodec() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] {
    if (!OpenLibrary()) return;
    ready = true;
    ExceptionInfo exception;
    Gm().GetExceptionInfo(&exception);
    // No signal handlers: the program's own handling of signals stays as it is.
    Gm().InitializeMagickEx(nullptr, MAGICK_OPT_NO_SIGNAL_HANDER, &exception);
    Gm().DestroyExceptionInfo(&exception);
    // The handlers' own lock exists only once the library is initialised.
    Gm().SetErrorHandler(SilentError);
    Gm().SetWarningHandler(SilentWarning);
    Gm().SetFatalErrorHandler(SilentFatal);
    Gm().SetMagickResourceLimit(WidthResource, kMaxSide);
    Gm().SetMagickResourceLimit(HeightResource, kMaxSide);
    Gm().SetMagickResourceLimit(PixelsResource, kMaxPixels);
  });
  return ready;
}

// Scoped exception record.
struct Exception {
  Exception() { Gm().GetExceptionInfo(&info); }
  ~Exception() { Gm().DestroyExceptionInfo(&info); }
  Exception(const Exception&) = delete;
  Exception& operator=(const Exception&) = delete;
  bool IsError() const { return info.severity >= ErrorException; }
  ExceptionInfo info;
};

struct ImageInfoDeleter {
  void operator()(ImageInfo* info) const {
    if (info != nullptr) Gm().DestroyImageInfo(info);
  }
};
using ImageInfoPtr = std::unique_ptr<ImageInfo, ImageInfoDeleter>;

struct ImageListDeleter {
  void operator()(Image* image) const {
    if (image != nullptr) Gm().DestroyImageList(image);
  }
};
using ImageListPtr = std::unique_ptr<Image, ImageListDeleter>;

void SetMagick(char* field, const char* name) {
  std::memset(field, 0, MaxTextExtent);
  std::strncpy(field, name, MaxTextExtent - 1);
}

int32_t ClampToInt32(long long value) {
  return static_cast<int32_t>(std::clamp<long long>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

double FiniteOrZero(double value) { return std::isfinite(value) ? value : 0.0; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

const char* CodecFormatName(int32_t code) {
  switch (code) {
    case kCodecBMP: return "BMP";
    case kCodecJPEG: return "JPEG";
    case kCodecPNG: return "PNG";
    case kCodecTGA: return "TGA";
    case kCodecGIF: return "GIF";
    case kCodecTIFF: return "TIFF";
    default: return "";
  }
}

int32_t CodecFormatFromExtension(std::string_view extension) {
  if (extension.empty() || extension.size() >= 8) return kCodecNone;
  std::string lower;
  for (char c : extension) lower.push_back(LowerAscii(c));
  if (lower == "bmp" || lower == "dib") return kCodecBMP;
  if (lower == "jpg" || lower == "jpeg") return kCodecJPEG;
  if (lower == "png") return kCodecPNG;
  if (lower == "tga") return kCodecTGA;
  if (lower == "gif") return kCodecGIF;
  if (lower == "tif" || lower == "tiff") return kCodecTIFF;
  return kCodecNone;
}

int32_t CodecFormatFromPath(std::string_view path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string_view::npos) return kCodecNone;
  return CodecFormatFromExtension(path.substr(dot + 1));
}

int32_t CodecSniffFormat(const uint8_t* bytes, size_t length) {
  if (bytes == nullptr) return kCodecNone;
  auto starts = [&](const char* sig, size_t n) {
    return length >= n && std::memcmp(bytes, sig, n) == 0;
  };
  if (starts("\x89PNG\r\n\x1a\n", 8)) return kCodecPNG;
  if (starts("\xFF\xD8\xFF", 3)) return kCodecJPEG;
  if (starts("GIF87a", 6) || starts("GIF89a", 6)) return kCodecGIF;
  if (starts("II*\0", 4) || starts("MM\0*", 4) || starts("II+\0", 4) || starts("MM\0+", 4))
    return kCodecTIFF;
  if (starts("BM", 2)) return kCodecBMP;
  return kCodecNone;
}

// ---------------------------------------------------------------------------------------------
// Decoding

CCodecImage::~CCodecImage() { Reset(); }

void CCodecImage::Reset() {
  if (list_ != nullptr) Gm().DestroyImageList(static_cast<Image*>(list_));
  list_ = nullptr;
  frames_.clear();
  info_.clear();
}

Status CCodecImage::ExportPixels(size_t index, bool withAlpha, uint8_t* dest,
                                 int64_t stride) const {
  if (index >= frames_.size() || dest == nullptr) return kErrBadArgument;
  const auto* image = static_cast<const Image*>(frames_[index]);
  const CodecFrameInfo& info = info_[index];
  const int64_t rowBytes = static_cast<int64_t>(info.width) * (withAlpha ? 4 : 3);
  if (stride < rowBytes) return kErrBadArgument;
  const char* map = withAlpha ? "BGRA" : "BGR";
  Exception exception;
  if (stride == rowBytes) {
    if (Gm().DispatchImage(image, 0, 0, image->columns, image->rows, map, CharPixel, dest,
                           &exception.info) != MagickPass)
      return kErrOpen;
    return kOk;
  }
  for (int64_t y = 0; y < info.height; ++y) {
    if (Gm().DispatchImage(image, 0, static_cast<long>(y), image->columns, 1, map, CharPixel,
                           dest + y * stride, &exception.info) != MagickPass)
      return kErrOpen;
  }
  return kOk;
}

Status CodecDecode(const uint8_t* bytes, size_t length, int32_t formatCode, CCodecImage& out) {
  out.Reset();
  if (bytes == nullptr || length == 0) return kErrOpen;
  int32_t format = CodecSniffFormat(bytes, length);
  if (format == kCodecNone) format = formatCode;
  const char* name = CodecFormatName(format);
  if (name[0] == '\0') return kErrOpen;  // nothing we can decode

  if (!InitialiseCodec()) return kErrOpen;
  ImageInfoPtr info(Gm().CloneImageInfo(nullptr));
  if (!info) return kErrOutOfMemory;
  // Naming the format pins the decoder: the library does not guess from the content.
  SetMagick(info->magick, name);
  Exception exception;
  ImageListPtr list(Gm().BlobToImage(info.get(), bytes, length, &exception.info));
  info.reset();
  // A damaged picture may come back partly decoded with an error; it is refused all the same.
  // Cut-off JPEG data comes back as a mere warning with the missing rows painted grey; that is a
  // truncated file, not a picture. Other decoder warnings (stray bytes between markers, unknown
  // chunks) are common in files that display fine and are accepted.
  const bool truncated = exception.info.severity == CorruptImageWarning &&
                         exception.info.reason != nullptr &&
                         std::strstr(exception.info.reason, "Premature end") != nullptr;
  if (!list || exception.IsError() || truncated) {
    if (exception.info.severity == ResourceLimitError && list == nullptr &&
        exception.info.reason != nullptr && std::strstr(exception.info.reason, "Memory") != nullptr)
      return kErrOutOfMemory;
    return kErrOpen;
  }

  try {
    for (const Image* frame = list.get(); frame != nullptr; frame = frame->next) {
      if (frame->columns == 0 || frame->rows == 0 ||
          static_cast<int64_t>(frame->columns) > kMaxSide ||
          static_cast<int64_t>(frame->rows) > kMaxSide)
        return kErrOpen;
      CodecFrameInfo fi;
      fi.width = static_cast<int32_t>(frame->columns);
      fi.height = static_cast<int32_t>(frame->rows);
      fi.hasAlpha = frame->matte != MagickFalse;
      fi.resolutionUnit = frame->units == PixelsPerCentimeterResolution ? 2
                          : frame->units == PixelsPerInchResolution  ? 1
                                                                     : 0;
      fi.resolutionX = FiniteOrZero(frame->x_resolution);
      fi.resolutionY = FiniteOrZero(frame->y_resolution);
      fi.frameValue1 = ClampToInt32(static_cast<long long>(frame->iterations));
      fi.frameValue2 = ClampToInt32(static_cast<long long>(frame->delay));
      fi.offsetX = ClampToInt32(frame->page.x);
      fi.offsetY = ClampToInt32(frame->page.y);
      fi.frameBytes[0] = static_cast<uint8_t>(std::min<int>(static_cast<int>(frame->dispose), 255));
      fi.frameBytes[1] = fi.hasAlpha ? 1 : 0;
      fi.frameBytes[2] = frame->storage_class == PseudoClass ? 1 : 0;
      out.info_.push_back(fi);
      out.frames_.push_back(frame);
    }
  } catch (const std::bad_alloc&) {
    out.info_.clear();
    out.frames_.clear();
    return kErrOutOfMemory;
  }
  if (out.frames_.empty()) return kErrOpen;
  out.list_ = list.release();
  return kOk;
}

namespace {

// The cap the library's JPEG reader puts on the JPEG library's own memory.
long JpegMemoryCap() {
  if (!InitialiseCodec()) return -1;  // no reader to compare with: the decode will tell
  return static_cast<long>(Gm().GetMagickResourceLimit(MemoryResource) -
                           Gm().GetMagickResource(MemoryResource)) /
         5U;
}

}  // namespace

Status CodecCheck(const uint8_t* bytes, size_t length, int32_t formatCode, CodecFrameInfo& info) {
  info = CodecFrameInfo{};
  if (bytes == nullptr || length == 0) return kNothingDone;
  int32_t format = CodecSniffFormat(bytes, length);
  if (format == kCodecNone) format = formatCode;
  if (format != kCodecJPEG) return kNothingDone;
  JpegCheckLimits limits;
  limits.maxSide = kMaxSide;
  limits.maxPixels = kMaxPixels;
  limits.memoryCap = JpegMemoryCap;
  JpegCheckResult result;
  if (!JpegCheckClean(bytes, length, limits, result)) return kNothingDone;
  info.width = result.width;
  info.height = result.height;
  info.resolutionUnit = result.resolutionUnit;
  info.resolutionX = FiniteOrZero(result.resolutionX);
  info.resolutionY = FiniteOrZero(result.resolutionY);
  return kOk;
}

// ---------------------------------------------------------------------------------------------
// Encoding

Status CodecEncode(const CodecEncodeFrame* frames, size_t count, int32_t formatCode,
                   std::vector<uint8_t>& out, int32_t quality) {
  out.clear();
  const char* name = CodecFormatName(formatCode);
  if (frames == nullptr || count == 0 || name[0] == '\0' || quality < 1 || quality > 100)
    return kErrBadArgument;
  for (size_t i = 0; i < count; ++i) {
    const CodecEncodeFrame& f = frames[i];
    const int64_t rowBytes = static_cast<int64_t>(f.width) * (f.withAlpha ? 4 : 3);
    if (f.pixels == nullptr || f.width <= 0 || f.height <= 0 || f.stride < rowBytes)
      return kErrBadArgument;
  }
  if (!InitialiseCodec()) return kErrStream;

  // The logical screen of an animation covers every frame at its offset.
  long screenW = 0, screenH = 0;
  for (size_t i = 0; i < count; ++i) {
    screenW = std::max<long>(screenW, std::max(0, frames[i].offsetX) + frames[i].width);
    screenH = std::max<long>(screenH, std::max(0, frames[i].offsetY) + frames[i].height);
  }

  ImageListPtr list;
  Image* last = nullptr;
  try {
    for (size_t i = 0; i < count; ++i) {
      const CodecEncodeFrame& f = frames[i];
      const size_t rowBytes = static_cast<size_t>(f.width) * (f.withAlpha ? 4 : 3);
      // The library takes packed rows; padded rows are packed into a copy first.
      std::vector<uint8_t> packed;
      const uint8_t* source = f.pixels;
      if (static_cast<size_t>(f.stride) != rowBytes) {
        packed.resize(rowBytes * static_cast<size_t>(f.height));
        for (int32_t y = 0; y < f.height; ++y)
          std::memcpy(packed.data() + rowBytes * static_cast<size_t>(y),
                      f.pixels + static_cast<int64_t>(y) * f.stride, rowBytes);
        source = packed.data();
      }
      Exception exception;
      Image* image = Gm().ConstituteImage(
          static_cast<unsigned long>(f.width), static_cast<unsigned long>(f.height),
          f.withAlpha ? "BGRA" : "BGR", CharPixel, source, &exception.info);
      if (image == nullptr) return kErrStream;
      if (last == nullptr) list.reset(image);
      else {
        last->next = image;
        image->previous = last;
      }
      last = image;
      SetMagick(image->magick, name);
      if (f.resolutionX > 0 && f.resolutionY > 0) {
        image->units = PixelsPerInchResolution;
        image->x_resolution = f.resolutionX;
        image->y_resolution = f.resolutionY;
      }
      image->iterations = static_cast<unsigned long>(std::max(0, f.frameValue1));
      image->delay = static_cast<unsigned long>(std::max(0, f.frameValue2));
      image->dispose = static_cast<DisposeType>(std::min<int>(f.frameBytes[0], PreviousDispose));
      if (count > 1) {
        image->page.x = f.offsetX;
        image->page.y = f.offsetY;
        image->page.width = static_cast<unsigned long>(screenW);
        image->page.height = static_cast<unsigned long>(screenH);
      }
    }
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }

  ImageInfoPtr info(Gm().CloneImageInfo(nullptr));
  if (!info) return kErrOutOfMemory;
  SetMagick(info->magick, name);
  info->quality = static_cast<unsigned long>(quality);
  info->adjoin = MagickTrue;
  size_t length = 0;
  Exception exception;
  void* blob = Gm().ImageToBlob(info.get(), list.get(), &length, &exception.info);
  if (blob == nullptr || length == 0 || exception.IsError()) {
    if (blob != nullptr) Gm().MagickFree(blob);
    return kErrOutOfMemory;
  }
  const auto* bytes = static_cast<const uint8_t*>(blob);
  const Status status = TryAllocate([&] { out.assign(bytes, bytes + length); });
  Gm().MagickFree(blob);
  return status;
}

}  // namespace KX
