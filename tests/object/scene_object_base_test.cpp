#include <gtest/gtest.h>

#include "object/custom_data.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX {
namespace {

using test::CTestControl;
using test::CTestObject;

CRefPtr<CTestControl> NewControl(const char16_t* name) {
  CRefPtr<CTestControl> c(new CTestControl);
  c->name = name;
  return c;
}

std::vector<std::u16string> Names(const CControl* head) {
  std::vector<std::u16string> names;
  for (; head; head = head->next.get()) names.push_back(head->name);
  return names;
}

class CorvaTest : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }
};

TEST_F(CorvaTest, AttachingAControllerWithATailBringsTheWholeTail) {
  CRefPtr<CTestObject> object(new CTestObject);
  auto first = NewControl(u"a");
  EXPECT_EQ(object->AttachController(first.get()), kOk);
  auto b = NewControl(u"b"), c = NewControl(u"c"), d = NewControl(u"d");
  b->next = c;
  c->next = d;
  EXPECT_EQ(object->AttachController(b.get()), kOk);
  EXPECT_EQ(Names(object->controllers.get()), (std::vector<std::u16string>{u"a", u"b", u"c", u"d"}));
  for (CControl* ctl = object->controllers.get(); ctl; ctl = ctl->next.get())
    EXPECT_EQ(ctl->owner, object.get());
  EXPECT_EQ(object->GetLastController(), d.get());
  EXPECT_TRUE(object->HasAttachments());
  EXPECT_TRUE(object->modified);
}

TEST_F(CorvaTest, AttachingAnOwnedControllerOrNullChangesNothing) {
  CRefPtr<CTestObject> one(new CTestObject), two(new CTestObject);
  auto shared = NewControl(u"x");
  ASSERT_EQ(one->AttachController(shared.get()), kOk);
  EXPECT_EQ(two->AttachController(shared.get()), kErrBadArgument);
  EXPECT_EQ(two->AttachController2(shared.get()), kErrBadArgument);
  EXPECT_EQ(two->AttachController(nullptr), kErrBadArgument);
  EXPECT_EQ(two->AttachCustomData(nullptr), kErrBadArgument);
  EXPECT_FALSE(two->controllers);
  EXPECT_FALSE(two->controllers2);
  EXPECT_EQ(one->controllers.get(), shared.get());
  EXPECT_EQ(shared->owner, one.get());
}

TEST_F(CorvaTest, DetachingHeadMiddleAndStrangers) {
  CRefPtr<CTestObject> object(new CTestObject);
  auto a = NewControl(u"a"), b = NewControl(u"b"), c = NewControl(u"c");
  EXPECT_TRUE(::KX::Succeeded(object->AttachController(a.get())));
  EXPECT_TRUE(::KX::Succeeded(object->AttachController(b.get())));
  EXPECT_TRUE(::KX::Succeeded(object->AttachController(c.get())));

  EXPECT_EQ(object->DetachController(a.get()), kOk);
  EXPECT_EQ(object->controllers.get(), b.get());
  EXPECT_EQ(a->owner, nullptr);
  EXPECT_FALSE(a->next);

  EXPECT_EQ(object->DetachController(c.get()), kOk);
  EXPECT_EQ(Names(object->controllers.get()), (std::vector<std::u16string>{u"b"}));
  EXPECT_FALSE(c->next);
  EXPECT_EQ(object->DetachController(c.get()), kErrBadArgument);  // no longer owned here

  // Owned by this object but not in its first chain.
  auto second = NewControl(u"s");
  EXPECT_TRUE(::KX::Succeeded(object->AttachController2(second.get())));
  EXPECT_EQ(object->DetachController(second.get()), kErrMalformed);
  EXPECT_EQ(object->DetachController(nullptr), kErrBadArgument);

  object->DetachAllControllers();
  EXPECT_FALSE(object->controllers);
  EXPECT_EQ(b->owner, nullptr);
  EXPECT_EQ(object->GetLastController(), nullptr);
}

