// Assignment of every controller class, one line each: the target saves as its source does,
// whatever working state the class keeps is copied or started afresh, and a target of another
// class is refused.
#include <gtest/gtest.h>

#include <functional>

#include "control/camera_control.h"
#include "control/flexi_control.h"
#include "control/image_control.h"
#include "control/keyframe_control.h"
#include "control/layer_control.h"
#include "control/light_controls.h"
#include "control/link_control.h"
#include "control/look_at_control.h"
#include "control/material_control.h"
#include "control/mesh_deformers.h"
#include "control/particle_control.h"
#include "control/share_control.h"
#include "control/spring_control.h"
#include "control/uvw_map_control.h"
#include "control/visibility_control.h"
#include "core/math/matrix.h"
#include "image/image.h"
#include "scene/node.h"
#include "scene/tri_mesh.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX {
namespace {

// What the cases refer to by plain reference; saved beside the object, so that those references
// are stored as ids rather than as none.
struct Anchors {
  CRefPtr<CNode> node{new CNode};
  CRefPtr<CTriMesh> mesh{new CTriMesh};
};

std::vector<uint8_t> Saved(CBase* object, const Anchors& anchors) {
  CPersistContext context;
  for (CBase* root :
       {object, static_cast<CBase*>(anchors.node.get()), static_cast<CBase*>(anchors.mesh.get())})
    EXPECT_EQ(AddRoot(context, root), kOk);
  return test::SaveToBytes(context);
}

struct AssignCase {
  const char* name;
  std::function<CRefPtr<CBase>()> fresh;
  // An object whose stored fields and working state are all away from their defaults.
  std::function<CRefPtr<CBase>(Anchors&)> make;
  // Checks what the assignment of `from` left of the working state in `to`.
  std::function<void(CBase& from, CBase& to)> state;
};

template <class T>
AssignCase Case(std::function<void(T&, Anchors&)> fill,
                std::function<void(T& from, T& to)> state = nullptr) {
  return {
      T::classRecord.className, [] { return CRefPtr<CBase>(new T); },
      [fill](Anchors& anchors) {
        CRefPtr<T> object(new T);
        fill(*object, anchors);
        return CRefPtr<CBase>(object.get());
      },
      state ? [state](CBase& from, CBase& to) { state(static_cast<T&>(from), static_cast<T&>(to)); }
            : std::function<void(CBase&, CBase&)>()};
}

template <class T>
CRefPtr<T> Sub(std::function<void(T&)> fill) {
  CRefPtr<T> sub(new T);
  fill(*sub);
  return sub;
}

CRefPtr<CKeyframeControl> Keys() {
  return Sub<CKeyframeControl>([](auto& k) { k.positionKeys = {{1, 2, 3}}; });
}
CRefPtr<CMaterialDataControl> MaterialKeys() {
  return Sub<CMaterialControl>([](auto& m) { m.times1 = {4}; }).get();
}
const std::vector<ClipEntry> kTwoClips(2);

std::vector<AssignCase> Cases() {
  // `state` checks shared by the keyed data controllers: the search starts over.
  auto cursor = [](auto&, auto& to) { EXPECT_EQ(to.cursor, 0); };
  return {
      Case<CKeyframeControl>(
          [](auto& c, auto&) {
            c.positionKeys = {{1, 2, 3}};
            c.SetChannelTimes({1}, {2, 3}, {4});
            c.legacyValue = 7;
            c.keyCursor = 1;
            c.matrix = MatrixTranslation({1, 2, 3});
          },
          [](auto& from, auto& to) {
            EXPECT_EQ(to.legacyValue, from.legacyValue);
            EXPECT_EQ(to.matrix.get(), from.matrix.get());
            EXPECT_EQ(to.keyCursor, 0);
          }),
      Case<CKeyframeClipControl>([](auto& c, auto&) {
        c.sequence = {{1, 0, 2}};
      }),
      Case<CLinkControl>(
          [](auto& c, auto& a) {
            c.linkTimes = {2};
            c.linkParents = {a.node.get()};
            c.linkPending = {1};
            c.currentLink = 0;
          },
          [](auto& from, auto& to) {
            EXPECT_EQ(to.linkPending, from.linkPending);
            EXPECT_EQ(to.currentLink, -1);
          }),
      Case<CLookAtControl>([](auto& c, auto& a) {
        c.aimTimes = {1};
        c.targets = {a.node.get()};
      }),
      Case<CShareControl>([](auto& c, auto& a) {
        c.sources = {a.node.get()};
        c.positionFactor = c.rotationFactor = c.scaleFactor = {2, 3, 4};
      }),
      Case<CSpringControl>([](auto& c, auto&) { c.settings.resize(1); }),
      Case<CFlexiData>([](auto& c, auto& a) {
        c.flexiObjects = {a.node.get()};
        c.flexiValues = {1, 2, 3, 4, 5, 6};
        c.flexiValue7 = 7;
        c.flexiPair = {8, 9};
      }),
      Case<CFlexiControl>(
          [](auto& c, auto&) {
            c.SetData(new CFlexiData);
            c.settings.stiffness = 0.5f;
          },
          [](auto& from, auto& to) { EXPECT_EQ(to.data, from.data); }),
      Case<CRTSClipControl>(
          [](auto& c, auto&) {
            c.clip.subControllers = {Keys().get(), nullptr};
            c.clip.clipStart = {0, 1};
            c.clip.clipRecords = kTwoClips;
            c.subFlags = {1, 0};
            c.currentClip = 1;
          },
          [](auto&, auto& to) { EXPECT_EQ(to.currentClip, 0u); }),
      Case<CRTSLayerControl>(
          [](auto& c, auto&) {
            c.layer.subControllers = {Keys().get()};
            c.weightTracks = {{1, 0.5f}};
            c.weightTimes = {0, 1};
            c.weightCursor = 1;
          },
          [](auto&, auto& to) { EXPECT_EQ(to.weightCursor, 0); }),
      Case<CRTSSelectorControl>(
          [](auto& c, auto&) {
            c.layer.subControllers = {Keys().get()};
            c.transitionTime = 2;
            c.selected = 0;
          },
          [](auto&, auto& to) { EXPECT_EQ(to.selected, -1); }),
      Case<CCameraControl>(
          [](auto& c, auto&) {
            c.timesA = {0, 1};
            c.param11Keys = {7, 8};
            c.param8 = 3;
            c.worldUp = {0, 0, 1};
            c.cursorA = c.cursorB = 1;
          },
          [](auto& from, auto& to) {
            EXPECT_EQ(to.param8, from.param8);
            EXPECT_EQ(to.worldUp, from.worldUp);
            EXPECT_EQ(to.cursorA + to.cursorB, 0);
          }),
      Case<CLightControl>(
          [](auto& c, auto&) {
            c.colorKeys = {{1, 0, 0}};
            c.keyTimes = {1};
            c.color = {0, 1, 0};
            c.cursor = 1;
          },
          [cursor](auto& from, auto& to) {
            EXPECT_EQ(to.color, from.color);
            cursor(from, to);
          }),
      Case<CPointLightControl>(
          [](auto& c, auto&) {
            c.keyTimes = {1};
            c.range = 3;
            c.cursor = 1;
          },
          [cursor](auto& from, auto& to) {
            EXPECT_EQ(to.range, from.range);
            cursor(from, to);
          }),
      Case<CSpotLightControl>(
          [](auto& c, auto&) {
            c.keyTimes = {1};
            c.coneKeys = {{1, 2, 3}};
            c.rangeKeys = {5};
            c.range = 3;
            c.cone = {4, 5, 6};
            c.cursor = 1;
          },
          [cursor](auto& from, auto& to) {
            EXPECT_EQ(to.cone, from.cone);
            cursor(from, to);
          }),
      Case<CBooleanControl>(
          [](auto& c, auto&) {
            c.keyTimes = {1, 2};
            c.keyValues = {1, 0};
            c.cursor = 1;
          },
          cursor),
      Case<CAnmImageControl>(
          [](auto& c, auto&) {
            c.animation = new CAnmImage;
            c.cursor = 1;
          },
          cursor),
      Case<CMaterialControl>(
          [](auto& c, auto&) {
            c.times1 = {1};
            c.channelTimes[5] = {4};
            c.channelKeys[5].resize(1);
            c.values.param9 = 2;
            c.hasValues = true;
            c.cursor1 = c.channelCursor[5] = 1;
          },
          [](auto& from, auto& to) {
            EXPECT_EQ(to.values, from.values);
            EXPECT_EQ(to.hasValues, from.hasValues);
            EXPECT_EQ(to.cursor1 + to.channelCursor[5], 0);
          }),
      Case<CMaterialLayerControl>(
          [](auto& c, auto&) {
            c.layer.subControllers = {MaterialKeys().get()};
            c.weightTracks = {{1, 0.5f}};
            c.weightTimes = {0, 1};
            c.weightCursor = 1;
          },
          [](auto&, auto& to) { EXPECT_EQ(to.weightCursor, 0); }),
      Case<CMaterialClipControl>(
          [](auto& c, auto&) {
            c.clip.subControllers = {MaterialKeys().get(), nullptr};
            c.clip.clipStart = {0, 1};
            c.clip.clipRecords = kTwoClips;
            c.clipCursor = 1;
          },
          [](auto&, auto& to) { EXPECT_EQ(to.clipCursor, 0); }),
      Case<CUvwMapControl>(
          [](auto& c, auto&) {
            c.coordinateKeys = {{1, 2, 3}};
            c.keyTimes = {1};
            c.cursor = 1;
          },
          cursor),
      Case<CUvwMapClipControl>([](auto& c, auto&) {
        c.clip.subControllers = {Sub<CUvwMapControl>([](auto& u) { u.keyTimes = {1}; }).get()};
        c.clip.clipStart = {0, 1};
        c.clip.clipRecords = kTwoClips;
      }),
      Case<CParticleControl>(
          [](auto& c, auto&) {
            c.emitValue9 = 9;
            c.eventTimes = {0, 1};
            c.eventCursor = 1;
            c.carry = 0.5f;
          },
          [](auto&, auto& to) { EXPECT_EQ(to.eventCursor + to.carry, 0); }),
      Case<CParticleClipControl>([](auto& c, auto&) {
        c.clip.subControllers = {Sub<CParticleControl>([](auto& p) { p.eventTimes = {1}; }).get()};
        c.clip.clipStart = {0, 1};
        c.clip.clipRecords = kTwoClips;
      }),
      Case<CMorphControl>(
          [](auto& c, auto&) {
            c.deltas = {{1, 2, 3}};
            c.weightKeys = {0.5f};
            c.weightTimes = {1};
            c.cursor = 1;
          },
          cursor),
      Case<CMeshSelControl>([](auto& c, auto&) {
        ASSERT_EQ(c.selection.Resize(40), kOk);
        c.selection.Set(33);
      }),
      Case<CBoneSkinControl>([](auto& c, auto& a) {
        ASSERT_EQ(c.AddBone(a.node.get(), MatrixTranslation({1, 0, 0}), {{3, 0.5f}}), kOk);
      }),
      Case<CConnectData>([](auto& c, auto& a) {
        c.mesh1 = c.mesh2 = a.mesh.get();
        c.seamVertices2 = {2, 3};
        c.normalGroups1 = {{1, 2}};
        c.normalGroups2 = {{3}, {4}};
      }),
      Case<CConnectControl>(
          [](auto& c, auto&) { c.connection = new CConnectData; },
          [](auto& from, auto& to) { EXPECT_EQ(to.connection, from.connection); }),
  };
}

TEST(ControllerAssignment, TargetsSaveAsTheirSourcesAndStartTheirWorkAfresh) {
  test::RegisterForTests();
  Anchors anchors;
  for (const AssignCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    const CRefPtr<CBase> made = c.make(anchors), fresh = c.fresh(), blank = c.fresh();
    const auto madeBytes = Saved(made.get(), anchors), blankBytes = Saved(blank.get(), anchors);
    ASSERT_NE(madeBytes, blankBytes);
    ReleasedList released;
    // Onto a fresh object, then a fresh object's defaults over everything that was set.
    ASSERT_EQ(made->AssignTo(fresh.get(), released), kOk);
    EXPECT_EQ(Saved(fresh.get(), anchors), madeBytes);
    if (c.state) c.state(*made, *fresh);
    ASSERT_EQ(blank->AssignTo(made.get(), released), kOk);
    EXPECT_EQ(Saved(made.get(), anchors), blankBytes);
    if (c.state) c.state(*blank, *made);

    EXPECT_EQ(fresh->AssignTo(fresh.get(), released), kOk);
    EXPECT_EQ(Saved(fresh.get(), anchors), madeBytes);
    CRefPtr<CBase> other(KindOf<CControl>(fresh.get()) ? static_cast<CBase*>(new test::CTestControl)
                                                       : new test::CTestObject);
    EXPECT_EQ(fresh->AssignTo(other.get(), released), kErrMalformed);
  }
}

}  // namespace
}  // namespace KX
