#include <gtest/gtest.h>

#include <cmath>

#include "control/flexi_control.h"
#include "control/keyframe_control.h"
#include "control/link_control.h"
#include "control/look_at_control.h"
#include "control/share_control.h"
#include "control/spring_control.h"
#include "core/math/transform.h"
#include "scene/node.h"
#include "scene/scene_fixtures.h"
#include "support/round_trip.h"

namespace KX {
namespace {

using test::CTestLeaf;
using V = CVector3<float>;

void ExpectNear(const V& a, const V& b, float tolerance = 1e-4f) {
  EXPECT_NEAR(a.x, b.x, tolerance);
  EXPECT_NEAR(a.y, b.y, tolerance);
  EXPECT_NEAR(a.z, b.z, tolerance);
}

// Gives `object` a keyframe controller that holds its rest pose, so that every evaluation starts
// from the animated pose the way a scene does.
CKeyframeControl* Keyed(CSpatial* object) {
  CRefPtr<CKeyframeControl> keys(new CKeyframeControl);
  EXPECT_TRUE(::KX::Succeeded(object->AttachController(keys.get())));
  return keys.get();
}

template <class T>
T* Attach(CSpatial* object) {
  CRefPtr<T> control(new T);
  EXPECT_TRUE(::KX::Succeeded(object->AttachController(control.get())));
  return control.get();
}

struct Scene {
  CRefPtr<CNode> root{new CNode};
  CRefPtr<CNode> a{new CNode};
  CRefPtr<CNode> b{new CNode};
  Scene() {
    EXPECT_TRUE(::KX::Succeeded(root->AddChild(a.get())));
    EXPECT_TRUE(::KX::Succeeded(root->AddChild(b.get())));
  }
};

TEST(LookAtControl, AimsAtItsTargetAndWaitsForIt) {
  Scene s;
  s.b->position = {0, 10, 0};
  Keyed(s.a.get());
  Keyed(s.b.get());
  auto* look = Attach<CLookAtControl>(s.a.get());
  look->aimTimes = {0};
  look->targets = {s.b.get()};
  // a comes before b, so the first try waits for b and the retry aims.
  ASSERT_EQ(s.root->UpdateHierarchy(0, 1, 0, false), kOk);
  ExpectNear(s.a->transform.get().Row(2), {0, 1, 0});
  ExpectNear(s.a->transform.get().Row(0), {-1, 0, 0});
  ExpectNear(s.a->transform.get().Row(1), {0, 0, 1});

  // A pending target: nothing changes, and the target is named for the hierarchy.
  const CMatrix4 before = look->matrix;
  s.b->flag = 1;
  EXPECT_EQ(look->EvaluateTransform(1), kErrPending);
  EXPECT_EQ(look->matrix, before);
  EXPECT_EQ(look->GetTargetAt(1), s.b.get());
  EXPECT_EQ(s.a->GetTargetAt(1), s.b.get());
  s.b->flag = 0;
  EXPECT_EQ(look->GetTargetAt(1), nullptr);

  // A reversed reference axis aims the negative z axis; a target on the owner stays finite.
  look->aimSettings = {AimSettings{}};
  look->aimSettings[0].axis = {0, 0, -1};
  ASSERT_EQ(s.root->UpdateHierarchy(0, 1, 0, false), kOk);
  ExpectNear(s.a->transform.get().Row(2), {0, -1, 0});
  s.b->position = {};
  ASSERT_EQ(s.root->UpdateHierarchy(0, 1, 0, false), kOk);
  EXPECT_TRUE(IsFinite(s.a->transform));
  // Up along the aim, and a target straight above.
  s.b->position = {0, 0, 5};
  ASSERT_EQ(s.root->UpdateHierarchy(0, 1, 0, false), kOk);
  EXPECT_TRUE(IsFinite(s.a->transform));
  EXPECT_NEAR(std::fabs(s.a->transform.get().m[2][2]), 1.0f, 1e-5f);
}

TEST(LookAtControl, BlendsIntoTheNextEntryAndBreaksMutualWaits) {
  Scene s;
  CRefPtr<CTestLeaf> c(new CTestLeaf);
  EXPECT_TRUE(::KX::Succeeded(s.root->AddChild(c.get())));
  s.b->position = {0, 10, 0};
  c->position = {10, 0, 0};
  for (CSpatial* o : {static_cast<CSpatial*>(s.a.get()), static_cast<CSpatial*>(s.b.get()),
                      static_cast<CSpatial*>(c.get())})
    Keyed(o);
  auto* look = Attach<CLookAtControl>(s.a.get());
  look->aimTimes = {0, 2};
  look->targets = {s.b.get(), c.get()};
  look->aimSettings = {AimSettings{}, AimSettings{}};
  look->aimSettings[1].transition = 1;
  ASSERT_EQ(s.root->UpdateHierarchy(0, 0.5f, 0, false), kOk);
  ExpectNear(s.a->transform.get().Row(2), {0, 1, 0});  // the blend has not begun
  ASSERT_EQ(s.root->UpdateHierarchy(0, 1.5f, 0, false), kOk);
  const float h = std::sqrt(0.5f);
  ExpectNear(s.a->transform.get().Row(2), {h, h, 0});  // halfway through the turn
  // While the blend is under way the next target is waited for, and named.
  s.a->flag = 0;
  c->flag = 1;
  EXPECT_EQ(look->EvaluateTransform(1.5f), kErrPending);
  EXPECT_EQ(look->GetTargetAt(1.5f), c.get());
  EXPECT_EQ(look->GetTargetAt(0.5f), nullptr);
  c->flag = 0;

  // b looks back at a: each waits for the other until one wait is broken.
  auto* back = Attach<CLookAtControl>(s.b.get());
  back->aimTimes = {0};
  back->targets = {s.a.get()};
  EXPECT_EQ(s.root->UpdateHierarchy(0, 0.5f, 0, false), kOk);
  EXPECT_TRUE(IsFinite(s.b->transform));
  // Looking at itself waits on itself, which the hierarchy breaks the same way.
  back->targets = {s.b.get()};
  EXPECT_EQ(s.root->UpdateHierarchy(0, 0.5f, 0, false), kOk);
  EXPECT_TRUE(IsFinite(s.b->transform));
}

TEST(LookAtControl, OldBlocksAreRefusedAndListsRoundTrip) {
  test::RegisterForTests();
  Scene s;
  auto* look = Attach<CLookAtControl>(s.a.get());
  look->aimTimes = {0, 1};
  look->targets = {s.b.get(), s.root.get()};
  look->upObjects = {nullptr, s.b.get()};
  auto loaded = test::ExpectRoundTrip(s.root.get());
  auto* root = KindOf<CNode>(loaded.get());
  ASSERT_TRUE(root && root->children.size() == 2);
  auto* copy = KindOf<CLookAtControl>(root->children[0]->controllers.get());
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->targets, (std::vector<CSpatial*>{root->children[1].get(), root}));
  EXPECT_EQ(copy->upObjects, (std::vector<CSpatial*>{nullptr, root->children[1].get()}));

