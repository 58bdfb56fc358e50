#include "core/storage/mmf.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// File creation and the sweep of stale files are serialised inside the process, so a sweep never
// sees one of our own files in the instant between its creation and its flock.
std::mutex& FolderMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string WithoutTrailingSlash(const std::string& path) {
  std::string result = path;
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

std::string WithTrailingSlash(const std::string& path) {
  if (!path.empty() && path.back() != '/') return path + '/';
  return path;
}

// Creates the folder when missing and makes sure it is a real directory of ours: a folder in a
// shared temporary path that another user planted (or a symlink) must not receive our data.
bool EnsureFolder(const std::string& folder) {
  const std::string dir = WithoutTrailingSlash(folder);
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

bool ProcessAlive(pid_t pid) {
  if (pid <= 0) return false;
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

// Reads the pid out of "<prefix><pid>_XXXXXX.tmp"; 0 when the name is not one of ours.
pid_t PidOfTempName(const std::string& name, const std::string& prefix) {
  const std::string suffix = ".tmp";
  if (name.size() <= prefix.size() + suffix.size()) return 0;
  if (name.compare(0, prefix.size(), prefix) != 0) return 0;
  if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) return 0;
  size_t i = prefix.size();
  long long pid = 0;
  size_t digits = 0;
  while (i < name.size() && name[i] >= '0' && name[i] <= '9' && digits < 10) {
    pid = pid * 10 + (name[i] - '0');
    ++i;
    ++digits;
  }
  if (digits == 0 || i >= name.size() || name[i] != '_') return 0;
  if (pid <= 0 || pid > 0x7FFFFFFF) return 0;
  return static_cast<pid_t>(pid);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CKXMMFObj

CKXMMFObj::CKXMMFObj(bool shareable_) : shareable(shareable_) {}

CKXMMFObj::~CKXMMFObj() { ReleaseFile(); }

bool CKXMMFObj::Allocate(uint64_t, int32_t& block, std::span<const uint8_t>) {
  block = 0;
  return false;
}

void CKXMMFObj::Free(int32_t, bool& empty) { empty = true; }

void* CKXMMFObj::Lock(int32_t) { return nullptr; }

void CKXMMFObj::Unlock(int32_t) {}

int64_t CKXMMFObj::GetBlockSize(int32_t) { return 0; }

bool CKXMMFObj::CreateBackingFile(const std::string& folder, const std::string& prefix,
                                  uint64_t size) {
  CKXCriticalSectionSmartLock guard(&lock);
  if (folder.empty() || prefix.empty() || size == 0 || mapping >= 0) return false;
  if (size > static_cast<uint64_t>(INT64_MAX)) return false;

  std::lock_guard<std::mutex> folderGuard(FolderMutex());
  const std::string dir = WithTrailingSlash(folder);
  std::string name = dir + prefix + std::to_string(::getpid()) + "_XXXXXX.tmp";
  int fd = -1;
  // Two attempts: another process may remove the (empty) folder between our mkdir and mkstemp.
  for (int attempt = 0; attempt < 2 && fd < 0; ++attempt) {
    if (!EnsureFolder(dir)) return false;
    std::string candidate = name;
    fd = ::mkostemps(candidate.data(), 4, O_CLOEXEC);
    if (fd >= 0) name = candidate;
    else if (errno != ENOENT) return false;
  }
  if (fd < 0) return false;
  // The flock marks the file as in use for sweeping processes; it goes with the descriptor.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
      ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
    ::unlink(name.c_str());
    ::close(fd);
    return false;
  }
  tempFileName = name;
  fileSize = size;
  mapping = fd;
  return true;
}

void CKXMMFObj::ReleaseFile() {
  CKXCriticalSectionSmartLock guard(&lock);
  if (mapping >= 0) {
    ::close(mapping);
    mapping = -1;
  }
  if (!tempFileName.empty()) {
    ::unlink(tempFileName.c_str());
    tempFileName.clear();
  }
  fileSize = 0;
}

void* CKXMMFObj::MapView(uint64_t offset, uint64_t length) {
  if (mapping < 0 || length == 0 || offset + length > fileSize) return nullptr;
  void* view = ::mmap(nullptr, static_cast<size_t>(length), PROT_READ | PROT_WRITE, MAP_SHARED,
                      mapping, static_cast<off_t>(offset));
  return view == MAP_FAILED ? nullptr : view;
}

void CKXMMFObj::UnmapView(void* view, uint64_t length) {
  if (view != nullptr) ::munmap(view, static_cast<size_t>(length));
}

bool CKXMMFObj::DiscardRange(uint64_t offset, uint64_t length) {
  if (mapping < 0) return false;
  return ::fallocate(mapping, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                     static_cast<off_t>(offset), static_cast<off_t>(length)) == 0;
}

namespace {

// Reserves disk for a byte range of a sparse file by writing over all of it: `content` first,
// zeros after. Writing through a mapping into a hole that the file system cannot fill raises
// SIGBUS; reserving when the block is handed out turns a full disk into an ordinary allocation
// failure. Writing rather than fallocate: on a file system that allocates late, written pages
// only hold a reservation, which costs next to nothing to give back when the file is deleted,
// where allocated extents took longer to free than the whole conversion of a scene full of
// pictures. Every byte of the range is written, so the block never shows an earlier block's
// bytes; a block made for given bytes gets them in the same pass, not through a mapping.
bool WriteAt(int fd, const uint8_t* bytes, size_t count, uint64_t offset) {
  while (count > 0) {
    const ssize_t written = ::pwrite(fd, bytes, count, static_cast<off_t>(offset));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    count -= static_cast<size_t>(written);
    offset += static_cast<uint64_t>(written);
  }
  return true;
}

bool ReserveRange(int fd, uint64_t offset, uint64_t length, std::span<const uint8_t> content) {
  static constexpr uint8_t kZeros[64 * 1024] = {};
  if (content.size() > length || !WriteAt(fd, content.data(), content.size(), offset))
    return false;
  for (uint64_t done = content.size(); done < length;) {
    const auto chunk = static_cast<size_t>(std::min<uint64_t>(length - done, sizeof kZeros));
    if (!WriteAt(fd, kZeros, chunk, offset + done)) return false;
    done += chunk;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CKXMMFShare

CKXMMFShare::CKXMMFShare() : CKXMMFObj(true) {}

CKXMMFShare::~CKXMMFShare() {
  CKXCriticalSectionSmartLock guard(&lock);
  for (auto& [first, block] : blocks) {
    UnmapView(block.view, static_cast<uint64_t>(block.slots) * kSlotSize);
    block.view = nullptr;
  }
}

int32_t CKXMMFShare::SlotsFor(uint64_t size) {
  if (size <= kSlotSize) return 1;
  if (size > kFileSize) return kSlotCount + 1;  // never fits
  return static_cast<int32_t>(((size - 0x10001) >> 16) + 2);
}

bool CKXMMFShare::Allocate(uint64_t size, int32_t& block, std::span<const uint8_t> content) {
  CKXCriticalSectionSmartLock guard(&lock);
  block = -1;
  if (size == 0) return false;
  const int32_t n = SlotsFor(size);
  if (n > kSlotCount) return false;
  int32_t start = 0;
  while (start + n <= kSlotCount) {
    int32_t i = 0;
    while (i < n && slotUsed[start + i] == 0) ++i;
    if (i == n) break;
    start += i + 1;  // resume after the used slot that broke the run
  }
  if (start + n > kSlotCount) return false;

  const uint64_t offset = static_cast<uint64_t>(start) * kSlotSize;
  const uint64_t length = static_cast<uint64_t>(n) * kSlotSize;
  if (!ReserveRange(mapping, offset, length, content)) return false;
  try {
    blocks[start] = Block{start, n, 0, nullptr};
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (int32_t i = 0; i < n; ++i) slotUsed[start + i] = 1;
  block = start;
  return true;
}

void CKXMMFShare::Free(int32_t first, bool& empty) {
  CKXCriticalSectionSmartLock guard(&lock);
  empty = false;
  auto it = blocks.find(first);
  if (it == blocks.end()) return;
  const Block& b = it->second;
  const uint64_t length = static_cast<uint64_t>(b.slots) * kSlotSize;
  UnmapView(b.view, length);
  // Hand the pages back: the disk space is released (the next block writes over its range).
  DiscardRange(static_cast<uint64_t>(first) * kSlotSize, length);
  for (int32_t i = 0; i < b.slots; ++i) slotUsed[first + i] = 0;
  blocks.erase(it);
  empty = blocks.empty();
}

void* CKXMMFShare::Lock(int32_t first) {
  CKXCriticalSectionSmartLock guard(&lock);
  auto it = blocks.find(first);
  if (it == blocks.end()) return nullptr;
  Block& b = it->second;
  if (b.lockCount == 0) {
    b.view = MapView(static_cast<uint64_t>(first) * kSlotSize,
                     static_cast<uint64_t>(b.slots) * kSlotSize);
    if (b.view == nullptr) return nullptr;
  }
  ++b.lockCount;
  return b.view;
}

void CKXMMFShare::Unlock(int32_t first) {
  CKXCriticalSectionSmartLock guard(&lock);
  auto it = blocks.find(first);
  if (it == blocks.end()) return;
  Block& b = it->second;
  if (b.lockCount <= 0) return;  // an unbalanced unlock must not unmap a view others still use
  if (--b.lockCount == 0) {
    UnmapView(b.view, static_cast<uint64_t>(b.slots) * kSlotSize);
    b.view = nullptr;
  }
}

int64_t CKXMMFShare::GetBlockSize(int32_t first) {
  CKXCriticalSectionSmartLock guard(&lock);
  auto it = blocks.find(first);
  if (it == blocks.end()) return 0;
  return static_cast<int64_t>(it->second.slots) * kSlotSize;
}

// ---------------------------------------------------------------------------------------------
// CKXMMFUnShare

CKXMMFUnShare::CKXMMFUnShare() : CKXMMFObj(false) {}

CKXMMFUnShare::~CKXMMFUnShare() {
  CKXCriticalSectionSmartLock guard(&lock);
  UnmapView(view, fileSize);
  view = nullptr;
}

bool CKXMMFUnShare::Allocate(uint64_t size, int32_t& block, std::span<const uint8_t> content) {
  CKXCriticalSectionSmartLock guard(&lock);
  block = -1;
  if (used || size == 0 || size > fileSize) return false;
  if (!ReserveRange(mapping, 0, fileSize, content)) return false;
  used = true;
  block = 0;
  return true;
}

void CKXMMFUnShare::Free(int32_t block, bool& empty) {
  CKXCriticalSectionSmartLock guard(&lock);
  empty = false;
  if (block != 0 || !used) return;
  UnmapView(view, fileSize);
  view = nullptr;
  lockCount = 0;
  used = false;
  empty = true;
}

void* CKXMMFUnShare::Lock(int32_t block) {
  CKXCriticalSectionSmartLock guard(&lock);
  if (block != 0 || !used) return nullptr;
  if (lockCount == 0) {
    view = MapView(0, fileSize);
    if (view == nullptr) return nullptr;
  }
  ++lockCount;
  return view;
}

void CKXMMFUnShare::Unlock(int32_t block) {
  CKXCriticalSectionSmartLock guard(&lock);
  if (block != 0 || lockCount <= 0) return;
  if (--lockCount == 0) {
    UnmapView(view, fileSize);
    view = nullptr;
  }
}

int64_t CKXMMFUnShare::GetBlockSize(int32_t block) {
  CKXCriticalSectionSmartLock guard(&lock);
  if (block != 0 || !used) return 0;
  return static_cast<int64_t>(fileSize);
}

// ---------------------------------------------------------------------------------------------
// CKXMMFSys

namespace {
constexpr uint32_t kMaxFileIndex = 0x3FFE;  // index + 1 must fit the 14 bits of the handle
}

std::string CKXMMFSys::DefaultFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = (tmp != nullptr && tmp[0] == '/') ? std::string(tmp) : std::string("/tmp");
  return WithTrailingSlash(base) + "KXTmp/";
}

CKXMMFSys::CKXMMFSys() : CKXMMFSys(DefaultFolder(), "KX_", 0) {}

CKXMMFSys::CKXMMFSys(std::string folder_, std::string prefix_, int64_t limit_)
    : prefix(std::move(prefix_)), folder(WithTrailingSlash(folder_)), limit(limit_) {
  // Files a killed run left behind go now rather than at our own exit.
  RemoveStaleFiles();
}

CKXMMFSys::~CKXMMFSys() {
  std::lock_guard<std::mutex> guard(mutex_);
  files.clear();  // each file object deletes its own file
  total = 0;
  if (!folder.empty()) {
    RemoveStaleFiles();
    ::rmdir(WithoutTrailingSlash(folder).c_str());  // fails harmlessly while others use it
  }
}

size_t CKXMMFSys::FileCount() {
  std::lock_guard<std::mutex> guard(mutex_);
  size_t count = 0;
  for (const auto& f : files)
    if (f) ++count;
  return count;
}

int CKXMMFSys::RemoveStaleFiles() {
  if (folder.empty() || prefix.empty()) return 0;
  std::lock_guard<std::mutex> folderGuard(FolderMutex());
  const std::string dirName = WithoutTrailingSlash(folder);
  DIR* dir = ::opendir(dirName.c_str());
  if (dir == nullptr) return 0;
  const pid_t self = ::getpid();
  int removed = 0;
  while (struct dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    const pid_t pid = PidOfTempName(name, prefix);
    if (pid == 0) continue;
    // Our own live files are flocked and refused below; one of our pid but unlocked is a file of
    // an earlier process that had the same pid.
    if (pid != self && ProcessAlive(pid)) continue;
    const std::string path = dirName + "/" + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) continue;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      if (::unlink(path.c_str()) == 0) ++removed;
    }
    ::close(fd);
  }
  ::closedir(dir);
  return removed;
}

bool CKXMMFSys::Allocate(uint64_t size, uint32_t& handle, std::span<const uint8_t> content) {
  std::lock_guard<std::mutex> guard(mutex_);
  handle = 0;
  if (size == 0 || content.size() > size) return false;
  const bool shared = size <= CKXMMFShare::kFileSize;

  if (shared) {
    for (size_t i = 0; i < files.size(); ++i) {
      CKXMMFObj* obj = files[i].get();
      int32_t first = -1;
      if (obj != nullptr && obj->shareable && obj->Allocate(size, first, content)) {
        handle = (static_cast<uint32_t>(i + 1) << 16) | static_cast<uint32_t>(first + 1);
        return true;
      }
    }
  }

  const uint64_t fileSize = shared ? CKXMMFShare::kFileSize : size;
  if (limit != 0 && (size > static_cast<uint64_t>(INT64_MAX - total) ||
                     static_cast<int64_t>(size) + total > limit))
    return false;

  size_t slot = files.size();
  for (size_t i = 0; i < files.size(); ++i) {
    if (!files[i]) {
      slot = i;
      break;
    }
  }
  if (slot > kMaxFileIndex) return false;

  std::unique_ptr<CKXMMFObj> obj;
  try {
    if (shared) obj = std::make_unique<CKXMMFShare>();
    else obj = std::make_unique<CKXMMFUnShare>();
    if (slot == files.size()) files.emplace_back();
  } catch (const std::bad_alloc&) {
    return false;
  }
  int32_t block = -1;
  if (!obj->CreateBackingFile(folder, prefix, fileSize) || !obj->Allocate(size, block, content)) {
    return false;  // the object's destructor deletes whatever file it made
  }
  total += static_cast<int64_t>(obj->fileSize);
  handle = (static_cast<uint32_t>(slot + 1) << 16) | static_cast<uint32_t>(block + 1);
  files[slot] = std::move(obj);
  return true;
}

CKXMMFObj* CKXMMFSys::Resolve(uint32_t handle, int32_t& block) {
  const uint32_t index = (handle >> 16) & 0x3FFF;
  block = static_cast<int32_t>(handle & 0xFFFF) - 1;
  if (index == 0 || index > files.size()) return nullptr;
  return files[index - 1].get();
}

void CKXMMFSys::Free(uint32_t handle) {
  std::lock_guard<std::mutex> guard(mutex_);
  int32_t block = -1;
  CKXMMFObj* obj = Resolve(handle, block);
  if (obj == nullptr) return;
  bool empty = false;
  obj->Free(block, empty);
  if (!empty) return;
  total -= static_cast<int64_t>(obj->fileSize);
  files[((handle >> 16) & 0x3FFF) - 1].reset();
  if (total <= 0) {
    total = 0;
    ::rmdir(WithoutTrailingSlash(folder).c_str());  // only succeeds when nothing is left in it
  }
}

void* CKXMMFSys::Lock(uint32_t handle) {
  std::lock_guard<std::mutex> guard(mutex_);
  int32_t block = -1;
  CKXMMFObj* obj = Resolve(handle, block);
  return obj != nullptr ? obj->Lock(block) : nullptr;
}

void CKXMMFSys::Unlock(uint32_t handle) {
  std::lock_guard<std::mutex> guard(mutex_);
  int32_t block = -1;
  CKXMMFObj* obj = Resolve(handle, block);
  if (obj != nullptr) obj->Unlock(block);
}

int64_t CKXMMFSys::GetBlockSize(uint32_t handle) {
  std::lock_guard<std::mutex> guard(mutex_);
  int32_t block = -1;
  CKXMMFObj* obj = Resolve(handle, block);
  return obj != nullptr ? obj->GetBlockSize(block) : 0;
}

// ---------------------------------------------------------------------------------------------
// Process-wide operations

CKXMMFSys& MMFSystem(int index) {
  // One array: built at first use in index order, destroyed at exit in reverse order.
  static CKXMMFSys systems[4];
  return systems[index & 3];
}

namespace {

bool PlaceBlock(uint32_t& handle, uint64_t size, std::span<const uint8_t> content) {
  handle = 0;
  if (size == 0) return false;
  for (uint32_t i = 0; i < 4; ++i) {
    uint32_t local = 0;
    if (!MMFSystem(static_cast<int>(i)).Allocate(size, local, content)) continue;
    handle = local | (i << 30);
    return true;
  }
  return false;
}

}  // namespace

bool AllocateBlock(uint32_t& handle, uint64_t size) { return PlaceBlock(handle, size, {}); }

bool AllocateBlockWith(uint32_t& handle, std::span<const uint8_t> bytes) {
  return PlaceBlock(handle, bytes.size(), bytes);
}

void FreeBlock(uint32_t& handle) {
  if (IsMappedHandle(handle)) MMFSystem(static_cast<int>(handle >> 30)).Free(handle);
  handle = 0;
}

void* LockBlock(uint32_t handle) {
  if (!IsMappedHandle(handle)) return nullptr;
  return MMFSystem(static_cast<int>(handle >> 30)).Lock(handle);
}

void UnlockBlock(uint32_t handle) {
  if (!IsMappedHandle(handle)) return;
  MMFSystem(static_cast<int>(handle >> 30)).Unlock(handle);
}

int64_t GetBlockSizeOf(uint32_t handle) {
  if (!IsMappedHandle(handle)) return 0;
  return MMFSystem(static_cast<int>(handle >> 30)).GetBlockSize(handle);
}
