#include <gtest/gtest.h>

#include "app/prop_summary.h"
#include "support/test_classes.h"

namespace KX {
namespace {

CRefPtr<CRoseData> Rose(bool flag, int32_t extra) {
  CRefPtr<CRoseData> rose(new CRoseData);
  rose->flag = flag;
  rose->extra = extra;
  return rose;
}

TEST(PropSummary, NoRecordsMeansNoSummary) {
  CRefPtr<test::CTestObject> root(new test::CTestObject);
  CRefPtr<CRoseData> summary;
  EXPECT_EQ(BuildPropSummary(root.get(), summary), kNothingDone);
  EXPECT_FALSE(summary);
  EXPECT_EQ(BuildPropSummary(nullptr, summary), kErrBadArgument);
}

TEST(PropSummary, CopiesTheFirstAndAndsEveryFlag) {
  CRefPtr<test::CTestObject> root(new test::CTestObject);
  auto first = Rose(true, 11), second = Rose(false, 22);
  first->name = u"first";
  first->key = u"k";
  first->block2[5] = 9;
  EXPECT_TRUE(::KX::Succeeded(root->AttachCustomData(first.get())));
  EXPECT_TRUE(::KX::Succeeded(root->AttachCustomData(second.get())));
  CRefPtr<CRoseData> summary;
  ASSERT_EQ(BuildPropSummary(root.get(), summary), kOk);
  ASSERT_TRUE(summary);
  EXPECT_NE(summary.get(), first.get());
  EXPECT_EQ(summary->name, u"first");
  EXPECT_EQ(summary->key, u"k");
  EXPECT_EQ(summary->extra, 11);
  EXPECT_EQ(summary->block2[5], 9);
  EXPECT_EQ(summary->next.get(), second.get());  // the link to the rest of its chain
  EXPECT_FALSE(summary->flag);
  EXPECT_TRUE(summary->modified);

  second->flag = true;
  ASSERT_EQ(BuildPropSummary(root.get(), summary), kOk);
  EXPECT_TRUE(summary->flag);
}

}  // namespace
}  // namespace KX
