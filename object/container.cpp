#include "object/container.h"

#include "core/address_table.h"
#include "core/alloc.h"
#include "core/atomic_file.h"
#include "object/load_jobs.h"
#include "core/prefetch.h"
#include "object/walker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <unordered_set>

namespace KX {

namespace {

constexpr char kMagic[] = "_KXBrix";
constexpr char kOldMagic[] = "KXCorva";
constexpr size_t kMagicSize = 7;
constexpr size_t kOldVersionFieldSize = 14;
constexpr size_t kOldVersionOffset = 9;
const std::string kThumbnailSection = "_Thumbnail";
const std::string kOldThumbnailSection = "_CorvaThumbnail";
const std::string kExtInfoSection = "_ExtendInfo";
const std::string kRootMarker = "_Root";
const std::string kOldRootMarker = "_CorvaRoot";
constexpr int32_t kCurrentMajor = 2;
constexpr int32_t kCurrentMinor = 1;
// A walk over what the roots own may visit an object once per path that reaches it; a file that
// shares objects so that walks would explode is refused. Real scenes stay far below this.
constexpr uint64_t kMaxWalkFloor = 4'000'000;
constexpr uint64_t kMaxWalkPerObject = 64;

Status Fail(CPersistContext& context, Status status, std::string message) {
  auto& d = context.diagnostics;
  if (!d.failed()) {
    d.status = status;
    if (context.stream) d.offset = context.stream->Tell();
    if (d.message.empty()) d.message = std::move(message);
  }
  return status;
}

// Collects the targets of an object's owned references.
class CChildCollector final : public CReferenceVisitor {
 public:
  std::vector<CBase*> children;
  void Owned(const CReference& ref) override { children.push_back(ref.target); }
};

// Drops every owned reference, so that a refused graph with cycles can still be freed.
class CLinkBreaker final : public CReferenceVisitor {
 public:
  void Owned(const CReference& ref) override { ref.Clear(); }
};

// Asks for the object of the record kRequestAhead places after entry `i`, for a walk over the
// records in id order.
void RequestRecordAhead(const std::vector<CIdTable::Entry>& entries, size_t i) {
  if (i + kRequestAhead < entries.size())
    RequestObject(entries[i + kRequestAhead].second->object.get());
}

// Refuses object graphs that own themselves, nest deeper than kMaxOwnershipDepth, or share so
// much that a walk over them would not end in reasonable time. Iterative, so that the check
// itself cannot overflow the stack.
Status CheckOwnership(CPersistContext& context, std::string& message) {
  struct Info {
    uint8_t state = 0;  // 0 unseen, 1 on the current path, 2 done
    uint64_t walk = 0;  // objects a recursive walk from here visits
  };
  struct Frame {
    CBase* object;
    size_t firstChild;  // children of the frames on the stack live in one shared vector
    size_t childCount;
    size_t next = 0;
  };
  const uint64_t maxWalk =
      std::max<uint64_t>(kMaxWalkFloor, kMaxWalkPerObject * context.objects.size());
  // What the check knows of each object, by the number it met the object under.
  CObjectNumbers numbers;
  std::vector<Info> infos;
  infos.reserve(context.objects.size());
  auto info = [&](CBase* object) -> Info& {
    const auto [number, added] = numbers.Insert(object);
    if (added) infos.emplace_back();
    return infos[number];
  };
  std::vector<Frame> stack;
  std::vector<CBase*> children;
  CChildCollector collector;

  auto push = [&](CBase* object) {
    collector.children.clear();
    object->VisitReferences(collector);
    info(object).state = 1;
    stack.push_back(Frame{object, children.size(), collector.children.size()});
    children.insert(children.end(), collector.children.begin(), collector.children.end());
  };

  for (const auto& [id, record] : context.objects) {
    CBase* start = record->object.get();
    if (!start || info(start).state != 0) continue;
    push(start);
    while (!stack.empty()) {
      Frame& top = stack.back();
      if (top.next < top.childCount) {
        if (top.next + kRequestAhead < top.childCount)
          RequestObject(children[top.firstChild + top.next + kRequestAhead]);
        CBase* child = children[top.firstChild + top.next++];
        const uint8_t state = info(child).state;
        if (state == 1) {
          message = std::string("a ") + child->GetRuntimeClass()->className +
                    " owns itself through a chain of references";
          return kErrMalformed;
        }
        if (state == 0) {
          if (stack.size() >= static_cast<size_t>(kMaxOwnershipDepth)) {
            message = "objects nest deeper than " + std::to_string(kMaxOwnershipDepth) + " levels";
            return kErrMalformed;
          }
          push(child);
        }
        continue;
      }
      uint64_t walk = 1;
      for (size_t i = 0; i < top.childCount; ++i)
        walk = std::min(maxWalk + 1, walk + info(children[top.firstChild + i]).walk);
      Info& self = info(top.object);
      self.state = 2;
      self.walk = walk;
      if (walk > maxWalk) {
        message = "objects are shared so often that walking them would not end";
        return kErrMalformed;
      }
      children.resize(top.firstChild);
      stack.pop_back();
    }
  }
  return kOk;
}

void BreakOwnership(CPersistContext& context) {
  // Objects shared from earlier loads (cached pictures) are not this load's to take apart.
  CLinkBreaker breaker;
  for (const auto& [id, record] : context.objects)
    if (record->object && record->object.get() == record->created)
      record->object->VisitReferences(breaker);
}

// Clears plain references to objects that nothing will own once the load lets go of its records:
// they would dangle. What the roots reach through owned references stays.
void DropDanglingReferences(CPersistContext& context) {
  // What the roots own is marked the way the walks mark what they reach (object/walker.h): on the
  // objects themselves, with no table to fill and look up for every reference.
  const walker_detail::CScratchLease lease;
  walker_detail::CVisited& kept = (*lease).visited;
  // Collects the owned targets to go on to, and the plain targets that were not kept yet when
  // met: most plain references lead back to what is already kept (a parent, an owner).
  class CKeptCollector final : public CReferenceVisitor {
   public:
    explicit CKeptCollector(const walker_detail::CVisited& kept) : kept_(kept) {}
    std::vector<CBase*> children;
    std::vector<CBase*> unsure;
    bool checkAll = false;  // no room to note them: every plain reference is checked below
    void Owned(const CReference& ref) override { children.push_back(ref.target); }
    void Plain(const CReference& ref) override {
      if (checkAll || kept_.Contains(ref.target)) return;
      try {
        unsure.push_back(ref.target);
      } catch (const std::bad_alloc&) {
        checkAll = true;
      }
    }

   private:
    const walker_detail::CVisited& kept_;
  } collector(kept);
  // What is kept does not depend on the order of the visits: they go in the order the objects
  // were found, so that the objects a few visits ahead are known and can be asked for.
  std::vector<CBase*> pending;
  pending.reserve(context.roots.size() + context.objects.size());
  for (const auto& root : context.roots) pending.push_back(root.get());
  for (size_t next = 0; next < pending.size(); ++next) {
    if (next + kRequestAhead < pending.size()) RequestObject(pending[next + kRequestAhead]);
    CBase* object = pending[next];
    if (!kept.Insert(object)) continue;
    collector.children.clear();
    object->VisitReferences(collector);
    pending.insert(pending.end(), collector.children.begin(), collector.children.end());
  }
  // Nothing dangles unless a plain reference of a kept object leads out of what is kept; only
  // then are the records gone through, in id order, to clear and tell each one.
  if (!collector.checkAll &&
      std::all_of(collector.unsure.begin(), collector.unsure.end(),
                  [&](const CBase* target) { return kept.Contains(target); }))
    return;

  class CDanglingClearer final : public CReferenceVisitor {
   public:
    CDanglingClearer(const walker_detail::CVisited& kept, CPersistContext& context)
        : kept_(kept), context_(context) {}
    const CLoadRecord* holder = nullptr;
    void Owned(const CReference&) override {}
    void Plain(const CReference& ref) override {
      CBase* target = ref.target;
      if (kept_.Contains(target)) return;
      ref.Clear();
      context_.Warn(holder, std::string("referred to a ") + target->GetRuntimeClass()->className +
                                " that nothing in the file keeps; the reference was dropped");
    }

   private:
    const walker_detail::CVisited& kept_;
    CPersistContext& context_;
  } clearer(kept, context);
  const auto& entries = context.objects.InOrder();
  for (size_t i = 0; i < entries.size(); ++i) {
    RequestRecordAhead(entries, i);
    const CLoadRecord* record = entries[i].second;
    CBase* object = record->object.get();
    if (!object || object != record->created || !kept.Contains(object)) continue;
    clearer.holder = record;
    object->VisitReferences(clearer);
  }
}

Status ReadHeader(CPersistContext& context, CReader& in) {
  char magic[kMagicSize];
  in.ReadBytes(magic, kMagicSize);
  if (!in.ok()) return Fail(context, in.status(), "the file is too short for a scene header");
  int64_t major = 0, minor = 0;
  if (std::memcmp(magic, kMagic, kMagicSize) == 0) {
    int32_t ma = 0, mi = 0;
    in.Read(ma).Read(mi);
    if (!in.ok()) return Fail(context, in.status(), "the scene header is cut short");
    major = ma;
    minor = mi;
  } else if (std::memcmp(magic, kOldMagic, kMagicSize) == 0) {
    char field[kOldVersionFieldSize + 1] = {};
    in.ReadBytes(field, kOldVersionFieldSize);
    if (!in.ok()) return Fail(context, in.status(), "the scene header is cut short");
    int ma = 0, mi = 0;
    if (std::sscanf(field + kOldVersionOffset, "%1d.%2d", &ma, &mi) != 2)
      return Fail(context, kErrMalformed, "the old scene header has no readable version");
    major = ma;
    minor = mi;
  } else {
    return Fail(context, kErrMalformed, "not a scene file (unknown header)");
  }
  const int64_t version = major * 100 + minor;
  if (version < std::numeric_limits<int32_t>::min() || version > INT32_MAX)
    return Fail(context, kErrMalformed, "the scene header carries an impossible version");
  context.version = static_cast<int32_t>(version);
  return kOk;
}

Status ReadSectionName(CPersistContext& context, CReader& in, std::string& name) {
  in.Read(name);
  if (!in.ok()) return Fail(context, in.status(), "a section name is cut short");
  return kOk;
}

}  // namespace

std::string CLoadDiagnostics::Describe() const {
  std::string text = DescribeFailure();
  for (const auto& line : WarningLines()) {
    if (!text.empty()) text += "\n";
    text += "warning: " + line;
  }
  return text;
}

std::string CLoadDiagnostics::DescribeFailure() const {
  std::string text;
  if (failed()) {
    text = "status 0x";
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<uint32_t>(status));
    text += hex;
    text += " (";
    text += StatusText(status);
    text += ") at offset " + std::to_string(offset);
    if (!className.empty())
      text += " in a " + className + " record starting at offset " + std::to_string(recordOffset);
    if (!message.empty()) text += ": " + message;
  }
  return text;
}

