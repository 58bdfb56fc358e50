#pragma once
// Byte streams under all persistence: an abstract stream, a file stream with a large stdio buffer
// and a memory stream, plus the path helpers.
#include <array>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/executor.h"
#include "core/status.h"

namespace KX {

class CIoBuffer {
 public:
  virtual ~CIoBuffer() = default;
  virtual bool IsEnd() const = 0;
  virtual bool FileExists(const std::string& path) const;
  virtual Status GetFolder(std::string& folder) const;
  // Announces what is about to be written; streams that cannot use it ignore it.
  virtual Status Reserve(int64_t totalBytes, int64_t largestRecord);
  // True for a stream that wants that announcement before the first byte. A save to such a
  // stream holds every record until it knows the whole size; a save to any other stream writes
  // each record as it is made, in memory that does not grow with the scene.
  virtual bool WantsTotal() const { return false; }
  // Reads exactly `count` bytes or nothing: a read past the end answers kErrStream and consumes
  // nothing.
  virtual Status Read(void* dest, size_t capacity, size_t count, int32_t cookie) = 0;
  // Where a read left for later finds its bytes: `bytes` of the file open as `fd`, from `offset`.
  struct LaterRead {
    int fd = -1;
    uint64_t offset = 0;
    size_t bytes = 0;
  };
  // Like Read, for a destination its caller leaves alone until the bytes are there. A stream
  // over a file may copy only what it holds in memory and move past the rest, which it leaves
  // to the caller in `later` (the last later.bytes of the destination). Others read it all.
  virtual Status ReadAside(void* dest, size_t count, int32_t cookie, LaterRead& later) {
    later = {};
    return Read(dest, count, count, cookie);
  }
  // True when ReadAside may leave bytes to its caller.
  virtual bool CanReadAside() const { return false; }
  virtual Status Write(const void* source, size_t count, int32_t cookie) = 0;
  virtual Status Skip(int64_t offset) = 0;

  // Bytes consumed (reading) or produced (writing) so far.
  virtual uint64_t Tell() const = 0;
  // Bytes left to read; what a count read from the stream must fit in.
  virtual uint64_t Remaining() const = 0;

  // The inline path of the many small fields: copies `count` bytes (not 0) out of, or into, the
  // bytes the stream holds in memory, without a call, when they are there. False when the
  // caller must take the virtual Read or Write.
  bool TryReadInline(void* dest, size_t count) {
    if (count == 0 || count > static_cast<size_t>(inEnd_ - inCursor_)) return false;
    std::memcpy(dest, inCursor_, count);
    inCursor_ += count;
    if (windowPosition_) *windowPosition_ += count;
    return true;
  }
  bool TryWriteInline(const void* source, size_t count) {
    if (count == 0 || count > static_cast<size_t>(outEnd_ - outCursor_)) return false;
    std::memcpy(outCursor_, source, count);
    outCursor_ += count;
    if (windowPosition_) *windowPosition_ += count;
    return true;
  }

 protected:
  // Bytes the next reads take [inCursor_, inEnd_), room the next writes fill [outCursor_,
  // outEnd_); empty for streams without such bytes. A stream whose position is a counter of its
  // own points windowPosition_ at it; others tell their position from the cursors.
  const uint8_t* inCursor_ = nullptr;
  const uint8_t* inEnd_ = nullptr;
  uint8_t* outCursor_ = nullptr;
  uint8_t* outEnd_ = nullptr;
  uint64_t* windowPosition_ = nullptr;
};

// Starts the write-back of a file's new bytes while the rest is still being written: every
// kStep bytes, a thread of its own asks the system to write what came since to the disk. The
// disk, and the file system's share of the work, run while the file is written, and the final
// flush, which stays, finds little left to do. Only a hint: a file system without it, a file
// that is no plain file, or a system without threads to spare writes as before.
class CWriteBehind {
 public:
  static constexpr uint64_t kStep = uint64_t{8} << 20;

  CWriteBehind() = default;
  CWriteBehind(const CWriteBehind&) = delete;
  CWriteBehind& operator=(const CWriteBehind&) = delete;
  ~CWriteBehind() { Finish(); }

  // Starts over for a file written from its beginning through `fd`, which must stay open until
  // Finish.
  void Start(int fd);
  // The file's bytes now reach `end`. Answers the system's error when the write-back of earlier
  // bytes failed (they are not on the disk: the file is not good), else 0. Called by one thread
  // at a time: the writer's, or the write queue's.
  int Wrote(uint64_t end);
  // Stops the write-back (what is left is the final flush's); answers the first error, else 0.
  int Finish();

 private:
  // The write-back of [started_, end), on the thread of its own.
  void WriteBack(uint64_t end);