  // Duplicating the tree points the copy at the copied objects.
  DuplicateMap map;
  CRefPtr<CBase> dup;
  ASSERT_EQ(s.root->Duplicate(dup, map), kOk);
  ASSERT_EQ(KindOf<CCorva>(dup.get())->RemapReferences(map), kOk);
  auto* dupRoot = KindOf<CNode>(dup.get());
  auto* dupLook = KindOf<CLookAtControl>(dupRoot->children[0]->controllers.get());
  EXPECT_EQ(dupLook->targets[0], dupRoot->children[1].get());
}

TEST(LinkControl, SwitchesParentsKeepingTheWorldPose) {
  Scene s;
  s.a->position = {1, 0, 0};
  s.b->transform = MatrixTranslation({10, 0, 0});
  Keyed(s.a.get());
  auto* link = Attach<CLinkControl>(s.a.get());
  ASSERT_EQ(link->AddLink(1, s.b.get(), kLinkKeepWorldPose), kOk);
  ASSERT_EQ(link->AddLink(2, nullptr, kLinkKeepWorldPose), kOk);

  EXPECT_EQ(s.a->EvaluateTransform(0.5f), kOk);  // before the first link: unchanged
  EXPECT_EQ(link->currentLink, -1);
  ExpectNear(s.a->transform.get().Translation(), {1, 0, 0});
  EXPECT_EQ(s.a->EvaluateTransform(1), kOk);  // linked: the world pose is kept at the switch
  ExpectNear(s.a->transform.get().Translation(), {1, 0, 0});
  EXPECT_EQ(link->linkPending[0], 0);
  s.b->transform = MatrixTranslation({20, 0, 0});  // the parent moves, a follows
  EXPECT_EQ(s.a->EvaluateTransform(1.5f), kOk);
  ExpectNear(s.a->transform.get().Translation(), {11, 0, 0});
  s.b->transform = MatrixTranslation({30, 0, 0});
  EXPECT_EQ(s.a->EvaluateTransform(2.5f), kOk);  // unlinked where the last link puts it now
  ExpectNear(s.a->transform.get().Translation(), {21, 0, 0});
  EXPECT_EQ(link->currentLink, 1);
  s.b->transform = MatrixTranslation({40, 0, 0});  // and no longer follows
  EXPECT_EQ(s.a->EvaluateTransform(2.6f), kOk);
  ExpectNear(s.a->transform.get().Translation(), {21, 0, 0});

  // A pending parent is waited for.
  s.b->flag = 1;
  EXPECT_EQ(link->EvaluateTransform(1.5f), kErrPending);
  s.b->flag = 0;
  // A singular parent keeps the offsets finite, so nothing unusable reaches a file.
  link->linkPending[0] = 1;
  link->currentLink = -1;
  s.b->transform = MatrixScaling({0, 0, 0});
  EXPECT_EQ(link->EvaluateTransform(1), kOk);
  EXPECT_TRUE(IsFinite(link->linkOffsets[0]));

  // A copy links to the copied parent and takes the link in force afresh.
  DuplicateMap map;
  CRefPtr<CBase> dup;
  ASSERT_EQ(s.root->Duplicate(dup, map), kOk);
  auto* dupLink = KindOf<CLinkControl>(map.at(link).get());
  ASSERT_TRUE(dupLink);
  ASSERT_EQ(dupLink->RemapReferences(map), kOk);
  EXPECT_EQ(dupLink->linkParents,
            (std::vector<CSpatial*>{KindOf<CSpatial>(map.at(s.b.get()).get()), nullptr}));
  EXPECT_EQ(dupLink->currentLink, -1);
  EXPECT_EQ(dupLink->currentParent, nullptr);
}

TEST(LinkControl, ModesAndStoredPendingState) {
  Scene s;
  s.a->position = {1, 2, 3};
  s.b->transform = MatrixTranslation({10, 0, 0});
  Keyed(s.a.get());
  auto* link = Attach<CLinkControl>(s.a.get());
  EXPECT_TRUE(::KX::Succeeded(link->AddLink(0, s.b.get(), kLinkFromBase)));
  link->linkBases[0] = MatrixTranslation({4, 0, 0});
  ASSERT_EQ(s.a->EvaluateTransform(0), kOk);
  // offset = transform^-1 * base, so the owner lands on base * parent.
  ExpectNear(s.a->transform.get().Translation(), {14, 0, 0});
  link->linkModes[0] = kLinkKeepPosition;
  link->currentLink = -1;
  ASSERT_EQ(s.a->EvaluateTransform(0), kOk);
  EXPECT_TRUE(IsFinite(s.a->transform));

  // Linking to itself waits on itself: the hierarchy gives up instead of spinning.
  link->linkParents[0] = s.a.get();
  EXPECT_EQ(s.root->UpdateHierarchy(0, 0, 0, false), kErrMalformed);

  // Offsets of blocks from 2.2 on were taken when saved; a file that lists fewer offsets than
  // links is filled up, never read past.
  test::RegisterForTests();
  link->linkParents[0] = s.b.get();
  auto loaded = test::ExpectRoundTrip(s.root.get());
  auto* copy =
      KindOf<CLinkControl>(KindOf<CNode>(loaded.get())->children[0]->controllers->next.get());
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->linkPending, std::vector<uint8_t>{0});
  copy->linkOffsets.clear();
  copy->linkModes.clear();
  EXPECT_EQ(copy->EvaluateTransform(0.5f), kOk);
  EXPECT_EQ(copy->linkOffsets.size(), 1u);
}

