// Light, camera, visibility and animated-picture controllers: their records in both layouts, what
// they compute, and what they refuse to write into.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <tuple>

#include "control/camera_control.h"
#include "control/image_control.h"
#include "control/light_controls.h"
#include "control/visibility_control.h"
#include "object/container.h"
#include "image/image.h"
#include "material/texture.h"
#include "scene/camera.h"
#include "scene/light.h"
#include "scene/node.h"
#include "support/bytes.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX {
namespace {

using test::Bytes;
using V = CVector3<float>;

class DataControls : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }
};

// --- records ---------------------------------------------------------------------------------

// Old files keep key times in scene time after a start time; the keys below load 10 s earlier.
constexpr float kOldStart = 10;

// The object and scene-object blocks of an unnamed object without chains.
Bytes Head(int32_t id, bool old) {
  if (old) return Bytes().I32(id).A("").I32(0).I32(0).I32(0);
  return Bytes().Version(2, 0).I32(id).W(u"").Version(2, 0).I32(0).I32(0).I32(0);
}

// The controller block (time scale 2, loop), then the version pairs of `levels` levels below it
// down to the class's own, `minor` being the class's.
Bytes Control(bool old, int levels, int32_t minor) {
  Bytes b = Head(1, old);
  if (old) return b.I32(1).F32(kOldStart).F32(0.5f).F32(9).F32(2).U8(1).I32(0).I32(0);
  b.Version(2, 1).I32(1).F32(0).F32(1).F32(2).U8(1).I32(0).I32(0);
  for (int i = 1; i < levels; ++i) b.Version(2, 0);
  return b.Version(2, minor);
}

Bytes Times(bool old, std::initializer_list<float> times) {
  Bytes b = Bytes().U32(static_cast<uint32_t>(times.size()));
  for (float t : times) b.F32(old ? t + kOldStart : t);
  return b;
}

Bytes Floats(std::initializer_list<float> values) {
  Bytes b = Bytes().U32(static_cast<uint32_t>(values.size()));
  for (float v : values) b.F32(v);
  return b;
}

Bytes Record(const char* cls, const Bytes& body, bool old) {
  Bytes b = Bytes().A(cls);
  if (!old) b.I32(static_cast<int32_t>(body.size()));
  return b.Append(body);
}

Bytes File(const Bytes& records, bool old) {
  if (old)
    return test::OldHeader("1.50")
        .Append(test::OldEmptyThumbnail())
        .A("_CorvaRoot")
        .Append(records);
  return test::NewHeader().I32(0).I32(0).A("_Root").Append(records);
}

template <class T>
CRefPtr<T> Make(const std::function<void(T&)>& fill) {
  CRefPtr<T> c(new T);
  c->timeScale = 2;
  c->outOfRange = kOutOfRangeLoop;
  fill(*c);
  return c;
}

