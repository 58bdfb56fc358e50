#include "content/content_data.h"

#include "content/archive_shapes.h"
#include "core/alloc.h"
#include "object/archive.h"

namespace KX {

KX_DEFINE_CLASS(CSkyData, CCustomData, 2, 0)
KX_DEFINE_CLASS(CWaterData, CCustomData, 2, 0)
KX_DEFINE_CLASS(CExCntData, CCustomData, 2, 0)
KX_DEFINE_CLASS(CRoseData, CCustomData, 2, 2)
KX_DEFINE_CLASS(CAccData, CCustomData, 2, 1)
KX_DEFINE_CLASS(CHeadData, CCustomData, 2, 6)

namespace {

// Stored versions that gate fields.
constexpr int32_t kRoseFlagAbove = 200;
constexpr int32_t kRoseExtraFrom = 202;
constexpr int32_t kAccTextAbove = 200;
constexpr int32_t kHeadReferencesFrom = 206;
// What head blocks before 2.06 hold, all of it discarded: three int32 and a block.
constexpr size_t kOldHeadBlockSize = 3 * 4 + 788;

// A list of entries: the count, and the entries only when there are any. A zero count leaves
// the list as it was.
void PersistEntries(CArchive& ar, const char* name, CContentEntries& entries) {
  auto count = static_cast<int32_t>(entries.size());
  ar.Count(count);
  if (ar.Saving() || count != 0) ar.Array(name, entries, count);
}

int64_t EntryBytes(const CContentEntries& entries) {
  return 12 * static_cast<int64_t>(entries.size());
}

// The target of an AssignTo must be of the source's class: copying fields into an object of
// another class would write where that class keeps something else.
template <class T>
T* AssignTarget(CBase* target) {
  return KindOf<T>(target);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

Status CSkyData::Clone(CRefPtr<CBase>& out) const { return CloneByCopy(*this, out); }

Status CSkyData::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCustomData::AssignTo(target, released));
  auto* sky = AssignTarget<CSkyData>(target);
  if (!sky) return kErrMalformed;
  return sky != this ? TryAssign(sky->entries, entries) : kOk;
}

Status CSkyData::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCustomData::Persist(ar));
  ar.Version(classRecord);
  PersistEntries(ar, "entries", entries);
  return ar.status();
}

int64_t CSkyData::GetMemorySize() const {
  return CCustomData::GetMemorySize() + 24 + EntryBytes(entries);
}

// ---------------------------------------------------------------------------------------------

Status CWaterData::Clone(CRefPtr<CBase>& out) const { return CloneByCopy(*this, out); }

Status CWaterData::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCustomData::AssignTo(target, released));
  auto* water = AssignTarget<CWaterData>(target);
  if (!water) return kErrMalformed;
  water->floatValue = floatValue;
  water->intValue = intValue;
  return water != this ? TryAssign(water->entries, entries) : kOk;
}

Status CWaterData::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCustomData::Persist(ar));
  ar.Version(classRecord);
  PersistEntries(ar, "entries", entries);
  ar("floatValue", floatValue)("intValue", intValue);
  return ar.status();
}

int64_t CWaterData::GetMemorySize() const {
  return CCustomData::GetMemorySize() + 32 + EntryBytes(entries);
}

// ---------------------------------------------------------------------------------------------

Status CExCntData::Clone(CRefPtr<CBase>& out) const { return CloneByCopy(*this, out); }

Status CExCntData::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCustomData::Persist(ar));
  ar.Version(classRecord);
  ar("text1", text1)("text2", text2);
  return ar.status();
}

int64_t CExCntData::GetMemorySize() const {
  return CCustomData::GetMemorySize() + 56 + 2 * static_cast<int64_t>(text1.size() + text2.size());
}

// ---------------------------------------------------------------------------------------------

Status CRoseData::Clone(CRefPtr<CBase>& out) const { return CloneByCopy(*this, out); }

Status CRoseData::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCustomData::AssignTo(target, released));
  auto* rose = AssignTarget<CRoseData>(target);
  if (!rose) return kErrBadArgument;
  rose->block1 = block1;
  rose->block2 = block2;
  rose->block3 = block3;
  rose->flag = flag;
  rose->extra = extra;
  return kOk;
}

Status CRoseData::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCustomData::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  FixedBytes(ar, "block1", block1);
  FixedBytes(ar, "block2", block2);
  FixedBytes(ar, "block3", block3);
  if (version > kRoseFlagAbove) ar("flag", flag);
  if (version >= kRoseExtraFrom) ar("extra", extra);
  return ar.status();
}

int64_t CRoseData::GetMemorySize() const { return CCustomData::GetMemorySize() + 64; }

// ---------------------------------------------------------------------------------------------

int64_t CAccData::EntryBytes() const {
  int64_t bytes = 0;
  for (const auto& [key, value] : entries) bytes += 32 + 2 * static_cast<int64_t>(key.size());
  return bytes;
}

Status CAccData::Clone(CRefPtr<CBase>& out) const { return CloneByCopy(*this, out); }

Status CAccData::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCustomData::AssignTo(target, released));
  auto* acc = AssignTarget<CAccData>(target);
  if (!acc) return kErrMalformed;
  if (acc == this) return kOk;
  return TryAllocate([&] {
    acc->entries = entries;
    acc->text = text;
  });
}

Status CAccData::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCustomData::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  ValuesThenKeys(ar, "entries", entries);
  if (version > kAccTextAbove) ar("text", text);
  return ar.status();
}

int64_t CAccData::GetMemorySize() const {
  return CCustomData::GetMemorySize() + 68 + 2 * static_cast<int64_t>(text.size()) + EntryBytes();
}

// ---------------------------------------------------------------------------------------------

CHeadData::CHeadData(const CHeadData& other)
    : CCustomData(other),
      reference(other.reference),
      vectors1(other.vectors1),
      vectors2(other.vectors2),
      block(other.block) {}

Status CHeadData::Clone(CRefPtr<CBase>& out) const { return CloneByCopy(*this, out); }

Status CHeadData::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCustomData::AssignTo(target, released));
  auto* head = AssignTarget<CHeadData>(target);
  if (!head) return kErrMalformed;
  if (head == this) return kOk;
  head->reference = reference;
  head->block = block;
  return TryAllocate([&] {
    head->list1 = list1;
    head->list2 = list2;
    head->vectors1 = vectors1;
    head->vectors2 = vectors2;
  });
}

Status CHeadData::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCustomData::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  if (version < kHeadReferencesFrom) {
    // Older blocks carry nothing this program keeps.
    PassOver(ar, kOldHeadBlockSize);
    return ar.status();
  }
  ar.Ref("reference", reference).RefList("list1", list1).RefList("list2", list2);
  ar.Counted("vectors1", vectors1).Counted("vectors2", vectors2);
  FixedBytes(ar, "block", block);
  return ar.status();
}

int64_t CHeadData::GetMemorySize() const {
  return CCustomData::GetMemorySize() + 1624 + 4 * static_cast<int64_t>(list1.size() + list2.size()) +
         12 * static_cast<int64_t>(vectors1.size() + vectors2.size());
}

void CHeadData::VisitReferences(CReferenceVisitor& visit) {
  CCustomData::VisitReferences(visit);
  // No walk goes on through these. A copy made with its chain names the copies of what they
  // named, or nothing: a plain reference into the original graph would outlive it.
  visit(reference, kRetarget);
  visit.Each(list1, kRetarget);
  visit.Each(list2, kRetarget);
}

}  // namespace KX
