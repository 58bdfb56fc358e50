// Round-trip samples of the lights, cameras, materials and textures.
#include "image/image.h"
#include "material/material.h"
#include "material/texture.h"
#include "scene/camera.h"
#include "scene/light.h"
#include "support/round_trip.h"

namespace KX::test {
namespace {

CRefPtr<CBase> PointLightSample() {
  CRefPtr<CPointLight> light(new CPointLight);
  light->color = {1, 0.5f, 0.25f};
  light->enabled = false;
  light->localPosition = {0, 1, 0};
  light->range = 50;
  light->attenuation2 = 0.125f;
  return light;
}

CRefPtr<CBase> DirectionalLightSample() {
  CRefPtr<CDirectionalLight> light(new CDirectionalLight);
  light->localDirection = {0, -1, 0};
  return light;
}

CRefPtr<CBase> SpotLightSample() {
  CRefPtr<CSpotLight> light(new CSpotLight);
  light->localPosition = {1, 1, 1};
  light->localDirection = {0, 0, 1};
  light->falloff = 2;
  light->theta = 0.3f;
  light->phi = 0.6f;
  return light;
}

CRefPtr<CBase> CameraSample() {
  CRefPtr<CCamera> camera(new CCamera);
  camera->position = {3, 2, 1};
  camera->param7 = 3;
  camera->localUp = {0, 0, 1};
  camera->fixedTarget = false;
  camera->param9 = 250;
  camera->param11 = 0xA1B2C3D4u;
  camera->target = new CCameraTarget;
  camera->target->position = {7, 0, 0};
  return camera;
}

CRefPtr<CImage> SmallPicture() {
  CRefPtr<CImage> image(new CImage);
  image->name = u"pic";
  image->storeEncoded = false;
  EXPECT_TRUE(::KX::Succeeded(image->picture.Create(2, 2, kPixelBGR, 0)));
  return image;
}

CRefPtr<CTextureMap> TextureMapSample(int32_t channel) {
  CRefPtr<CTextureMap> map(new CTextureMap);
  map->name = u"map";
  map->channel = channel;
  map->image = SmallPicture();
  return map;
}

CRefPtr<CBase> StandardMaterialSample() {
  CRefPtr<CStandardMaterial> material(new CStandardMaterial);
  material->emissive = {1, 1, 0};
  material->param[9] = 7;
  material->materialFlag = true;
  material->Validate();  // never saved
  material->channelTexture[1] = TextureMapSample(2);
  material->channelTexture[11] = new CCubeMap;
  material->channelAmount[1] = 0.5f;
  material->channelOffset[1] = {0.25f, 0.5f};
  material->channelTiling[11] = {4, 2};
  return material;
}

CRefPtr<CBase> BlendMaterialSample() {
  CRefPtr<CBlendMaterial> blend(new CBlendMaterial);
  blend->blendValue = 0.3f;
  blend->extraObject = SmallPicture();
  blend->material1 = new CStandardMaterial;
  blend->material2 = new CStandardMaterial;
  return blend;
}

CRefPtr<CBase> MultiMaterialSample() {
  CRefPtr<CMultiMaterial> multi(new CMultiMaterial);
  CRefPtr<CStandardMaterial> shared(new CStandardMaterial);
  // One material at two indices stays one object; a gap stays a gap.
  multi->subMaterials = {shared, nullptr, new CBlendMaterial, shared};
  return multi;
}

CRefPtr<CBase> TextureMapRootSample() { return TextureMapSample(1); }

CRefPtr<CBase> BlendTexSample() {
  CRefPtr<CBlendTex> blend(new CBlendTex);
  blend->weight1 = 0.25f;
  blend->weight2 = 0.75f;
  blend->texture1 = TextureMapSample(0);
  blend->texture2 = new CRefractionMap;
  return blend;
}

CRefPtr<CBase> NormalBumpSample() {
  CRefPtr<CNormalBumpTex> bump(new CNormalBumpTex);
  bump->use2 = false;
  bump->amount1 = 0.5f;
  bump->amount2 = 3;
  bump->map1 = TextureMapSample(1);
  return bump;
}

CRefPtr<CBase> CubeMapSample() {
  CRefPtr<CCubeMap> cube(new CCubeMap);
  return cube;
}

CRefPtr<CBase> RefractionSample() {
  CRefPtr<CRefractionMap> refraction(new CRefractionMap);
  refraction->refraction = 1.33f;
  return refraction;
}

const RoundTripRegistrar pointLight("CPointLight", PointLightSample);
const RoundTripRegistrar directionalLight("CDirectionalLight", DirectionalLightSample);
const RoundTripRegistrar spotLight("CSpotLight", SpotLightSample);
const RoundTripRegistrar standardMaterial("CStandardMaterial", StandardMaterialSample);
const RoundTripRegistrar blendMaterial("CBlendMaterial", BlendMaterialSample);
const RoundTripRegistrar multiMaterial("CMultiMaterial", MultiMaterialSample);
const RoundTripRegistrar textureMap("CTextureMap", TextureMapRootSample);
const RoundTripRegistrar blendTex("CBlendTex", BlendTexSample);
const RoundTripRegistrar normalBumpTex("CNormalBumpTex", NormalBumpSample);
const RoundTripRegistrar cubeMap("CCubeMap", CubeMapSample);
const RoundTripRegistrar refractionMap("CRefractionMap", RefractionSample);
const RoundTripRegistrar camera("CCamera", CameraSample);
const RoundTripRegistrar cameraTarget("CCameraTarget", CameraSample);

}  // namespace
}  // namespace KX::test
