#pragma once
// The frame around the saved forms of our tree models and wind settings:
//
//   signature (8 bytes) | format version (uint32) | payload size (uint32) | payload | checksum
//
// all little-endian, the checksum (32-bit FNV-1a) taken over everything before it. Scene files
// also carry blocks written by other tree runtimes; those do not start with our signature, and
// the readers here keep them as they are instead of refusing them.
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>
#include <vector>

#include "core/status.h"

namespace KX::tree_runtime {

inline constexpr size_t kSignatureSize = 8;
inline constexpr char kTreeSignature[kSignatureSize + 1] = "KXTreeRt";
inline constexpr char kWindSignature[kSignatureSize + 1] = "KXWindRt";
// Signature, version, payload size; the checksum follows the payload.
inline constexpr size_t kFrameHeadSize = kSignatureSize + 8;
inline constexpr size_t kFrameSize = kFrameHeadSize + 4;

enum class BlockKind {
  kOurs,     // our signature and a version we read: the payload is ours to parse
  kForeign,  // no signature of ours: another runtime's block
  kNewer,    // our signature, a version newer than this program's: kept, not read
};

// Tells what `block` is. For our own blocks, checks the frame (sizes, and the checksum when
// `verifyChecksum` is set) and answers the payload; a damaged frame answers kErrMalformed.
Status OpenBlock(std::span<const uint8_t> block, const char* signature, uint32_t version,
                 bool verifyChecksum, BlockKind& kind, std::span<const uint8_t>& payload);

// Frames `payload` under our signature and version into `out` (replacing what it held).
Status SealBlock(const char* signature, uint32_t version, std::span<const uint8_t> payload,
                 std::vector<uint8_t>& out);

uint32_t Checksum(std::span<const uint8_t> bytes);

// Reads plain values from a payload; the first read past the end makes ok() false for good.
class CPayloadReader {
 public:
  explicit CPayloadReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  template <class T>
  CPayloadReader& Read(T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (!ok_ || bytes_.size() - offset_ < sizeof(T)) {
      ok_ = false;
      return *this;
    }
    std::memcpy(&value, bytes_.data() + offset_, sizeof(T));
    offset_ += sizeof(T);
    return *this;
  }
  bool ok() const { return ok_; }
  // True when every byte was read and nothing ran short.
  bool Finished() const { return ok_ && offset_ == bytes_.size(); }

 private:
  std::span<const uint8_t> bytes_;
  size_t offset_ = 0;
  bool ok_ = true;
};

// Appends plain values to a payload. Allocation failures are kept and answered by status().
class CPayloadWriter {
 public:
  template <class T>
  CPayloadWriter& Write(const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    const auto* p = reinterpret_cast<const uint8_t*>(&value);
    Append(p, sizeof(T));
    return *this;
  }
  Status status() const { return status_; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  void Append(const uint8_t* p, size_t n);
  std::vector<uint8_t> bytes_;
  Status status_ = kOk;
};

}  // namespace KX::tree_runtime