TEST_F(CorvaTest, CustomDataIsAppendedAtTheEnd) {
  CRefPtr<CTestObject> object(new CTestObject);
  CRefPtr<CRawData> a(new CRawData), b(new CRawData);
  a->name = u"a";
  b->name = u"b";
  EXPECT_TRUE(::KX::Succeeded(object->AttachCustomData(a.get())));
  EXPECT_TRUE(::KX::Succeeded(object->AttachCustomData(b.get())));
  EXPECT_EQ(object->customData.get(), a.get());
  EXPECT_EQ(a->next.get(), b.get());
  EXPECT_EQ(object->GetLastCustomData(), b.get());
  // Searches cover the whole chain.
  EXPECT_EQ(object->FindObject(u"b", nullptr, false), b.get());
  EXPECT_EQ(FindRawData(object->customData.get(), u"b"), b.get());
  EXPECT_EQ(FindRawData(object->customData.get(), u"c"), nullptr);
}

TEST_F(CorvaTest, SearchOrderIsSelfControllersSecondChainThenCustomData) {
  CRefPtr<CTestObject> object(new CTestObject);
  object->name = u"same";
  auto c1 = NewControl(u"same"), c2 = NewControl(u"same");
  CRefPtr<CRawData> data(new CRawData);
  data->name = u"same";
  EXPECT_TRUE(::KX::Succeeded(object->AttachController(c1.get())));
  EXPECT_TRUE(::KX::Succeeded(object->AttachController2(c2.get())));
  EXPECT_TRUE(::KX::Succeeded(object->AttachCustomData(data.get())));
  EXPECT_EQ(object->FindObject(u"same", nullptr, false), object.get());
  EXPECT_EQ(object->FindObject(u"same", &CControl::classRecord, true), c1.get());
  EXPECT_EQ(object->FindObject(u"same", &CRawData::classRecord, false), data.get());
  std::vector<CBase*> all;
  object->FindObjects(all, u"same", nullptr, false);
  EXPECT_EQ(all, (std::vector<CBase*>{object.get(), c1.get(), c2.get(), data.get()}));
}

TEST_F(CorvaTest, UpdateRunsDataControllersThenTheOtherChains) {
  CRefPtr<CTestObject> object(new CTestObject);
  auto a = NewControl(u"a"), b = NewControl(u"b"), second = NewControl(u"s");
  a->keyTimes = {0, 1, 2, 3};
  b->keyTimes = {0, 10};
  EXPECT_TRUE(::KX::Succeeded(object->AttachController(a.get())));
  EXPECT_TRUE(::KX::Succeeded(object->AttachController(b.get())));
  EXPECT_TRUE(::KX::Succeeded(object->AttachController2(second.get())));
  EXPECT_EQ(object->Update(2.5f), kOk);
  EXPECT_EQ(a->updates, 1);
  EXPECT_EQ(b->updates, 1);
  EXPECT_EQ(second->updates, 1);
  EXPECT_EQ(object->flag, 0);  // b applied last: segment 0 of [0, 10]

  // A disabled controller answers 1, a success, and the walk goes on.
  a->enabled = false;
  EXPECT_EQ(object->Update(1.0f), kOk);
  EXPECT_EQ(b->updates, 2);
}

TEST_F(CorvaTest, UpdateStopsAtAChainWithoutDataControllers) {
  // A controller chain of one transform-kind controller (not a data controller) is skipped at
  // once; the second chain still runs.
  struct CTransformish : CControl {
    float GetDuration() const override { return 0; }
    Status EvaluateTransform(float) override { return kOk; }
    Status ApplyTransform() override { return kOk; }
    Status ApplyData() override { return kNothingDone; }
    Status Update(float) override {
      ++updates;
      return kOk;
    }
    int updates = 0;
  };
  CRefPtr<CTestObject> object(new CTestObject);
  CRefPtr<CTransformish> transform(new CTransformish);
  auto second = NewControl(u"s");
  EXPECT_TRUE(::KX::Succeeded(object->AttachController(transform.get())));
  EXPECT_TRUE(::KX::Succeeded(object->AttachController2(second.get())));
  EXPECT_EQ(object->Update(1.0f), kOk);
  EXPECT_EQ(transform->updates, 0);
  EXPECT_EQ(second->updates, 1);
}

