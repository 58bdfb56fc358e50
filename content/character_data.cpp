#include "content/character_data.h"

#include <vector>

#include "content/archive_shapes.h"
#include "core/alloc.h"
#include "object/archive.h"

namespace KX {

KX_DEFINE_CLASS(CCharacterData, CCustomData, 2, 5)

namespace {

// Stored versions above which each group of fields is present.
constexpr int32_t kTextAndFirstTablesAbove = 200;
constexpr int32_t kValue6AndTable3Above = 201;
constexpr int32_t kTable4Above = 202;
constexpr int32_t kFlag4Above = 204;

// A table stored as its count, then each key followed by its value; listed as the table. A load
// replaces the table in file order; where a file repeats a key its first value stays, as the
// table keeps one value per key.
template <class Value>
void PersistPairs(CArchive& ar, const char* name, CCharacterData::Table<Value>& table,
                  size_t leastValueBytes) {
  auto count = static_cast<int32_t>(table.size());
  ar.Count(count);
  if (ar.Saving()) {
    CWriter& out = ar.writer();
    out.Note(name, table);
    for (const auto& [key, value] : table) out.Data(key).Data(value);
    return;
  }
  if (!ar.Loading()) return;
  CReader& in = ar.reader();
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
  if (!in.ok()) return;
  table.clear();
  in.Fail(TryAllocate([&] {
    for (size_t i = 0; i < keys.size(); ++i)
      table.emplace(std::move(keys[i]), std::move(values[i]));
  }));
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

Status CCharacterData::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCustomData::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  ar("flag1", flag1)("flag2", flag2)("flag3", flag3);
  ar("value1", value1)("value2", value2)("value3", value3)("value4", value4)("value5", value5);
  FixedBytes(ar, "block1", block1);
  FixedBytes(ar, "block2", block2);
  ar.Ref("object1", object1).Ref("object2", object2);
  if (version > kTextAndFirstTablesAbove) {
    ar("text", text);
    ValuesThenKeys(ar, "table1", table1);
    ValuesThenKeys(ar, "table2", table2);
  }
  if (version > kValue6AndTable3Above) {
    ar("value6", value6);
    PersistPairs(ar, "table3", table3, 4);
  }
  if (version > kTable4Above) PersistPairs(ar, "table4", table4, 12);
  if (version > kFlag4Above) ar("flag4", flag4);
  if (ar.Loading()) {
    levels.fill(100);
    flag5 = false;
  }
  return ar.status();
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
