// Every class saves to the same bytes whether its records are written as they are made (a file)
// or held until the size of the whole file is known (memory).
#include <gtest/gtest.h>

#include "support/round_trip.h"
#include "support/save_paths.h"
#include "support/test_classes.h"

namespace KX {
namespace {

TEST(SaveAsMade, EveryClassGivesTheSameBytesBothWays) {
  test::RegisterForTests();
  CPersistContext all;
  std::vector<CRefPtr<CBase>> keep;
  ASSERT_FALSE(test::RoundTripSamples().empty());
  for (const auto& sample : test::RoundTripSamples()) {
    keep.push_back(sample.make());
    ASSERT_TRUE(keep.back()) << sample.className;
    CPersistContext alone;
    ASSERT_EQ(AddRoot(alone, keep.back().get()), kOk);
    Status held = kOk, asMade = kOk;
    const auto expected = test::SaveToBytes(alone, &held);
    EXPECT_EQ(test::SaveToBytesAsMade(alone, &asMade), expected) << sample.className;
    EXPECT_EQ(held, kOk) << sample.className;
    EXPECT_EQ(asMade, kOk) << sample.className;
    ASSERT_TRUE(Succeeded(AddRoot(all, keep.back().get()))) << sample.className;
  }
  test::AddThumbnailAndExtendedInfo(all);
  ASSERT_FALSE(HasFatalFailure());
  Status held = kOk, asMade = kOk;
  const auto expected = test::SaveToBytes(all, &held);
  ASSERT_EQ(held, kOk);
  EXPECT_EQ(test::SaveToBytesAsMade(all, &asMade), expected);
  EXPECT_EQ(asMade, kOk);
}

}  // namespace
}  // namespace KX
