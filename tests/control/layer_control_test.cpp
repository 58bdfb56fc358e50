#include <gtest/gtest.h>

#include <cmath>

#include "control/key_search.h"
#include "control/keyframe_control.h"
#include "control/layer_control.h"
#include "core/math/transform.h"
#include "scene/node.h"
#include "support/bytes.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX {
namespace {

using test::Bytes;
using V = CVector3<float>;

void ExpectNear(const V& a, const V& b, float tolerance = 1e-5f) {
  EXPECT_NEAR(a.x, b.x, tolerance);
  EXPECT_NEAR(a.y, b.y, tolerance);
  EXPECT_NEAR(a.z, b.z, tolerance);
}

// A transform controller that fails with a set status and counts its evaluations.
class CFailingControl : public CRTSControl {
  KX_DECLARE_CLASS(CFailingControl)
 public:
  Status failure = kErrPending;
  int calls = 0;
  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  float GetDuration() const override { return 0.0f; }
  Status EvaluateTransform(float) override {
    ++calls;
    return failure;
  }
};
KX_DEFINE_CLASS(CFailingControl, CRTSControl, 2, 0)

// Keys from 0 to `duration` moving along x from `from` to `to`.
CRefPtr<CKeyframeControl> Slide(float duration, V from, V to, float priority = 0) {
  CRefPtr<CKeyframeControl> keys(new CKeyframeControl);
  keys->keyTimes = {0, duration};
  keys->positionKeys = {from, to};
  keys->RebuildTransitions();
  keys->priority = priority;
  return keys;
}

// A composite on a leaf under a parent node; the parent's transform is the identity.
template <class T>
struct Rig {
  CRefPtr<CNode> parent{new CNode};
  CRefPtr<CNode> leaf{new CNode};
  CRefPtr<T> control{new T};
  Rig() {
    EXPECT_TRUE(::KX::Succeeded(parent->AddChild(leaf.get())));
    leaf->position = {7, 8, 9};
  }
  // Attaches once the sub-controllers are in place, so that they get the owner.
  void Attach() { EXPECT_TRUE(::KX::Succeeded(leaf->AttachController(control.get()))); }
  V At(float time, Status expected = kOk) {
    EXPECT_EQ(control->EvaluateTransform(time), expected) << time;
    return control->matrix.get().Translation();
  }
};

// --- clip table --------------------------------------------------------------------------------

TEST(ClipTable, SearchWalksBothWaysAndKeepsItsCursor) {
  CClip<CRTSControl> clip;
  uint32_t cursor = 0;
  EXPECT_EQ(clip.FindClip(1, cursor).code, kClipNone);
  clip.clipStart = {1, 3, 6};
  clip.clipRecords.resize(3);
  auto expect = [&](float t, ClipCode code, uint32_t a, uint32_t b, float rest) {
    const ClipSearch s = clip.FindClip(t, cursor);
    EXPECT_EQ(s.code, code) << t;
    EXPECT_EQ(s.a, a) << t;
    EXPECT_EQ(s.b, b) << t;
    EXPECT_FLOAT_EQ(s.rest, rest) << t;
    EXPECT_EQ(cursor, a) << t;
  };
  expect(0.5f, kClipBefore, 0, 0, 0);
  expect(2, kClipForward, 0, 1, 1);
  expect(4, kClipForward, 1, 2, 2);
  expect(3, kClipExact, 1, 1, 0);
  expect(1.5f, kClipBackward, 0, 1, 1.5f);
  expect(7, kClipLast, 2, 2, 0);
  // A time exactly on a later start belongs to the clip before it, with nothing left.
  cursor = 0;
  expect(3, kClipForward, 0, 1, 0);
  // A cursor beyond the table starts over; a table with fewer records than starts is cut short.
  cursor = 99;
  clip.clipRecords.resize(2);
  expect(2, kClipForward, 0, 1, 1);
  expect(5, kClipLast, 1, 1, 0);
}

TEST(ClipTable, LocalTimeRepeatsTheSourceThenHolds) {
  CClip<CRTSControl> clip;
  clip.subControllers = {Slide(3, {}, {}).get()};
  ClipEntry entry;
  entry.source = 0;
  entry.speed = 2;
  entry.repeat = 2;
  clip.clipStart = {10};
  clip.clipRecords = {entry};
  // Speed 2 over a 3 s source, two passes: 3 s long; the second pass starts 1.5 s in.
  EXPECT_FLOAT_EQ(clip.ClipLength(0), 3);
  EXPECT_FLOAT_EQ(clip.ClipEnd(0), 13);
  EXPECT_FLOAT_EQ(clip.ClipLocalTime(1, entry), 2);
  EXPECT_FLOAT_EQ(clip.ClipLocalTime(2, entry), 1);
  EXPECT_FLOAT_EQ(clip.ClipLocalTime(5, entry), 10);  // past the end: the source holds its end
  entry.inPoint = 0.5f;
  EXPECT_FLOAT_EQ(clip.ClipLocalTime(0.1f, entry), 0.5f);
  // The source's own time scale stretches it: 3 s of keys at scale 2 last 1.5 s.
  clip.subControllers[0]->timeScale = 2;
  EXPECT_FLOAT_EQ(clip.ClipLength(0), 1.5f);
  entry.trim = 0.5f;
  clip.clipRecords[0].trim = 0.5f;
  EXPECT_FLOAT_EQ(clip.ClipLength(0), 1.25f);

  // Nothing to play, or no speed: finite answers, a clip of speed 0 never ends.
  for (float scale : {0.0f, -0.0f}) {
    clip.subControllers[0]->timeScale = scale;
    EXPECT_EQ(clip.SourceLength(entry), 0);
    EXPECT_TRUE(std::isfinite(clip.ClipLocalTime(3, entry)));
  }
  clip.subControllers[0]->timeScale = 1;
  clip.clipRecords[0].speed = 0;
  EXPECT_TRUE(std::isinf(clip.ClipLength(0)));
  entry.source = 5;  // no such sub-controller
  EXPECT_EQ(clip.SourceOf(entry), nullptr);
  EXPECT_FLOAT_EQ(clip.ClipLocalTime(3, entry), 6);
}

// --- clip controller ---------------------------------------------------------------------------

// Two clips: a slide along x from 0 s, a slide along y from 4 s with a 1 s transition.
struct ClipRig : Rig<CRTSClipControl> {
  ClipRig() {
    auto& clip = control->clip;
    clip.subControllers = {Slide(2, {0, 0, 0}, {2, 0, 0}, 5).get(),
                           Slide(2, {0, 10, 0}, {0, 12, 0}, 1).get()};
    ClipEntry a, b;
    a.source = 0;
    a.priorityOffset = 1;
    b.source = 1;
    b.transition = 1;
    clip.clipStart = {1, 5};
    clip.clipRecords = {a, b};
    Attach();
  }
};

TEST(RTSClipControl, PlaysBlendsAndHands) {
  ClipRig rig;
  auto& c = *rig.control;
  // Before the first clip: its source at its start, and status 1.
  ExpectNear(rig.At(0, kNothingDone), {0, 0, 0});
  EXPECT_EQ(c.priority, 0);
  ExpectNear(rig.At(2), {1, 0, 0});
  EXPECT_EQ(c.priority, 6);             // the source's 5 plus the clip's offset
  ExpectNear(rig.At(3.5f), {2, 0, 0});  // the source has ended and holds
  // After an inactive clip's end its priority is 1.
  EXPECT_EQ(c.priority, 1);
  // Half-way through the transition into clip b: half-way from a's pose to b's start.
  ExpectNear(rig.At(4.5f), {1, 5, 0});
  ExpectNear(rig.At(4.75f), {0.5f, 7.5f, 0});
  ExpectNear(rig.At(6), {0, 11, 0});
  // At clip b's start: its source's start.
  ExpectNear(rig.At(5), {0, 10, 0});
  // An active clip keeps its priority after its end.
  c.clip.clipRecords[0].active = 1;
  rig.At(3.5f);
  EXPECT_EQ(c.priority, 6);
  EXPECT_TRUE(c.IsActiveAt(3.5f));
  EXPECT_FALSE(c.IsActiveAt(0.5f));
  c.clip.clipRecords[0].active = 0;
  EXPECT_FALSE(c.IsActiveAt(3.5f));
  EXPECT_FLOAT_EQ(c.GetPriorityAt(2), 6);
  EXPECT_FLOAT_EQ(c.GetPriorityAt(3.5f), 1);
  EXPECT_FLOAT_EQ(c.GetDuration(), 7);
}

TEST(RTSClipControl, FailuresAndDegenerateTables) {
  ClipRig rig;
  auto& c = *rig.control;
  rig.At(2);
  const CMatrix4 held = c.matrix;
  // A failing source is answered and the matrix kept.
  CRefPtr<CFailingControl> failing(new CFailingControl);
  c.clip.subControllers[0] = failing.get();
  EXPECT_EQ(c.EvaluateTransform(2.5f), kErrPending);
  EXPECT_EQ(c.matrix, held);
  // Disabled: status 1, priority 0.
  c.enabled = false;
  c.priority = 3;
  EXPECT_EQ(c.EvaluateTransform(2), kNothingDone);
  EXPECT_EQ(c.priority, 0);
  c.enabled = true;
  // A clip naming no sub-controller shows the owner's rest pose.
  c.clip.clipRecords[0].source = 0xFFFFFFFFu;
  ExpectNear(rig.At(2), {7, 8, 9});
  // No clips: the rest pose, status 1.
  c.clip.clipStart.clear();
  ExpectNear(rig.At(2, kNothingDone), {7, 8, 9});
  // No spatial owner.
  CRefPtr<CRTSClipControl> loose(new CRTSClipControl);
  EXPECT_EQ(loose->EvaluateTransform(0), kErrBadArgument);
}

// --- layer -------------------------------------------------------------------------------------

TEST(RTSLayerControl, BlendsByWeightsAndSkipsWeightZero) {
  Rig<CRTSLayerControl> rig;
  auto& c = *rig.control;
  CRefPtr<CKeyframeControl> turn(new CKeyframeControl);
  const float h = std::sqrt(0.5f);
  turn->keyTimes = {0};
  turn->rotationKeys = {{h, 0, 0, h}};  // 90 degrees about z
  turn->positionKeys = {{2, 0, 0}};
  turn->scaleKeys = {{3, 1, 1}};
  turn->RebuildTransitions();
  CRefPtr<CKeyframeControl> lift = Slide(1, {0, 4, 0}, {0, 4, 0});
  c.layer.subControllers = {turn.get(), lift.get()};
  c.weightTracks = {{}, {}};
  rig.Attach();
  // No weight keys: 0.5 each. Half the turn, half of each translation, scale 1 + 0.5 * (3 - 1).
  ExpectNear(rig.At(0), {1, 2, 0});
  const CMatrix4& m = c.matrix;
  EXPECT_NEAR(Length(m.Row(0)), 2, 1e-5f);
  ExpectNear(m.Row(0) / 2.0f, {h, h, 0});

  // Weight keys: the turn fades out over 1 s, the lift has weight 0 throughout and is not run.
  CRefPtr<CFailingControl> failing(new CFailingControl);
  c.layer.subControllers[1] = failing.get();
  c.weightTimes = {0, 1};
  c.weightTracks = {{1, 0}, {0, 0}};
  ExpectNear(rig.At(0), {2, 0, 0});
  ExpectNear(rig.At(0.5f), {1, 0, 0});
  EXPECT_EQ(failing->calls, 0);
  // Once it takes part its failure is answered and the matrix kept.
  const CMatrix4 held = c.matrix;
  c.weightTracks[1] = {0, 1};
  EXPECT_EQ(c.EvaluateTransform(0.5f), kErrPending);
  EXPECT_EQ(c.matrix, held);
  // A sub-controller without a track of its own takes no part.
  c.weightTracks.resize(1);
  EXPECT_EQ(c.EvaluateTransform(0.5f), kOk);
  // No tracks at all: the rest pose.
  c.weightTracks.clear();
  ExpectNear(rig.At(0.5f), {7, 8, 9});
}

TEST(RTSLayerControl, WorksInTheParentsSpace) {
  Rig<CRTSLayerControl> rig;
  auto& c = *rig.control;
  CRefPtr<CKeyframeControl> keys = Slide(1, {1, 0, 0}, {1, 0, 0});
  c.layer.subControllers = {keys.get()};
  c.weightTracks = {{1}};
  c.weightTimes = {0};
  rig.Attach();
  rig.parent->transform =
      ToMatrix4(RotationFromEuler({0, 0, 1.5707964f})) * MatrixTranslation({5, 0, 0});
  // Weight 1 reproduces the sub-controller, parent included.
  rig.At(0);
  for (int r = 0; r < 4; ++r) ExpectNear(c.matrix.get().Row(r), keys->matrix.get().Row(r));
  ExpectNear(c.matrix.get().Translation(), {5, 1, 0});
  // Weight 0.5 halves the local translation, not the parent's.
  c.weightTracks = {{0.5f}};
  ExpectNear(rig.At(0), {5, 0.5f, 0});
}

// --- selector ----------------------------------------------------------------------------------

TEST(RTSSelectorControl, SelectsByPriorityAndBlendsOverTheTransition) {
  Rig<CRTSSelectorControl> rig;
  auto& c = *rig.control;
  CRefPtr<CKeyframeControl> low = Slide(10, {0, 0, 0}, {0, 0, 0}, 1);
  CRefPtr<CKeyframeControl> high = Slide(10, {4, 0, 0}, {4, 0, 0}, 2);
  c.layer.subControllers = {low.get(), high.get()};
  c.transitionTime = 1;
  rig.Attach();
  ExpectNear(rig.At(0), {4, 0, 0});
  high->priority = 0;
  ExpectNear(rig.At(1), {4, 0, 0});  // the change starts the blend
  ExpectNear(rig.At(1.25f), {3, 0, 0});
  ExpectNear(rig.At(2.5f), {0, 0, 0});
  // Going back in time starts afresh, without a blend.
  high->priority = 3;
  ExpectNear(rig.At(0.5f), {4, 0, 0});
  // Ties go to the first; none above 0 selects the first; disabled ones are not chosen.
  low->priority = 3;
  EXPECT_EQ(c.SelectAt(0), 0);
  low->enabled = false;
  EXPECT_EQ(c.SelectAt(0), 1);
  low->enabled = true;
  low->priority = high->priority = 0;
  EXPECT_EQ(c.SelectAt(0), 0);
  // No transition time: the new one at once.
  c.transitionTime = 0;
  high->priority = 1;
  ExpectNear(rig.At(1), {4, 0, 0});
  high->priority = 0;
  low->priority = 1;
  ExpectNear(rig.At(1.5f), {0, 0, 0});
  // Nothing to select from: the rest pose.
  c.layer.subControllers = {nullptr};
  c.ResetSelection();
  ExpectNear(rig.At(1), {7, 8, 9});
  c.enabled = false;
  EXPECT_EQ(c.EvaluateTransform(1), kNothingDone);
}

TEST(RTSSelectorControl, AChangeBetweenEvaluationsStartsWhereTheOldOneEnded) {
  Rig<CRTSSelectorControl> rig;
  auto& c = *rig.control;
  // A clip controller whose only clip (inactive) plays a 2 s slide at priority 3; afterwards its
  // priority is 1 and the steady controller at 1.5 takes over.
  CRefPtr<CRTSClipControl> clip(new CRTSClipControl);
  clip->clip.subControllers = {Slide(2, {8, 0, 0}, {8, 0, 0}, 3).get()};
  ClipEntry entry;
  entry.source = 0;
  clip->clip.clipStart = {0};
  clip->clip.clipRecords = {entry};
  CRefPtr<CKeyframeControl> steady = Slide(10, {0, 0, 0}, {0, 0, 0}, 1.5f);
  c.layer.subControllers = {clip.get(), steady.get()};
  c.transitionTime = 2;
  rig.Attach();
  ExpectNear(rig.At(1), {8, 0, 0});
  // The clip's source ended at 2 s: at 3 s the blend is half-way, not just starting.
  ExpectNear(rig.At(3), {4, 0, 0});
  EXPECT_FLOAT_EQ(c.switchTime, 2);
}

// --- shared behaviour --------------------------------------------------------------------------

TEST(CompositeControls, ForwardSearchesCopiesAndTheOwner) {
  ClipRig rig;
  auto& c = *rig.control;
  CRTSControl* first = c.clip.subControllers[0].get();
  CRTSControl* second = c.clip.subControllers[1].get();
  first->name = u"first";
  EXPECT_EQ(first->owner, rig.leaf.get());
  EXPECT_EQ(rig.leaf->FindObject(u"first", nullptr, false), first);
  std::vector<CBase*> found;
  rig.leaf->FindObjects(found, std::nullopt, &CKeyframeControl::classRecord, false);
  EXPECT_EQ(found, (std::vector<CBase*>{first, second}));

  // A copy of the owner copies the sub-controllers; one shared by two slots stays shared.
  c.clip.subControllers.push_back(c.clip.subControllers[0]);
  DuplicateMap map;
  CRefPtr<CBase> copy;
  ASSERT_EQ(rig.leaf->Duplicate(copy, map), kOk);
  auto* leafCopy = KindOf<CNode>(copy.get());
  auto* clipCopy = KindOf<CRTSClipControl>(leafCopy->controllers.get());
  ASSERT_TRUE(clipCopy);
  ASSERT_EQ(clipCopy->clip.subControllers.size(), 3u);
  EXPECT_NE(clipCopy->clip.subControllers[0], c.clip.subControllers[0]);
  EXPECT_EQ(clipCopy->clip.subControllers[0], clipCopy->clip.subControllers[2]);
  EXPECT_EQ(clipCopy->clip.subControllers[0]->owner, leafCopy);
  EXPECT_EQ(clipCopy->clip.clipRecords.size(), 2u);

  // AssignTo shares the sub-controllers and hands back what the target held.
  CRefPtr<CRTSClipControl> target(new CRTSClipControl);
  target->clip.subControllers = {Slide(1, {}, {}).get()};
  ReleasedList released;
  ASSERT_EQ(c.AssignTo(target.get(), released), kOk);
  EXPECT_EQ(target->clip.subControllers, c.clip.subControllers);
  EXPECT_EQ(released.size(), 1u);
  CRefPtr<CRTSLayerControl> keepLayer(new CRTSLayerControl);
  EXPECT_EQ(c.AssignTo(keepLayer.get(), released), kErrMalformed);
  EXPECT_EQ(keepLayer->AssignTo(target.get(), released), kErrMalformed);

  // Detaching clears the owner of the sub-controllers too.
  ASSERT_EQ(rig.leaf->DetachController(&c), kOk);
  EXPECT_EQ(first->owner, nullptr);
  EXPECT_EQ(second->owner, nullptr);
}

// --- persistence -------------------------------------------------------------------------------

// The record of a composite with its base blocks; `own` is its block after the transform level.
Bytes CompositeFile(const char* cls, const Bytes& control, const Bytes& own) {
  Bytes body;
  body.Version(2, 0).I32(1).W(u"");         // base: id, name
  body.Version(2, 0).I32(0).I32(0).I32(0);  // three empty chains
  body.Version(2, 1).Append(control);
  body.Version(2, 0);  // transform controller
  body.Append(own);
  return test::NewHeader()
      .I32(0)
      .I32(0)
      .A("_Root")
      .A(cls)
      .I32(static_cast<int32_t>(body.size()))
      .Append(body);
}

// Out of range 0, priority 0, aux 1, the given scale, enabled, no owner, no next.
Bytes Control(float timeScale = 1) {
  return Bytes().I32(0).F32(0).F32(1).F32(timeScale).U8(1).I32(0).I32(0);
}

template <class T>
T* Loaded(const Bytes& file, CPersistContext& context) {
  EXPECT_EQ(test::LoadFromBytes(file.data, context), kOk) << context.diagnostics.Describe();
  return context.roots.empty() ? nullptr : KindOf<T>(context.roots[0].get());
}

TEST(CompositePersistence, CurrentBlocksAreByteExact) {
  test::RegisterForTests();
  CRefPtr<CRTSSelectorControl> selector(new CRTSSelectorControl);
  selector->transitionTime = 0.5f;
  selector->layer.subControllers = {nullptr};
  EXPECT_EQ(
      test::SaveRootToBytes(selector.get()),
      CompositeFile("CRTSSelectorControl", Control(), Bytes().Version(2, 0).F32(0.5f).I32(1).I32(0))
          .data);

  CRefPtr<CRTSLayerControl> layer(new CRTSLayerControl);
  layer->layer.subControllers = {nullptr, nullptr};
  layer->weightTracks = {{1, 2}, {}};
  layer->weightTimes = {0, 1};
  layer->weightTransition = {kNoTransition, 0.5f};
  layer->weightType = {0, kKeyEaseIn};
  Bytes layerBlock;
  layerBlock.Version(2, 1).I32(2).I32(0).I32(0).I32(2).I32(2).F32(1).F32(2).I32(0);
  layerBlock.I32(2).F32(0).F32(1).I32(2).F32(kNoTransition).F32(0.5f).I32(2).I32(0).I32(3);
  EXPECT_EQ(test::SaveRootToBytes(layer.get()),
            CompositeFile("CRTSLayerControl", Control(), layerBlock).data);

  CRefPtr<CRTSClipControl> clip(new CRTSClipControl);
  clip->clip.subControllers = {nullptr};
  clip->clip.clipStart = {2};
  clip->clip.clipRecords = {ClipEntry{}};
  clip->subFlags = {1};
  Bytes clipBlock;
  clipBlock.Version(2, 2).I32(1).I32(0).I32(1).F32(2).I32(1);
  clipBlock.F32(1)
      .U32(0xFFFFFFFFu)
      .U32(1)
      .F32(0)
      .F32(0)
      .F32(200)
      .F32(0)
      .F32(1)
      .U8(0)
      .U8(0)
      .U8(0)
      .U8(0);
  clipBlock.I32(1).U8(1);
  EXPECT_EQ(test::SaveRootToBytes(clip.get()),
            CompositeFile("CRTSClipControl", Control(), clipBlock).data);
}

TEST(CompositePersistence, OlderClipBlocks) {
  test::RegisterForTests();
  // 2.0: 24-byte records in unscaled time; the scale is 2, so the starts double.
  Bytes block20;
  block20.Version(2, 0).I32(2).I32(0).I32(0).I32(2);
  block20.F32(1.5f).F32(0.25f).U32(1).U32(0).F32(0.5f).F32(0.75f);
  block20.F32(4).F32(3).U32(0).U32(2).F32(0).F32(0);
  CPersistContext old;
  auto* c = Loaded<CRTSClipControl>(CompositeFile("CRTSClipControl", Control(2), block20), old);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->clip.clipStart, (std::vector<float>{3, 8}));
  ASSERT_EQ(c->clip.clipRecords.size(), 2u);
  const ClipEntry& first = c->clip.clipRecords[0];
  EXPECT_EQ(first.source, 1u);
  EXPECT_EQ(first.repeat, 1u);  // a stored 0 is one pass
  EXPECT_EQ(first.inPoint, 0.5f);
  EXPECT_EQ(first.trim, 0.75f);
  EXPECT_EQ(first.transition, 0.25f);
  EXPECT_EQ(first.speed, 1);
  EXPECT_EQ(first.reserved, 0x3F800000u);
  EXPECT_EQ(c->clip.clipRecords[1].repeat, 2u);
  EXPECT_EQ(c->subFlags, (std::vector<uint8_t>{0, 0}));

