#include <gtest/gtest.h>

#include <cmath>

#include "object/control.h"
#include "control/key_search.h"
#include "support/bytes.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX {
namespace {

using test::Bytes;
using test::CTestControl;

class ControlTest : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }
};

CRefPtr<CTestControl> Keyed(std::vector<float> keys, int32_t outOfRange = 0, float scale = 1) {
  CRefPtr<CTestControl> c(new CTestControl);
  c->keyTimes = std::move(keys);
  c->outOfRange = outOfRange;
  c->timeScale = scale;
  return c;
}

TEST_F(ControlTest, Defaults) {
  CRefPtr<CTestControl> c(new CTestControl);
  EXPECT_EQ(c->outOfRange, 0);
  EXPECT_EQ(c->timeScale, 1.0f);
  EXPECT_EQ(c->auxValue, 1.0f);
  EXPECT_EQ(c->priority, 0.0f);
  EXPECT_TRUE(c->enabled);
  EXPECT_EQ(c->owner, nullptr);
  EXPECT_EQ(c->IsDisabled(), kOk);
  EXPECT_EQ(c->EvaluateTransform(0), kNothingDone);  // data controllers take no part
  EXPECT_EQ(c->ApplyTransform(), kNothingDone);
  EXPECT_EQ(c->GetTargetAt(0), nullptr);
  EXPECT_TRUE(c->IsActiveAt(5));
  EXPECT_EQ(c->ApplyData(), kErrBadArgument);  // no owner
}

TEST_F(ControlTest, MapTimeScalesLoopsAndPingPongs) {
  int32_t cycles = -1;
  EXPECT_FLOAT_EQ(Keyed({0, 4}, kOutOfRangeNone, 2)->MapTime(3, cycles), 6);
  EXPECT_EQ(cycles, 0);
  EXPECT_FLOAT_EQ(Keyed({0, 4}, kOutOfRangeLoop)->MapTime(9, cycles), 1);
  EXPECT_EQ(cycles, 2);
  EXPECT_FLOAT_EQ(Keyed({0, 4}, kOutOfRangePingPong)->MapTime(9, cycles), 1);
  EXPECT_EQ(cycles, 2);
  EXPECT_FLOAT_EQ(Keyed({0, 4}, kOutOfRangePingPong)->MapTime(5, cycles), 3);
  EXPECT_EQ(cycles, 1);
  // Negative times are only scaled, never wrapped.
  EXPECT_FLOAT_EQ(Keyed({0, 4}, kOutOfRangeLoop, 2)->MapTime(-3), -6);
  // Without a duration, looping modes answer 0 for positive times.
  EXPECT_FLOAT_EQ(Keyed({}, kOutOfRangeLoop)->MapTime(7), 0);
  EXPECT_FLOAT_EQ(Keyed({0}, kOutOfRangePingPong)->MapTime(7), 0);
  // Huge times stay finite and keep the phase arithmetic defined.
  const float far = Keyed({0, 4}, kOutOfRangePingPong)->MapTime(3e38f, cycles);
  EXPECT_TRUE(std::isfinite(far));
  // A time whose cycle count overflows (an infinite scaled time, or a tiny duration) has no
  // phase: it maps to the start.
  for (const int32_t mode : {kOutOfRangeLoop, kOutOfRangePingPong}) {
    EXPECT_EQ(Keyed({0, 1e-30f}, mode)->MapTime(3e38f, cycles), 0.0f);
    EXPECT_EQ(cycles, 0);
    EXPECT_EQ(Keyed({0, 4}, mode, 1e30f)->MapTime(1e30f, cycles), 0.0f);
    EXPECT_EQ(cycles, 0);
  }
}

