#include "content/character_data.h"

#include <vector>

#include "core/alloc.h"
#include "object/persist.h"

namespace KX {

KX_DEFINE_CLASS(CCharacterData, CCustomData, 2, 5)

namespace {

// Stored versions above which each group of fields is present.
constexpr int32_t kTextAndFirstTablesAbove = 200;
constexpr int32_t kValue6AndTable3Above = 201;
constexpr int32_t kTable4Above = 202;
constexpr int32_t kFlag4Above = 204;

// Inserts in file order; where a file repeats a key its first value stays, as the table keeps
// one value per key.
template <class Value>
Status Fill(CCharacterData::Table<Value>& table, std::vector<std::u16string>& keys,
            std::vector<Value>& values) {
  table.clear();
  return TryAllocate([&] {
    for (size_t i = 0; i < keys.size(); ++i)
      table.emplace(std::move(keys[i]), std::move(values[i]));
  });
}

// A table stored as its count, all values in key order, then all keys in the same order.
template <size_t N>
void ReadValuesThenKeys(CReader& in, CCharacterData::Table<CByteBlock<N>>& table) {
  const int32_t count = in.Get<int32_t>();
  // Each entry takes its value and at least a key length.
  if (!in.ok() || !in.CanHold(count, N + 4)) return;
  std::vector<CByteBlock<N>> values;
  in.ReadArray(values, count);
  std::vector<std::u16string> keys;
  if (in.ok()) in.Fail(TryResize(keys, values.size()));
  for (auto& key : keys) in.Read(key);
  if (in.ok()) in.Fail(Fill(table, keys, values));
}

template <size_t N>
void WriteValuesThenKeys(CWriter& out, const char* name,
                         const CCharacterData::Table<CByteBlock<N>>& table) {
  out.Count(static_cast<int32_t>(table.size())).Note(name, table);
  for (const auto& [key, value] : table) out.Data(value);
  for (const auto& [key, value] : table) out.Data(key);
}

// A table stored as its count, then each key followed by its value.
template <class Value>
void ReadPairs(CReader& in, CCharacterData::Table<Value>& table, size_t leastValueBytes) {
  const int32_t count = in.Get<int32_t>();
  if (!in.ok() || !in.CanHold(count, 4 + leastValueBytes)) return;
  std::vector<std::u16string> keys;
  std::vector<Value> values;
  if (Failed(TryAllocate([&] {
        keys.resize(static_cast<size_t>(count));
        values.resize(static_cast<size_t>(count));
      }))) {
    in.Fail(kErrOutOfMemory);
    return;
  }
  for (size_t i = 0; i < keys.size() && in.ok(); ++i) in.Read(keys[i]).Read(values[i]);
  if (in.ok()) in.Fail(Fill(table, keys, values));
}

template <class Value>
void WritePairs(CWriter& out, const char* name, const CCharacterData::Table<Value>& table) {
  out.Count(static_cast<int32_t>(table.size())).Note(name, table);
  for (const auto& [key, value] : table) out.Data(key).Data(value);
}

template <class Value>
int64_t KeyUnits(const CCharacterData::Table<Value>& table) {
  int64_t units = 0;
  for (const auto& [key, value] : table) units += static_cast<int64_t>(key.size());
  return units;
}

}  // namespace

Status CCharacterData::Clone(CRefPtr<CBase>& out) const {
  KX_RETURN_IF_FAILED(CloneByCopy(*this, out));
  auto* copy = static_cast<CCharacterData*>(out.get());
  copy->flag1 = true;
  copy->flag4 = true;
  return kOk;
}

Status CCharacterData::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCustomData::AssignTo(target, released));
  auto* character = KindOf<CCharacterData>(target);
  if (!character) return kErrMalformed;
  if (character == this) return kOk;
  // The tables first: when they cannot be copied, the target is left as it was.
  Table<CByteBlock<8>> copy1;
  Table<CByteBlock<24>> copy2;
  Table<std::u16string> copy3;
  Table<CByteBlock<12>> copy4, copy5;
  std::u16string textCopy;
  KX_RETURN_IF_FAILED(TryAllocate([&] {
    copy1 = table1;
    copy2 = table2;
    copy3 = table3;
    copy4 = table4;
    copy5 = table5;
    textCopy = text;
    // Room for the objects the target lets go of, so that handing them over cannot fail.
    released.reserve(released.size() + 2);
  }));
  character->flag1 = flag1;
  character->flag2 = flag2;
  character->flag3 = flag3;
  character->value1 = value1;
  character->value2 = value2;
  character->value3 = value3;
  character->value4 = value4;
  character->value5 = value5;
  character->block1 = block1;
  character->block2 = block2;
  character->levels = levels;
  if (character->object1 && character->object1 != object1) released.push_back(character->object1);
  if (character->object2 && character->object2 != object2) released.push_back(character->object2);
  character->object1 = object1;
  character->object2 = object2;
  character->table1.swap(copy1);
  character->table2.swap(copy2);
  character->table3.swap(copy3);
  character->table4.swap(copy4);
  character->table5.swap(copy5);
  character->text.swap(textCopy);
  character->value6 = value6;
  character->flag4 = flag4;
  character->flag5 = flag5;
  character->modified = 1;
  return kOk;
}