TEST(ShareControl, CopiesTheSourcesLocalPose) {
  Scene s;
  CRefPtr<CNode> source(new CNode);
  EXPECT_TRUE(::KX::Succeeded(s.b->AddChild(source.get())));
  s.b->position = {5, 0, 0};
  source->position = {1, 2, 3};
  source->scale = {2, 2, 2};
  for (CSpatial* o : {static_cast<CSpatial*>(s.a.get()), static_cast<CSpatial*>(s.b.get()),
                      static_cast<CSpatial*>(source.get())})
    Keyed(o);
  auto* share = Attach<CShareControl>(s.a.get());
  share->sources = {source.get(), nullptr};
  ShareEntry first, second;
  first.copyScale = 1;
  first.scaleFactor = 1.5f;
  second.startTime = 10;
  share->shareEntries = {first, second};
  // a comes first and waits for the source.
  ASSERT_EQ(s.root->UpdateHierarchy(0, 1, 0, false), kOk);
  ExpectNear(s.a->transform.get().Translation(), {1, 2, 3});
  EXPECT_NEAR(Length(s.a->transform.get().Row(0)), 3.0f, 1e-5f);
  // From the second entry on, without a source: the owner's own rest pose.
  s.a->position = {7, 7, 7};
  ASSERT_EQ(s.root->UpdateHierarchy(0, 11, 0, false), kOk);
  ExpectNear(s.a->transform.get().Translation(), {7, 7, 7});
  source->flag = 1;
  EXPECT_EQ(share->EvaluateTransform(1), kErrPending);
  source->flag = 0;
  share->shareEntries[0].startTime = 5;  // nothing in force yet
  EXPECT_EQ(share->EvaluateTransform(1), kErrMalformed);
}