TEST_F(ControlTest, PlainKeySearch) {
  const std::vector<float> keys = {0, 1, 2, 4};
  int32_t cursor = 0;
  KeySegment s = FindKeySegment(0.5f, {}, cursor);
  EXPECT_EQ(s.code, kKeyNone);
  s = FindKeySegment(-1, keys, cursor);
  EXPECT_EQ(s.code, kKeyBefore);
  EXPECT_EQ(s.a, 0);
  s = FindKeySegment(5, keys, cursor);
  EXPECT_EQ(s.code, kKeyAfter);
  EXPECT_EQ(s.a, 3);
  EXPECT_EQ(cursor, 3);
  s = FindKeySegment(3, keys, cursor);  // backward from the last key
  EXPECT_EQ(s.code, kKeyBackward);
  EXPECT_EQ(s.a, 2);
  EXPECT_EQ(s.b, 3);
  EXPECT_FLOAT_EQ(s.t, 0.5f);
  EXPECT_EQ(cursor, 3);
  cursor = 1;
  s = FindKeySegment(1, keys, cursor);  // on the cursor's key
  EXPECT_EQ(s.code, kKeyExact);
  EXPECT_EQ(s.a, 1);
  EXPECT_EQ(s.t, 0);
  s = FindKeySegment(2.5f, keys, cursor);  // forward, cursor follows
  EXPECT_EQ(s.code, kKeyForward);
  EXPECT_EQ(s.a, 2);
  EXPECT_EQ(s.b, 3);
  EXPECT_FLOAT_EQ(s.t, 0.25f);
  EXPECT_EQ(cursor, 2);
  cursor = 99;  // out of range: restarts at 0
  s = FindKeySegment(1.5f, keys, cursor);
  EXPECT_EQ(s.a, 1);
  EXPECT_EQ(s.b, 2);
}

TEST_F(ControlTest, KeySearchSurvivesUnorderedAndNaNKeys) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<std::vector<float>> hostile = {{nan, 1, 2}, {0, nan, 2}, {5, 1, 3, 10}, {nan}};
  for (const auto& keys : hostile)
    for (float time : {nan, -1.0f, 0.5f, 1.5f, 4.0f, 20.0f})
      for (int32_t start : {0, 1, 2, 3}) {
        int32_t cursor = start;
        const KeySegment s = FindKeySegment(time, keys, cursor);
        ASSERT_GE(s.a, 0);
        ASSERT_LT(static_cast<size_t>(s.b), keys.size());
        ASSERT_GE(cursor, 0);
        const KeyNear n = FindKeyNear(time, keys, start);
        ASSERT_GE(n.index, 0);
        ASSERT_LT(static_cast<size_t>(n.index), keys.size());
      }
}

TEST_F(ControlTest, EasedKeySearch) {
  const std::vector<float> keys = {0, 10};
  std::vector<float> transition = {kNoTransition, 2};
  std::vector<int32_t> type = {0, kKeyLinear};
  int32_t cursor = 0;
  EXPECT_FLOAT_EQ(FindKeySegmentEased(5, keys, transition, type, cursor).t, 0);  // key a holds
  cursor = 0;
  EXPECT_FLOAT_EQ(FindKeySegmentEased(9, keys, transition, type, cursor).t, 0.5f);
  type[1] = kKeyEaseIn;
  cursor = 0;
  EXPECT_FLOAT_EQ(FindKeySegmentEased(9, keys, transition, type, cursor).t, 0.25f);
  type[1] = kKeyEaseOut;
  cursor = 0;
  EXPECT_FLOAT_EQ(FindKeySegmentEased(9, keys, transition, type, cursor).t, 0.75f);
  type[1] = kKeyStep;
  cursor = 0;
  EXPECT_FLOAT_EQ(FindKeySegmentEased(9.9f, keys, transition, type, cursor).t, 0);
  // Without a transition the change spans the whole segment; missing entries count as that.
  cursor = 0;
  EXPECT_FLOAT_EQ(FindKeySegmentEased(2.5f, keys, {}, {}, cursor).t, 0.25f);
  // On a key the code is exact and t is 0.
  cursor = 1;
  const KeySegment on = FindKeySegmentEased(10, {{0, 10, 20}}, {}, {}, cursor);
  EXPECT_EQ(on.code, kKeyExact);
  EXPECT_EQ(on.t, 0);
}

TEST_F(ControlTest, TolerantKeyLookup) {
  const std::vector<float> keys = {0, 1, 2, 3};
  EXPECT_EQ(FindKeyNear(0.5f, {}, 0).code, kKeyNone);
  EXPECT_EQ(FindKeyNearFrom(0.5f, {}, 0).index, -1);
  EXPECT_EQ(FindKeyNear(-1, keys, 2).code, kKeyBefore);
  const KeyNear after = FindKeyNear(4, keys, 0);
  EXPECT_EQ(after.code, kKeyAfter);
  EXPECT_EQ(after.index, 3);
  const KeyNear near = FindKeyNear(2.005f, keys, 0);
  EXPECT_EQ(near.code, kKeyExact);
  EXPECT_EQ(near.index, 2);
  const KeyNear forward = FindKeyNear(2.5f, keys, 0);
  EXPECT_EQ(forward.code, kKeyForward);
  EXPECT_EQ(forward.index, 2);
  const KeyNear backward = FindKeyNear(0.5f, keys, 3);
  EXPECT_EQ(backward.code, kKeyBackward);
  EXPECT_EQ(backward.index, 0);
  EXPECT_EQ(FindKeyNear(1.001f, keys, 1).code, kKeyExact);  // at the start index
  EXPECT_EQ(FindKeyNearFrom(2.5f, keys, -5).index, 2);
}