std::string CLoadWarning::Describe() const {
  if (className.empty()) return text;
  return "a " + className + " record at offset " + std::to_string(offset) + " " + text;
}

std::vector<std::string> CLoadDiagnostics::WarningLines() const {
  std::vector<std::string> lines;
  lines.reserve(warnings.size() + 1);
  for (const auto& warning : warnings) lines.push_back(warning.Describe());
  if (warningsNotKept)
    lines.push_back(std::to_string(warningsNotKept) + " more warning(s) like these");
  return lines;
}

CPersistContext::~CPersistContext() {
  // Records hold the loaded objects; the roots, the thumbnail and the extended information keep
  // what the caller uses.
  ClearRecords();
}

CLoadRecord* CPersistContext::NewRecord() {
  return &records_.emplace_back();
}

CBase* CPersistContext::ObjectForId(int32_t id) const {
  if (id == 0) return nullptr;
  const CLoadRecord* record = objects.Find(id);
  return record ? record->object.get() : nullptr;
}

void CPersistContext::Warn(std::string className, uint64_t offset, std::string text) {
  // A hostile file could produce one warning per record; a few are enough to tell what is wrong,
  // and the rest are counted.
  constexpr size_t kMaxWarnings = 100;
  if (diagnostics.warnings.size() >= kMaxWarnings) {
    ++diagnostics.warningsNotKept;
    return;
  }
  try {
    diagnostics.warnings.push_back({std::move(className), offset, std::move(text)});
  } catch (const std::bad_alloc&) {
    ++diagnostics.warningsNotKept;
  }
}

