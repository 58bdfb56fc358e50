#include "support/test_classes.h"

#include "object/archive.h"

#include "app/class_registration.h"
#include "control/key_search.h"

namespace KX::test {

const CRuntimeClass CTestControl::classRecord{"CTestControl", &CDataControl::classRecord, 2, 0};
const CRuntimeClass CTestObject::classRecord{"CTestObject", &CCorva::classRecord, 2, 0};

Status CTestControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CDataControl::Persist(ar));
  ar.Version(classRecord);
  ar.Counted("keyTimes", keyTimes);
  // Old blocks kept keys in scene time; they become relative to the controller's start.
  if (ar.Loading())
    if (const float start = LegacyStartTime(ar.reader()); ar.ok() && start != 0.0f)
      for (float& t : keyTimes) t -= start;
  return ar.status();
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
