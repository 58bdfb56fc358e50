#pragma once
// One statement of a class level's fields, run for every pass over a record. A class states its
// fields once, in the order its block holds them, in Persist:
//
//   Status CLookAtControl::Persist(CArchive& ar) {
//     KX_RETURN_IF_FAILED(CRTSControl::Persist(ar));
//     const int32_t version = ar.Version(classRecord);
//     ar.Counted("aimTimes", aimTimes).RefList("targets", targets)("weight", weight);
//     return ar.status();
//   }
//
// and the same lines read the record (either layout), write it (current layout), count its size,
// list its fields by name (a writer with a field sink) and link the ids a read queued to objects.
// Version answers the version the record holds (the class's own when writing), so gates such as
// "from class version X" and old-layout branches are plain `if`s that every pass takes alike.
//
// Copying an object's fields onto another (AssignTo) is a pass too: CopyLevel runs the statements
// of one class level on both objects and assigns the target's fields from the source's, the ids
// stated as shared references shared, the target's former ones handed to `released`. A level
// whose assignment is not memberwise (owned objects copied, fields an assignment skips) keeps a
// hand-written AssignTo. Only the archive's own statements copy: what a level reads or writes
// through reader() and writer(), or keeps outside the object, its AssignTo copies by hand.
//
// What only a load does (defaults for older blocks, values raised on load, tables rebuilt from
// what was read) goes in `if (ar.Loading())` steps beside the statements; a branch taken on a
// value must take the same way on every pass, so such a step must not change a value a later
// branch tests. Where a layout cannot be stated field by field, reader(), writer() and linker()
// give the pass itself.
#include <cstdint>
#include <cstring>
#include <functional>
#include <new>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "object/persist.h"
#include "object/ref_list.h"

namespace KX {

// The copying pass of one class level: first the source's statements name their fields, then the
// target's, in the same order, take the values. Only fields of the object itself count; values a
// statement keeps in locals (counts, dropped values) are not copied.
class CCopyPass {
 public:
  CCopyPass(const CRuntimeClass& level, ReleasedList& released) : level_(level), released_(released) {}

  // The next statements belong to `cls`: copied when it is the level being copied.
  void Level(const CRuntimeClass& cls) { active_ = &cls == &level_; }
  // Runs the statements of the object [begin, end) to name its fields, then to take them.
  void Gather(const void* begin, const void* end) { Enter(begin, end, true); }
  void Scatter(void* begin, void* end) { Enter(begin, end, false); }
  Status status() const { return status_; }
  // kOk when the target's statements took exactly the values the source's named.
  Status Finish() const {
    return Succeeded(status_) && next_ != slots_.size() ? kErrMalformed : status_;
  }

  template <class T>
  void Field(T& value) {
    if (!Inside(&value, sizeof(T))) return;
    if (gathering_) {
      slots_.push_back({&value, &typeid(T)});
      return;
    }
    const T* source = Next<T>();
    if (!source || source == &value) return;
    if constexpr (std::is_array_v<T>) {
      static_assert(std::is_trivially_copyable_v<T>);
      std::memcpy(&value, source, sizeof(T));
    } else {
      value = *source;
    }
  }
  template <class T>
  void Shared(CRefPtr<T>& ref) {
    if (!Inside(&ref, sizeof ref)) return;
    if (gathering_) {
      slots_.push_back({&ref, &typeid(CRefPtr<T>)});
      return;
    }
    const CRefPtr<T>* source = Next<CRefPtr<T>>();
    if (!source || source->get() == ref.get()) return;
    if (ref) released_.emplace_back(ref.get());
    ref = *source;
  }