void CPersistContext::Warn(const CLoadRecord* record, std::string text) {
  const CBase* object = record ? record->object.get() : nullptr;
  Warn(object ? object->GetRuntimeClass()->className : "", record ? record->offset : 0,
       std::move(text));
}

void CPersistContext::ClearRecords() {
  // Their memory goes back too: a conversion makes its new objects right after the load.
  objects.clear();
  duplicates.clear();
  decltype(records_)().swap(records_);
}

bool CPersistContext::IsRoot(const CBase* object) {
  if (rootSet_.size() != roots.size()) {
    rootSet_.clear();
    for (const auto& root : roots) rootSet_.insert(root.get());
  }
  return rootSet_.contains(object);
}

Status AddRoot(CPersistContext& context, CBase* object) {
  if (!object) return kErrBadArgument;
  if (context.IsRoot(object)) return kNothingDone;
  try {
    context.roots.emplace_back(object);
    context.rootSet_.insert(object);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  return kOk;
}

Status ReadObject(CPersistContext& context, CReader& in, const std::string& className,
                  CRefPtr<CBase>& out) {
  auto& d = context.diagnostics;
  const uint64_t recordOffset = in.Offset();
  d.className = className;
  d.recordOffset = recordOffset;
  int32_t recordSize = -1;
  if (!in.OldLayout()) {
    in.Read(recordSize);
    if (!in.ok()) return Fail(context, in.status(), "the record size is cut short");
  }
  Status status = CreateObject(className, out);
  if (status == kErrUnknownClass)
    return Fail(context, status, "unknown class \"" + className + "\"");
  if (Failed(status)) return Fail(context, status, "the object could not be created");

  CLoadRecord* record = nullptr;
  try {
    record = context.NewRecord();
  } catch (const std::bad_alloc&) {
    return Fail(context, kErrOutOfMemory, "no memory for the load record");
  }
  record->object = out;
  record->created = out.get();
  record->offset = recordOffset;
  CReader objectIn(*context.stream, context.cookie, context.version, &context, record);
  status = out->Load(objectIn);
  if (Failed(status)) return Fail(context, status, "");
  out = record->object;  // the class may have answered a shared object in its place
  if (recordSize >= 0) {
    const uint64_t consumed = in.Offset() - recordOffset - 4;
    if (consumed != static_cast<uint64_t>(recordSize))
      context.Warn(className, recordOffset,
                   "declares " + std::to_string(recordSize) + " bytes but holds " +
                       std::to_string(consumed));
  }
  return kOk;
}

namespace {

// The thumbnail section.
Status ReadThumbnailSection(CPersistContext& context, CReader& in) {
  std::string section;
  KX_RETURN_IF_FAILED(ReadSectionName(context, in, section));
  if (in.OldLayout()) {
    if (section != kOldThumbnailSection)
      return Fail(context, kErrMalformed, "the old layout's thumbnail section is missing");
    KX_RETURN_IF_FAILED(ReadObject(context, in, "CThumbnail", context.thumbnail));
  } else if (!section.empty()) {
    if (section != kThumbnailSection)
      return Fail(context, kErrMalformed,
                  "unknown section \"" + section + "\" where the thumbnail belongs");
    std::string className;
    KX_RETURN_IF_FAILED(ReadSectionName(context, in, className));
    KX_RETURN_IF_FAILED(ReadObject(context, in, className, context.thumbnail));
  }
  return kOk;
}

// The extended-information section of the current layout.
Status ReadExtInfoSection(CPersistContext& context, CReader& in) {
  std::string section;
  KX_RETURN_IF_FAILED(ReadSectionName(context, in, section));
  if (!section.empty()) {
    if (section != kExtInfoSection)
      return Fail(context, kErrMalformed,
                  "unknown section \"" + section + "\" where the extended information belongs");
    int32_t count = 0;
    in.Read(count);
    if (!in.ok() || count < 1)
      return Fail(context, kErrMalformed, "the extended information has no records");
    // Every record takes at least its class name's length and its size.
    if (!in.CanHold(count, 8))
      return Fail(context, in.status(), "the extended-information count exceeds the file");
    try {
      context.extInfo.assign(static_cast<size_t>(count), nullptr);
    } catch (const std::bad_alloc&) {
      return Fail(context, kErrOutOfMemory, "");
    }
    for (auto& entry : context.extInfo) {
      std::string className;
      KX_RETURN_IF_FAILED(ReadSectionName(context, in, className));
      KX_RETURN_IF_FAILED(ReadObject(context, in, className, entry));
    }
  }
  return kOk;
}

// Objects until the end of the stream. Pictures decode and large arrays are read beside the
// reading; a job that fails fails the load at its own record, whatever was read after it.
Status ReadObjectRecords(CPersistContext& context, CIoBuffer& stream, CReader& in) {
  context.roots.clear();
  context.saveList.clear();
  context.saveListIds.clear();
  CLoadJobs jobs(context);
  context.jobs = &jobs;
  const Status read = [&]() -> Status {
    // One name for every record: its room, once grown, serves the longer class names too.
    std::string className;
    while (!stream.IsEnd()) {
      KX_RETURN_IF_FAILED(ReadSectionName(context, in, className));
      const bool isRoot = className == kRootMarker || className == kOldRootMarker;
      if (isRoot) KX_RETURN_IF_FAILED(ReadSectionName(context, in, className));
      CRefPtr<CBase> object;
      KX_RETURN_IF_FAILED(ReadObject(context, in, className, object));
      if (isRoot && object) KX_RETURN_IF_FAILED(AddRoot(context, object.get()));
    }
    return kOk;
  }();
  const Status finished = jobs.Finish();
  context.jobs = nullptr;
  if (Failed(finished)) return finished;
  return read;
}

// Link pass, in ascending id order. A failing Link ends the pass but not the load.
void LinkRecords(CPersistContext& context) {
  const auto& entries = context.objects.InOrder();
  for (size_t i = 0; i < entries.size(); ++i) {
    RequestRecordAhead(entries, i);
    CLoadRecord* record = entries[i].second;
    if (record->linked) continue;
    CLinker linker(context, *record);
    const Status status = record->object->Link(linker);
    record->linked = true;
    if (Failed(status)) {
      context.Warn(record, std::string("could not be linked (") + StatusText(status) +
                               "); the objects after it stay unlinked");
      break;
    }
  }
}

}  // namespace

Status LoadFromStream(CPersistContext& context, CIoBuffer& stream, int32_t cookie) {
  context.stream = &stream;
  context.cookie = cookie;
  context.diagnostics = {};
  context.linkRefusal = kOk;
  context.linkRefusalMessage.clear();
  {
    CReader header(stream, cookie, kCurrentStreamVersion, &context, nullptr);
    KX_RETURN_IF_FAILED(ReadHeader(context, header));
  }
  CReader in(stream, cookie, context.version, &context, nullptr);
  // The thumbnail and the extended information are read, never linked: their records go before
  // the objects' are read.
  context.ClearRecords();
  KX_RETURN_IF_FAILED(ReadThumbnailSection(context, in));
  context.ClearRecords();
  if (!in.OldLayout()) {
    KX_RETURN_IF_FAILED(ReadExtInfoSection(context, in));
    context.ClearRecords();
  }
  KX_RETURN_IF_FAILED(ReadObjectRecords(context, stream, in));
  context.diagnostics.className.clear();
  // The passes below walk the records in id order; the order is made once, here.
  if (Failed(TryAllocate([&] { (void)context.objects.InOrder(); })))
    return Fail(context, kErrOutOfMemory, "no memory for the table of object ids");
  LinkRecords(context);

  std::string message;
  Status status = context.linkRefusal;
  if (Failed(status))
    message = context.linkRefusalMessage;
  else
    status = CheckOwnership(context, message);
  if (Failed(status)) {
    BreakOwnership(context);
    context.ClearRecords();
    return Fail(context, status, message);
  }
  DropDanglingReferences(context);
  context.ClearRecords();
  return kOk;
}

namespace {

// Where the save puts the records of its save list as it writes them: each record is written
// once, here, and its size word is filled in from the bytes it took, instead of running every
// Save twice (once only to count). Records larger than kMaxStaged, and any record whose Save
// fails here, are left to the counting Save and written straight to the stream, as before; so
// are all records once a chunk cannot be had.
//
// A save to a stream that wants the size of the whole file first keeps every chunk until all
// records are staged; any other save reuses one chunk, handing its records to the stream
// whenever it cannot take another record, so that its memory does not grow with the scene.
class CStagingIo final : public CIoBuffer {
 public:
  static constexpr size_t kMaxStaged = 64 * 1024;
  // Held chunks: few allocations however many records. The reused chunk is smaller, so that
  // it stays in the cache between one record and the next and its writes stay large.
  static constexpr size_t kHeldChunkSize = 1024 * 1024;
  static constexpr size_t kStreamedChunkSize = 256 * 1024;
  static_assert(kStreamedChunkSize >= 2 * kMaxStaged);

  explicit CStagingIo(size_t chunkSize) : chunkSize_(chunkSize) {}

  // Where a staged record lies: bytes [begin, end) of chunk `chunk`.
  struct Span {
    uint32_t chunk;
    uint32_t begin;
    uint32_t end;
  };

  // Opens a record at the end of what is staged; false when no room could be had.
  bool Begin() {
    if (chunks_.empty() || Full()) {
      if (chunks_.size() == chunks_.capacity()) {
        try {
          chunks_.reserve(chunks_.size() * 2 + 8);
        } catch (const std::bad_alloc&) {
          broken_ = true;
          return false;
        }
      }
      auto* chunk = new (std::nothrow) uint8_t[chunkSize_];
      if (!chunk) {
        broken_ = true;
        return false;
      }
      chunks_.emplace_back(chunk);
      outCursor_ = chunk;
    }
    begin_ = Used();
    outEnd_ = outCursor_ + kMaxStaged;
    return true;
  }
  // True when the last chunk has no room for another record.
  bool Full() const { return !chunks_.empty() && chunkSize_ - Used() < kMaxStaged; }
  // The record opened last, as it stands.
  Span Current() const {
    return {static_cast<uint32_t>(chunks_.size() - 1), static_cast<uint32_t>(begin_),
            static_cast<uint32_t>(Used())};
  }
  // True once room could not be had: nothing more is staged.
  bool broken() const { return broken_; }
  // Forgets the record opened last.
  void Drop() { outCursor_ = chunks_.back().get() + begin_; }
  uint8_t* At(const Span& span) const { return chunks_[span.chunk].get() + span.begin; }
  // Everything staged in the last chunk; Rewind forgets it, so that the chunk is used again.
  std::span<const uint8_t> Staged() const {
    if (chunks_.empty()) return {};
    return {chunks_.back().get(), Used()};
  }
  void Rewind() {
    if (!chunks_.empty()) outCursor_ = chunks_.back().get();
  }

  bool IsEnd() const override { return true; }
  Status Read(void*, size_t, size_t, int32_t) override { return kErrStream; }
  Status Write(const void* source, size_t count, int32_t) override {
    // Only what does not fit the record's room comes here: the record is too large to stage.
    if (count > static_cast<size_t>(outEnd_ - outCursor_)) return kErrStream;
    std::memcpy(outCursor_, source, count);
    outCursor_ += count;
    return kOk;
  }
  Status Skip(int64_t) override { return kErrStream; }
  uint64_t Tell() const override { return chunks_.empty() ? 0 : Used(); }
  uint64_t Remaining() const override { return 0; }

 private:
  size_t Used() const { return static_cast<size_t>(outCursor_ - chunks_.back().get()); }
  const size_t chunkSize_;
  std::vector<std::unique_ptr<uint8_t[]>> chunks_;
  size_t begin_ = 0;
  bool broken_ = false;
};

// Stages the root marker (when `object` is a root) and the record of `object`, with its size
// word filled in. False, with nothing staged, when the record must be counted and written the
// usual way.
bool StageRecord(CPersistContext& context, CStagingIo& staging, const CBase& object, int32_t cookie,
                 CStagingIo::Span& span, int64_t& recordBytes) {
  if (staging.broken() || !staging.Begin()) return false;
  CWriter out(staging, cookie, &context);
  if (context.IsRoot(&object)) out.Write(kRootMarker);
  const uint64_t start = staging.Tell();
  const std::string_view className = object.GetRuntimeClass()->className;
  context.sizeWordLater = &object;
  const Status saved = object.Save(out);
  context.sizeWordLater = nullptr;
  if (Failed(saved)) {
    staging.Drop();
    return false;
  }
  span = staging.Current();
  recordBytes = static_cast<int64_t>(staging.Tell() - start);
  uint8_t* record = staging.At(span) + (span.end - span.begin - recordBytes);
  // Every record opens with its class name and then its size word (CBase::Save).
  const auto nameSize = static_cast<int32_t>(className.size());
  int32_t storedNameSize = 0;
  std::memcpy(&storedNameSize, record, 4);
  if (recordBytes < 8 + nameSize || storedNameSize != nameSize ||
      std::memcmp(record + 4, className.data(), className.size()) != 0) {
    staging.Drop();
    return false;
  }
  const auto sizeWord = static_cast<int32_t>(recordBytes - nameSize - 8);
  std::memcpy(record + 4 + nameSize, &sizeWord, 4);
  return true;
}

// A record of the save list that could not be staged: its root marker, when it is a root, then
// the record, written straight to the stream. Its size word and its bytes come from the same Save
// (GetSaveSize counts it), so they cannot disagree.
Status WriteUnstaged(CPersistContext& context, CWriter& out, const CBase& object) {
  if (context.IsRoot(&object)) out.Write(kRootMarker);
  KX_RETURN_IF_FAILED(out.status());
  return object.Save(out);
}

// The header, the thumbnail and the extended information: what comes before the records.
Status WriteHead(CPersistContext& context, CWriter& out) {
  out.WriteBytes(kMagic, kMagicSize).Write(kCurrentMajor).Write(kCurrentMinor);
  if (context.thumbnail) {
    out.Write(kThumbnailSection);
    KX_RETURN_IF_FAILED(out.status());
    KX_RETURN_IF_FAILED(context.thumbnail->Save(out));
  } else {
    out.Write(std::string());
  }
  if (context.extInfo.empty()) {
    out.Write(std::string());
  } else {
    out.Write(kExtInfoSection).Write(static_cast<int32_t>(context.extInfo.size()));
    KX_RETURN_IF_FAILED(out.status());
    for (const auto& entry : context.extInfo) KX_RETURN_IF_FAILED(entry->Save(out));
  }
  return out.status();
}

// The records of the save list, each handed to the stream soon after it is made: staged
// records go out a chunk at a time, and the chunk is used again. A record that cannot be
// staged is counted and written straight after the staged records before it.
Status WriteRecordsAsMade(CPersistContext& context, CWriter& out, int32_t cookie) {
  CStagingIo staging(CStagingIo::kStreamedChunkSize);
  auto flush = [&]() -> Status {
    const std::span<const uint8_t> staged = staging.Staged();
    if (!staged.empty()) out.WriteBytes(staged.data(), staged.size());
    staging.Rewind();
    return out.status();
  };
  for (size_t i = 0; i < context.saveList.size(); ++i) {
    RequestAhead(context.saveList, i);
    const CBase* object = context.saveList[i];
    context.writing = i;
    if (staging.Full()) KX_RETURN_IF_FAILED(flush());
    CStagingIo::Span span{0, 0, 0};
    int64_t size = 0;
    if (StageRecord(context, staging, *object, cookie, span, size)) continue;
    KX_RETURN_IF_FAILED(flush());
    context.saveSizes[object] = object->GetSaveSize();
    KX_RETURN_IF_FAILED(WriteUnstaged(context, out, *object));
  }
  return flush();
}

// The records of the save list for a stream that is told the size of the whole file before the
// first byte: every record is staged (or counted) first, then the whole file is written.
Status WriteAllRecordsAfterTotal(CPersistContext& context, CIoBuffer& stream, int32_t cookie,
                                 int64_t total, int64_t largest) {
  CStagingIo staging(CStagingIo::kHeldChunkSize);
  std::vector<CStagingIo::Span> spans;
  try {
    spans.resize(context.saveList.size(), CStagingIo::Span{0, 0, 0});
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  for (size_t i = 0; i < context.saveList.size(); ++i) {
    RequestAhead(context.saveList, i);
    const CBase* object = context.saveList[i];
    context.writing = i;
    int64_t size = 0;
    if (!StageRecord(context, staging, *object, cookie, spans[i], size))
      size = context.saveSizes[object] = object->GetSaveSize();
    total += size;
    largest = std::max(largest, size);
  }

  KX_RETURN_IF_FAILED(stream.Reserve(total, largest));

  CWriter out(stream, cookie, &context);
  KX_RETURN_IF_FAILED(WriteHead(context, out));
  // Staged records that follow one another in a chunk go out in one write.
  CStagingIo::Span pending{0, 0, 0};
  auto flush = [&]() -> Status {
    if (pending.end > pending.begin)
      out.WriteBytes(staging.At(pending), pending.end - pending.begin);
    pending = {0, 0, 0};
    return out.status();
  };
  for (size_t i = 0; i < context.saveList.size(); ++i) {
    const CStagingIo::Span& span = spans[i];
    if (span.end > span.begin) {
      if (span.chunk != pending.chunk || span.begin != pending.end) {
        KX_RETURN_IF_FAILED(flush());
        pending = span;
      } else {
        pending.end = span.end;
      }
      continue;
    }
    KX_RETURN_IF_FAILED(flush());
    context.writing = i;
    KX_RETURN_IF_FAILED(WriteUnstaged(context, out, *context.saveList[i]));
  }
  return flush();
}

}  // namespace

Status SaveToStream(CPersistContext& context, CIoBuffer& stream, int32_t cookie) {
  context.stream = &stream;
  context.cookie = cookie;
  context.measuring = true;
  context.saveList.clear();
  context.saveListIds.clear();
  context.saveIds.Clear();
  context.saveSizes.Clear();
  struct Done {
    CPersistContext& c;
    ~Done() {
      c.measuring = false;
      c.saveList.clear();
      c.saveListIds.clear();
      c.writing = std::string::npos;
      c.saveIds.Clear();
      c.saveSizes.Clear();
    }
  } done{context};

  int64_t total = 16;
  int64_t largest = 16;
  if (context.thumbnail) {
    const int64_t part =
        static_cast<int64_t>(kThumbnailSection.size()) + 4 +
        (context.saveSizes[context.thumbnail.get()] = context.thumbnail->GetSaveSize());
    total += part;
    largest = std::max(largest, part);
  }
  if (!context.extInfo.empty()) {
    total += static_cast<int64_t>(kExtInfoSection.size()) + 8;
    for (const auto& entry : context.extInfo) {
      if (!entry) return kErrBadArgument;
      const int64_t size = context.saveSizes[entry.get()] = entry->GetSaveSize();
      total += size;
      largest = std::max(largest, size);
    }
  }
  // Ids 1..n in write order, so the same objects always give the same bytes: the thumbnail and
  // the extended information first, then each object as the collection reaches it. No id
  // depends on a size, so they are given before the records are staged (which writes
  // references). The first ids stay negative while collecting, so that an object written
  // before the list still joins it when a root reaches it.
  auto giveFirst = [&](const CBase* object) {
    auto [id, isNew] = context.saveIds.Insert(object);
    if (isNew) id = -static_cast<int32_t>(context.saveIds.size());
  };
  if (context.thumbnail) giveFirst(context.thumbnail.get());
  for (const auto& entry : context.extInfo) giveFirst(entry.get());
  for (const auto& root : context.roots) {
    if (!root) return kErrBadArgument;
    KX_RETURN_IF_FAILED(root->CollectForSave(context));
  }
  total +=
      static_cast<int64_t>(context.roots.size()) * (static_cast<int64_t>(kRootMarker.size()) + 4);
  auto keep = [&](const CBase* object) {
    int32_t& id = context.saveIds[object];
    if (id < 0) id = -id;
  };
  if (context.thumbnail) keep(context.thumbnail.get());
  for (const auto& entry : context.extInfo) keep(entry.get());

  if (stream.WantsTotal())
    return WriteAllRecordsAfterTotal(context, stream, cookie, total, largest);
  CWriter out(stream, cookie, &context);
  KX_RETURN_IF_FAILED(WriteHead(context, out));
  return WriteRecordsAsMade(context, out, cookie);
}

Status LoadFile(int32_t cookie, CPersistContext& context, const std::string& path) {
  CFileIo file;
  if (const Status status = file.OpenRead(path); Failed(status)) {
    context.diagnostics = {};
    context.diagnostics.status = status;
    context.diagnostics.message = "cannot open " + path;
    return status;
  }
  const Status status = LoadFromStream(context, file, cookie);
  file.Close().Ignore();  // read-only: everything needed has been read
  context.stream = nullptr;
  return status;
}

Status SaveFile(int32_t cookie, CPersistContext& context, const std::string& path) {
  return SaveFile(cookie, context, path, true, nullptr);
}

Status SaveFile(int32_t cookie, CPersistContext& context, const std::string& path, bool replace,
                CSaveFailure* failure) {
  if (path.empty()) return kErrBadArgument;
  CAtomicFile target;
  auto fail = [&](Status status, int error, const std::string& reason) {
    if (failure) {
      failure->error = error;
      failure->reason = reason;
    }
    return status;
  };
  if (const Status status = target.Create(path, replace); Failed(status))
    return fail(status, target.error(), target.reason());

  CFileIo file;
  Status status = file.OpenWrite(target.temporaryPath());
  if (Failed(status)) return fail(status, errno, std::strerror(errno));
  status = SaveToStream(context, file, cookie);
  if (Succeeded(status)) status = file.Flush();
  const Status closed = file.Close();
  if (Succeeded(status)) status = closed;
  const int error = Failed(status) ? file.writeError : 0;
  context.stream = nullptr;
  if (Failed(status))
    return fail(status, error,
                error ? std::string("write failed: ") + std::strerror(error) : std::string());
  if (const Status committed = target.Commit(); Failed(committed))
    return fail(committed, target.error(), target.reason());
  return kOk;
}

}  // namespace KX
