#pragma once
// The settings block of a project file: fixed values that grew over six revisions of the record.
// The program carries them through load and save without reading them.
#include <array>
#include <cstdint>
#include <string>

#include "object/custom_data.h"

namespace KX {

class CProjectData : public CCustomData {
  KX_DECLARE_CLASS(CProjectData)

 public:
  float value1 = 600.0f;
  int32_t value2 = 0;
  std::array<uint8_t, 8> pair1{};
  std::array<uint8_t, 8> pair2{};
  float value3 = 0.0f;
  float value4 = 0.0f;
  float value5 = 0.0f;
  std::u16string text;   // from 2.01
  float value6 = 0.0f;   // from 2.02
  float value7 = 1.0f;   // from 2.02
  bool flag = false;     // from 2.03
  float value8 = 10.0f;  // from 2.04
  float value9 = 1.0f;   // from 2.05
  float value10 = 1.0f;  // from 2.05
  int32_t value11 = 2;   // from 2.06

  CProjectData() = default;
  CProjectData(const CProjectData&) = default;

  Status Clone(CRefPtr<CBase>& out) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
};

}  // namespace KX