 private:
  struct Slot {
    const void* field;
    const std::type_info* type;
  };
  void Enter(const void* begin, const void* end, bool gathering) {
    begin_ = begin;
    end_ = end;
    gathering_ = gathering;
    active_ = false;
  }
  bool Inside(const void* field, size_t size) const {
    const std::less<const void*> before;
    const auto* last = static_cast<const char*>(field) + size;
    return active_ && !before(field, begin_) && !before(end_, last);
  }
  template <class T>
  const T* Next() {
    if (Failed(status_)) return nullptr;
    if (next_ >= slots_.size() || *slots_[next_].type != typeid(T)) {
      status_ = kErrMalformed;
      return nullptr;
    }
    return static_cast<const T*>(slots_[next_++].field);
  }

  const CRuntimeClass& level_;
  ReleasedList& released_;
  std::vector<Slot> slots_;
  size_t next_ = 0;
  const void* begin_ = nullptr;
  const void* end_ = nullptr;
  bool gathering_ = true;
  bool active_ = false;
  Status status_ = kOk;
};

class CArchive {
 public:
  explicit CArchive(CReader& in) : in_(&in) {}
  explicit CArchive(CWriter& out) : out_(&out) {}
  explicit CArchive(CLinker& link) : link_(&link) {}
  explicit CArchive(CCopyPass& copy) : copy_(&copy) {}
  CArchive(const CArchive&) = delete;
  CArchive& operator=(const CArchive&) = delete;

  // The pass: reading a record, writing (or counting, or listing) it, or linking its ids.
  bool Loading() const { return in_ != nullptr; }
  bool Saving() const { return out_ != nullptr; }
  bool Linking() const { return link_ != nullptr; }
  bool Copying() const { return copy_ != nullptr; }
  CReader& reader() const { return *in_; }
  CWriter& writer() const { return *out_; }
  CLinker& linker() const { return *link_; }

  // The first failure of the pass; a pass that failed does nothing more.
  Status status() const {
    return in_ ? in_->status() : out_ ? out_->status() : copy_ ? copy_->status() : linkStatus_;
  }
  bool ok() const { return Succeeded(status()); }
  // Keeps the first failure and answers the status of the pass.
  Status Fail(Status s) {
    if (in_)
      in_->Fail(s);
    else if (out_)
      out_->Fail(s);
    else if (Succeeded(linkStatus_) && Failed(s))
      linkStatus_ = s;
    return status();
  }

  // The version of a class level as the record holds it: read with its pair (refused when newer
  // than the class), written as the class's own, or as the read recorded it when linking.
  int32_t Version(const CRuntimeClass& cls) {
    if (in_) return in_->Version(cls);
    if (out_) out_->Version(cls);
    if (copy_) copy_->Level(cls);
    return link_ ? link_->StoredVersion(cls) : cls.Version();
  }
  // The version of the stream: read from the file, or the current one for every other pass.
  int32_t StreamVersion() const {
    return in_ ? in_->StreamVersion() : link_ ? link_->StreamVersion() : kCurrentStreamVersion;
  }
  // True while reading a record of the old layout. Every other pass runs the current layout.
  bool OldLayout() const { return in_ && in_->OldLayout(); }

  // A value stored as itself (numbers, booleans, texts, fixed records).
  template <class T>
  CArchive& operator()(const char* name, T& value) {
    if (in_)
      in_->Read(value);
    else if (out_)
      out_->Field(name, value);
    else if (copy_)
      copy_->Field(value);
    return *this;
  }
  // A count or presence word that frames what follows: stored, not listed. When saving, `value`
  // is what the object holds; a load reads it for the statements after it.
  template <std::integral T>
  CArchive& Count(T& value) {
    if (in_)
      in_->Read(value);
    else if (out_)
      out_->Count(value);
    return *this;
  }
  // `count` elements, the count stated before them: read into `values`, written from it.
  template <class Values>
  CArchive& Array(const char* name, Values& values, int64_t count) {
    if (in_)
      in_->ReadArray(values, count);
    else if (out_)
      out_->FieldArray(name, values);
    else if (copy_)
      copy_->Field(values);
    return *this;
  }
  // As Array, for a bulk array whose large reads may go on beside the load (CReader).
  template <class T>
  CArchive& ArrayAside(const char* name, CBulkArray<T>& values, int64_t count) {
    if (in_)
      in_->ReadArrayAside(values, count);
    else if (out_)
      out_->FieldArray(name, values);
    else if (copy_)
      copy_->Field(values);
    return *this;
  }
  // An int32 count, then the elements.
  template <class Values>
  CArchive& Counted(const char* name, Values& values) {
    if (in_)
      in_->ReadCountedArray(values);
    else if (out_)
      WriteCounted(*out_, name, values);
    else if (copy_)
      copy_->Field(values);
    return *this;
  }