  int fd_ = -1;
  uint64_t handed_ = 0;   // where the bytes ended at the last hand-over (the writer's own)
  uint64_t started_ = 0;  // where the write-back asked for ends (its thread's own)
  // One thread, for one file at a time: the write-backs are asked for in order.
  std::optional<CExecutor> thread_;
  std::mutex mutex_;
  // Under mutex_:
  bool enabled_ = true;
  int error_ = 0;
};

// Writes a file's bytes on a thread of its own, a buffer at a time, while the writer fills the
// next. Buffers are written in the order they are queued, from the file's offset when Start was
// called. A full buffer that starts on a whole block of the file goes straight to the disk where
// the file system allows it: the system's cache is neither filled nor copied into, so a large
// file costs the disk's time and not the memory of a second copy. Any other buffer (the last, or
// all of them on a file system without direct writes) goes through the cache as usual, and the
// write-back (CWriteBehind) is told as they go.
class CWriteQueue {
 public:
  static constexpr size_t kBuffers = 4;
  static constexpr size_t kBufferBytes = size_t{1} << 20;
  // What a direct write's memory, length and place in the file must be whole multiples of.
  static constexpr size_t kDirectAlign = 4096;

  CWriteQueue() = default;
  CWriteQueue(const CWriteQueue&) = delete;
  CWriteQueue& operator=(const CWriteQueue&) = delete;
  ~CWriteQueue() { Finish(); }

  // Starts writing to `fd`, whose offset is `offset` bytes into the file and which must stay open
  // until Finish. False when no memory or thread could be had: the caller writes itself.
  bool Start(int fd, uint64_t offset, CWriteBehind& writeBehind);
  bool Active() const { return thread_.has_value(); }
  // An empty buffer of kBufferBytes; waits until one is free.
  uint8_t* Take();
  // Queues the first `bytes` of `buffer`, from Take. Answers the system's error of a write that
  // failed before (nothing queued after it reaches the file), else 0.
  int Queue(uint8_t* buffer, size_t bytes);
  // Waits until every queued buffer is written; answers the first error, else 0.
  int Wait();
  // Where the file's bytes end after the last write; for the caller that moved the file's
  // offset itself while nothing was queued (after Wait).
  uint64_t Offset();
  void MovedTo(uint64_t offset);
  // Waits, then stops the thread; answers the first error, else 0.
  int Finish();

 private:
  struct AlignedDelete {
    void operator()(uint8_t* memory) const {
      ::operator delete[](memory, std::align_val_t{kDirectAlign});
    }
  };
  // Writes the buffer queued first, on the thread (or, when it could not be handed over, on the
  // writer's once the thread is idle).
  void WriteNext();
  // Writes one buffer, moving `offset` along; answers the system's error, else 0.
  int Put(const uint8_t* buffer, size_t bytes, uint64_t& offset);

  int fd_ = -1;
  CWriteBehind* writeBehind_ = nullptr;
  std::unique_ptr<uint8_t[], AlignedDelete> memory_;
  bool direct_ = true;  // direct writes not yet refused by the file system (the writing side's)
  // One thread, for one file at a time: the buffers are written in order.
  std::optional<CExecutor> thread_;
  std::mutex mutex_;
  std::condition_variable freed_;
  // Under mutex_:
  std::vector<uint8_t*> free_;
  // The buffers queued and not yet written, from queued_[first_] on: never more than there are.
  std::array<std::pair<uint8_t*, size_t>, kBuffers> queued_{};
  size_t first_ = 0;
  size_t queuedCount_ = 0;
  int error_ = 0;
  uint64_t offset_ = 0;
};

// Reads go through a buffer of its own straight to the file descriptor: the many small fields of a
// record are copies out of the buffer, and large arrays move from the file to their destination in
// one system call. Writes fill the buffers of a CWriteQueue, which its thread hands to the file;
// where no queue could be started, they go through one buffer, and large arrays straight to the
// file, from the writing thread.
class CFileIo final : public CIoBuffer {
 public:
  // Big enough that whole records and arrays move in few system calls.
  static constexpr size_t kBufferSize = 1 << 20;
  // Writes at least this large bypass the buffer.
  static constexpr size_t kDirectSize = 64 << 10;
  // Reads at least this large take what the buffer holds and the rest straight from the file;
  // after such a read, the buffer reads ahead only this much. Large arrays in a file usually
  // come close together, a few small fields between them: a full buffer would take in most of
  // the next array, only for it to be copied out again.
  static constexpr size_t kShortFillSize = 16 << 10;
  // Reads left to their caller are at least this large: smaller ones cost more to hand over
  // than to do.
  static constexpr size_t kAsideSize = 64 << 10;

