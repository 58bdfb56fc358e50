#include "app/cli/extract.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unordered_set>
#include <vector>

#include "app/cli/cli_io.h"
#include "app/cli/cli_ui.h"
#include "core/atomic_file.h"
#include "object/container.h"
#include "core/text.h"
#include "object/walker.h"
#include "image/codec.h"
#include "image/image.h"
#include "scene/audio.h"

namespace fs = std::filesystem;

namespace KX::cli {

namespace {

constexpr size_t kMaxStemBytes = 100;

enum class Kind { kEncodedPicture, kPixelPicture, kSound };

struct Item {
  Kind kind;
  CBase* object;
  std::string fileName;
};

const char* ExtensionOf(int32_t codec) {
  switch (codec) {
    case kCodecBMP:
      return ".bmp";
    case kCodecJPEG:
      return ".jpg";
    case kCodecPNG:
      return ".png";
    case kCodecTGA:
      return ".tga";
    case kCodecGIF:
      return ".gif";
    case kCodecTIFF:
      return ".tif";
    default:
      return ".bin";
  }
}

// The codec of an image's stored bytes: their signature, else the format the image says.
int32_t StoredCodec(const CImage& image, const std::vector<uint8_t>& bytes) {
  const int32_t sniffed = CodecSniffFormat(bytes.data(), bytes.size());
  return sniffed != kCodecNone ? sniffed : image.encodeFormat;
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// Every object the file would save, each once, in save order.
std::vector<CBase*> SavedObjects(const CPersistContext& document) {
  std::vector<CBase*> order;
  std::unordered_set<const CBase*> seen;
  for (const auto& root : document.roots) {
    if (!root) continue;
    Walk(root.get(), kCollect, [&](CBase* object) {
      if (!seen.insert(object).second) return WalkStep::kSkip;
      order.push_back(object);
      return WalkStep::kDescend;
    }).Ignore();  // a walk that runs too deep only leaves out what lies below
  }
  return order;
}

// Writes `bytes` to `target` atomically; an existing target is replaced only with `replace`.
// Answers an empty string on success, else what went wrong. Nothing is left behind on failure.
std::string WriteFile(const std::string& target, const std::vector<uint8_t>& bytes, bool replace) {
  CAtomicFile file;
  Status status = file.Create(target, replace);
  if (Succeeded(status)) status = file.Write(bytes.data(), bytes.size());
  if (Succeeded(status)) status = file.Commit();
  return Succeeded(status) ? std::string() : file.reason();
}

}  // namespace

std::string SafeFileStem(std::u16string_view name, std::string_view fallback) {
  std::string text = ToUtf8(name);
  for (char& c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || std::strchr("/\\:*?\"<>|", c)) c = '_';
  }
  const size_t first = text.find_first_not_of(". ");
  text.erase(0, first == std::string::npos ? text.size() : first);
  if (text.size() > kMaxStemBytes) {
    size_t cut = kMaxStemBytes;
    // Not inside a character: continuation bytes are 10xxxxxx.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
  }
  const size_t last = text.find_last_not_of(". ");
  text.resize(last == std::string::npos ? 0 : last + 1);
  return text.empty() ? std::string(fallback) : text;
}

namespace {

// What a file embeds that can be written, under names of their own, and what it holds that
// cannot be (pictures linked to files of their own, images without a picture).
struct Embedded {
  std::vector<Item> items;
  size_t linked = 0, empty = 0;
};

Embedded FindEmbedded(CPersistContext& document) {
  Embedded found;
  std::unordered_set<std::string> taken;
  for (CBase* object : SavedObjects(document)) {
    Kind kind;
    std::string extension;
    const char* fallback = "image";
    if (const auto* image = KindOf<CImage>(object)) {
      if (!image->path.empty()) {
        ++found.linked;
        continue;
      }
      if (image->HasBlob()) {
        std::vector<uint8_t> bytes;
        if (Failed(image->GetBlob(bytes))) bytes.clear();
        kind = Kind::kEncodedPicture;
        extension = ExtensionOf(StoredCodec(*image, bytes));
      } else if (image->picture.HasPixels()) {
        kind = Kind::kPixelPicture;
        extension = ".png";
      } else {
        ++found.empty;
        continue;
      }
    } else if (KindOf<CAudioData>(object)) {
      kind = Kind::kSound;
      extension = ".wav";
      fallback = "sound";
    } else {
      continue;
    }
    std::string stem = SafeFileStem(object->name, fallback);
    // A name that carries the extension already ("oak.png") keeps it once.
    if (stem.size() > extension.size() &&
        Lower(stem.substr(stem.size() - extension.size())) == extension)
      stem.resize(stem.size() - extension.size());
    std::string name = stem + extension;
    // Names differing only in case would meet on file systems that ignore case.
    for (int n = 2; !taken.insert(Lower(name)).second; ++n)
      name = stem + "-" + std::to_string(n) + extension;
    found.items.push_back({kind, object, name});
  }
  return found;
}

// Makes the folder when missing; answers 0 or the exit code.
int PrepareFolder(const std::string& folder) {
  std::error_code ec;
  if (!fs::exists(folder, ec)) {
    if (!fs::create_directories(folder, ec) || ec) {
      SayError(Printable(folder) + ": the folder cannot be made: " + ec.message());
      return kExitSaveFailed;
    }
  } else if (!fs::is_directory(folder, ec)) {
    SayError(Printable(folder) + ": is not a folder");
    return kExitUsage;
  }
  return 0;
}

// Nothing is replaced without --force, and nothing but plain files even with it: the files that
// are in the way are all named before anything is written. True when one is.
bool AnyInTheWay(const std::vector<Item>& items, const std::string& folder, bool force) {
  bool blocked = false;
  for (const Item& item : items) {
    const std::string target = (fs::path(folder) / item.fileName).string();
    struct stat st;
    if (::lstat(target.c_str(), &st) != 0) continue;
    if (!S_ISREG(st.st_mode)) {
      SayError(Printable(target) + ": exists and is no plain file; not replaced");
      blocked = true;
    } else if (!force) {
      SayError(Printable(target) + ": exists; pass --force to replace it");
      blocked = true;
    }
  }
  return blocked;
}

// The bytes of one item's file, and a line that says what it is.
Status EncodeItem(const Item& item, std::vector<uint8_t>& bytes, std::string& what) {
  char text[160] = "";
  Status status = kOk;
  if (item.kind == Kind::kSound) {
    const auto& sound = static_cast<const CAudioData&>(*item.object);
    status = EncodeWave(sound, bytes);
    std::snprintf(text, sizeof text, "sound, %u channel(s), %u Hz, %u-bit, %zu bytes of samples",
                  sound.format.channels, sound.format.samplesPerSecond,
                  sound.format.bitsPerSample, sound.samples.size());
  } else {
    const auto& image = static_cast<const CImage&>(*item.object);
    if (item.kind == Kind::kEncodedPicture) {
      status = image.GetBlob(bytes);
      const char* format = CodecFormatName(StoredCodec(image, bytes));
      std::snprintf(text, sizeof text, "picture %d x %d, %s as stored", image.picture.width,
                    image.picture.height, *format ? format : "unknown format");
    } else {
      status = EncodeBlob(image.picture, kCodecPNG, bytes);
      std::snprintf(text, sizeof text, "picture %d x %d, PNG of its pixels", image.picture.width,
                    image.picture.height);
    }
  }
  what = text;
  return status;
}

}  // namespace

int RunExtract(const std::string& file, const std::string& folder, bool force) {
  CPersistContext document;
  if (Failed(LoadInput(file, document))) {
    SayError(Printable(file) + ": cannot be loaded: " + DescribeLoadFailure(document));
    return kExitLoadFailed;
  }
  PrintWarnings(file, LoadWarnings(document));

  const Embedded found = FindEmbedded(document);
  if (found.items.empty()) {
    std::string line = Printable(file) + ": holds no embedded picture or sound";
    if (found.linked)
      line += " (" + std::to_string(found.linked) + " picture(s) linked to files of their own)";
    SayError(line);
    return kExitFailure;
  }
  if (const int code = PrepareFolder(folder)) return code;
  if (AnyInTheWay(found.items, folder, force)) {
    SayError(Printable(folder) + ": nothing was written");
    return kExitUsage;
  }

  size_t pictures = 0, sounds = 0, failed = 0;
  for (const Item& item : found.items) {
    const std::string target = (fs::path(folder) / item.fileName).string();
    std::vector<uint8_t> bytes;
    std::string what;
    if (const Status status = EncodeItem(item, bytes, what); Failed(status)) {
      SayError(Printable(target) + ": could not be made (" + StatusText(status) + ")");
      ++failed;
      continue;
    }
    if (const std::string failure = WriteFile(target, bytes, force); !failure.empty()) {
      SayError(Printable(target) + ": cannot be written: " + failure);
      ++failed;
      continue;
    }
    NoteOutput(target);
    if (Verbosity() >= 0) std::printf("%s: %s\n", Printable(target).c_str(), what.c_str());
    ++(item.kind == Kind::kSound ? sounds : pictures);
  }
  std::string summary = Printable(file) + ": " + std::to_string(pictures) + " picture(s) and " +
                        std::to_string(sounds) + " sound(s) written to " + Printable(folder);
  if (found.linked)
    summary += "; " + std::to_string(found.linked) + " picture(s) linked to files of their own";
  if (found.empty) summary += "; " + std::to_string(found.empty) + " image(s) without a picture";
  // After a failure, the failure stays the command's message.
  if (failed == 0)
    SayDone(summary);
  else if (Verbosity() >= 0)
    std::printf("%s\n", summary.c_str());
  // What was written must have been told, and a failure to tell it is said once.
  if (!FinishStandardOutput()) return kExitSaveFailed;
  return failed ? kExitSaveFailed : kExitSaved;
}

}  // namespace KX::cli
