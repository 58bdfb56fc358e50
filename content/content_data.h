#pragma once
// Content records: small typed data that content packages keep beside the scene tree, in custom
// data chains or in a file's extended information. The program creates only the summary record
// (CRoseData); the others are carried through load and save byte for byte.
#include <array>
#include <map>
#include <string>
#include <vector>

#include "object/custom_data.h"
#include "object/fields.h"
#include "core/math/vector.h"

namespace KX {

// Three raw 32-bit values of a sky or water list.
struct CContentEntry {
  int32_t values[3] = {};
};
static_assert(sizeof(CContentEntry) == 12);

inline void DescribeValue(CFieldSink& sink, const char* name, const CContentEntry& entry) {
  CFieldRecord(sink, name)("values", entry.values);
}

// A list of entries: int32 count, then 12 bytes each.
using CContentEntries = std::vector<CContentEntry>;

class CSkyData : public CCustomData {
  KX_DECLARE_CLASS(CSkyData)

 public:
  CContentEntries entries;

  CSkyData() = default;
  CSkyData(const CSkyData&) = default;

  Status Clone(CRefPtr<CBase>& out) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
};

class CWaterData : public CCustomData {
  KX_DECLARE_CLASS(CWaterData)

 public:
  CContentEntries entries;
  float floatValue = 1.0f;
  int32_t intValue = 0;

  CWaterData() = default;
  CWaterData(const CWaterData&) = default;

  Status Clone(CRefPtr<CBase>& out) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
};

// Two texts about external content.
class CExCntData : public CCustomData {
  KX_DECLARE_CLASS(CExCntData)

 public:
  std::u16string text1, text2;

  CExCntData() = default;
  CExCntData(const CExCntData&) = default;

  Status Clone(CRefPtr<CBase>& out) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
};

// The summary record every prop carries.
class CRoseData : public CCustomData {
  KX_DECLARE_CLASS(CRoseData)

 public:
  std::array<uint8_t, 21> block1{};  // five int32, one byte
  std::array<uint8_t, 23> block2{};  // 20 bytes, one int16, one byte
  std::array<uint8_t, 15> block3{};  // three int32, one int16, one byte
  bool flag = false;
  int32_t extra = 0;

  CRoseData() = default;
  CRoseData(const CRoseData&) = default;

  Status Clone(CRefPtr<CBase>& out) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
};

// Seven raw 32-bit values of the accessory table.
struct CAccValue {
  int32_t values[7] = {};
};
static_assert(sizeof(CAccValue) == 28);

inline void DescribeValue(CFieldSink& sink, const char* name, const CAccValue& value) {
  CFieldRecord(sink, name)("values", value.values);
}

class CAccData : public CCustomData {
  KX_DECLARE_CLASS(CAccData)

 public:
  // Ordered by key, code unit by code unit.
  std::map<std::u16string, CAccValue> entries;
  std::u16string text;

  CAccData() = default;
  CAccData(const CAccData&) = default;

  Status Clone(CRefPtr<CBase>& out) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;

 private:
  int64_t EntryBytes() const;
};

class CHeadData : public CCustomData {
  KX_DECLARE_CLASS(CHeadData)

 public:
  static constexpr size_t kBlockSize = 768;

  // Plain references to objects of the same file: kept for identity, never owned.
  CBase* reference = nullptr;
  std::vector<CBase*> list1, list2;
  std::vector<CVector3<float>> vectors1, vectors2;
  std::array<uint8_t, kBlockSize> block{};

  CHeadData() = default;
  // The copy keeps the reference, vectors and block; its lists start empty.
  CHeadData(const CHeadData& other);

  Status Clone(CRefPtr<CBase>& out) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  void VisitReferences(CReferenceVisitor& visit) override;
};

}  // namespace KX