TEST(SpringControl, TrailsAndSettlesWithoutNaN) {
  Scene s;
  Keyed(s.a.get());
  auto* spring = Attach<CSpringControl>(s.a.get());
  SpringSetting late;
  late.startTime = 5;
  late.mode = 1;
  late.frequency = 4;
  late.rotationFrequency = 3;
  spring->settings = {SpringSetting{}, late};
  ASSERT_EQ(s.a->EvaluateTransform(0.1f), kOk);  // seeds at the rest pose
  s.a->position = {10, 0, 0};
  s.a->rotation = RotationFromEuler({0, 0, 1.5f});
  ASSERT_EQ(s.a->EvaluateTransform(0.1f + 1 / 30.0f), kOk);
  const float x = s.a->transform.get().m[3][0];
  EXPECT_GT(x, 0.0f);  // it trails
  EXPECT_LT(x, 10.0f);
  float previous = x;
  for (int frame = 2; frame < 600; ++frame) {
    ASSERT_EQ(s.a->EvaluateTransform(0.1f + frame / 30.0f), kOk);
    ASSERT_TRUE(IsFinite(s.a->transform)) << frame;
    // Critically damped from rest: it approaches without overshooting.
    EXPECT_GE(s.a->transform.get().m[3][0] + 1e-4f, previous);
    EXPECT_LE(s.a->transform.get().m[3][0], 10.0f + 1e-4f);
    previous = s.a->transform.get().m[3][0];
  }
  CMatrix4 rest = s.a->GetLocalMatrix();
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(s.a->transform.get().m[r][c], rest.m[r][c], 1e-3f);

  // Unusable settings, a step back in time and a huge step all stay finite.
  for (float f : {std::nanf(""), 1e30f, -1.0f, 0.0f}) {
    spring->settings = {SpringSetting{}};
    spring->settings[0].frequency = f;
    spring->settings[0].rotationFrequency = f;
    spring->settings[0].mode = 1;
    for (float t : {30.0f, 31.0f, 20.0f, 1e30f}) {
      ASSERT_EQ(s.a->EvaluateTransform(t), kOk);
      EXPECT_TRUE(IsFinite(s.a->transform)) << f << " at " << t;
    }
  }
}

