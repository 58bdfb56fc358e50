#pragma once
// The encoded bytes of a picture, as an image keeps them so that an unchanged picture is saved
// without re-encoding: in a block of the memory-mapped temporary storage when one can be had,
// else on the heap. A picture whose pixels wait to be decoded shares them with its image instead
// of holding a copy of its own; the block is freed with the last holder.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "core/status.h"

namespace KX {

class CEncodedBytes {
 public:
  // A copy of `bytes` in a new block of the mapped storage, or on the heap when the storage has
  // no room (and on the heap when empty); null when neither could be had.
  static std::shared_ptr<const CEncodedBytes> Keep(std::span<const uint8_t> bytes);

  ~CEncodedBytes();
  CEncodedBytes(const CEncodedBytes&) = delete;
  CEncodedBytes& operator=(const CEncodedBytes&) = delete;

  size_t size() const { return size_; }
  // The block of the mapped storage holding the bytes; 0 when they are on the heap.
  uint32_t handle() const { return handle_; }

  // Calls `use(data, size)` with the bytes, mapped for the call when they live in the storage,
  // and answers what it answers; kErrOutOfMemory when the block cannot be mapped.
  template <class Use>
  Status Read(Use&& use) const {
    const uint8_t* data = Lock();
    if (data == nullptr) return kErrOutOfMemory;
    const Status status = use(data, size_);
    Unlock();
    return status;
  }

 private:
  CEncodedBytes() = default;
  const uint8_t* Lock() const;
  void Unlock() const;

  size_t size_ = 0;
  uint32_t handle_ = 0;
  std::unique_ptr<uint8_t[]> heap_;
};

}  // namespace KX
