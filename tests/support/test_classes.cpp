#include "support/test_classes.h"

#include "app/class_registration.h"
#include "control/key_search.h"

namespace KX::test {

const CRuntimeClass CTestControl::classRecord{"CTestControl", &CDataControl::classRecord, 2, 0};
const CRuntimeClass CTestObject::classRecord{"CTestObject", &CCorva::classRecord, 2, 0};

Status CTestControl::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CDataControl::Load(in));
  in.Version(classRecord);
  in.ReadCountedArray(keyTimes);
  // Old blocks kept keys in scene time; they become relative to the controller's start.
  if (const float start = LegacyStartTime(in); in.ok() && start != 0.0f)
    for (float& t : keyTimes) t -= start;
  return in.status();
}

Status CTestControl::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CDataControl::Save(out));
  out.Version(classRecord).Count(static_cast<int32_t>(keyTimes.size())).FieldArray("keyTimes", keyTimes);
  return out.status();
}

Status CTestControl::Update(float time) {
  ++updates;
  if (const Status s = IsDisabled(); s != kOk) return s;
  value = FindKeySegment(MapTime(time), keyTimes, cursor).a;
  return kOk;
}

Status CTestControl::ApplyData() {
  auto* corva = KindOf<CCorva>(owner);
  if (!corva) return kErrBadArgument;
  corva->flag = static_cast<uint8_t>(value);
  return kOk;
}

void RegisterForTests() {
  RegisterAllClasses();
  RegisterClass<CTestControl>();
  RegisterClass<CTestObject>();
}

}  // namespace KX::test
