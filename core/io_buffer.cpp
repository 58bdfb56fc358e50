#include "core/io_buffer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

namespace KX {

bool CIoBuffer::FileExists(const std::string& path) const {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

Status CIoBuffer::GetFolder(std::string& folder) const {
  folder.clear();
  return kOk;
}

Status CIoBuffer::Reserve(int64_t, int64_t) {
  return kOk;
}

namespace {

// Writes all `count` bytes to `fd`, moving `offset` along with what was written. Answers the
// system's error of a write that failed, ENOSPC for one that took nothing (the disk is full),
// else 0.
int WriteAll(int fd, const void* source, size_t count, uint64_t& offset) {
  const auto* in = static_cast<const char*>(source);
  while (count > 0) {
    const ssize_t put = ::write(fd, in, count);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return put < 0 ? errno : ENOSPC;
    in += put;
    count -= static_cast<size_t>(put);
    offset += static_cast<uint64_t>(put);
  }
  return 0;
}

// Turns direct writes on or off for `fd`; false when the file system refuses them.
bool SetDirect(int fd, bool on) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  const int wanted = on ? flags | O_DIRECT : flags & ~O_DIRECT;
  return wanted == flags || ::fcntl(fd, F_SETFL, wanted) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

void CWriteBehind::Start(int fd) {
  Finish();
  fd_ = fd;
  handed_ = 0;
  started_ = 0;
  std::lock_guard lock(mutex_);
  enabled_ = fd >= 0;
  error_ = 0;
}

int CWriteBehind::Wrote(uint64_t end) {
  if (end < handed_ + kStep) return 0;
  handed_ = end;
  {
    std::lock_guard lock(mutex_);
    if (!enabled_) return error_;
  }
  if (!thread_) {
    thread_.emplace(1);
    if (thread_->Start() == 0) {
      thread_.reset();
      std::lock_guard lock(mutex_);
      enabled_ = false;  // no thread to spare: the final flush does all
      return 0;
    }
  }
  // Only a hint: one that cannot be handed over is left to the next, or to the final flush.
  thread_->Post([this, end] { WriteBack(end); }).Ignore();
  std::lock_guard lock(mutex_);
  return error_;
}

int CWriteBehind::Finish() {
  // What was not started when the writer is done is the final flush's.
  thread_.reset();
  std::lock_guard lock(mutex_);
  enabled_ = false;
  return error_;
}

void CWriteBehind::WriteBack(uint64_t end) {
  {
    std::lock_guard lock(mutex_);
    if (!enabled_) return;
  }
  int error = 0;
  if (::sync_file_range(fd_, static_cast<off64_t>(started_), static_cast<off64_t>(end - started_),
                        SYNC_FILE_RANGE_WRITE) != 0)
    error = errno;
  started_ = end;
  if (error == 0) return;
  std::lock_guard lock(mutex_);
  // A file system or a file that cannot do it is no failure: the final flush does all.
  if (error != EINVAL && error != ESPIPE && error != ENOSYS) error_ = error;
  enabled_ = false;
}

// ---------------------------------------------------------------------------------------------

bool CWriteQueue::Start(int fd, uint64_t offset, CWriteBehind& writeBehind) {
  Finish();
  if (!memory_)
    memory_.reset(static_cast<uint8_t*>(::operator new[](
        kBuffers * kBufferBytes, std::align_val_t{kDirectAlign}, std::nothrow)));
  if (!memory_) return false;
  fd_ = fd;
  direct_ = true;
  writeBehind_ = &writeBehind;
  {
    std::lock_guard lock(mutex_);
    try {
      free_.clear();
      for (size_t i = 0; i < kBuffers; ++i) free_.push_back(memory_.get() + i * kBufferBytes);
    } catch (const std::bad_alloc&) {
      return false;
    }
    first_ = queuedCount_ = 0;
    error_ = 0;
    offset_ = offset;
  }
  thread_.emplace(1);
  if (thread_->Start() == 1) return true;
  thread_.reset();  // no thread to spare
  return false;
}

uint8_t* CWriteQueue::Take() {
  std::unique_lock lock(mutex_);
  freed_.wait(lock, [&] { return !free_.empty(); });
  uint8_t* buffer = free_.back();
  free_.pop_back();
  return buffer;
}

int CWriteQueue::Queue(uint8_t* buffer, size_t bytes) {
  {
    std::lock_guard lock(mutex_);
    queued_[(first_ + queuedCount_++) % kBuffers] = {buffer, bytes};
  }
  if (Failed(thread_->Post([this] { WriteNext(); }))) {
    // Not handed over: written here, once the thread has written everything queued before it.
    thread_->Wait();
    WriteNext();
  }
  std::lock_guard lock(mutex_);
  return error_;
}

int CWriteQueue::Wait() {
  if (thread_) thread_->Wait();
  std::lock_guard lock(mutex_);
  return error_;
}

uint64_t CWriteQueue::Offset() {
  std::lock_guard lock(mutex_);
  return offset_;
}

void CWriteQueue::MovedTo(uint64_t offset) {
  std::lock_guard lock(mutex_);
  offset_ = offset;
}

int CWriteQueue::Finish() {
  if (!thread_) return 0;
  const int error = Wait();
  thread_.reset();
  return error;
}

void CWriteQueue::WriteNext() {
  std::unique_lock lock(mutex_);
  const auto [buffer, bytes] = queued_[first_];
  first_ = (first_ + 1) % kBuffers;
  --queuedCount_;
  const bool failed = error_ != 0;  // after a failure nothing more reaches the file
  uint64_t offset = offset_;
  lock.unlock();
  int error = failed ? 0 : Put(buffer, bytes, offset);
  if (!failed && error == 0) error = writeBehind_->Wrote(offset);
  lock.lock();
  offset_ = offset;
  if (error != 0 && error_ == 0) error_ = error;
  free_.push_back(buffer);  // room for every buffer was made by Start
  freed_.notify_all();
}

int CWriteQueue::Put(const uint8_t* buffer, size_t bytes, uint64_t& offset) {
  const bool whole = bytes % kDirectAlign == 0 && offset % kDirectAlign == 0;
  // The file takes direct writes only for the length of this one: whoever writes to it between
  // buffers (the last bytes, after the queue is done) writes through the cache.
  if (!direct_ || !whole || !SetDirect(fd_, true)) return WriteAll(fd_, buffer, bytes, offset);
  const uint64_t start = offset;
  int error = WriteAll(fd_, buffer, bytes, offset);
  const bool turnedOff = SetDirect(fd_, false);
  if (error == EINVAL || !turnedOff) {
    // The file system takes the flag but not the write: the rest of the file goes through the
    // cache.
    direct_ = false;
    if (!turnedOff) return errno;
    if (error == EINVAL) {
      const auto done = static_cast<size_t>(offset - start);
      error = WriteAll(fd_, buffer + done, bytes - done, offset);
    }
  }
  return error;
}

// ---------------------------------------------------------------------------------------------

Status CFileIo::OpenRead(const std::string& filePath) {
  if (filePath.empty()) return kErrBadArgument;
  Close().Ignore();  // a file still open from before is given up
  path = filePath;
  struct stat st;
  if (::stat(filePath.c_str(), &st) != 0) return kErrFileSize;
  position = 0;
  file = std::fopen(filePath.c_str(), "rb");
  if (!file) return kErrOpen;
  StartReading(static_cast<uint64_t>(st.st_size));
  return kOk;
}

Status CFileIo::OpenRead(int fd) {
  Close().Ignore();  // a file still open from before is given up
  path.clear();
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) return kErrFileSize;
  if (!S_ISREG(st.st_mode)) return kErrBadArgument;
  const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (own < 0) return kErrOpen;
  // The copy shares the caller's place in the file; reading starts at the beginning.
  if (::lseek(own, 0, SEEK_SET) != 0 || !(file = ::fdopen(own, "rb"))) {
    ::close(own);
    return kErrOpen;
  }
  position = 0;
  StartReading(static_cast<uint64_t>(st.st_size));
  return kOk;
}

void CFileIo::StartReading(uint64_t fileSize) {
  fd_ = ::fileno(file);
  size = fileSize;
  writing_ = false;
  fillSize_ = kBufferSize;
  // Without a buffer every transfer goes straight to the file: slower, not wrong.
  buffer_.reset(new (std::nothrow) char[kBufferSize]);
  inCursor_ = inEnd_ = Buffer();
}

Status CFileIo::OpenWrite(const std::string& filePath) {
  if (filePath.empty()) return kErrBadArgument;
  Close().Ignore();  // a file still open from before is given up
  path = filePath;
  file = std::fopen(filePath.c_str(), "wb");
  if (!file) return kErrOpen;
  fd_ = ::fileno(file);
  writing_ = true;
  writeError = 0;
  position = 0;
  fileOffset_ = 0;
  writeBehind_.Start(fd_);
  if (queue_.Start(fd_, 0, writeBehind_)) {
    outCursor_ = filling_ = queue_.Take();
    outEnd_ = filling_ + CWriteQueue::kBufferBytes;
    return kOk;
  }
  buffer_.reset(new (std::nothrow) char[kBufferSize]);
  if (buffer_) {
    outCursor_ = Buffer();
    outEnd_ = Buffer() + kBufferSize;
  }
  return kOk;
}

Status CFileIo::Flush() {
  if (!file) return kErrBadArgument;
  if (writing_) KX_RETURN_IF_FAILED(Drain());
  if (writing_ && queue_.Active()) {
    if (const int error = queue_.Wait()) {
      writeError = error;
      return kErrStream;
    }
  }
  if (std::fflush(file) == 0) return kOk;
  writeError = errno;
  return kErrStream;
}

Status CFileIo::Close() {
  Status status = kOk;
  if (file) {
    if (writing_ && Failed(Drain())) status = kErrStream;
    if (writing_) {
      if (const int error = queue_.Finish(); error != 0 && Succeeded(status)) {
        writeError = error;
        status = kErrStream;
      }
      filling_ = nullptr;
      if (const int error = writeBehind_.Finish(); error != 0 && Succeeded(status)) {
        writeError = error;
        status = kErrStream;
      }
    }
    if (writing_ && std::fflush(file) != 0) {
      writeError = errno;
      status = kErrStream;
    }
    if (std::fclose(file) != 0 && writing_) {
      writeError = errno;
      status = kErrStream;
    }
    file = nullptr;
  }
  fd_ = -1;
  size = 0;
  position = 0;
  writing_ = false;
  DropWindow();
  buffer_.reset();
  return status;
}

Status CFileIo::GetFolder(std::string& folder) const {
  folder = GetFolderOf(path);
  return kOk;
}

Status CFileIo::ReadDirect(void* dest, size_t count) {
  auto* out = static_cast<char*>(dest);
  while (count > 0) {
    const ssize_t got = ::read(fd_, out, count);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return kErrStream;  // an error, or a file cut short while it is read
    out += got;
    count -= static_cast<size_t>(got);
  }
  return kOk;
}

Status CFileIo::Fill() {
  inCursor_ = inEnd_ = Buffer();
  const size_t want = fillSize_;
  fillSize_ = kBufferSize;
  for (;;) {
    const ssize_t got = ::read(fd_, buffer_.get(), want);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return kErrStream;
    inEnd_ = Buffer() + got;
    return kOk;
  }
}

Status CFileIo::Read(void* dest, size_t capacity, size_t count, int32_t) {
  if (!file || writing_) return kErrStream;
  if (count > capacity) return kErrBadArgument;
  if (count > Remaining()) return kErrStream;
  if (count == 0) return kOk;
  auto* out = static_cast<char*>(dest);
  const auto buffered = static_cast<size_t>(inEnd_ - inCursor_);
  if (count <= buffered) {
    std::memcpy(out, inCursor_, count);
    inCursor_ += count;
    position += count;
    return kOk;
  }
  // What the buffer holds, then the rest straight from the file when the transfer is large, or
  // from the buffer filled again. A system read that fails leaves the stream unusable; the reader
  // stops at its first failure anyway.
  if (buffered) std::memcpy(out, inCursor_, buffered);
  inCursor_ = inEnd_ = Buffer();
  size_t rest = count - buffered;
  out += buffered;
  if (count >= kShortFillSize || !buffer_) {
    KX_RETURN_IF_FAILED(ReadDirect(out, rest));
    fillSize_ = kShortFillSize;
  } else {
    while (rest > 0) {
      KX_RETURN_IF_FAILED(Fill());
      const size_t part = std::min(rest, static_cast<size_t>(inEnd_ - inCursor_));
      std::memcpy(out, inCursor_, part);
      inCursor_ += part;
      out += part;
      rest -= part;
    }
  }
  position += count;
  return kOk;
}

Status CFileIo::ReadAside(void* dest, size_t count, int32_t cookie, LaterRead& later) {
  later = {};
  const auto buffered = static_cast<size_t>(inEnd_ - inCursor_);
  if (!file || writing_ || count < kAsideSize || count <= buffered || count > Remaining())
    return Read(dest, count, count, cookie);
  const size_t rest = count - buffered;
  const off_t after = ::lseek(fd_, static_cast<off_t>(rest), SEEK_CUR);
  if (after < 0) return Read(dest, count, count, cookie);
  if (buffered) std::memcpy(dest, inCursor_, buffered);
  inCursor_ = inEnd_ = Buffer();
  later = {fd_, static_cast<uint64_t>(after) - rest, rest};
  fillSize_ = kShortFillSize;
  position += count;
  return kOk;
}

Status CFileIo::WriteDirect(const void* source, size_t count) {
  if (const int error = WriteAll(fd_, source, count, fileOffset_)) {
    writeError = error;
    return kErrStream;
  }
  if (const int error = writeBehind_.Wrote(fileOffset_)) {
    writeError = error;
    return kErrStream;
  }
  return kOk;
}

Status CFileIo::Drain() {
  if (filling_) {
    int error = 0;
    if (outCursor_ != filling_) {
      error = queue_.Queue(filling_, static_cast<size_t>(outCursor_ - filling_));
      outCursor_ = filling_ = queue_.Take();
      outEnd_ = filling_ + CWriteQueue::kBufferBytes;
    }
    if (error == 0) return kOk;
    writeError = error;
    return kErrStream;
  }
  if (!buffer_ || outCursor_ == Buffer()) return kOk;
  const auto pending = static_cast<size_t>(outCursor_ - Buffer());
  outCursor_ = Buffer();
  return WriteDirect(buffer_.get(), pending);
}

Status CFileIo::Write(const void* source, size_t count, int32_t) {
  if (!file || !writing_) return kErrStream;
  if (count == 0) return kOk;
  if (filling_) {
    // Through the queue, large transfers too: the caller's bytes are copied while the thread
    // hands earlier ones to the file.
    const auto* in = static_cast<const uint8_t*>(source);
    for (size_t left = count; left > 0;) {
      if (outCursor_ == outEnd_) KX_RETURN_IF_FAILED(Drain());
      const size_t part = std::min(left, static_cast<size_t>(outEnd_ - outCursor_));
      std::memcpy(outCursor_, in, part);
      outCursor_ += part;
      in += part;
      left -= part;
    }
    position += count;
    return kOk;
  }
  if (count < kDirectSize && count <= static_cast<size_t>(outEnd_ - outCursor_)) {
    std::memcpy(outCursor_, source, count);
    outCursor_ += count;
    position += count;
    return kOk;
  }
  KX_RETURN_IF_FAILED(Drain());
  if (count >= kDirectSize || !buffer_) {
    KX_RETURN_IF_FAILED(WriteDirect(source, count));
  } else {
    std::memcpy(outCursor_, source, count);
    outCursor_ += count;
  }
  position += count;
  return kOk;
}

Status CFileIo::Skip(int64_t offset) {
  if (!file) return kErrStream;
  if (!writing_ && offset > 0 && static_cast<uint64_t>(offset) > Remaining()) return kErrStream;
  if (offset < 0 && static_cast<uint64_t>(-offset) > position) return kErrStream;
  if (writing_) {
    KX_RETURN_IF_FAILED(Drain());
    if (queue_.Active()) {
      if (const int error = queue_.Wait()) {
        writeError = error;
        return kErrStream;
      }
      fileOffset_ = queue_.Offset();
    }
    if (::lseek(fd_, offset, SEEK_CUR) < 0) return kErrStream;
    fileOffset_ += offset;
    if (queue_.Active()) queue_.MovedTo(fileOffset_);
  } else if (buffer_ && offset >= Buffer() - inCursor_ && offset <= inEnd_ - inCursor_) {
    inCursor_ += offset;
  } else {
    if (::lseek(fd_, static_cast<off_t>(position + offset), SEEK_SET) < 0) return kErrStream;
    inCursor_ = inEnd_ = Buffer();
  }
  position += offset;
  return kOk;
}

// ---------------------------------------------------------------------------------------------

Status CMemoryIo::Reserve(int64_t totalBytes, int64_t) {
  if (totalBytes > 0) {
    try {
      output_.reserve(output_.size() + static_cast<size_t>(totalBytes));
    } catch (const std::exception&) {
      // Only a hint: writing will grow the vector as it goes.
    }
  }
  return kOk;
}

Status CMemoryIo::Read(void* dest, size_t capacity, size_t count, int32_t) {
  if (count > capacity) return kErrBadArgument;
  if (count > Remaining()) return kErrStream;
  if (count) std::memcpy(dest, inCursor_, count);
  inCursor_ += count;
  return kOk;
}

Status CMemoryIo::Write(const void* source, size_t count, int32_t) {
  if (!input_.empty()) return kErrStream;
  try {
    const auto* bytes = static_cast<const uint8_t*>(source);
    output_.insert(output_.end(), bytes, bytes + count);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  return kOk;
}

Status CMemoryIo::Skip(int64_t offset) {
  if (offset > 0 && static_cast<uint64_t>(offset) > Remaining()) return kErrStream;
  if (offset < 0 && static_cast<uint64_t>(-offset) > Position()) return kErrStream;
  if (offset != 0) inCursor_ += offset;
  return kOk;
}

// ---------------------------------------------------------------------------------------------

Status ReadWholeFile(const std::string& path, std::vector<uint8_t>& buffer) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return kErrFileSize;
  // Only regular files: a device or pipe named in a scene would block or never end.
  if (!S_ISREG(st.st_mode)) return kErrOpen;
  const auto size = static_cast<uint64_t>(st.st_size);
  if (size > std::numeric_limits<size_t>::max() / 2) return kErrOutOfMemory;
  try {
    buffer.resize(size);
  } catch (const std::bad_alloc&) {
    buffer.clear();
    return kErrOutOfMemory;
  }
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    buffer.clear();
    buffer.shrink_to_fit();
    return kErrOpen;
  }
  const size_t got = size ? std::fread(buffer.data(), 1, size, f) : 0;
  std::fclose(f);
  if (got != size) {
    buffer.clear();
    buffer.shrink_to_fit();
    return kErrOpen;
  }
  return kOk;
}

// ---------------------------------------------------------------------------------------------

namespace {

template <class Char>
std::basic_string<Char> FolderOf(std::basic_string_view<Char> path) {
  using View = std::basic_string_view<Char>;
  size_t sep = View::npos;
  for (size_t i = 0; i < path.size(); ++i)
    if (path[i] == Char('\\') || path[i] == Char('/')) sep = i;
  if (sep == View::npos) return {};
  const size_t dot = path.find_last_of(Char('.'));
  const bool endsWithSeparator = sep + 1 == path.size();
  const bool dotAfterSeparator = dot != View::npos && dot > sep;
  if (endsWithSeparator || dotAfterSeparator) return std::basic_string<Char>(path.substr(0, sep));
  return std::basic_string<Char>(path);
}

template <class Char>
std::basic_string<Char> ExtensionOf(std::basic_string_view<Char> path) {
  const size_t dot = path.find_last_of(static_cast<Char>('.'));
  if (dot == std::basic_string_view<Char>::npos) return {};
  return std::basic_string<Char>(path.substr(dot + 1));
}

}  // namespace

std::u16string GetFolderOf(std::u16string_view path) {
  return FolderOf(path);
}
std::string GetFolderOf(std::string_view path) {
  return FolderOf(path);
}
std::u16string GetExtensionOf(std::u16string_view path) {
  return ExtensionOf(path);
}
std::string GetExtensionOf(std::string_view path) {
  return ExtensionOf(path);
}

}  // namespace KX
