// Round-trip samples of the transform controllers: each hangs on a node of a small tree, with
// every list filled and references to the other nodes.
#include "control/flexi_control.h"
#include "control/keyframe_control.h"
#include "control/link_control.h"
#include "control/look_at_control.h"
#include "control/share_control.h"
#include "control/spring_control.h"
#include "scene/node.h"
#include "support/round_trip.h"

namespace KX::test {
namespace {

struct Tree {
  CRefPtr<CNode> root{new CNode};
  CRefPtr<CNode> a{new CNode};
  CRefPtr<CNode> b{new CNode};
  Tree() {
    EXPECT_TRUE(::KX::Succeeded(root->AddChild(a.get())));
    EXPECT_TRUE(::KX::Succeeded(root->AddChild(b.get())));
    a->name = u"a";
    b->name = u"b";
  }
  CRefPtr<CBase> With(CControl* control, CSpatial* owner = nullptr) {
    CRefPtr<CControl> keep(control);
    control->name = u"control";
    control->timeScale = 1.5f;
    control->outOfRange = kOutOfRangeLoop;
    EXPECT_TRUE(::KX::Succeeded((owner ? owner : a.get())->AttachController(control)));
    return root;
  }
};

void FillKeys(CKeyframeControl& c) {
  c.rotationKeys = {{1, 0, 0, 0}, {0.70710677f, 0, 0.70710677f, 0}};
  c.positionKeys = {{0, 0, 0}, {1, 2, 3}};
  c.scaleKeys = {{1, 1, 1}, {2, 2, 2}};
  c.keyTimes = {0, 2};
  c.channelTimes.Mutable().rotationTimes = {0.5f};
  c.channelTimes.Mutable().positionTimes = {1};
  c.channelTimes.Mutable().scaleTimes = {1.5f};
  c.transition = {kNoTransition, 0.5f};
  c.type = {kKeyLinear, kKeyEaseIn};
}

const RoundTripRegistrar keyframe("CKeyframeControl", [] {
  Tree tree;
  auto* c = new CKeyframeControl;
  FillKeys(*c);
  return tree.With(c);
});

const RoundTripRegistrar keyframeClip("CKeyframeClipControl", [] {
  Tree tree;
  auto* c = new CKeyframeClipControl;
  FillKeys(*c);
  ClipRecord walk;
  walk.SetName(u"walk");
  walk.id = 7;
  walk.mode = 1;
  walk.start = 0;
  walk.end = 1;
  ClipRecord rest = walk;
  rest.SetName(u"rest");
  rest.mode = kClipDefault;
  rest.start = 1;
  rest.end = 2;
  c->clips = {walk, rest};
  c->sequence = {{0, 0, 2}, {3, 1, 1}};
  return tree.With(c);
});

const RoundTripRegistrar link("CLinkControl", [] {
  Tree tree;
  auto* c = new CLinkControl;
  EXPECT_TRUE(::KX::Succeeded(c->AddLink(1, tree.b.get(), kLinkKeepWorldPose)));
  EXPECT_TRUE(::KX::Succeeded(c->AddLink(2, nullptr, kLinkFromBase, false)));
  c->linkOffsets[0].m[3][0] = 4;
  c->linkBases[1].m[3][1] = 5;
  return tree.With(c);
});

const RoundTripRegistrar lookAt("CLookAtControl", [] {
  Tree tree;
  auto* c = new CLookAtControl;
  c->aimTimes = {0, 1};
  AimSettings s;
  s.axis = {0, 0, -1};
  s.secondary = {1, 2, 3};
  s.angleZ = 0.5f;
  s.transition = 0.25f;
  s.weight = 0.75f;
  c->aimSettings = {s, AimSettings{}};
  c->targets = {tree.b.get(), nullptr};
  c->upObjects = {tree.root.get(), tree.b.get()};
  c->angleLimits = {0.5f, 0};
  c->blendTimes = {0.1f, 0.2f};
  return tree.With(c);
});

const RoundTripRegistrar spring("CSpringControl", [] {
  Tree tree;
  auto* c = new CSpringControl;
  c->values1 = {1};
  c->values2 = {2, 3};
  c->values3 = {};
  SpringSetting late;
  late.startTime = 2;
  late.mode = 1;
  late.frequency = 3;
  c->settings = {SpringSetting{}, late};
  return tree.With(c);
});

const RoundTripRegistrar share("CShareControl", [] {
  Tree tree;
  auto* c = new CShareControl;
  c->sources = {tree.b.get(), nullptr};
  ShareEntry first, second;
  first.copyScale = 1;
  first.scaleFactor = 2;
  first.reserved1[3] = 9;
  second.startTime = 4;
  c->shareEntries = {first, second};
  c->positionFactor = {1, 0, 1};
  c->rotationFactor = {0, 1, 0};
  c->scaleFactor = {2, 2, 2};
  return tree.With(c);
});

CRefPtr<CBase> FlexiChain() {
  Tree tree;
  CRefPtr<CFlexiData> chain(new CFlexiData);
  chain->flexiRecords.resize(2);
  chain->flexiRecords[1].bytes[0] = 3;
  chain->flexiMatrices.resize(1);
  chain->flexiObjects = {tree.a.get(), tree.b.get()};
  chain->flexiValues = {1, 2, 3, 4, 5, 6};
  chain->flexiFlag = true;
  chain->flexiValue7 = 7;
  chain->flexiValue8 = 20;  // at least 4 pi, so loading leaves it alone
  chain->flexiVector1 = {1, 2, 3};
  chain->flexiPair = {8, 9};
  auto* second = new CFlexiControl;
  second->SetData(chain.get());
  second->settings.stiffness = 0.5f;
  EXPECT_TRUE(::KX::Succeeded(tree.b->AttachController(second)));
  auto* first = new CFlexiControl;
  first->SetData(chain.get());
  return tree.With(first);
}

const RoundTripRegistrar flexi("CFlexiControl", FlexiChain);
const RoundTripRegistrar flexiData("CFlexiData", FlexiChain);

}  // namespace
}  // namespace KX::test
