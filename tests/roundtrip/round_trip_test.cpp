// Every class the program registers must have a round-trip sample, and every sample must save,
// load and save again to the same bytes.
#include <gtest/gtest.h>

#include <set>

#include "app/class_registration.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX::test {
namespace {

TEST(RoundTrip, EveryRegisteredClassHasASample) {
  RegisterAllClasses();
  const std::vector<std::string> programClasses = RegisteredClassNames();
  std::set<std::string> sampled;
  for (const auto& sample : RoundTripSamples()) sampled.insert(sample.className);
  for (const auto& name : programClasses) {
    // An alias creates an object of another class; that class's sample covers it.
    CRefPtr<CBase> object;
    ASSERT_EQ(CreateObject(name, object), kOk) << name;
    if (name != object->GetRuntimeClass()->className) continue;
    EXPECT_TRUE(sampled.contains(name)) << name << " has no round-trip sample";
  }
}

TEST(RoundTrip, EverySampleSavesLoadsAndSavesIdentically) {
  RegisterForTests();  // samples may hang test-only controllers on their objects
  ASSERT_FALSE(RoundTripSamples().empty());
  for (const auto& sample : RoundTripSamples()) {
    SCOPED_TRACE(sample.className);
    CRefPtr<CBase> root = sample.make();
    ASSERT_TRUE(root);
    std::vector<CBase*> found;
    root->FindObjects(found, std::nullopt, nullptr, false);
    bool present = false;
    for (CBase* object : found) present |= sample.className == object->GetRuntimeClass()->className;
    EXPECT_TRUE(present) << "the sample holds no object of its class";
    ExpectRoundTrip(root.get());
  }
}

}  // namespace
}  // namespace KX::test
