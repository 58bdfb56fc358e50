#pragma once
// Typed reads and writes for the class blocks of the scene container. A reader or writer keeps
// the first failure and ignores everything after it, so a class's Load and Save read like the
// field table they implement and check the status once at the end:
//
//   const int32_t version = in.Version(classRecord);
//   in.Read(outOfRange).Read(priority).Read(timeScale).Ref().Ref();
//   return in.status();
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "object/base.h"
#include "core/bulk_memory.h"
#include "object/fields.h"
#include "core/io_buffer.h"
#include "core/small_array.h"

namespace KX {

static_assert(std::endian::native == std::endian::little,
              "the container stores the memory image of little-endian values");

// Stream versions: 201 for files written here; below 200 the old layout.
inline constexpr int32_t kCurrentStreamVersion = 201;
inline constexpr int32_t kFirstNewLayoutVersion = 200;

// The ids a record's Load queued for its Link, in order: the few that nearly every class has in
// the record itself, any more on the heap.
using CQueuedIds = CSmallArray<int32_t, std::allocator<int32_t>, 24>;

// What the loader knows about one object record while the file is read and linked. A load keeps
// one per object until it has linked them all: they stay small.
struct CLoadRecord {
  CRefPtr<CBase> object;
  // The object the loader created for the record; `object` differs when the class answered an
  // object loaded before (a shared, cached picture) in its place.
  CBase* created = nullptr;
  uint64_t offset = 0;  // where the record starts in the stream
  CQueuedIds ids;       // references read by Load, consumed in the same order by Link
  uint32_t idCursor = 0;
  bool linked = false;
  // Stored versions of the class levels whose block is older than the class: what Link needs
  // to tell older layouts apart. Levels stored at their class's own version (nearly all of them)
  // take no room.
  struct ClassVersion {
    const CRuntimeClass* cls = nullptr;
    int32_t version = 0;
  };
  std::vector<ClassVersion> classVersions;

  void SetStoredVersion(const CRuntimeClass& cls, int32_t version);

  // Stored version of a class level: as recorded; otherwise the stream version in the old layout
  // and the class's own version in the current one.
  int32_t StoredVersion(const CRuntimeClass& cls, int32_t streamVersion) const;
};

// Types whose memory image is their file image.
template <class T>
concept PlainValue = std::is_trivially_copyable_v<T> && !std::is_same_v<T, bool> &&
                     !std::is_pointer_v<T>;

class CReader {
 public:
  CReader(CIoBuffer& stream, int32_t cookie, int32_t streamVersion,
          CPersistContext* context = nullptr, CLoadRecord* record = nullptr)
      : stream_(stream),
        context_(context),
        record_(record),
        cookie_(cookie),
        streamVersion_(streamVersion) {}

  Status status() const { return status_; }
  bool ok() const { return Succeeded(status_); }
  // Keeps the first failure.
  void Fail(Status s) {
    if (ok() && Failed(s)) status_ = s;
  }
  int32_t StreamVersion() const { return streamVersion_; }
  bool OldLayout() const { return streamVersion_ < kFirstNewLayoutVersion; }
  uint64_t Remaining() const { return stream_.Remaining(); }
  uint64_t Offset() const { return stream_.Tell(); }
  CIoBuffer& stream() const { return stream_; }
  CPersistContext& context() const { return *context_; }
  // Null when the reader reads outside a load (plain values, tests).
  CPersistContext* contextOrNull() const { return context_; }
  CLoadRecord& record() const { return *record_; }
  // Null when the reader reads plain values outside an object record.
  CLoadRecord* recordOrNull() const { return record_; }
  int32_t cookie() const { return cookie_; }

  template <PlainValue T>
  CReader& Read(T& value) {
    return ReadBytes(&value, sizeof(T));
  }
  CReader& Read(bool& value);  // one byte, any non-zero value is true
  CReader& Read(std::string& text);  // int32 byte count, bytes
  // int32 count and UTF-16 units; in the old layout an 8-bit string, byte by byte.
  CReader& Read(std::u16string& text);
  CReader& ReadBytes(void* dest, size_t count) {
    if (count <= kInlineBytes && ok() && stream_.TryReadInline(dest, count)) return *this;
    return ReadBytesThroughStream(dest, count);
  }
  CReader& Skip(uint64_t count);