// Each class with every list filled; the old layout, loaded and saved, must give the current
// bytes, with the start time taken off the keys.
TEST_F(DataControls, BothLayoutsAreByteExact) {
  const std::pair<CRefPtr<CControl>, std::function<Bytes(bool)>> cases[] = {
      {Make<CLightControl>([](auto& c) {
         c.colorKeys = {{1, 0, 0}, {0, 0, 1}};
         c.keyTimes = {0, 2};
       }),
       [](bool old) {
         Bytes b = Control(old, 3, 1).U32(2).F32(1).F32(0).F32(0).F32(0).F32(0).F32(1);
         return Record("CLightControl", b.Append(Times(old, {0, 2})), old);
       }},
      {Make<CPointLightControl>([](auto& c) {
         c.rangeKeys = {5, 6, 7};
         c.keyTimes = {1, 2, 3};
       }),
       [](bool old) {
         Bytes b = Control(old, 2, 1).Append(Floats({5, 6, 7})).Append(Times(old, {1, 2, 3}));
         return Record("CPointLightControl", b, old);
       }},
      {Make<CSpotLightControl>([](auto& c) {
         c.keyTimes = {0.5f};
         c.coneKeys = {{1, 2, 3}};
         c.rangeKeys = {4};
       }),
       [](bool old) {
         Bytes b = Control(old, 2, 1).Append(Times(old, {0.5f})).U32(1).F32(1).F32(2).F32(3);
         return Record("CSpotLightControl", b.Append(Floats({4})), old);
       }},
      {Make<CCameraControl>([](auto& c) {
         c.timesA = {0, 1};
         c.param8Keys = {1, 2};
         c.param9Keys = {3};
         c.param10Keys = {};
         c.param11Keys = {0xA0B0C0D0u, 7};
         c.timesB = {3};
         c.param3Keys = {0.5f};
       }),
       [](bool old) {
         Bytes b = Control(old, 3, 1).Append(Times(old, {0, 1})).Append(Floats({1, 2}));
         b.Append(Floats({3})).Append(Floats({})).U32(2).U32(0xA0B0C0D0u).U32(7);
         return Record("CCameraControl", b.Append(Times(old, {3})).Append(Floats({0.5f})), old);
       }},
      {Make<CBooleanControl>([](auto& c) {
         c.keyTimes = {0, 1};
         c.keyValues = {1, 0};
       }),
       [](bool old) {
         Bytes b = Control(old, 2, 1).Append(Times(old, {0, 1})).U32(2).U8(1).U8(0);
         return Record("CBooleanControl", b, old);
       }},
      // No data-controller level: the controller block is followed by the class's own.
      {Make<CAnmImageControl>([](auto& c) { c.animation = new CAnmImage; }),
       [](bool old) {
         Bytes image = old ? Bytes().I32(2).A("").I32(0).I32(0).I32(0).A("")
                           : Bytes().Version(2, 0).I32(2).W(u"").Version(2, 0).W(u"");
         return Record("CAnmImageControl", Control(old, 1, 0).I32(2), old)
             .Append(Record("CAnmImage", image.I32(0), old));
       }},
  };
  for (const auto& [control, records] : cases) {
    SCOPED_TRACE(control->GetRuntimeClass()->className);
    const Bytes current = File(records(false), false);
    EXPECT_EQ(test::SaveRootToBytes(control.get()), current.data);
    CPersistContext context;
    ASSERT_EQ(test::LoadFromBytes(File(records(true), true).data, context), kOk)
        << context.diagnostics.Describe();
    EXPECT_TRUE(context.diagnostics.warnings.empty()) << context.diagnostics.Describe();
    EXPECT_EQ(test::SaveRootToBytes(context.roots.at(0).get()), current.data);
  }
}

TEST_F(DataControls, ACountBeyondTheRecordIsAStreamError) {
  Bytes body = Control(false, 3, 1).U32(0x40000000u).F32(1).F32(0).F32(0).U32(0);
  CPersistContext context;
  EXPECT_EQ(test::LoadFromBytes(File(Record("CLightControl", body, false), false).data, context),
            kErrStream);
}

// --- evaluation ------------------------------------------------------------------------------

TEST_F(DataControls, LightColourBlendsBetweenKeysInTheOwnersUpdate) {
  CRefPtr<CPointLight> light(new CPointLight);
  light->color = {0.2f, 0.2f, 0.2f};
  CRefPtr<CLightControl> c(new CLightControl);
  ASSERT_EQ(light->AttachController(c.get()), kOk);
  ASSERT_EQ(light->Update(1), kOk);  // no keys: the colour stays
  EXPECT_EQ(light->color, (V{0.2f, 0.2f, 0.2f}));
  c->colorKeys = {{1, 0, 0}, {0, 0, 1}};
  c->keyTimes = {0, 2};
  ASSERT_EQ(light->Update(1), kOk);
  EXPECT_EQ(light->color, (V{0.5f, 0, 0.5f}));
  ASSERT_EQ(light->Update(-3), kOk);  // before the first key: its value
  EXPECT_EQ(light->color, (V{1, 0, 0}));
  // A time without a colour gives nothing: the light keeps what it has.
  c->colorKeys.pop_back();
  ASSERT_EQ(light->Update(1.5f), kOk);
  EXPECT_EQ(light->color, (V{1, 0, 0}));
}