  // The id of a referenced object: queued when read, resolved when linked. An object of another
  // class than the slot's is not linked and leaves a load warning.
  template <class T>
  CArchive& Ref(const char* name, CRefPtr<T>& ref) {
    if (in_)
      in_->Ref();
    else if (out_)
      out_->Ref(name, ref.get());
    else if (link_)
      link_->Resolve(ref);
    else if (copy_)
      copy_->Shared(ref);
    return *this;
  }
  template <class T>
  CArchive& Ref(const char* name, T*& ref) {
    if (in_)
      in_->Ref();
    else if (out_)
      out_->Ref(name, ref);
    else if (link_)
      link_->Resolve(ref);
    else if (copy_)
      copy_->Field(ref);
    return *this;
  }
  // As Ref, for a slot typed more generally than what the record may hold there: an object that
  // is no `Required` is not linked.
  template <class Required, class T>
  CArchive& RefAs(const char* name, CRefPtr<T>& ref) {
    if (in_)
      in_->Ref();
    else if (out_)
      out_->Ref(name, ref.get());
    else if (link_)
      link_->template ResolveAs<Required>(ref);
    else if (copy_)
      copy_->Shared(ref);
    return *this;
  }
  // An int32 count, then one id per entry.
  template <class T>
  CArchive& RefList(const char* name, std::vector<T*>& list) {
    if (in_)
      ReadRefList(*in_, list);
    else if (out_)
      WriteRefList(*out_, name, list);
    else if (link_)
      ResolveRefList(*link_, list);
    else if (copy_)
      copy_->Field(list);
    return *this;
  }

 private:
  CReader* in_ = nullptr;
  CWriter* out_ = nullptr;
  CLinker* link_ = nullptr;
  CCopyPass* copy_ = nullptr;
  Status linkStatus_ = kOk;
};

// A uint32 count, then that many elements, bounded by what the stream still holds; listed as
// `name`.
template <class Values>
CArchive& UintCounted(CArchive& ar, const char* name, Values& values) {
  auto count = static_cast<uint32_t>(values.size());
  return ar.Count(count).Array(name, values, count);
}

// A list or record of the listing, open while the returned scope lives; only a write with a
// field sink lists anything.
[[nodiscard]] inline CWriter::Scope ListScope(CArchive& ar, const char* name) {
  return CWriter::Scope(ar.Saving() ? ar.writer().fields() : nullptr, false, name);
}
[[nodiscard]] inline CWriter::Scope RecordScope(CArchive& ar, const char* name) {
  return CWriter::Scope(ar.Saving() ? ar.writer().fields() : nullptr, true, name);
}

// Assigns the fields that `Level` states (its own, not those of its bases or of classes derived
// from it) from `source` to `target`, which must be a `Level` too: the AssignTo of a level whose
// assignment is memberwise, after its base level's.
template <class Level>
Status CopyLevel(const Level& source, CBase* target, ReleasedList& released) {
  auto* to = KindOf<Level>(target);
  if (!to) return kErrMalformed;
  if (to == &source) return kOk;
  CCopyPass pass(Level::classRecord, released);
  CArchive ar(pass);
  try {
    // Writing and copying only read the source's fields.
    auto& from = const_cast<Level&>(source);
    pass.Gather(&from, &from + 1);
    KX_RETURN_IF_FAILED(from.Level::Persist(ar));
    pass.Scatter(to, to + 1);
    KX_RETURN_IF_FAILED(to->Level::Persist(ar));
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  return pass.Finish();
}

}  // namespace KX
