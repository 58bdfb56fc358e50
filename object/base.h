#pragma once
// Root of every persistent object: intrusive count, name, the generic search, copy and
// persistence operations, and the class registry that builds objects from the names in files.
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <typeinfo>
#include <unordered_map>
#include <vector>

#include "core/ref_ptr.h"
#include "object/references.h"
#include "object/runtime_class.h"
#include "core/status.h"

namespace KX {

class CBase;
class CReader;
class CLinker;
class CWriter;
class CArchive;
class CPersistContext;

// A name to match exactly, or nullopt to match any name.
using NameFilter = std::optional<std::u16string_view>;
// Original -> copy, filled by Duplicate so that shared objects stay shared in the copy.
using DuplicateMap = std::unordered_map<const CBase*, CRefPtr<CBase>>;
// Objects an AssignTo let go of; the caller decides when they are released.
using ReleasedList = std::vector<CRefPtr<CBase>>;

namespace walker_detail {
class CVisited;

// The number of the walk that last reached an object (object/walker.h). It belongs to the object
// in its place: a copy starts unvisited and an assignment keeps its own.
class CWalkMark {
 public:
  CWalkMark() = default;
  CWalkMark(const CWalkMark&) noexcept {}
  CWalkMark& operator=(const CWalkMark&) noexcept { return *this; }

 private:
  friend class CVisited;
  uint64_t walk_ = 0;
};
}  // namespace walker_detail

class CBase {
 public:
  static const CRuntimeClass classRecord;

  // In this order, the small fields last: a class's own first fields fill the room after them.
  std::u16string name;
  mutable walker_detail::CWalkMark walkMark;
  int32_t refCount = 0;
  uint8_t modified = 0;

  CBase() = default;
  // Copies only the name: a copy starts unmodified and unreferenced.
  CBase(const CBase& other) : name(other.name) {}
  CBase& operator=(const CBase&) = delete;
  virtual ~CBase();

  void AddRef() { ++refCount; }
  void Release() {
    if (refCount-- == 1) delete this;
  }

  virtual CBase* FindObject(NameFilter name, const CRuntimeClass* cls, bool kindOf);
  virtual void FindObjects(std::vector<CBase*>& list, NameFilter name, const CRuntimeClass* cls,
                           bool kindOf);
  virtual const CRuntimeClass* GetRuntimeClass() const { return &classRecord; }
  virtual Status GetVersion() const { return classRecord.Version(); }
  virtual Status Clone(CRefPtr<CBase>& out) const;
  virtual Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const;
  virtual Status AssignTo(CBase* target, ReleasedList& released) const;
  // A class level states its fields once, in Persist (object/archive.h); the reading, linking
  // and writing of a record are passes of it, and no class writes them by hand.
  virtual Status Persist(CArchive& ar);
  Status Load(CReader& in);
  Status Link(CLinker& in);
  virtual Status CollectForSave(CPersistContext& context);
  virtual Status PrepareSave(CPersistContext& context);
  Status Save(CWriter& out) const;
  virtual Status Reserved1(void*, void*) { return kErrBadArgument; }
  virtual Status Reserved2(void*, void*) { return kErrBadArgument; }
  virtual int64_t GetMemorySize() const;
  virtual int64_t GetSaveSize() const;
  virtual bool HasAttachments() const { return false; }
  // States every reference the object holds, owned and plain, in the order the walks visit
  // them (object/references.h). The searches, collection for saving, name binding and remapping
  // all follow these statements.
  virtual void VisitReferences(CReferenceVisitor&) {}