  template <class T>
  T Get() {
    T value{};
    Read(value);
    return value;
  }

  // True when `count` elements of `elementSize` bytes can still come from the stream; otherwise
  // fails the reader with kErrStream, before anything is allocated for them.
  bool CanHold(int64_t count, size_t elementSize);

  // Reads `count` elements in one transfer, after checking they fit in what is left; the elements
  // are not zeroed first where the array can leave them uninitialised (small and bulk arrays).
  template <class Array>
    requires PlainValue<typename Array::value_type>
  CReader& ReadArray(Array& values, int64_t count) {
    using T = typename Array::value_type;
    if (!ok()) return *this;
    if (!CanHold(count, sizeof(T))) return *this;
    try {
      ResizeForOverwrite(values, static_cast<size_t>(count));
    } catch (const std::bad_alloc&) {
      Fail(kErrOutOfMemory);
      return *this;
    }
    ReadBytes(values.data(), values.size() * sizeof(T));
    // The elements were not initialised for the read: one that failed leaves zeros, never what
    // the memory held before.
    if (!ok()) std::fill(values.begin(), values.end(), T{});
    return *this;
  }
  // Like ReadArray, for a bulk array whose elements nothing looks at before the load has linked:
  // during a load, the bytes of a large one may be read on another thread while this one goes
  // on (core/block_reads.h). Until the load waits for its jobs the elements are not the file's
  // yet, and builds with AddressSanitizer report a look at them (core/pending_memory.h); a Load
  // that reads them itself keeps its reader on reads in place (CReadInPlace).
  template <PlainValue T>
  CReader& ReadArrayAside(CBulkArray<T>& values, int64_t count) {
    // Only the blocks of large arrays settle the reads into them when they are freed.
    constexpr uint64_t kLarge = (CBulkArena::kMinimumBytes + sizeof(T) - 1) / sizeof(T);
    if (count < 0 || static_cast<uint64_t>(count) < kLarge || !ReadsAside())
      return ReadArray(values, count);
    if (!ok() || !CanHold(count, sizeof(T))) return *this;
    try {
      const CPagesLeftToFiller left;
      ResizeForOverwrite(values, static_cast<size_t>(count));
    } catch (const std::bad_alloc&) {
      Fail(kErrOutOfMemory);
      return *this;
    }
    ReadBytesAside(values.data(), values.size() * sizeof(T));  // leaves zeros where it fails
    return *this;
  }
  // An int32 element count, then the elements.
  template <class Array>
    requires PlainValue<typename Array::value_type>
  CReader& ReadCountedArray(Array& values) {
    const int32_t count = Get<int32_t>();
    return ReadArray(values, count);
  }

  // Reads the version pair of a class level (or takes the stream version in the old layout),
  // refuses one newer than the class's own and records it for Link. Answers the stored version.
  int32_t Version(const CRuntimeClass& cls);
  // Reads an object id and queues it for Link.
  CReader& Ref();
  CReader& Ref(int32_t& id);
  // Queues an id read as part of a larger value, for Link.
  void QueueId(int32_t id);
  // Every reference to this record's id will reach `shared`, an object loaded before, instead of
  // the object being read, which is dropped with the record.
  void ReplaceObject(CBase* shared);
  // Registers the object under the id read by its base block.
  void RegisterId(int32_t id);

 private:
  friend class CReadInPlace;
  // Fields up to this size are copied inline; larger arrays go to the stream, which may move
  // them straight from the file.
  static constexpr size_t kInlineBytes = 256;
  // Reads that one thread hands another come in pieces of at most this size, so that a single
  // huge array is read by every thread there is.
  static constexpr size_t kAsidePieceBytes = size_t{4} << 20;
  CReader& ReadBytesThroughStream(void* dest, size_t count);
  // True when large arrays may be read beside the load (ReadArrayAside).
  bool ReadsAside() const;
  // The read of a large array when ReadsAside(): what the stream leaves for later goes to the
  // load's jobs. Where it fails, and in what it never asked for after that, it leaves zeros.
  void ReadBytesAside(void* dest, size_t count);

