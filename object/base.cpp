#include "object/base.h"
#include "object/walker.h"

#include <algorithm>
#include <map>
#include <unordered_map>

#include "core/alloc.h"
#include "object/archive.h"
#include "object/container.h"
#include "object/persist.h"

namespace KX {

const CRuntimeClass CBase::classRecord{"CBase", nullptr, 2, 0};

CBase::~CBase() = default;

CBase* CBase::FindObject(NameFilter wanted, const CRuntimeClass* cls, bool kindOf) {
  return FindFirst(this, wanted, cls, kindOf);
}

void CBase::FindObjects(std::vector<CBase*>& list, NameFilter wanted, const CRuntimeClass* cls,
                        bool kindOf) {
  FindAll(this, list, wanted, cls, kindOf);
}

Status CBase::Clone(CRefPtr<CBase>&) const { return kErrBadArgument; }

Status CBase::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  if (const auto it = map.find(this); it != map.end()) {
    out = it->second;
    return kNothingDone;
  }
  const Status status = Clone(out);
  if (Failed(status)) return status;
  try {
    map.emplace(this, out);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  return status;
}

Status CBase::AssignTo(CBase* target, ReleasedList&) const {
  if (!target) return kErrBadArgument;
  if (target != this) target->name = name;
  return kOk;
}

Status CBase::Load(CReader& in) {
  CArchive ar(in);
  return Persist(ar);
}
Status CBase::Link(CLinker& in) {
  CArchive ar(in);
  return Persist(ar);
}

Status CBase::CollectForSave(CPersistContext& context) {
  // Depth-first pre-order from here; an object the save has already collected is not entered
  // again, nor is what it refers to. Each object packs what it keeps outside its fields (an
  // encoded picture, a tree description) as it joins the save, so that sizes and bytes agree.
  // An object gets its id as it joins: the next after every id given so far. An id given before
  // the collection (the thumbnail and extended information, written before the list) is
  // negative until its object is collected too, and then kept.
  //
  // The first collection of a save meets each object once (the walk's own marks see to that),
  // and saveIds then holds only the few ids given before it: its objects join saveIds after the
  // walk, all in one pass, instead of one lookup in a growing table each while walking.
  const size_t firstNew = context.saveList.size();
  const bool joinAfter = firstNew == 0;
  auto nextId = static_cast<int32_t>(context.saveIds.size());
  Status failure = kOk;
  const Status walked = Walk(this, kCollect, [&](CBase* object) {
    int32_t id = 0;
    if (joinAfter) {
      int32_t* given = context.saveIds.Find(object);
      if (given && *given > 0) return WalkStep::kSkip;
      id = given ? (*given = -*given) : ++nextId;
    } else {
      auto [slot, joined] = context.saveIds.Insert(object);
      if (joined)
        slot = static_cast<int32_t>(context.saveIds.size());
      else if (slot < 0)
        slot = -slot;
      else
        return WalkStep::kSkip;
      id = slot;
    }
    context.saveList.push_back(object);
    context.saveListIds.push_back(id);
    failure = object->PrepareSave(context);
    return Failed(failure) ? WalkStep::kStop : WalkStep::kDescend;
  }, &failure);
  if (!joinAfter) return walked;
  const Status joined = TryAllocate([&] {
    const size_t end = std::min(context.saveList.size(), context.saveListIds.size());
    context.saveIds.Reserve(context.saveIds.size() + (end - firstNew));
    for (size_t i = firstNew; i < end; ++i) {
      auto [slot, isNew] = context.saveIds.Insert(context.saveList[i]);
      if (isNew) slot = context.saveListIds[i];
    }
  });
  return Failed(joined) ? joined : walked;
}

Status CBase::PrepareSave(CPersistContext&) { return kOk; }

Status CBase::Save(CWriter& out) const {
  // Writing only reads the fields it states.
  CArchive ar(out);
  return const_cast<CBase*>(this)->Persist(ar);
}

Status CBase::Persist(CArchive& ar) {
  if (ar.Saving()) {
    CWriter& out = ar.writer();
    const std::string_view className = GetRuntimeClass()->className;
    // While counting, the size word is only a placeholder of the same width.
    const CPersistContext* context = out.context();
    int64_t recordSize = 0;
    if (!out.Counting() && !(context && context->sizeWordLater == this)) {
      const int64_t* measured = context ? context->saveSizes.Find(this) : nullptr;
      recordSize =
          (measured ? *measured : GetSaveSize()) - static_cast<int64_t>(className.size()) - 8;
    }
    if (recordSize < 0 || recordSize > INT32_MAX) return ar.Fail(kErrBadArgument);
    // The record header frames the record; it is no field.
    out.Data(className).Data(static_cast<int32_t>(recordSize));
  }
  ar.Version(classRecord);
  // The object's id frames the record too: read to register the object, written as the save's.
  int32_t id = 0;
  if (ar.Loading())
    ar.reader().Read(id);
  else if (ar.Saving())
    ar.writer().Data(ar.writer().IdOf(this));
  ar("name", name);
  if (ar.Loading() && ar.ok()) ar.reader().RegisterId(id);
  return ar.Linking() ? kNothingDone : ar.status();
}

int64_t CBase::GetMemorySize() const { return 44; }

int64_t CBase::GetSaveSize() const {
  // Save itself, through a writer that only counts: each layout is written once.
  CWriter counter{CWriter::CountOnly{}};
  return Succeeded(Save(counter)) ? static_cast<int64_t>(counter.BytesWritten()) : -1;
}

// ---------------------------------------------------------------------------------------------

namespace {

struct RegistryEntry {
  Creator creator = nullptr;
  uint64_t order = 0;  // when the name was first registered
};

std::map<std::string, RegistryEntry, std::less<>>& Registry() {
  static std::map<std::string, RegistryEntry, std::less<>> registry;
  return registry;
}

// The same entries by name in a hash table, for the lookup each loaded record makes. The keys
// view the names the registry holds, which stay where they are until their entry goes.
std::unordered_map<std::string_view, const RegistryEntry*>& Index() {
  static std::unordered_map<std::string_view, const RegistryEntry*> index;
  return index;
}

uint64_t& NextOrder() {
  static uint64_t next = 0;
  return next;
}

}  // namespace

void RegisterClass(std::string_view name, Creator creator) {
  auto& registry = Registry();
  if (const auto it = registry.find(name); it != registry.end()) {
    it->second.creator = creator;
    return;
  }
  const auto added =
      registry.emplace(std::string(name), RegistryEntry{creator, NextOrder()++}).first;
  Index()[added->first] = &added->second;
}

void UnregisterClass(std::string_view name) {
  auto& registry = Registry();
  if (const auto it = registry.find(name); it != registry.end()) {
    Index().erase(it->first);
    registry.erase(it);
  }
}

bool IsClassRegistered(std::string_view name) { return Registry().contains(name); }

std::vector<std::string> RegisteredClassNames() {
  std::vector<std::string> names;
  for (const auto& [name, entry] : Registry()) names.push_back(name);
  return names;
}

std::vector<CRegisteredClass> RegisteredClassesInOrder() {
  std::vector<std::pair<uint64_t, CRegisteredClass>> ordered;
  for (const auto& [name, entry] : Registry())
    ordered.push_back({entry.order, {name, entry.creator}});
  std::sort(ordered.begin(), ordered.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<CRegisteredClass> classes;
  for (auto& [order, entry] : ordered) classes.push_back(std::move(entry));
  return classes;
}

Status CreateObject(std::string_view name, CRefPtr<CBase>& out) {
  const auto& index = Index();
  const auto it = index.find(name);
  if (it == index.end() || !it->second->creator) return kErrUnknownClass;
  return it->second->creator(out);
}

}  // namespace KX