TEST_F(CorvaTest, UpdateAnswersTheFirstFailure) {
  CRefPtr<CTestObject> object(new CTestObject);
  auto orphan = NewControl(u"o");
  object->controllers = orphan;  // no owner: applying fails
  EXPECT_EQ(object->Update(0.0f), kErrBadArgument);
}

TEST_F(CorvaTest, DuplicateKeepsSharedControllersShared) {
  CRefPtr<CTestObject> one(new CTestObject), two(new CTestObject);
  auto shared = NewControl(u"shared");
  shared->keyTimes = {1, 2};
  EXPECT_TRUE(::KX::Succeeded(one->AttachController(shared.get())));
  ReleasedList released;
  ASSERT_EQ(one->AssignTo(two.get(), released), kOk);  // two now shares one's chains
  EXPECT_EQ(two->controllers.get(), shared.get());

  DuplicateMap map;
  CRefPtr<CBase> copyOne, copyTwo;
  ASSERT_EQ(one->Duplicate(copyOne, map), kOk);
  ASSERT_EQ(two->Duplicate(copyTwo, map), kOk);
  auto* c1 = static_cast<CCorva*>(copyOne.get());
  auto* c2 = static_cast<CCorva*>(copyTwo.get());
  ASSERT_TRUE(c1->controllers);
  EXPECT_NE(c1->controllers.get(), shared.get());
  EXPECT_EQ(c1->controllers.get(), c2->controllers.get());
  EXPECT_EQ(c1->controllers->owner, c1);
  EXPECT_EQ(static_cast<CTestControl*>(c1->controllers.get())->keyTimes, shared->keyTimes);
}

TEST_F(CorvaTest, AssignToSharesChainsAndReleasesTheOldOnes) {
  CRefPtr<CTestObject> from(new CTestObject), to(new CTestObject);
  CRefPtr<CRawData> mine(new CRawData), theirs(new CRawData);
  EXPECT_TRUE(::KX::Succeeded(from->AttachCustomData(mine.get())));
  EXPECT_TRUE(::KX::Succeeded(to->AttachCustomData(theirs.get())));
  from->flag = 3;
  ReleasedList released;
  ASSERT_EQ(from->AssignTo(to.get(), released), kOk);
  EXPECT_EQ(to->customData.get(), mine.get());
  EXPECT_EQ(to->flag, 3);
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0].get(), theirs.get());

  CRefPtr<CBase> plain(new CBase);
  EXPECT_EQ(from->AssignTo(plain.get(), released), kErrMalformed);
  EXPECT_EQ(plain->name, from->name);  // the name was copied before the class check
}

TEST_F(CorvaTest, ResolveNamesNeedsARoot) {
  CRefPtr<CTestObject> object(new CTestObject);
  EXPECT_EQ(object->ResolveNames(nullptr), kErrBadArgument);
  EXPECT_EQ(object->ResolveNames(object.get()), kOk);
  DuplicateMap map;
  EXPECT_EQ(object->RemapReferences(map), kOk);
}

TEST_F(CorvaTest, BlockLayoutAndSizes) {
  CRefPtr<CTestObject> object(new CTestObject);
  EXPECT_EQ(object->GetSaveSize(), 11 + 24 + 20);
  EXPECT_EQ(object->GetMemorySize(), 60);
  EXPECT_EQ(object->GetVersion(), 200);
  CRefPtr<CBase> out;
  struct Abstract : CCorva {};
  CRefPtr<Abstract> abstract(new Abstract);
  EXPECT_EQ(abstract->Clone(out), kErrBadArgument);
}

}  // namespace
}  // namespace KX
