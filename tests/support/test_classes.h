#pragma once
// Concrete classes that exist only in tests, to exercise the abstract levels of the library.
#include <vector>

#include "object/control.h"
#include "object/persist.h"

namespace KX::test {

// A keyed data controller: its "value" is the index of the key segment the time falls in, and
// applying it writes that value into the owner's `flag`.
class CTestControl : public CDataControl {
 public:
  static const CRuntimeClass classRecord;
  const CRuntimeClass* GetRuntimeClass() const override { return &classRecord; }
  Status GetVersion() const override { return classRecord.Version(); }

  std::vector<float> keyTimes;
  int32_t cursor = 0;
  int32_t value = -1;
  int updates = 0;

  CTestControl() = default;
  CTestControl(const CTestControl&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Persist(CArchive& ar) override;
  float GetDuration() const override { return keyTimes.empty() ? 0.0f : keyTimes.back(); }
  Status Update(float time) override;
  Status ApplyData() override;
};

// A plain scene object with nothing of its own, to hang chains on.
class CTestObject : public CCorva {
 public:
  static const CRuntimeClass classRecord;
  const CRuntimeClass* GetRuntimeClass() const override { return &classRecord; }
  Status GetVersion() const override { return classRecord.Version(); }
  CTestObject() = default;
  CTestObject(const CTestObject&) = default;
  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
};

// Registers the test classes and every class of the program.
void RegisterForTests();

}  // namespace KX::test
