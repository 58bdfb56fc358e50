#pragma once
// A memory stream that, like a file, does not want the size of the whole file before the first
// byte: a save writes each record to it as it is made. CMemoryIo wants the size first, so a save
// to each shows that both ways of saving give the same bytes.
#include <vector>

#include "object/container.h"

namespace KX::test {

class CAsMadeIo final : public CIoBuffer {
 public:
  CMemoryIo inner;
  int reserves = 0;  // announcements the save made all the same

  bool IsEnd() const override { return inner.IsEnd(); }
  Status Reserve(int64_t, int64_t) override {
    ++reserves;
    return kOk;
  }
  Status Read(void* dest, size_t capacity, size_t count, int32_t cookie) override {
    return inner.Read(dest, capacity, count, cookie);
  }
  Status Write(const void* source, size_t count, int32_t cookie) override {
    return inner.Write(source, count, cookie);
  }
  Status Skip(int64_t offset) override { return inner.Skip(offset); }
  uint64_t Tell() const override { return inner.Tell(); }
  uint64_t Remaining() const override { return inner.Remaining(); }
};

// Saves `context` as a file is saved, each record written as it is made.
inline std::vector<uint8_t> SaveToBytesAsMade(CPersistContext& context, Status* status = nullptr) {
  CAsMadeIo out;
  const Status s = SaveToStream(context, out, 0);
  if (status) *status = s;
  return out.inner.TakeBytes();
}

}  // namespace KX::test