  // 2.1: the current records, no flags.
  Bytes block21;
  block21.Version(2, 1).I32(1).I32(0).I32(1).F32(2).I32(0);
  CPersistContext v21;
  c = Loaded<CRTSClipControl>(CompositeFile("CRTSClipControl", Control(2), block21), v21);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->clip.clipStart, (std::vector<float>{2}));
  EXPECT_EQ(c->subFlags, (std::vector<uint8_t>{0}));
}

TEST(CompositePersistence, HostileBlocksAreRefused) {
  test::RegisterForTests();
  auto status = [](const char* cls, const Bytes& own) {
    CPersistContext context;
    return test::LoadFromBytes(CompositeFile(cls, Control(), own).data, context);
  };
  // Counts beyond what is left, before anything is allocated for them.
  EXPECT_EQ(status("CRTSLayerControl", Bytes().Version(2, 1).I32(0).I32(0x20000000)), kErrStream);
  EXPECT_EQ(status("CRTSLayerControl", Bytes().Version(2, 1).I32(-3)), kErrStream);
  EXPECT_EQ(status("CRTSSelectorControl", Bytes().Version(2, 0).F32(1).I32(0x7FFFFFFF)),
            kErrStream);
  EXPECT_EQ(status("CRTSClipControl", Bytes().Version(2, 2).I32(0).I32(0).I32(0x10000000)),
            kErrStream);
  EXPECT_EQ(status("CRTSClipControl", Bytes().Version(2, 3)), kErrNewerVersion);
  // A composite that lists itself as its own sub-controller owns itself: refused.
  EXPECT_EQ(status("CRTSSelectorControl", Bytes().Version(2, 0).F32(1).I32(1).I32(1)),
            kErrMalformed);
}

TEST(CompositePersistence, SubControllersRoundTripWithTheirOwner) {
  test::RegisterForTests();
  ClipRig rig;
  rig.control->clip.subControllers.push_back(nullptr);
  auto loaded = test::ExpectRoundTrip(rig.parent.get());
  auto* parent = KindOf<CNode>(loaded.get());
  ASSERT_TRUE(parent && parent->children.size() == 1);
  auto* leaf = KindOf<CSpatial>(parent->children[0].get());
  auto* c = KindOf<CRTSClipControl>(leaf->controllers.get());
  ASSERT_TRUE(c);
  ASSERT_EQ(c->clip.subControllers.size(), 3u);
  EXPECT_EQ(c->clip.subControllers[2], nullptr);
  EXPECT_EQ(c->clip.subControllers[1]->owner, leaf);
  ASSERT_EQ(c->EvaluateTransform(6), kOk);
  ExpectNear(c->matrix.get().Translation(), {0, 11, 0});
}

}  // namespace
}  // namespace KX