  std::FILE* file = nullptr;
  uint64_t size = 0;
  uint64_t position = 0;
  std::string path;  // UTF-8
  // The system's error of the last write that failed (0: none), for messages.
  int writeError = 0;

  CFileIo() { windowPosition_ = &position; }
  CFileIo(const CFileIo&) = delete;
  CFileIo& operator=(const CFileIo&) = delete;
  // A file still open here was not finished by its user; nothing is left to report to.
  ~CFileIo() override { Close().Ignore(); }

  Status OpenRead(const std::string& filePath);
  // Reads the plain file open as `fd` from its start, through a descriptor of its own (the
  // caller's stays open): a file without a name to find its folder by, such as standard input.
  Status OpenRead(int fd);
  Status OpenWrite(const std::string& filePath);
  // Hands written data to the file system; a failure answers kErrStream.
  Status Flush();
  // Closes the file; a failed final flush of a written file answers kErrStream.
  Status Close();

  bool IsEnd() const override { return position == size; }
  Status GetFolder(std::string& folder) const override;
  Status Read(void* dest, size_t capacity, size_t count, int32_t cookie) override;
  // Leaves the bytes past the buffer of a read of kAsideSize or more to the caller.
  Status ReadAside(void* dest, size_t count, int32_t cookie, LaterRead& later) override;
  bool CanReadAside() const override { return file && !writing_; }
  Status Write(const void* source, size_t count, int32_t cookie) override;
  Status Skip(int64_t offset) override;
  uint64_t Tell() const override { return position; }
  uint64_t Remaining() const override { return size - position; }

 private:
  // Reading: the buffer holds the file's bytes up to inEnd_, those before inCursor_ consumed.
  // Writing: the bytes before outCursor_ wait to be written.
  void StartReading(uint64_t fileSize);
  Status Fill();
  uint8_t* Buffer() const { return reinterpret_cast<uint8_t*>(buffer_.get()); }
  void DropWindow() { inCursor_ = inEnd_ = outCursor_ = outEnd_ = nullptr; }
  Status ReadDirect(void* dest, size_t count);
  Status WriteDirect(const void* source, size_t count);
  Status Drain();
  bool writing_ = false;
  // Writing: where the next write lands in the file, and its early write-back.
  uint64_t fileOffset_ = 0;
  CWriteBehind writeBehind_;
  // Writing through the queue (declared after the write-back it tells, so that it stops first):
  // the buffer being filled starts at filling_.
  CWriteQueue queue_;
  uint8_t* filling_ = nullptr;
  // What the next Fill reads: kShortFillSize after a direct read, the whole buffer after a
  // short fill did not reach the next large read.
  size_t fillSize_ = kBufferSize;
  int fd_ = -1;
  std::unique_ptr<char[]> buffer_;
};

// A stream over bytes in memory: reads from a span (not owned) or appends to an owned vector.
class CMemoryIo final : public CIoBuffer {
 public:
  CMemoryIo() = default;  // empty, for writing
  explicit CMemoryIo(std::span<const uint8_t> bytes) : input_(bytes) {
    inCursor_ = input_.data();
    inEnd_ = input_.data() + input_.size();
  }

  const std::vector<uint8_t>& bytes() const { return output_; }
  std::vector<uint8_t> TakeBytes() { return std::move(output_); }

  bool IsEnd() const override { return Position() == input_.size(); }
  Status Reserve(int64_t totalBytes, int64_t largestRecord) override;
  // Grown once to the announced size rather than doubled as it goes.
  bool WantsTotal() const override { return true; }
  Status Read(void* dest, size_t capacity, size_t count, int32_t cookie) override;
  Status Write(const void* source, size_t count, int32_t cookie) override;
  Status Skip(int64_t offset) override;
  uint64_t Tell() const override { return input_.empty() ? output_.size() : Position(); }
  uint64_t Remaining() const override { return input_.size() - Position(); }

 private:
  // Reading: the cursor is the position; copies of the stream read the same bytes.
  size_t Position() const {
    return input_.empty() ? 0 : static_cast<size_t>(inCursor_ - input_.data());
  }
  std::span<const uint8_t> input_;
  std::vector<uint8_t> output_;
};

// Reads a whole file into `buffer`.
Status ReadWholeFile(const std::string& path, std::vector<uint8_t>& buffer);

// Folder part of a path: "a/b/c.txt" -> "a/b", "a/b/" -> "a/b", "a/b" -> "a/b" (names a folder),
// "c.txt" -> "". Both '\\' and '/' separate.
std::u16string GetFolderOf(std::u16string_view path);
std::string GetFolderOf(std::string_view path);
// Text after the last '.', or empty.
std::u16string GetExtensionOf(std::u16string_view path);
std::string GetExtensionOf(std::string_view path);

}  // namespace KX