  CIoBuffer& stream_;
  CPersistContext* context_;
  CLoadRecord* record_;
  int32_t cookie_;
  int32_t streamVersion_;
  Status status_ = kOk;
  bool inPlace_ = false;
};

// Keeps a reader's array reads in place while it lives: for a Load that looks at its arrays
// before the load ends.
class CReadInPlace {
 public:
  explicit CReadInPlace(CReader& in) : in_(in), was_(in.inPlace_) { in.inPlace_ = true; }
  ~CReadInPlace() { in_.inPlace_ = was_; }
  CReadInPlace(const CReadInPlace&) = delete;
  CReadInPlace& operator=(const CReadInPlace&) = delete;

 private:
  CReader& in_;
  const bool was_;
};

// Resolves the ids a Load queued, in the same order.
class CLinker {
 public:
  CLinker(CPersistContext& context, CLoadRecord& record) : context_(context), record_(record) {}

  // The next queued id (0 when none are left).
  int32_t NextId();
  // The object loaded under the next queued id, or null.
  CBase* NextObject();

  // Sets `ref` to the object under the next id. An object of the wrong class is not linked:
  // the reference stays null and the load diagnostics record a warning.
  template <class T>
  void Resolve(CRefPtr<T>& ref) {
    ref = Checked<T>(NextObject());
  }
  template <class T>
  void Resolve(T*& ref) {
    ref = Checked<T>(NextObject());
  }
  // As Resolve, for a slot typed more generally than what the record may hold there: an object
  // that is no `Required` is dropped with the same warning.
  template <class Required, class T>
  void ResolveAs(CRefPtr<T>& ref) {
    ref = Checked<Required>(NextObject());
  }

  int32_t StoredVersion(const CRuntimeClass& cls) const;
  int32_t StreamVersion() const;
  // Refuses the whole load once the link pass is over, for a graph the loader must not hand
  // out (a child listed by two parents, ...). Unlike a failing Link, which only stops the pass.
  void Refuse(Status status, std::string message);
  CPersistContext& context() const { return context_; }
  CLoadRecord& record() const { return record_; }

 private:
  template <class T>
  T* Checked(CBase* object) {
    if (!object) return nullptr;
    if (T* typed = SlotCast<T>(object)) return typed;
    WrongClass(object, T::classRecord);
    return nullptr;
  }
  void WrongClass(CBase* object, const CRuntimeClass& expected);

  CPersistContext& context_;
  CLoadRecord& record_;
};

// Writes class blocks. Fields are written by name (Field, FieldArray, Ref with a name): the
// bytes go to the stream and, when a field sink is attached, the value is listed under that name.
// Counts and presence words that only frame a listed field are written with Count; values that a
// Save lists in another shape than it stores them are listed with Note and stored with Data.
// Write and WriteBytes store without a name; with a sink attached their bytes are counted as
// unlisted, which is how tests find a field a class forgot to name.
class CWriter {
 public:
  CWriter(CIoBuffer& stream, int32_t cookie, CPersistContext* context = nullptr,
          CFieldSink* fields = nullptr)
      : stream_(&stream), context_(context), fields_(fields), cookie_(cookie) {}
  // A writer that stores nothing and only counts: what GetSaveSize runs Save through, so that
  // a record's size comes from the same lines that write it.
  struct CountOnly {};
  explicit CWriter(CountOnly) : stream_(nullptr), context_(nullptr), fields_(nullptr), cookie_(0) {}
  bool Counting() const { return stream_ == nullptr; }

  Status status() const { return status_; }
  bool ok() const { return Succeeded(status_); }
  void Fail(Status s) {
    if (ok() && Failed(s)) status_ = s;
  }
  uint64_t BytesWritten() const { return written_; }
  int32_t cookie() const { return cookie_; }
  CPersistContext* context() const { return context_; }
  // The sink that lists named fields; null when only bytes are wanted.
  CFieldSink* fields() const { return fields_; }
  // Bytes stored without a name while a sink was attached.
  uint64_t UnlistedBytes() const { return unlisted_; }