  // The name/class test of FindObject, without searching what the object owns.
  bool Matches(NameFilter wanted, const CRuntimeClass* cls, bool kindOf) const {
    if (cls && (kindOf ? !IsKindOf(cls) : GetRuntimeClass() != cls)) return false;
    return !wanted || *wanted == name;
  }
  bool IsKindOf(const CRuntimeClass* cls) const { return GetRuntimeClass()->IsDerivedFrom(cls); }
};

// The object itself when its class record chain contains `cls`, else null.
inline CBase* IsKindOf(CBase* object, const CRuntimeClass* cls) {
  return object && object->IsKindOf(cls) ? object : nullptr;
}
inline const CBase* IsKindOf(const CBase* object, const CRuntimeClass* cls) {
  return object && object->IsKindOf(cls) ? object : nullptr;
}
// Typed form: every record chain is a part of the C++ base chain, so the cast is sound.
template <class T>
T* KindOf(CBase* object) {
  return object && object->IsKindOf(&T::classRecord) ? static_cast<T*>(object) : nullptr;
}
template <class T>
const T* KindOf(const CBase* object) {
  return object && object->IsKindOf(&T::classRecord) ? static_cast<const T*>(object) : nullptr;
}
// The object as a T for a reference of type T. Its C++ class decides, not its record chain: the
// record of a grass object leaves out the spatial level (IsKindOf answers that it is no spatial
// object), yet a node's child list holds it like any spatial object.
//
// Loading resolves hundreds of thousands of references, and a dynamic_cast climbs the class tree
// comparing type names: it is asked once per class of object, and its answer (where the T lies
// inside such an object, or that there is none) serves every other object of that class.
template <class T>
T* SlotCast(CBase* object) {
  if (!object) return nullptr;
  struct Answer {
    const std::type_info* type = nullptr;
    std::ptrdiff_t offset = 0;
    bool cast = false;
  };
  thread_local Answer answers[8];
  const std::type_info& type = typeid(*object);
  Answer& answer = answers[(reinterpret_cast<uintptr_t>(&type) >> 4) & 7];
  if (answer.type != &type) {
    T* typed = dynamic_cast<T*>(object);
    answer.type = &type;
    answer.cast = typed != nullptr;
    answer.offset = typed ? reinterpret_cast<char*>(typed) - reinterpret_cast<char*>(object) : 0;
  }
  return answer.cast ? reinterpret_cast<T*>(reinterpret_cast<char*>(object) + answer.offset)
                     : nullptr;
}

template <class T>
bool CReferenceVisitor::AssignOwned(void* slot, CBase* object) {
  T* typed = SlotCast<T>(object);
  if (object && !typed) return false;
  *static_cast<CRefPtr<T>*>(slot) = typed;
  return true;
}
template <class T>
bool CReferenceVisitor::AssignPlain(void* slot, CBase* object) {
  T* typed = SlotCast<T>(object);
  if (object && !typed) return false;
  *static_cast<T**>(slot) = typed;
  return true;
}

// Clone by copy construction, answering out-of-memory instead of throwing.
template <class T>
Status CloneByCopy(const T& self, CRefPtr<CBase>& out) {
  try {
    out = new T(self);
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
}

// Class registry: class name in a file -> creator of a default-constructed object.
using Creator = Status (*)(CRefPtr<CBase>& out);

template <class T>
Status CreateInstance(CRefPtr<CBase>& out) {
  try {
    out = new T();
    return kOk;
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
}

// Enters or replaces the creator for `name`.
void RegisterClass(std::string_view name, Creator creator);
template <class T>
void RegisterClass(std::string_view name) {
  RegisterClass(name, &CreateInstance<T>);
}
template <class T>
void RegisterClass() {
  RegisterClass(T::classRecord.className, &CreateInstance<T>);
}
void UnregisterClass(std::string_view name);
bool IsClassRegistered(std::string_view name);
// Every registered name, in name order.
std::vector<std::string> RegisteredClassNames();
struct CRegisteredClass {
  std::string name;
  Creator creator = nullptr;
};
// Every registered name with its creator, in the order the names were first registered (a name
// registered again keeps its place and takes the new creator).
std::vector<CRegisteredClass> RegisteredClassesInOrder();
Status CreateObject(std::string_view name, CRefPtr<CBase>& out);

}  // namespace KX