TEST_F(DataControls, PointAndSpotLightsTakeRangeAndConeAndKeepThemWithoutKeys) {
  CRefPtr<CPointLight> point(new CPointLight);
  CRefPtr<CPointLightControl> range(new CPointLightControl);
  range->rangeKeys = {10, 20};
  range->keyTimes = {0, 4};
  ASSERT_EQ(point->AttachController(range.get()), kOk);
  ASSERT_EQ(point->Update(2), kOk);
  EXPECT_EQ(point->range, 15);

  CRefPtr<CSpotLight> spot(new CSpotLight);
  spot->range = 8;
  spot->falloff = 1;
  CRefPtr<CSpotLightControl> cone(new CSpotLightControl);
  ASSERT_EQ(spot->AttachController(cone.get()), kOk);
  ASSERT_EQ(spot->Update(1), kOk);
  EXPECT_EQ(spot->range, 8);
  EXPECT_EQ(spot->falloff, 1);
  EXPECT_EQ(spot->phi, CSpotLight().phi);
  cone->keyTimes = {0, 2};
  cone->coneKeys = {{0, 0, 0}, {2, 1, 0.5f}};
  cone->rangeKeys = {4};  // one range for two times: the range stays
  ASSERT_EQ(spot->Update(1), kOk);
  EXPECT_EQ(spot->range, 8);
  EXPECT_EQ(spot->falloff, 1);
  EXPECT_EQ(spot->phi, 0.5f);
  EXPECT_EQ(spot->theta, 0.25f);
}

TEST_F(DataControls, CameraGroupsUseTheirOwnTimes) {
  CRefPtr<CCamera> camera(new CCamera);
  CRefPtr<CCameraControl> c(new CCameraControl);
  c->timesA = {0, 2};
  c->param8Keys = {0, 1};
  c->param9Keys = {100, 300};
  c->param10Keys = {4};  // shorter than its times: keeps the camera's value
  c->param11Keys = {5, 6};
  c->timesB = {0, 10};
  c->param3Keys = {0, 10};
  EXPECT_EQ(c->Update(1), kErrBadArgument);
  ASSERT_EQ(camera->AttachController(c.get()), kOk);
  ASSERT_EQ(camera->Update(1), kOk);
  EXPECT_EQ(camera->param8, 0.5f);
  EXPECT_EQ(camera->param9, 200);
  EXPECT_EQ(camera->param10, 1);
  EXPECT_EQ(camera->param11, 5u);  // the key before, not a blend
  EXPECT_EQ(camera->param3, 1);
  EXPECT_EQ(c->GetDuration(), 10);
}

TEST_F(DataControls, VisibilityFollowsTheKeyAtOrBefore) {
  CRefPtr<CNode> node(new CNode);
  CRefPtr<CBooleanControl> c(new CBooleanControl);
  c->keyTimes = {0, 1};
  c->keyValues = {1, 0};
  ASSERT_EQ(node->AttachController(c.get()), kOk);
  EXPECT_EQ(c->Update(1.5f), kOk);
  EXPECT_FALSE(node->visible);
  node->visible = true;
  EXPECT_EQ(c->Update(-1), kNothingDone);
  EXPECT_TRUE(node->visible);
  c->keyValues = {1};  // the second key has no value
  node->visible = true;
  EXPECT_EQ(c->Update(3), kNothingDone);
  EXPECT_TRUE(node->visible);
}

