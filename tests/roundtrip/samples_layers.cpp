// Round-trip samples of the composite transform controllers: each hangs on a node of a small tree
// and owns keyframe sub-controllers (one slot left empty), with every list filled.
#include "control/key_search.h"
#include "control/keyframe_control.h"
#include "control/layer_control.h"
#include "scene/node.h"
#include "support/round_trip.h"

namespace KX::test {
namespace {

CRefPtr<CRTSControl> Keys(float position) {
  CRefPtr<CKeyframeControl> keys(new CKeyframeControl);
  keys->keyTimes = {0, 2};
  keys->positionKeys = {{0, 0, 0}, {position, 1, 2}};
  keys->RebuildTransitions();
  keys->priority = position;
  return CRefPtr<CRTSControl>(keys.get());
}

// Attaches `control` to a child of a fresh root and answers the root.
CRefPtr<CBase> OnTree(CControl* control) {
  CRefPtr<CControl> keep(control);
  CRefPtr<CNode> root(new CNode);
  CRefPtr<CNode> child(new CNode);
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(child.get())));
  control->name = u"composite";
  control->timeScale = 1.5f;
  control->outOfRange = kOutOfRangePingPong;
  EXPECT_TRUE(::KX::Succeeded(child->AttachController(control)));
  return CRefPtr<CBase>(root.get());
}

const RoundTripRegistrar clipSample("CRTSClipControl", [] {
  auto* c = new CRTSClipControl;
  c->clip.subControllers = {Keys(1), nullptr, Keys(2)};
  c->clip.clipStart = {0, 3};
  ClipEntry first;
  first.source = 0;
  first.speed = 2;
  first.repeat = 3;
  first.inPoint = 0.25f;
  first.trim = 0.5f;
  first.active = 1;
  ClipEntry second;
  second.source = 2;
  second.transition = 1;
  second.priorityOffset = 4;
  second.reserved = 0x12345678u;
  c->clip.clipRecords = {first, second};
  c->subFlags = {1, 0, 1};
  return OnTree(c);
});

const RoundTripRegistrar layerSample("CRTSLayerControl", [] {
  auto* c = new CRTSLayerControl;
  c->layer.subControllers = {Keys(1), Keys(2), nullptr};
  c->weightTracks = {{1, 0.5f}, {0, 0.5f}, {}};
  c->weightTimes = {0, 1};
  c->weightTransition = {kNoTransition, 0.5f};
  c->weightType = {kKeyLinear, kKeyEaseOut};
  return OnTree(c);
});

const RoundTripRegistrar selectorSample("CRTSSelectorControl", [] {
  auto* c = new CRTSSelectorControl;
  c->layer.subControllers = {nullptr, Keys(1), Keys(3)};
  c->transitionTime = 0.75f;
  return OnTree(c);
});

}  // namespace
}  // namespace KX::test
