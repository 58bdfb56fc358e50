#pragma once
// Memory-mapped temporary storage: large byte blocks (encoded pictures, pixel buffers of storage
// kind 1) kept in temporary files instead of the heap and mapped into memory only while locked.
//
// A block is named by a 32-bit handle:
//   bits 31..30  index of the storage system (0 to 3)
//   bits 29..16  index of the file object in that system, plus 1
//   bits 15..0   block number in that file, plus 1 (the first slot in a shared file, 0 in a
//                dedicated file)
// so every valid handle is at least 0x10001 and users treat 0x10000 or less as "no mapped block".
//
// Files live in <temp>/KXTmp/ where <temp> is $TMPDIR or /tmp. Their names are
// "KX_<pid>_XXXXXX.tmp": the pid tells a later run which files a killed run left behind, and
// every open file also holds an exclusive flock, so a sweeping process removes a file only when
// its owner is gone (pid not alive) and nobody holds the file locked. That keeps two programs
// that share the folder from deleting each other's files, including across pid namespaces.
//
// These classes deliberately live outside namespace KX.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

// Scoped guard of one file object's mutex: entered on construction, left on destruction.
class CKXCriticalSectionSmartLock {
 public:
  explicit CKXCriticalSectionSmartLock(std::mutex* section) : section_(section) {
    if (section_ != nullptr) section_->lock();
  }
  ~CKXCriticalSectionSmartLock() {
    if (section_ != nullptr) section_->unlock();
  }
  CKXCriticalSectionSmartLock(const CKXCriticalSectionSmartLock&) = delete;
  CKXCriticalSectionSmartLock& operator=(const CKXCriticalSectionSmartLock&) = delete;

 private:
  std::mutex* section_;
};

// One temporary file with its mapping; base of the shared and the dedicated file.
class CKXMMFObj {
 public:
  explicit CKXMMFObj(bool shareable);
  virtual ~CKXMMFObj();
  CKXMMFObj(const CKXMMFObj&) = delete;
  CKXMMFObj& operator=(const CKXMMFObj&) = delete;

  // Reserves a block of `size` bytes that starts with `content` (at most `size` bytes) and reads
  // as zero after it; answers its block number through `block`.
  virtual bool Allocate(uint64_t size, int32_t& block, std::span<const uint8_t> content);
  // Releases a block; `empty` tells whether the file holds no block any more.
  virtual void Free(int32_t block, bool& empty);
  // Maps the block (first lock only) and answers its address; null when there is no such block.
  virtual void* Lock(int32_t block);
  // Drops one lock; the last one unmaps the view.
  virtual void Unlock(int32_t block);
  virtual int64_t GetBlockSize(int32_t block);

  // Creates the folder (if needed) and a fresh temporary file of `size` bytes in it. The file is
  // sparse, so the size costs no disk until the pages are written.
  bool CreateBackingFile(const std::string& folder, const std::string& prefix, uint64_t size);
  // Closes the mapping and deletes the file.
  void ReleaseFile();

  std::string tempFileName;  // full path; empty when none
  uint64_t fileSize = 0;
  int mapping = -1;          // descriptor the views are mapped from; -1 when none
  bool shareable;
  std::mutex lock;

 protected:
  // Maps `length` bytes at `offset` for reading and writing; null on failure.
  void* MapView(uint64_t offset, uint64_t length);
  static void UnmapView(void* view, uint64_t length);
  // Returns the pages of a byte range to the file system so they read as zero again.
  bool DiscardRange(uint64_t offset, uint64_t length);
};

// A 64 MB file cut into 1024 slots of 64 KB; blocks take consecutive slots, first fit.
class CKXMMFShare : public CKXMMFObj {
 public:
  static constexpr uint64_t kFileSize = 0x4000000;
  static constexpr uint32_t kSlotSize = 0x10000;
  static constexpr int32_t kSlotCount = 1024;