TEST_F(DataControls, AnimatedPictureDrawsTheFrameDueIntoTheMapsPicture) {
  auto picture = [](int32_t size, uint32_t fill) {
    CRefPtr<CImage> image(new CImage);
    EXPECT_EQ(image->picture.Create(size, size, kPixelBGRA, fill), kOk);
    return image;
  };
  CRefPtr<CTextureMap> map(new CTextureMap);
  map->image = picture(4, 0xFF000000u);
  CRefPtr<CAnmImageControl> c(new CAnmImageControl);
  ASSERT_EQ(map->AttachController(c.get()), kOk);
  EXPECT_EQ(c->Update(0), kNothingDone);  // no animation yet
  c->animation = new CAnmImage;
  CAnmFrame values;
  ASSERT_EQ(c->animation->AddFrame(values, picture(1, 0xFF0000FFu).get()), kOk);
  values.frameValue2 = 2;  // the second frame starts 20 s after the first
  values.offsetX = values.offsetY = 3;
  ASSERT_EQ(c->animation->AddFrame(values, picture(1, 0xFF00FF00u).get()), kOk);
  EXPECT_EQ(c->GetDuration(), 20);
  auto pixel = [&](int x, int y) {
    const CPixelBuffer& p = static_cast<CImage*>(map->image.get())->picture;
    CPixelLock lock(p);
    uint32_t value = 0;
    std::memcpy(&value, lock.get() + y * p.stride + 4 * x, 4);
    return value;
  };
  ASSERT_EQ(c->Update(19), kOk);
  EXPECT_EQ(pixel(0, 0), 0xFF0000FFu);
  EXPECT_EQ(pixel(3, 3), 0xFF000000u);
  ASSERT_EQ(c->Update(25), kOk);
  EXPECT_EQ(pixel(3, 3), 0xFF00FF00u);
}

// Each controller on an object of another kind answers bad-argument and writes nothing.
TEST_F(DataControls, WrongOwnersAreRefusedUntouched) {
  CRefPtr<CNode> node(new CNode);
  CRefPtr<CCamera> camera(new CCamera);
  CRefPtr<CPointLight> point(new CPointLight);
  CRefPtr<CSpotLight> spot(new CSpotLight);
  CRefPtr<CTextureMap> map(new CTextureMap);
  map->image = new CAnmImage;  // a map showing an animation has no still picture to draw into
  auto light = Make<CLightControl>([](auto& c) { c.colorKeys = {{1, 1, 1}}, c.keyTimes = {0}; });
  auto range = Make<CPointLightControl>([](auto& c) { c.rangeKeys = {1}, c.keyTimes = {0}; });
  auto cone = Make<CSpotLightControl>([](auto& c) { c.rangeKeys = {1}, c.keyTimes = {0}; });
  auto cam = Make<CCameraControl>([](auto& c) { c.param8Keys = {9}, c.timesA = {0}; });
  auto flag = Make<CBooleanControl>([](auto& c) { c.keyValues = {0}, c.keyTimes = {0}; });
  auto anm = Make<CAnmImageControl>([](auto& c) { c.animation = new CAnmImage; });
  // The range and cone controllers compute without an owner; only their writing is refused.
  const std::tuple<CControl*, CCorva*, Status> cases[] = {
      {light.get(), camera.get(), kErrBadArgument},
      {range.get(), spot.get(), kOk},
      {cone.get(), point.get(), kOk},
      {cam.get(), node.get(), kErrBadArgument},
      {flag.get(), map.get(), kErrBadArgument},
      {anm.get(), node.get(), kErrBadArgument},
      {anm.get(), map.get(), kErrBadArgument},
  };
  for (const auto& [control, owner, update] : cases) {
    SCOPED_TRACE(control->GetRuntimeClass()->className);
    control->owner = nullptr;
    EXPECT_EQ(control->ApplyData(), kErrBadArgument);
    control->SetOwner(owner);
    EXPECT_EQ(control->Update(0), update);
    EXPECT_EQ(control->ApplyData(), kErrBadArgument);
  }
  EXPECT_EQ(spot->range, DefaultLightRange());
  EXPECT_EQ(point->range, DefaultLightRange());
  EXPECT_EQ(camera->param8, 0);
}

}  // namespace
}  // namespace KX
