#include "image/encoded_bytes.h"

#include <cstring>
#include <new>

#include "core/alloc.h"
#include "core/storage/mmf.h"

namespace KX {

std::shared_ptr<const CEncodedBytes> CEncodedBytes::Keep(std::span<const uint8_t> bytes) {
  std::shared_ptr<CEncodedBytes> kept;
  if (Failed(TryAllocate([&] { kept.reset(new CEncodedBytes); }))) return nullptr;
  kept->size_ = bytes.size();
  if (uint32_t handle = 0; !bytes.empty() && AllocateBlockWith(handle, bytes)) {
    kept->handle_ = handle;
    return kept;
  }
  kept->heap_.reset(new (std::nothrow) uint8_t[bytes.size()]);
  if (!kept->heap_) return nullptr;
  if (!bytes.empty()) std::memcpy(kept->heap_.get(), bytes.data(), bytes.size());
  return kept;
}

CEncodedBytes::~CEncodedBytes() {
  if (IsMappedHandle(handle_)) FreeBlock(handle_);
}

const uint8_t* CEncodedBytes::Lock() const {
  if (!IsMappedHandle(handle_)) return heap_.get();
  return static_cast<const uint8_t*>(LockBlock(handle_));
}

void CEncodedBytes::Unlock() const {
  if (IsMappedHandle(handle_)) UnlockBlock(handle_);
}

}  // namespace KX
