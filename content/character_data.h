#pragma once
// The settings record of a character: flags, values, two objects it keeps alive and written with
// it, and named tables. The program carries it through load, copy and save without reading it.
#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <string>

#include "object/custom_data.h"
#include "object/fields.h"

namespace KX {

// A table value of `N` opaque bytes.
template <size_t N>
struct CByteBlock {
  std::array<uint8_t, N> bytes{};
  friend bool operator==(const CByteBlock&, const CByteBlock&) = default;
};

template <size_t N>
void DescribeValue(CFieldSink& sink, const char* name, const CByteBlock<N>& block) {
  sink.Bytes(name, std::span<const uint8_t>(block.bytes));
}

class CCharacterData : public CCustomData {
  KX_DECLARE_CLASS(CCharacterData)

 public:
  // Ordered by key, code unit by code unit; written in that order.
  template <class Value>
  using Table = std::map<std::u16string, Value>;

  bool flag1 = true;
  bool flag2 = false;
  bool flag3 = false;
  float value1 = 2.0f;
  float value2 = 1.0f;
  float value3 = 1.0f;
  uint32_t value4 = 0;
  uint32_t value5 = 0;
  std::array<uint8_t, 16> block1{};
  std::array<uint8_t, 16> block2{};
  CRefPtr<CBase> object1;
  CRefPtr<CBase> object2;
  std::u16string text;           // from 2.01
  Table<CByteBlock<8>> table1;   // from 2.01
  Table<CByteBlock<24>> table2;  // from 2.01
  int32_t value6 = 1;            // from 2.02
  Table<std::u16string> table3;  // from 2.02
  Table<CByteBlock<12>> table4;  // from 2.03
  bool flag4 = true;             // from 2.05
  // Not stored: reset by every load, copied by AssignTo.
  bool flag5 = false;
  std::array<int32_t, 4> levels{100, 100, 100, 100};
  Table<CByteBlock<12>> table5;

  CCharacterData() = default;
  CCharacterData(const CCharacterData&) = default;

  // A copy shares both objects; its flag1 and flag4 start set, whatever the original holds.
  Status Clone(CRefPtr<CBase>& out) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  void VisitReferences(CReferenceVisitor& visit) override;
};

}  // namespace KX