  struct Block {
    int32_t first = 0;
    int32_t slots = 0;
    int32_t lockCount = 0;
    void* view = nullptr;
  };

  CKXMMFShare();
  ~CKXMMFShare() override;

  bool Allocate(uint64_t size, int32_t& block, std::span<const uint8_t> content) override;
  void Free(int32_t block, bool& empty) override;
  void* Lock(int32_t block) override;
  void Unlock(int32_t block) override;
  int64_t GetBlockSize(int32_t block) override;

  // Number of slots a request of `size` bytes takes.
  static int32_t SlotsFor(uint64_t size);

  uint8_t slotUsed[kSlotCount] = {};
  std::map<int32_t, Block> blocks;
};

// A file that holds exactly one block, for requests above 64 MB.
class CKXMMFUnShare : public CKXMMFObj {
 public:
  CKXMMFUnShare();
  ~CKXMMFUnShare() override;

  bool Allocate(uint64_t size, int32_t& block, std::span<const uint8_t> content) override;
  void Free(int32_t block, bool& empty) override;
  void* Lock(int32_t block) override;
  void Unlock(int32_t block) override;
  int64_t GetBlockSize(int32_t block) override;

  bool used = false;
  int32_t lockCount = 0;
  void* view = nullptr;
};

// One storage system: the file objects of one folder and their byte total.
class CKXMMFSys {
 public:
  // The folder <temp>/KXTmp/ and the prefix "KX_", no limit.
  CKXMMFSys();
  CKXMMFSys(std::string folder, std::string prefix, int64_t limit = 0);
  ~CKXMMFSys();
  CKXMMFSys(const CKXMMFSys&) = delete;
  CKXMMFSys& operator=(const CKXMMFSys&) = delete;

  // Places a block of `size` bytes that starts with `content` (at most `size` bytes) and reads
  // as zero after it; the handle's system bits are left 0.
  bool Allocate(uint64_t size, uint32_t& handle, std::span<const uint8_t> content = {});
  void Free(uint32_t handle);
  void* Lock(uint32_t handle);
  void Unlock(uint32_t handle);
  int64_t GetBlockSize(uint32_t handle);

  // Deletes the temporary files of this prefix in the folder whose owning process is gone.
  // Answers how many files were removed.
  int RemoveStaleFiles();

  // "$TMPDIR/KXTmp/" or "/tmp/KXTmp/".
  static std::string DefaultFolder();
  size_t FileCount();

  std::vector<std::unique_ptr<CKXMMFObj>> files;
  std::string prefix;
  std::string folder;
  int64_t limit = 0;
  int64_t total = 0;

 private:
  // The file object a handle names and the block number inside it; null when none.
  CKXMMFObj* Resolve(uint32_t handle, int32_t& block);

  // The Part leaves the system's vector unguarded; a mutex costs nothing here and keeps two
  // threads that allocate at once from corrupting it.
  std::mutex mutex_;
};

// The four process-wide systems, built on first use and destroyed at exit in reverse order.
CKXMMFSys& MMFSystem(int index);

// Allocates a zeroed block of `size` bytes; false (handle 0) when no system can place it.
bool AllocateBlock(uint32_t& handle, uint64_t size);
// Allocates a block that holds a copy of `bytes`, written through the file rather than through a
// mapping; false (handle 0) when no system can place it.
bool AllocateBlockWith(uint32_t& handle, std::span<const uint8_t> bytes);
// Frees the block and sets the handle to 0.
void FreeBlock(uint32_t& handle);
void* LockBlock(uint32_t handle);
void UnlockBlock(uint32_t handle);
// Bytes the block can hold (whole slots); 0 for a handle that names nothing.
int64_t GetBlockSizeOf(uint32_t handle);

// Handles of 0x10000 or less name no mapped block.
constexpr bool IsMappedHandle(uint32_t handle) { return handle > 0x10000; }
