// Round-trip samples of the light, camera, visibility and animated-picture controllers: each
// hangs on an owner of the kind it animates, with every list filled.
#include "control/camera_control.h"
#include "control/image_control.h"
#include "control/light_controls.h"
#include "control/visibility_control.h"
#include "image/image.h"
#include "material/texture.h"
#include "scene/camera.h"
#include "scene/light.h"
#include "scene/node.h"
#include "support/round_trip.h"

namespace KX::test {
namespace {

// Attaches `control` with non-default settings to `owner`, which is the sample's root.
CRefPtr<CBase> On(CCorva* owner, CControl* control) {
  CRefPtr<CBase> root(owner);
  CRefPtr<CControl> keep(control);
  control->name = u"control";
  control->timeScale = 0.5f;
  control->outOfRange = kOutOfRangePingPong;
  control->priority = 2;
  EXPECT_TRUE(::KX::Succeeded(owner->AttachController(control)));
  return root;
}

CRefPtr<CImage> Picture(int32_t size) {
  CRefPtr<CImage> image(new CImage);
  image->storeEncoded = false;
  EXPECT_TRUE(::KX::Succeeded(image->picture.Create(size, size, kPixelBGRA, 0x80402010u)));
  return image;
}

const RoundTripRegistrar light("CLightControl", [] {
  auto* c = new CLightControl;
  c->colorKeys = {{1, 0, 0}, {0, 0.5f, 1}};
  c->keyTimes = {0, 2};
  return On(new CDirectionalLight, c);
});

const RoundTripRegistrar pointLight("CPointLightControl", [] {
  auto* c = new CPointLightControl;
  c->rangeKeys = {10, 20, 5};
  c->keyTimes = {0, 1, 3};
  return On(new CPointLight, c);
});

const RoundTripRegistrar spotLight("CSpotLightControl", [] {
  auto* c = new CSpotLightControl;
  c->keyTimes = {0.5f, 1.5f};
  c->coneKeys = {{1, 0.8f, 0.2f}, {2, 1.2f, 0.4f}};
  c->rangeKeys = {30, 60};
  return On(new CSpotLight, c);
});

const RoundTripRegistrar camera("CCameraControl", [] {
  auto* c = new CCameraControl;
  c->timesA = {0, 1};
  c->param8Keys = {0.1f, 0.2f};
  c->param9Keys = {100, 500};
  c->param10Keys = {1, 2};
  c->param11Keys = {7, 0xFFFFFFFFu};
  c->timesB = {0.25f};
  c->param3Keys = {1.5f};
  return On(new CCamera, c);
});

const RoundTripRegistrar boolean("CBooleanControl", [] {
  auto* c = new CBooleanControl;
  c->keyTimes = {0, 1, 2};
  c->keyValues = {1, 0, 2};  // any non-zero byte shows the owner and is kept as stored
  return On(new CNode, c);
});

const RoundTripRegistrar anmImage("CAnmImageControl", [] {
  CRefPtr<CTextureMap> map(new CTextureMap);
  map->image = Picture(4);
  auto* c = new CAnmImageControl;
  c->animation = new CAnmImage;
  CAnmFrame values;
  values.frameValue2 = 5;
  EXPECT_TRUE(::KX::Succeeded(c->animation->AddFrame(values, Picture(2).get())));
  values.offsetX = 1;
  EXPECT_TRUE(::KX::Succeeded(c->animation->AddFrame(values, Picture(2).get())));
  return On(map.get(), c);
});

}  // namespace
}  // namespace KX::test
