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
// What only a load does (defaults for older blocks, values raised on load, tables rebuilt from
// what was read) goes in `if (ar.Loading())` steps beside the statements; a branch taken on a
// value must take the same way on every pass, so such a step must not change a value a later
// branch tests. Where a layout cannot be stated field by field, reader(), writer() and linker()
// give the pass itself.
#include <cstdint>
#include <vector>

#include "object/persist.h"
#include "object/ref_list.h"

namespace KX {

class CArchive {
 public:
  explicit CArchive(CReader& in) : in_(&in) {}
  explicit CArchive(CWriter& out) : out_(&out) {}
  explicit CArchive(CLinker& link) : link_(&link) {}
  CArchive(const CArchive&) = delete;
  CArchive& operator=(const CArchive&) = delete;

  // The pass: reading a record, writing (or counting, or listing) it, or linking its ids.
  bool Loading() const { return in_ != nullptr; }
  bool Saving() const { return out_ != nullptr; }
  bool Linking() const { return link_ != nullptr; }
  CReader& reader() const { return *in_; }
  CWriter& writer() const { return *out_; }
  CLinker& linker() const { return *link_; }

  // The first failure of the pass; a pass that failed does nothing more.
  Status status() const {
    return in_ ? in_->status() : out_ ? out_->status() : linkStatus_;
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
    return *this;
  }
  // As Array, for a bulk array whose large reads may go on beside the load (CReader).
  template <class T>
  CArchive& ArrayAside(const char* name, CBulkArray<T>& values, int64_t count) {
    if (in_)
      in_->ReadArrayAside(values, count);
    else if (out_)
      out_->FieldArray(name, values);
    return *this;
  }
  // An int32 count, then the elements.
  template <class Values>
  CArchive& Counted(const char* name, Values& values) {
    if (in_)
      in_->ReadCountedArray(values);
    else if (out_)
      WriteCounted(*out_, name, values);
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
    return *this;
  }
  // An id the record holds for an object nothing keeps: read past, linked past, written as none.
  CArchive& NoRef(const char* name) {
    if (in_)
      in_->Ref();
    else if (out_)
      out_->Ref(name, nullptr);
    else if (link_)
      link_->NextId();
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
    return *this;
  }

 private:
  CReader* in_ = nullptr;
  CWriter* out_ = nullptr;
  CLinker* link_ = nullptr;
  Status linkStatus_ = kOk;
};

}  // namespace KX