  // --- named fields -----------------------------------------------------------------------
  template <class T>
  CWriter& Field(const char* name, const T& value) {
    if (fields_) Describe(*fields_, name, value);
    return Store(value);
  }
  template <PlainValue T>
  CWriter& FieldArray(const char* name, std::span<const T> values) {
    if (fields_) DescribeList(*fields_, name, values);
    return StoreBytes(values.data(), values.size_bytes());
  }
  template <PlainValue T, class Allocator>
  CWriter& FieldArray(const char* name, const std::vector<T, Allocator>& values) {
    return FieldArray(name, std::span<const T>(values));
  }
  template <PlainValue T, class Allocator, size_t kInlineBytes>
  CWriter& FieldArray(const char* name, const CSmallArray<T, Allocator, kInlineBytes>& values) {
    return FieldArray(name, std::span<const T>(values));
  }
  // Opaque bytes under one name.
  CWriter& FieldBytes(const char* name, const void* source, size_t count);
  // The id of a referenced object; 0 for null or for an object this save does not write.
  CWriter& Ref(const char* name, const CBase* object);
  // The version pair of a class level; the fields after it belong to that level.
  CWriter& Version(const CRuntimeClass& cls);

  // A count or presence word that frames a listed field: stored, not listed.
  template <std::integral T>
  CWriter& Count(T value) {
    return Store(value);
  }
  // Lists a value without storing it; the bytes follow through Data.
  template <class T>
  CWriter& Note(const char* name, const T& value) {
    if (fields_) Describe(*fields_, name, value);
    return *this;
  }
  // Lists a field the record marks as not stored.
  CWriter& Absent(const char* name) {
    if (fields_) fields_->Absent(name);
    return *this;
  }
  // Stores what Note listed, or what is not a field at all (record headers, ids).
  template <class T>
  CWriter& Data(const T& value) {
    return Store(value);
  }
  CWriter& DataBytes(const void* source, size_t count) { return StoreBytes(source, count); }

  // A list or record of the listing, open for the lifetime of the returned scope.
  class Scope {
   public:
    Scope(CFieldSink* sink, bool record, const char* name) : sink_(sink), record_(record) {
      if (sink_) record_ ? sink_->BeginRecord(name) : sink_->BeginList(name);
    }
    ~Scope() {
      if (sink_) record_ ? sink_->EndRecord() : sink_->EndList();
    }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    CFieldSink* sink_;
    bool record_;
  };
  [[nodiscard]] Scope List(const char* name) { return Scope(fields_, false, name); }
  [[nodiscard]] Scope Record(const char* name) { return Scope(fields_, true, name); }

  // --- unnamed values ---------------------------------------------------------------------
  template <class T>
  CWriter& Write(const T& value) {
    const uint64_t before = written_;
    Store(value);
    if (fields_) unlisted_ += written_ - before;
    return *this;
  }
  CWriter& WriteBytes(const void* source, size_t count) {
    const uint64_t before = written_;
    StoreBytes(source, count);
    if (fields_) unlisted_ += written_ - before;
    return *this;
  }
  template <PlainValue T>
  CWriter& WriteArray(std::span<const T> values) {
    return WriteBytes(values.data(), values.size_bytes());
  }
  template <PlainValue T, class Allocator>
  CWriter& WriteArray(const std::vector<T, Allocator>& values) {
    return WriteArray(std::span<const T>(values));
  }

  int32_t IdOf(const CBase* object) const;

 private:
  template <PlainValue T>
  CWriter& Store(const T& value) {
    return StoreBytes(&value, sizeof(T));
  }
  CWriter& Store(bool value);
  // int32 byte count, bytes.
  CWriter& Store(std::string_view text);
  CWriter& Store(const std::string& text) { return Store(std::string_view(text)); }
  // int32 count, UTF-16 units.
  CWriter& Store(const std::u16string& text);
  CWriter& StoreBytes(const void* source, size_t count) {
    if (!ok()) return *this;
    if (!stream_) {
      written_ += count;
      return *this;
    }
    if (count <= kInlineBytes && stream_->TryWriteInline(source, count)) {
      written_ += count;
      return *this;
    }
    return StoreBytesThroughStream(source, count);
  }
  static constexpr size_t kInlineBytes = 256;
  CWriter& StoreBytesThroughStream(const void* source, size_t count);

  CIoBuffer* stream_;  // null when only counting
  CPersistContext* context_;
  CFieldSink* fields_;
  int32_t cookie_;
  Status status_ = kOk;
  uint64_t written_ = 0;
  uint64_t unlisted_ = 0;
};

// Bytes a value takes in the current layout.
inline constexpr int64_t kVersionPairSize = 8;
inline constexpr int64_t kIdSize = 4;

}  // namespace KX
