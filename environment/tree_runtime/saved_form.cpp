#include "environment/tree_runtime/saved_form.h"

#include <limits>

#include "core/alloc.h"

namespace KX::tree_runtime {

namespace {

uint32_t ReadU32(const uint8_t* p) {
  uint32_t value;
  std::memcpy(&value, p, 4);
  return value;
}

void PutU32(uint8_t* p, uint32_t value) { std::memcpy(p, &value, 4); }

}  // namespace

uint32_t Checksum(std::span<const uint8_t> bytes) {
  uint32_t hash = 2166136261u;
  for (uint8_t b : bytes) {
    hash ^= b;
    hash *= 16777619u;
  }
  return hash;
}

Status OpenBlock(std::span<const uint8_t> block, const char* signature, uint32_t version,
                 bool verifyChecksum, BlockKind& kind, std::span<const uint8_t>& payload) {
  payload = {};
  if (block.size() < kSignatureSize || std::memcmp(block.data(), signature, kSignatureSize) != 0) {
    kind = BlockKind::kForeign;
    return kOk;
  }
  // Ours from here on: whatever does not add up is damage.
  if (block.size() < kFrameSize) return kErrMalformed;
  const uint32_t stored = ReadU32(block.data() + kSignatureSize);
  const uint32_t size = ReadU32(block.data() + kSignatureSize + 4);
  if (stored == 0) return kErrMalformed;
  if (stored > version) {
    // A later release of this runtime wrote it; the frame may have changed with it.
    kind = BlockKind::kNewer;
    return kOk;
  }
  // Version 1 is the only one so far; when a second comes, older payloads are read here too.
  if (stored != version) return kErrMalformed;
  if (size != block.size() - kFrameSize) return kErrMalformed;
  if (verifyChecksum) {
    const size_t checked = kFrameHeadSize + size;
    if (Checksum(block.first(checked)) != ReadU32(block.data() + checked)) return kErrMalformed;
  }
  kind = BlockKind::kOurs;
  payload = block.subspan(kFrameHeadSize, size);
  return kOk;
}

Status SealBlock(const char* signature, uint32_t version, std::span<const uint8_t> payload,
                 std::vector<uint8_t>& out) {
  if (payload.size() > std::numeric_limits<uint32_t>::max() - kFrameSize) return kErrBadArgument;
  KX_RETURN_IF_FAILED(TryResize(out, kFrameSize + payload.size()));
  uint8_t* p = out.data();
  std::memcpy(p, signature, kSignatureSize);
  PutU32(p + kSignatureSize, version);
  PutU32(p + kSignatureSize + 4, static_cast<uint32_t>(payload.size()));
  if (!payload.empty()) std::memcpy(p + kFrameHeadSize, payload.data(), payload.size());
  const size_t checked = kFrameHeadSize + payload.size();
  PutU32(p + checked, Checksum(std::span<const uint8_t>(out).first(checked)));
  return kOk;
}

void CPayloadWriter::Append(const uint8_t* p, size_t n) {
  if (Failed(status_)) return;
  status_ = TryAllocate([&] { bytes_.insert(bytes_.end(), p, p + n); });
}

}  // namespace KX::tree_runtime