TEST(FlexiControl, ChainTrailsAndSettlesOnItsAnimatedPoses) {
  // root -> n1 -> n2, one chain over all three.
  CRefPtr<CNode> root(new CNode), n1(new CNode), n2(new CNode);
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(n1.get())));
  EXPECT_TRUE(::KX::Succeeded(n1->AddChild(n2.get())));
  n1->position = {0, 1, 0};
  n2->position = {0, 1, 0};
  CRefPtr<CFlexiData> chain(new CFlexiData);
  std::vector<CFlexiControl*> joints;
  for (CNode* n : {root.get(), n1.get(), n2.get()}) {
    Keyed(n);
    joints.push_back(Attach<CFlexiControl>(n));
    joints.back()->SetData(chain.get());
  }
  ASSERT_EQ(root->UpdateHierarchy(0, 0, 0, false), kOk);
  ASSERT_EQ(chain->points.size(), 3u);
  EXPECT_TRUE(chain->IsDriver(joints[2]));
  ExpectNear(n2->transform.get().Translation(), {0, 2, 0});

  // The root moves; the tip trails, then settles where it is animated to be.
  root->position = {5, 0, 0};
  ASSERT_EQ(root->UpdateHierarchy(0, 1 / 30.0f, 0, false), kOk);
  EXPECT_LT(n2->transform.get().m[3][0], 4.9f);
  for (int frame = 2; frame < 300; ++frame) {
    ASSERT_EQ(root->UpdateHierarchy(0, frame / 30.0f, 0, false), kOk);
    for (const auto& p : chain->points) ASSERT_TRUE(std::isfinite(p.position.x)) << frame;
  }
  // The animated pose of n2 is under the simulated n1, which has settled too.
  ExpectNear(n1->transform.get().Translation(), {5, 1, 0}, 1e-3f);
  ExpectNear(n2->transform.get().Translation(), {5, 2, 0}, 1e-3f);

  // Long jumps either way take a bounded number of steps and stay finite.
  for (float t : {1e6f, 3.0f, -1e6f, 1e30f}) {
    ASSERT_EQ(root->UpdateHierarchy(0, t, 0, false), kOk);
    EXPECT_TRUE(IsFinite(n2->transform)) << t;
  }
  // Unusable settings are clamped.
  joints[1]->settings.stiffness = std::nanf("");
  joints[2]->settings.damping = -5;
  for (int frame = 0; frame < 30; ++frame)
    ASSERT_EQ(root->UpdateHierarchy(0, 10 + frame / 30.0f, 0, false), kOk);
  EXPECT_TRUE(IsFinite(n2->transform));

  // A controller that goes away leaves the chain; the others carry on.
  n2->DetachAllControllers();
  EXPECT_EQ(chain->points.size(), 2u);
  EXPECT_TRUE(chain->IsDriver(joints[1]));
}

TEST(FlexiData, AnglesBelowFourPiAreLiftedOnLoad) {
  test::RegisterForTests();
  CRefPtr<CFlexiData> chain(new CFlexiData);
  chain->flexiValue8 = 1;
  CPersistContext context;
  ASSERT_EQ(test::LoadFromBytes(test::SaveRootToBytes(chain.get()), context), kOk);
  auto* loaded = KindOf<CFlexiData>(context.roots.at(0).get());
  ASSERT_TRUE(loaded);
  EXPECT_FLOAT_EQ(loaded->flexiValue8, 1 + 16 * std::atan(1.0f));

  // A negative value is lifted into the same range once, so that it stays put from then on.
  chain->flexiValue8 = -1;
  CPersistContext negative;
  ASSERT_EQ(test::LoadFromBytes(test::SaveRootToBytes(chain.get()), negative), kOk);
  auto* lifted = KindOf<CFlexiData>(negative.roots.at(0).get());
  EXPECT_FLOAT_EQ(lifted->flexiValue8, 32 * std::atan(1.0f) - 1);
  test::ExpectRoundTrip(lifted);
  const int64_t bare = chain->GetSaveSize();
  chain->flexiRecords.resize(2);
  chain->flexiMatrices.resize(1);
  EXPECT_EQ(chain->GetSaveSize() - bare, 2 * 20 + 64);
}

}  // namespace
}  // namespace KX
