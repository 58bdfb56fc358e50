#include <gtest/gtest.h>

#include <cmath>

#include "control/key_search.h"
#include "control/keyframe_control.h"
#include "core/math/transform.h"
#include "scene/node.h"
#include "scene/scene_fixtures.h"
#include "support/bytes.h"
#include "support/round_trip.h"

namespace KX {
namespace {

using test::Bytes;
using V = CVector3<float>;

void ExpectNear(const V& a, const V& b, float tolerance = 1e-5f) {
  EXPECT_NEAR(a.x, b.x, tolerance);
  EXPECT_NEAR(a.y, b.y, tolerance);
  EXPECT_NEAR(a.z, b.z, tolerance);
}

void ExpectNear(const CMatrix4& a, const CMatrix4& b, float tolerance = 1e-5f) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(a.m[r][c], b.m[r][c], tolerance) << r << "," << c;
}

// A keyframe controller on a leaf, the leaf under a node whose transform plays the parent.
struct Rig {
  CRefPtr<CNode> parent{new CNode};
  CRefPtr<test::CTestLeaf> leaf{new test::CTestLeaf};
  CRefPtr<CKeyframeControl> keys{new CKeyframeControl};
  explicit Rig(CKeyframeControl* control = nullptr) {
    if (control) keys = control;
    EXPECT_TRUE(::KX::Succeeded(parent->AddChild(leaf.get())));
    EXPECT_TRUE(::KX::Succeeded(leaf->AttachController(keys.get())));
  }
  CMatrix4 At(float time) {
    EXPECT_EQ(keys->EvaluateTransform(time), kOk);
    return keys->matrix;
  }
};

TEST(KeyframeControl, SharedKeysStepEaseAndHold) {
  Rig rig;
  auto& k = *rig.keys;
  k.keyTimes = {0, 1, 2};
  k.positionKeys = {{0, 0, 0}, {10, 0, 0}, {20, 0, 0}};
  k.RebuildTransitions();
  k.type = {kKeyLinear, kKeyStep, kKeyLinear};
  EXPECT_EQ(rig.At(0.5f).Translation(), (V{0, 0, 0}));  // the step into key 1 holds key 0
  EXPECT_EQ(rig.At(1.0f).Translation(), (V{10, 0, 0}));
  ExpectNear(rig.At(1.5f).Translation(), {15, 0, 0});  // key 1's segment is linear
  EXPECT_EQ(rig.At(7).Translation(), (V{20, 0, 0}));   // past the end the last key holds
  EXPECT_EQ(rig.At(-1).Translation(), (V{0, 0, 0}));

  // Transition 2 s into key 2, eased in: key 1 holds until 1 s before it.
  k.transition[2] = 0.5f;
  k.type[2] = kKeyEaseIn;
  EXPECT_EQ(rig.At(1.25f).Translation(), (V{10, 0, 0}));
  ExpectNear(rig.At(1.75f).Translation(), {12.5f, 0, 0});
  // Transition lists that do not match the keys are not used: plain linear search.
  k.transition.pop_back();
  ExpectNear(rig.At(1.75f).Translation(), {17.5f, 0, 0});
}

TEST(KeyframeControl, ChannelsInterpolateAndKeepTheirDefaults) {
  Rig rig;
  auto& k = *rig.keys;
  rig.leaf->position = {5, 5, 5};
  rig.leaf->scale = {3, 3, 3};
  const float h = std::sqrt(0.5f);
  k.channelTimes.Mutable().rotationTimes = {0, 1};
  k.rotationKeys = {{1, 0, 0, 0}, {h, 0, 0, h}};  // 90 degrees about z
  const CMatrix4 m = rig.At(0.5f);
  // Only rotation is keyed: position 0 and scale 1, not the owner's rest values.
  EXPECT_EQ(m.Translation(), (V{0, 0, 0}));
  EXPECT_NEAR(Length(m.Row(0)), 1.0f, 1e-5f);
  ExpectNear(m.Row(0), {std::cos(0.7853982f), std::sin(0.7853982f), 0});

  // A channel with fewer values than times holds its last value instead of reading past it.
  k.channelTimes.Mutable().positionTimes = {0, 1, 2, 3};
  k.positionKeys = {{1, 0, 0}, {2, 0, 0}};
  ExpectNear(rig.At(0.5f).Translation(), {1.5f, 0, 0});
  EXPECT_EQ(rig.At(2.5f).Translation(), (V{2, 0, 0}));
  // Shared times with no values at all for a channel: that channel's default.
  k.keyTimes = {0, 1};
  k.positionKeys.clear();
  k.scaleKeys = {{2, 2, 2}};
  const CMatrix4 shared = rig.At(0.5f);
  EXPECT_EQ(shared.Translation(), (V{0, 0, 0}));
  EXPECT_NEAR(Length(shared.Row(1)), 2.0f, 1e-6f);
  EXPECT_FLOAT_EQ(k.GetDuration(), 1);
  k.keyTimes.clear();
  EXPECT_FLOAT_EQ(k.GetDuration(), 3);
}

TEST(KeyframeControl, NoKeysGiveTheRestPoseAndADisabledControllerHolds) {
  Rig rig;
  rig.leaf->position = {1, 2, 3};
  rig.leaf->scale = {2, 1, 0.5f};
  rig.leaf->rotation = UpperMatrix3(MatrixFromQuaternion({std::sqrt(0.5f), std::sqrt(0.5f), 0, 0}));
  ExpectNear(rig.At(3), rig.leaf->GetLocalMatrix());
  const CMatrix4 held = rig.keys->matrix;
  rig.keys->enabled = false;
  rig.leaf->position = {9, 9, 9};
  EXPECT_EQ(rig.keys->EvaluateTransform(3), kNothingDone);
  EXPECT_EQ(rig.keys->matrix, held);
  // Without a spatial owner nothing is keyed: identity, and nothing to apply to.
  CRefPtr<CKeyframeControl> loose(new CKeyframeControl);
  EXPECT_EQ(loose->EvaluateTransform(1), kOk);
  EXPECT_EQ(loose->matrix, CMatrix4{});
  EXPECT_EQ(loose->ApplyTransform(), kErrBadArgument);
  // The computed transform goes with a copy; one never evaluated reads, and copies, as CMatrix4{}.
  CRefPtr<CBase> copy;
  ASSERT_EQ(rig.keys->Clone(copy), kOk);
  auto* copied = static_cast<CKeyframeControl*>(copy.get());
  EXPECT_EQ(copied->matrix, held);
  CRefPtr<CKeyframeControl> fresh(new CKeyframeControl);
  ReleasedList released;
  ASSERT_EQ(fresh->AssignTo(copied, released), kOk);
  EXPECT_EQ(copied->matrix, CMatrix4{});
}

TEST(KeyframeControl, ParentCombinationFollowsTheInheritanceFlags) {
  Rig rig;
  rig.keys->keyTimes = {0};
  rig.keys->positionKeys = {{1, 0, 0}};
  const CMatrix4 local = MatrixTranslation({1, 0, 0});

  // An identity parent leaves the local matrix, whatever the flags say.
  rig.leaf->flags = kInheritRotationZ | kInheritScaleX;
  EXPECT_EQ(rig.At(0), local);

  // Flags 0: a plain product.
  const CMatrix4 turn = ToMatrix4(RotationFromEuler({0, 0, 1.5707964f}));
  rig.parent->transform = turn * MatrixTranslation({5, 6, 0});
  rig.leaf->flags = 0;
  ExpectNear(rig.At(0), local * rig.parent->transform);

  // A set translation bit keeps that component of the parent's translation away.
  rig.parent->transform = MatrixTranslation({5, 6, 0});
  rig.leaf->flags = kInheritTranslationX;
  ExpectNear(rig.At(0).Translation(), {1, 6, 0});

  // A set rotation bit keeps the child's axes out of that turn; its translation still turns.
  rig.parent->transform = turn;
  rig.leaf->flags = kInheritRotationZ;
  const CMatrix4 m = rig.At(0);
  ExpectNear(m.Row(0), {1, 0, 0});
  ExpectNear(m.Row(1), {0, 1, 0});
  ExpectNear(m.Translation(), {0, 1, 0});

  // A set scale bit keeps the parent's scale off the child's axes.
  rig.parent->transform = MatrixScaling({2, 3, 4});
  rig.leaf->flags = kInheritScaleX | kInheritScaleY | kInheritScaleZ;
  const CMatrix4 scaled = rig.At(0);
  ExpectNear(scaled.Row(0), {1, 0, 0});
  ExpectNear(scaled.Translation(), {2, 0, 0});

  // Collapsed and non-invertible parents and a zero key scale stay finite.
  rig.keys->scaleKeys = {{0, 0, 0}};
  for (uint32_t flags : {0u, 7u, 0x38u, 0x1FFu, 0x49u})
    for (const CMatrix4& parent : {MatrixScaling({0, 0, 0}), MatrixScaling({0, 1, 1}),
                                   MatrixTranslation({1, 2, 3}) * MatrixScaling({0, 0, 2})}) {
      rig.leaf->flags = flags;
      rig.parent->transform = parent;
      EXPECT_TRUE(IsFinite(rig.At(0))) << flags;
    }
}

TEST(KeyframeControl, ParentSpaceSeparateUndoesCombine) {
  const CMatrix4 parent = ToMatrix4(RotationFromEuler({0.3f, -0.2f, 1.1f})) *
                          MatrixScaling({2, 1, 3}) * MatrixTranslation({4, -5, 6});
  const CMatrix4 local =
      ToMatrix4(RotationFromEuler({0.5f, 0.1f, -0.4f})) * MatrixTranslation({1, 2, 3});
  for (uint32_t flags : {0u, 1u, 0x12u, 0x1C0u, 0x1FFu, 0x0F5u}) {
    const ParentSpace space = ParentSpace::Of(parent, flags);
    ExpectNear(space.Separate(space.Combine(local)), local, 1e-4f);
  }
}

// Clip table: a 1 s looping clip, a clip that holds its start, and the default clip from 5 s.
CRefPtr<CKeyframeClipControl> Clips() {
  CRefPtr<CKeyframeClipControl> c(new CKeyframeClipControl);
  ClipRecord loop, hold, fallback;
  loop.mode = 1;
  loop.end = 1;
  hold.mode = kClipHold;
  hold.start = 3;
  hold.end = 4;
  fallback.mode = kClipDefault;
  fallback.start = 5;
  fallback.end = 7;
  c->clips = {loop, hold, fallback};
  return c;
}

TEST(KeyframeClipControl, SequencePlaysClipsThenTheDefault) {
  auto c = Clips();
  c->sequence = {{1, 0, 2}, {10, 1, 1}, {20, 7, 1}};
  EXPECT_FLOAT_EQ(c->ClipTime(0.5f), 5.5f);  // before the sequence: the default clip
  EXPECT_FLOAT_EQ(c->ClipTime(1.25f), 0.25f);
  EXPECT_FLOAT_EQ(c->ClipTime(2.5f), 0.5f);   // second pass of the loop
  EXPECT_FLOAT_EQ(c->ClipTime(3.5f), 5.5f);   // both passes done: the default from 0.5 s
  EXPECT_FLOAT_EQ(c->ClipTime(6.5f), 6.5f);   // 3.5 s into the default loops it to 1.5 s
  EXPECT_FLOAT_EQ(c->ClipTime(10.5f), 3);     // a holding clip keeps its start
  EXPECT_FLOAT_EQ(c->ClipTime(20.5f), 5.5f);  // an entry naming no clip plays the default
  // A huge time over a short clip takes no more work than a small one.
  EXPECT_TRUE(std::isfinite(c->ClipTime(3e37f)));
  // No default clip: 0.
  c->clips.pop_back();
  EXPECT_FLOAT_EQ(c->ClipTime(3.5f), 0);
  EXPECT_FLOAT_EQ(c->ClipTime(0.5f), 0);
  c->sequence.clear();
  EXPECT_FLOAT_EQ(c->ClipTime(2), 0);
}

TEST(KeyframeClipControl, EvaluatesTheKeysAtTheClipTime) {
  auto c = Clips();
  Rig rig(c.get());
  c->sequence = {{0, 0, 2}};
  c->keyTimes = {0, 10};
  c->positionKeys = {{0, 0, 0}, {10, 0, 0}};
  c->timeScale = 2;
  // Scene time 1.25 is 2.5 s into the entry: past the two passes, the default clip at 0.5 s.
  ExpectNear(rig.At(1.25f).Translation(), {5.5f, 0, 0});
  c->timeScale = 0;
  EXPECT_TRUE(IsFinite(rig.At(1)));
}

// The record of a keyframe controller with its base blocks; `control` is the controller block
// after the version pair, `keyed` the keyframe block.
Bytes KeyframeFile(const char* cls, int32_t controlMinor, const Bytes& control,
                   const Bytes& keyed) {
  Bytes body;
  body.Version(2, 0).I32(1).W(u"");         // base: id, name
  body.Version(2, 0).I32(0).I32(0).I32(0);  // three empty chains
  body.Version(2, controlMinor).Append(control);
  body.Version(2, 0);  // transform controller
  body.Append(keyed);
  return test::NewHeader()
      .I32(0)
      .I32(0)
      .A("_Root")
      .A(cls)
      .I32(static_cast<int32_t>(body.size()))
      .Append(body);
}

Bytes Floats(std::initializer_list<float> values) {
  Bytes b;
  b.I32(static_cast<int32_t>(values.size()));
  for (float v : values) b.F32(v);
  return b;
}

// Priority 0, aux 1, scale 1, out of range 0, enabled, no owner, no next.
Bytes CurrentControl() {
  return Bytes().I32(0).F32(0).F32(1).F32(1).U8(1).I32(0).I32(0);
}

CKeyframeControl* LoadedKeys(const Bytes& file, CPersistContext& context) {
  EXPECT_EQ(test::LoadFromBytes(file.data, context), kOk) << context.diagnostics.Describe();
  return context.roots.empty() ? nullptr : KindOf<CKeyframeControl>(context.roots[0].get());
}

TEST(KeyframePersistence, CurrentBlockIsByteExact) {
  test::RegisterForTests();
  CRefPtr<CKeyframeControl> k(new CKeyframeControl);
  k->rotationKeys = {{1, 0, 0, 0}};
  k->positionKeys = {{1, 2, 3}};
  k->scaleKeys = {{4, 5, 6}};
  k->keyTimes = {0.5f};
  k->channelTimes.Mutable().scaleTimes = {2};
  k->transition = {0.25f};
  k->type = {kKeyEaseOut};
  Bytes keyed;
  keyed.Version(2, 3).I32(1).F32(1).F32(0).F32(0).F32(0).I32(1).F32(1).F32(2).F32(3);
  keyed.I32(1).F32(4).F32(5).F32(6).Append(Floats({0.5f})).Append(Floats({})).Append(Floats({}));
  keyed.Append(Floats({2})).Append(Floats({0.25f})).I32(1).I32(kKeyEaseOut);
  EXPECT_EQ(test::SaveRootToBytes(k.get()),
            KeyframeFile("CKeyframeControl", 1, CurrentControl(), keyed).data);
  test::ExpectRoundTrip(k.get());
}

TEST(KeyframePersistence, OlderBlocks) {
  test::RegisterForTests();
  // 2.0: a start time of 10 in the controller block, a dropped matrix and byte, a trailing value.
  // Keys come out relative to the start, with one default transition per key.
  Bytes control20;
  control20.I32(0).F32(10).F32(0.5f).F32(99).F32(1).U8(1).I32(0).I32(0);
  Bytes keyed20;
  keyed20.Version(2, 0);
  for (int i = 0; i < 16; ++i) keyed20.F32(7);
  keyed20.U8(1).Append(Floats({})).Append(Floats({})).Append(Floats({}));
  keyed20.Append(Floats({10, 12, 15})).Append(Floats({11})).Append(Floats({})).Append(Floats({}));
  keyed20.F32(42);
  CPersistContext old;
  CKeyframeControl* k = LoadedKeys(KeyframeFile("CKeyframeControl", 0, control20, keyed20), old);
  ASSERT_TRUE(k);
  EXPECT_EQ(k->keyTimes, (std::vector<float>{0, 2, 5}));
  EXPECT_EQ(k->channelTimes->rotationTimes, (std::vector<float>{1}));
  EXPECT_EQ(k->legacyValue, 42);
  EXPECT_EQ(k->transition, std::vector<float>(3, kNoTransition));
  EXPECT_EQ(k->type, std::vector<int32_t>(3, kKeyLinear));
  EXPECT_EQ(k->priority, 0);
  EXPECT_EQ(k->auxValue, 1);

  // 2.2: transitions and types are read past and replaced by defaults.
  Bytes keyed22;
  keyed22.Version(2, 2).Append(Floats({})).Append(Floats({})).Append(Floats({}));
  keyed22.Append(Floats({1, 2})).Append(Floats({})).Append(Floats({})).Append(Floats({}));
  keyed22.Append(Floats({0.5f, 0.5f})).I32(2).I32(1).I32(1);
  CPersistContext v22;
  k = LoadedKeys(KeyframeFile("CKeyframeControl", 1, CurrentControl(), keyed22), v22);
  ASSERT_TRUE(k);
  EXPECT_EQ(k->transition, std::vector<float>(2, kNoTransition));
  EXPECT_EQ(k->type, std::vector<int32_t>(2, kKeyLinear));

  // 2.3 with a type list that does not match the key times: rebuilt as well.
  Bytes keyed23 = keyed22;
  keyed23.data[4] = 3;
  keyed23.data.resize(keyed23.size() - 12);
  keyed23.I32(1).I32(1);
  CPersistContext v23;
  k = LoadedKeys(KeyframeFile("CKeyframeControl", 1, CurrentControl(), keyed23), v23);
  ASSERT_TRUE(k);
  EXPECT_EQ(k->type, std::vector<int32_t>(2, kKeyLinear));
}

TEST(KeyframePersistence, HostileCountsAndOldClipNames) {
  test::RegisterForTests();
  // A count far beyond the bytes left is a read past the end, before anything is allocated.
  Bytes huge;
  huge.Version(2, 3).I32(0x10000000);
  CPersistContext refused;
  EXPECT_EQ(test::LoadFromBytes(KeyframeFile("CKeyframeControl", 1, CurrentControl(), huge).data,
                                refused),
            kErrStream);
  Bytes negative;
  negative.Version(2, 3).I32(-1);
  CPersistContext refusedToo;
  EXPECT_EQ(test::LoadFromBytes(
                KeyframeFile("CKeyframeControl", 1, CurrentControl(), negative).data, refusedToo),
            kErrStream);
  Bytes newer;
  newer.Version(2, 4);
  CPersistContext tooNew;
  EXPECT_EQ(test::LoadFromBytes(KeyframeFile("CKeyframeControl", 1, CurrentControl(), newer).data,
                                tooNew),
            kErrNewerVersion);

  // Clip names in the current layout are 32 UTF-16 units; the clip block round-trips exactly.
  auto c = Clips();
  c->clips[0].SetName(u"a name longer than the thirty-one units a clip keeps");
  EXPECT_EQ(c->clips[0].Name().size(), 31u);
  c->sequence = {{0, 0, 1}};
  auto loaded = test::ExpectRoundTrip(c.get());
  auto* back = KindOf<CKeyframeClipControl>(loaded.get());
  ASSERT_TRUE(back && back->clips.size() == 3);
  EXPECT_EQ(back->clips[0].Name(), c->clips[0].Name());
  // A stored name without a terminator is bounded by its 32 units.
  ClipRecord unterminated;
  std::fill(std::begin(unterminated.name), std::end(unterminated.name), u'x');
  EXPECT_EQ(unterminated.Name().size(), 32u);
}

}  // namespace
}  // namespace KX