Status CCharacterData::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CCustomData::Load(in));
  const int32_t version = in.Version(classRecord);
  in.Read(flag1).Read(flag2).Read(flag3);
  in.Read(value1).Read(value2).Read(value3).Read(value4).Read(value5);
  in.Read(block1).Read(block2).Ref().Ref();
  if (version > kTextAndFirstTablesAbove) {
    in.Read(text);
    ReadValuesThenKeys(in, table1);
    ReadValuesThenKeys(in, table2);
  }
  if (version > kValue6AndTable3Above) {
    in.Read(value6);
    ReadPairs(in, table3, 4);
  }
  if (version > kTable4Above) ReadPairs(in, table4, 12);
  if (version > kFlag4Above) in.Read(flag4);
  levels.fill(100);
  flag5 = false;
  return in.status();
}

Status CCharacterData::Link(CLinker& in) {
  KX_RETURN_IF_FAILED(CCustomData::Link(in));
  in.Resolve(object1);
  in.Resolve(object2);
  return kOk;
}

Status CCharacterData::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CCustomData::Save(out));
  out.Version(classRecord).Field("flag1", flag1).Field("flag2", flag2).Field("flag3", flag3);
  out.Field("value1", value1).Field("value2", value2).Field("value3", value3);
  out.Field("value4", value4).Field("value5", value5);
  out.FieldBytes("block1", block1.data(), block1.size());
  out.FieldBytes("block2", block2.data(), block2.size());
  out.Ref("object1", object1.get()).Ref("object2", object2.get()).Field("text", text);
  WriteValuesThenKeys(out, "table1", table1);
  WriteValuesThenKeys(out, "table2", table2);
  out.Field("value6", value6);
  WritePairs(out, "table3", table3);
  WritePairs(out, "table4", table4);
  out.Field("flag4", flag4);
  return out.status();
}

int64_t CCharacterData::GetMemorySize() const {
  int64_t bytes = CCustomData::GetMemorySize() + 240 + 2 * static_cast<int64_t>(text.size());
  bytes += 8 * static_cast<int64_t>(table1.size()) + 24 * static_cast<int64_t>(table2.size()) +
           12 * static_cast<int64_t>(table4.size() + table5.size());
  bytes += 2 * (KeyUnits(table1) + KeyUnits(table2) + KeyUnits(table3) + KeyUnits(table4) +
                KeyUnits(table5));
  for (const auto& [key, value] : table3) bytes += 2 * static_cast<int64_t>(value.size());
  return bytes;
}

bool CCharacterData::HasAttachments() const {
  return object1 || object2 || CCustomData::HasAttachments();
}

void CCharacterData::VisitReferences(CReferenceVisitor& visit) {
  // The rest of the chain first, then the two objects, which are written with the record.
  CCustomData::VisitReferences(visit);
  visit(object1);
  visit(object2);
}

}  // namespace KX
