#include "content/content_data.h"

#include "core/alloc.h"
#include "object/persist.h"

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
void ReadEntries(CReader& in, CContentEntries& entries) {
  const int32_t count = in.Get<int32_t>();
  if (in.ok() && count != 0) in.ReadArray(entries, count);
}

void WriteEntries(CWriter& out, const char* name, const CContentEntries& entries) {
  out.Count(static_cast<int32_t>(entries.size())).FieldArray(name, entries);
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

// Reads a counted list of object ids for Link, bounded by the bytes left.
void ReadIdList(CReader& in, std::vector<CBase*>& list) {
  const int32_t count = in.Get<int32_t>();
  if (!in.CanHold(count, 4)) return;
  if (Failed(TryAllocate([&] { list.assign(static_cast<size_t>(count), nullptr); }))) {
    in.Fail(kErrOutOfMemory);
    return;
  }
  for (int32_t i = 0; i < count && in.ok(); ++i) in.Ref();
}

void WriteIdList(CWriter& out, const char* name, const std::vector<CBase*>& list) {
  out.Count(static_cast<int32_t>(list.size()));
  auto ids = out.List(name);
  for (const CBase* object : list) out.Ref(nullptr, object);
}

void ReadVectors(CReader& in, std::vector<CVector3<float>>& vectors) {
  const int32_t count = in.Get<int32_t>();
  if (in.ok()) in.ReadArray(vectors, count);
}

void WriteVectors(CWriter& out, const char* name, const std::vector<CVector3<float>>& vectors) {
  out.Count(static_cast<int32_t>(vectors.size())).FieldArray(name, vectors);
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

Status CSkyData::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CCustomData::Load(in));
  in.Version(classRecord);
  ReadEntries(in, entries);
  return in.status();
}

Status CSkyData::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CCustomData::Save(out));
  out.Version(classRecord);
  WriteEntries(out, "entries", entries);
  return out.status();
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

Status CWaterData::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CCustomData::Load(in));
  in.Version(classRecord);
  ReadEntries(in, entries);
  in.Read(floatValue).Read(intValue);
  return in.status();
}

Status CWaterData::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CCustomData::Save(out));
  out.Version(classRecord);
  WriteEntries(out, "entries", entries);
  out.Field("floatValue", floatValue).Field("intValue", intValue);
  return out.status();
}

int64_t CWaterData::GetMemorySize() const {
  return CCustomData::GetMemorySize() + 32 + EntryBytes(entries);
}

// ---------------------------------------------------------------------------------------------

Status CExCntData::Clone(CRefPtr<CBase>& out) const { return CloneByCopy(*this, out); }

Status CExCntData::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CCustomData::Load(in));
  in.Version(classRecord);
  in.Read(text1).Read(text2);
  return in.status();
}

Status CExCntData::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CCustomData::Save(out));
  out.Version(classRecord).Field("text1", text1).Field("text2", text2);
  return out.status();
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

Status CRoseData::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CCustomData::Load(in));
  const int32_t version = in.Version(classRecord);
  in.Read(block1).Read(block2).Read(block3);
  if (version > kRoseFlagAbove) in.Read(flag);
  if (version >= kRoseExtraFrom) in.Read(extra);
  return in.status();
}

Status CRoseData::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CCustomData::Save(out));
  out.Version(classRecord).FieldBytes("block1", block1.data(), block1.size());
  out.FieldBytes("block2", block2.data(), block2.size());
  out.FieldBytes("block3", block3.data(), block3.size());
  out.Field("flag", flag).Field("extra", extra);
  return out.status();
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

Status CAccData::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CCustomData::Load(in));
  const int32_t version = in.Version(classRecord);
  // The values of all entries come first, then their keys, in the same order.
  const int32_t count = in.Get<int32_t>();
  std::vector<CAccValue> values;
  // Each entry takes its value and at least a key length.
  if (!in.CanHold(count, sizeof(CAccValue) + 4)) return in.status();
  in.ReadArray(values, count);
  std::vector<std::u16string> keys;
  KX_RETURN_IF_FAILED(TryResize(keys, values.size()));
  for (auto& key : keys) in.Read(key);
  if (version > kAccTextAbove) in.Read(text);
  if (!in.ok()) return in.status();
  entries.clear();
  // The table keeps one value per key; where a file repeats a key, its first value stays.
  return TryAllocate([&] {
    for (size_t i = 0; i < keys.size(); ++i) entries.emplace(std::move(keys[i]), values[i]);
  });
}

Status CAccData::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CCustomData::Save(out));
  // Listed as the table it is; stored as all the values, then all the keys.
  out.Version(classRecord).Count(static_cast<int32_t>(entries.size())).Note("entries", entries);
  for (const auto& [key, value] : entries) out.Data(value);
  for (const auto& [key, value] : entries) out.Data(key);
  out.Field("text", text);
  return out.status();
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

Status CHeadData::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CCustomData::Load(in));
  const int32_t version = in.Version(classRecord);
  if (version < kHeadReferencesFrom) {
    // Older blocks carry nothing this program keeps.
    in.Skip(kOldHeadBlockSize);
    return in.status();
  }
  in.Ref();
  ReadIdList(in, list1);
  ReadIdList(in, list2);
  ReadVectors(in, vectors1);
  ReadVectors(in, vectors2);
  in.Read(block);
  return in.status();
}

Status CHeadData::Link(CLinker& in) {
  KX_RETURN_IF_FAILED(CCustomData::Link(in));
  if (in.StoredVersion(classRecord) < kHeadReferencesFrom) return kOk;
  in.Resolve(reference);
  for (CBase*& entry : list1) in.Resolve(entry);
  for (CBase*& entry : list2) in.Resolve(entry);
  return kOk;
}

Status CHeadData::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CCustomData::Save(out));
  out.Version(classRecord).Ref("reference", reference);
  WriteIdList(out, "list1", list1);
  WriteIdList(out, "list2", list2);
  WriteVectors(out, "vectors1", vectors1);
  WriteVectors(out, "vectors2", vectors2);
  out.FieldBytes("block", block.data(), block.size());
  return out.status();
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