TEST_F(ControlTest, CollectActiveCheckStartAndCheckEnd) {
  auto c = Keyed({0, 4}, 0, 2);
  c->priority = 3;
  std::vector<float> times, priorities;
  c->CollectActive(1, 1, times, priorities);  // a = 2 inside the 4 s duration
  c->CollectActive(-1, 2, times, priorities);  // starts before 0, reaches past it
  c->CollectActive(3, 1, times, priorities);  // a = 6 beyond the duration
  c->CollectActive(-3, 1, times, priorities);  // never reaches 0
  EXPECT_EQ(times, (std::vector<float>{1, 0}));
  EXPECT_EQ(priorities, (std::vector<float>{3, 3}));

  float time = -1;
  EXPECT_TRUE(c->CheckStart(time, 0, 3));
  EXPECT_EQ(time, 1);
  time = -1;
  EXPECT_FALSE(c->CheckStart(time, 0, 4));  // priority below the level
  time = 1;
  EXPECT_FALSE(c->CheckStart(time, 0, 3));

  bool hit = false;
  time = 1;  // c = 2 < d = 4 < e = 10
  EXPECT_TRUE(c->CheckEnd(5, time, 3, hit));
  EXPECT_FLOAT_EQ(time, 2);
  EXPECT_TRUE(hit);
  hit = false;
  time = -1;  // before the start with the end inside: back to 0
  EXPECT_TRUE(c->CheckEnd(1, time, 3, hit));
  EXPECT_EQ(time, 0);
  EXPECT_TRUE(hit);
  time = 1;
  hit = false;
  EXPECT_TRUE(c->CheckEnd(5, time, 2, hit));  // higher priority than the level
  EXPECT_FLOAT_EQ(time, 2);
  EXPECT_FALSE(hit);
  time = 1;
  EXPECT_FALSE(c->CheckEnd(5, time, 4, hit));  // lower priority
  EXPECT_FALSE(c->CheckEnd(-1, time, 3, hit));
  time = 3;  // c = 6 past the duration
  EXPECT_FALSE(c->CheckEnd(5, time, 3, hit));
}

// The controller block in the current layout: after the scene-object blocks, 2, 1, out-of-range,
// priority, aux value, time scale, enabled, owner id, next id.
Bytes ControlRecord(int32_t id, int32_t owner, int32_t next, int32_t major, int32_t minor,
                    std::initializer_list<float> middle, std::vector<float> keys) {
  Bytes body;
  body.Version(2, 0).I32(id).W(u"");
  body.Version(2, 0).I32(0).I32(0).I32(0);
  body.Version(major, minor).I32(1);
  for (float f : middle) body.F32(f);
  body.F32(2).U8(1).I32(owner).I32(next);
  body.Version(2, 0);  // CDataControl
  body.Version(2, 0).I32(static_cast<int32_t>(keys.size()));
  for (float k : keys) body.F32(k);
  return Bytes().A("CTestControl").I32(static_cast<int32_t>(body.size())).Append(body);
}

TEST_F(ControlTest, BlockLayoutIsByteExact) {
  auto c = Keyed({1, 2}, kOutOfRangeLoop, 2);
  c->priority = 0.5f;
  c->auxValue = 7;
  EXPECT_EQ(c->GetSaveSize(), 12 + 24 + 20 + 33 + 8 + 8 + 4 + 8);
  const auto bytes = test::SaveRootToBytes(c.get());
  const Bytes expected = test::NewHeader().I32(0).I32(0).A("_Root").Append(
      ControlRecord(1, 0, 0, 2, 1, {0.5f, 7}, {1, 2}));
  EXPECT_EQ(bytes, expected.data);
}

