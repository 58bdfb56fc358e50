#pragma once
// The scene container: a header, an optional thumbnail, optional extended-information records and
// the object records of a graph of scene objects. Reads the old "KXCorva" layout and reads and
// writes the current "_KXBrix" layout.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/address_table.h"
#include "object/base.h"
#include "object/id_table.h"
#include "core/io_buffer.h"
#include "object/persist.h"

namespace KX {

class CLoadJobs;

// Something a load noticed without failing: a reference it dropped, a record whose size word
// disagrees with its bytes. Names the record it is about, as a failure does.
struct CLoadWarning {
  std::string className;  // class of the record; empty when the warning is about no one record
  uint64_t offset = 0;    // where that record starts in the stream
  std::string text;       // what happened, starting with a verb ("refers to a ...")

  // "a CImageLayer record at offset 120 refers to a ...", one line.
  std::string Describe() const;
  bool operator==(const CLoadWarning&) const = default;
};

// Where and why a load failed, and what it noticed without failing.
struct CLoadDiagnostics {
  Status status = kOk;
  uint64_t offset = 0;        // stream offset at which the failure was noticed
  uint64_t recordOffset = 0;  // where the record being read starts
  std::string className;      // class of the record being read, when there was one
  std::string message;
  std::vector<CLoadWarning> warnings;  // link failures, references of the wrong class, ...
  // Warnings beyond the ones kept: a hostile file could produce one per record.
  size_t warningsNotKept = 0;

  bool failed() const { return Failed(status); }
  // The failure, when there is one, on the first line: "status 0x... at offset 1234 in a
  // CTriMesh record ..."; then one line per warning ("warning: ..."). Lines end in '\n' only
  // between them.
  std::string Describe() const;
  // The failure's line alone; empty when the load did not fail.
  std::string DescribeFailure() const;
  // One line per warning, and one that counts those not kept.
  std::vector<std::string> WarningLines() const;
};

// Limits that keep hostile files from making traversals recurse or loop without bound. Far
// beyond any real scene: hierarchies and chains nest a few dozen levels.
inline constexpr int32_t kMaxOwnershipDepth = 1024;

class CPersistContext {
 public:
  CIoBuffer* stream = nullptr;
  int32_t cookie = 0;
  int32_t version = kCurrentStreamVersion;
  CRefPtr<CBase> thumbnail;
  std::vector<CRefPtr<CBase>> extInfo;
  std::vector<CRefPtr<CBase>> roots;  // add through AddRoot, which keeps them unique
  // Load: records by id, the first record with an id wins; later ones go to `duplicates`.
  CIdTable objects;
  std::map<int32_t, CLoadRecord*> duplicates;
  // Save: every object to write, in collection order, and the id each is written under.
  std::vector<CBase*> saveList;
  CAddressTable<int32_t> saveIds;
  // Save: the id of each object of saveList, and which of them is being written or was written
  // last (npos before the first). A record mostly refers to objects just before or after it in the
  // list (its owner, its children, its controllers), which SaveIdNear finds without a lookup in
  // saveIds.
  std::vector<int32_t> saveListIds;
  size_t writing = std::string::npos;
  // Save: each record's size as the save measured it, so that writing the record's size word
  // does not run its Save a second time only to count.
  CAddressTable<int64_t> saveSizes;
  // Save: the record being written whose size word is filled in once its bytes are known; its
  // Save writes the word as 0.
  const CBase* sizeWordLater = nullptr;
  bool measuring = false;
  // While the objects of a file are read: where a Load may hand off work to run beside the
  // rest of the load (see object/load_jobs.h). Null outside that part of a load.
  CLoadJobs* jobs = nullptr;
  // Bytes a Load reads before keeping them elsewhere (an image's encoded picture), reused from
  // record to record so that a load does not take fresh memory for each.
  std::vector<uint8_t> scratch;
  // When set, a load appends the stream offset of every object id it reads as a reference: what
  // a tool that rewrites references in place (the fuzzer's mutator) needs to find them.
  std::vector<uint64_t>* referenceOffsets = nullptr;

  CLoadDiagnostics diagnostics;
  // Set by CLinker::Refuse: the load fails with it once the link pass is over.
  Status linkRefusal = kOk;
  std::string linkRefusalMessage;

  CPersistContext() = default;
  CPersistContext(const CPersistContext&) = delete;
  CPersistContext& operator=(const CPersistContext&) = delete;
  ~CPersistContext();

  // The id of `object` when it is in saveList near the record being written, else null. Compares
  // addresses only: `object` may be a back-pointer to an object that is gone.
  const int32_t* SaveIdNear(const CBase* object) const {
    if (writing >= saveList.size() || saveListIds.size() != saveList.size()) return nullptr;
    const size_t first = writing > kSaveWindow ? writing - kSaveWindow : 0;
    const size_t end = std::min(saveList.size(), writing + kSaveWindow + 1);
    for (size_t i = first; i < end; ++i)
      if (saveList[i] == object) return &saveListIds[i];
    return nullptr;
  }

  // Creates a load record; the context keeps it until the load ends.
  CLoadRecord* NewRecord();
  CBase* ObjectForId(int32_t id) const;
  // True when `object` is one of `roots`; constant time however many roots there are.
  bool IsRoot(const CBase* object);
  // Records a warning about the record `record` (null: about no one record).
  void Warn(const CLoadRecord* record, std::string text);
  void Warn(std::string className, uint64_t offset, std::string text);

 private:
  friend Status LoadFromStream(CPersistContext&, CIoBuffer&, int32_t);
  friend Status AddRoot(CPersistContext&, CBase*);
  void ClearRecords();
  // How far before and after the record being written SaveIdNear looks.
  static constexpr size_t kSaveWindow = 8;
  std::deque<CLoadRecord> records_;
  std::unordered_set<const CBase*> rootSet_;  // mirrors `roots`, rebuilt when they changed
};

// Null: kErrBadArgument; already a root: kNothingDone; else appended: kOk.
Status AddRoot(CPersistContext& context, CBase* object);

Status LoadFromStream(CPersistContext& context, CIoBuffer& stream, int32_t cookie);
Status SaveToStream(CPersistContext& context, CIoBuffer& stream, int32_t cookie);
// Reads one object record whose class name has been read already.
Status ReadObject(CPersistContext& context, CReader& in, const std::string& className,
                  CRefPtr<CBase>& out);

Status LoadFile(int32_t cookie, CPersistContext& context, const std::string& path);
// Writes beside `path` under a temporary name and renames it over `path` only when complete; on
// failure the temporary file is removed and an existing file at `path` is left as it was.
Status SaveFile(int32_t cookie, CPersistContext& context, const std::string& path);

// Why a save failed, when the system said: its errno (EEXIST when the target exists and was not
// to be replaced) and its words, with what was being done.
struct CSaveFailure {
  int error = 0;
  std::string reason;
};
// As above; an existing plain file at `path` is replaced only with `replace`, and a folder, link,
// device, FIFO or socket there never is. The temporary file has a short name of its own, so that
// any legal target name fits, and is removed on an interrupting signal once the front-end called
// RemoveTemporariesOnSignals (core/atomic_file.h).
Status SaveFile(int32_t cookie, CPersistContext& context, const std::string& path, bool replace,
                CSaveFailure* failure);

}  // namespace KX