TEST_F(ControlTest, VersionTwoZeroBlocksCarryALegacyStartTime) {
  // Start time 10, keys 10, 12, 15: the keys come out relative to the start, priority 0 and the
  // aux value back at 1.
  const Bytes file = test::NewHeader().I32(0).I32(0).A("_Root").Append(
      ControlRecord(1, 0, 0, 2, 0, {10, 0.5f, 99}, {10, 12, 15}));
  CPersistContext context;
  ASSERT_EQ(test::LoadFromBytes(file.data, context), kOk) << context.diagnostics.Describe();
  auto* c = KindOf<CTestControl>(context.roots.at(0).get());
  ASSERT_TRUE(c);
  EXPECT_EQ(c->keyTimes, (std::vector<float>{0, 2, 5}));
  EXPECT_EQ(c->priority, 0);
  EXPECT_EQ(c->auxValue, 1);
  EXPECT_EQ(c->timeScale, 2);
  EXPECT_EQ(c->outOfRange, 1);
  // A block newer than the class is refused.
  const Bytes newer = test::NewHeader().I32(0).I32(0).A("_Root").Append(
      ControlRecord(1, 0, 0, 2, 2, {0, 1}, {}));
  CPersistContext refused;
  EXPECT_EQ(test::LoadFromBytes(newer.data, refused), kErrNewerVersion);
}

TEST_F(ControlTest, OwnerAndNextAreLinkedByIdAndRoundTrip) {
  CRefPtr<test::CTestObject> owner(new test::CTestObject);
  auto a = Keyed({0, 1}), b = Keyed({0, 2});
  a->name = u"a";
  b->name = u"b";
  EXPECT_TRUE(::KX::Succeeded(owner->AttachController(a.get())));
  EXPECT_TRUE(::KX::Succeeded(owner->AttachController(b.get())));
  auto loaded = test::ExpectRoundTrip(owner.get());
  auto* o = KindOf<CCorva>(loaded.get());
  ASSERT_TRUE(o && o->controllers && o->controllers->next);
  EXPECT_EQ(o->controllers->owner, o);
  EXPECT_EQ(o->controllers->next->owner, o);
  EXPECT_EQ(o->controllers->next->name, u"b");
}

// A controller that outlives its owner (another holder keeps it) no longer names it.
TEST_F(ControlTest, AnOwnerThatGoesLeavesNoPointerInItsControllers) {
  auto a = Keyed({0, 1}), b = Keyed({0, 2}), second = Keyed({0, 3});
  CRefPtr<test::CTestObject> other(new test::CTestObject);
  {
    CRefPtr<test::CTestObject> owner(new test::CTestObject);
    ASSERT_EQ(owner->AttachController(a.get()), kOk);
    ASSERT_EQ(owner->AttachController(b.get()), kOk);
    ASSERT_EQ(owner->AttachController2(second.get()), kOk);
    ASSERT_EQ(a->owner, owner.get());
    b->owner = other.get();  // a chain member that names another object keeps it
  }
  EXPECT_EQ(a->owner, nullptr);
  EXPECT_EQ(b->owner, other.get());
  EXPECT_EQ(second->owner, nullptr);
  EXPECT_EQ(a->next.get(), b.get());
}

TEST_F(ControlTest, DuplicateCopiesTheChainAndAssignToSharesIt) {
  auto a = Keyed({0, 1}), b = Keyed({0, 2});
  a->next = b;
  a->priority = 4;
  DuplicateMap map;
  CRefPtr<CBase> copy;
  ASSERT_EQ(a->Duplicate(copy, map), kOk);
  auto* c = static_cast<CControl*>(copy.get());
  ASSERT_TRUE(c->next);
  EXPECT_NE(c->next.get(), b.get());
  EXPECT_EQ(c->priority, 4);
  EXPECT_EQ(map.size(), 2u);

  auto target = Keyed({});
  auto oldNext = Keyed({});
  target->next = oldNext;
  ReleasedList released;
  CRefPtr<test::CTestObject> owner(new test::CTestObject);
  a->owner = owner.get();
  ASSERT_EQ(a->AssignTo(target.get(), released), kOk);
  EXPECT_EQ(target->next.get(), b.get());
  EXPECT_EQ(target->owner, owner.get());
  EXPECT_EQ(target->priority, 4);
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0].get(), oldNext.get());
  CRefPtr<test::CTestObject> notAControl(new test::CTestObject);
  EXPECT_EQ(a->AssignTo(notAControl.get(), released), kErrMalformed);
}

TEST_F(ControlTest, DisabledControllersHoldTheirValue) {
  CRefPtr<test::CTestObject> owner(new test::CTestObject);
  auto c = Keyed({0, 1, 2});
  EXPECT_TRUE(::KX::Succeeded(owner->AttachController(c.get())));
  ASSERT_EQ(c->Update(1.5f), kOk);
  EXPECT_EQ(c->value, 1);
  c->enabled = false;
  EXPECT_EQ(c->IsDisabled(), kNothingDone);
  EXPECT_EQ(c->Update(0.1f), kNothingDone);
  EXPECT_EQ(c->value, 1);
}

}  // namespace
}  // namespace KX
