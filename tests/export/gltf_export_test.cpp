// The glTF export: every shape of scene the tests know comes out as a document the reference
// validator accepts, meshes land where the scene puts them, and what glTF cannot hold is left
// out with a warning rather than written broken.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>

#include "app/command_flow.h"
#include "app/export/gltf_builder.h"
#include "app/export/gltf_writer.h"
#include "control/keyframe_control.h"
#include "gltf_check.h"
#include "image/codec.h"
#include "image/pixel_buffer.h"
#include "material/material.h"
#include "scene/tri_mesh.h"
#include "scene/light.h"
#include "scene/node.h"
#include "support/after_load.h"
#include "support/legacy_scene.h"
#include "support/round_trip.h"
#include "support/temp_dir.h"
#include "support/test_classes.h"

namespace KX::test {
namespace {

CSpatial* RootOf(const CPersistContext& document) {
  return document.roots.empty() ? nullptr : KindOf<CSpatial>(document.roots.front().get());
}

std::vector<uint8_t> GlbOf(CSpatial& root, std::vector<std::string>* warnings = nullptr) {
  GltfScene scene;
  EXPECT_EQ(BuildGltfScene(root, scene), kOk);
  std::vector<uint8_t> bytes;
  EXPECT_EQ(EncodeGlb(scene, bytes), kOk);
  if (warnings) *warnings = scene.warnings;
  return bytes;
}

std::string WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::vector<uint8_t> Encoded(int32_t format, uint8_t shade) {
  CPixelBuffer picture;
  EXPECT_EQ(picture.Create(4, 4, kPixelBGRA, 0), kOk);
  {
    CPixelLock lock(picture);
    for (int32_t y = 0; y < 4; ++y)
      for (int32_t x = 0; x < 16; ++x) lock.get()[y * picture.stride + x] = shade;
  }
  std::vector<uint8_t> bytes;
  EXPECT_EQ(EncodeBlob(picture, format, bytes), kOk);
  return bytes;
}

// Meshes under turned, scaled and mirrored nodes, a mesh whose own transform shears, faces that
// name positions that are not there, an empty mesh, materials with pictures of every kind.
LegacyScene ShapesScene() {
  LegacyScene scene("1.50");
  const auto root = scene.Root(u"Shapes");
  const auto turned =
      scene.Node(u"Turned", Transform({1, 2, 3}, {0.3f, -0.7f, 1.1f}, {2, 0.5f, 1}));
  const auto mirrored = scene.Node(u"Mirrored", Transform({-1, 0, 0}, {0, 0.4f, 0}, {-1, 1, 1}));
  scene.AddChild(root, turned);
  scene.AddChild(root, mirrored);

  LegacyMaterial png, jpeg, bmp, raw;
  png.diffuse = {0.8f, 0.6f, 0.4f};
  png.channels[1] = scene.TextureMap(scene.Image(u"png", Encoded(kCodecPNG, 200)), 0);
  jpeg.channels[1] = scene.TextureMap(scene.Image(u"jpeg", Encoded(kCodecJPEG, 100)), 0);
  bmp.channels[1] = scene.TextureMap(scene.Image(u"bmp", Encoded(kCodecBMP, 50)), 0);
  bmp.param[1] = 0.5f;  // half see-through
  bmp.emissive = {0.2f, 0, 0};
  raw.channels[1] =
      scene.TextureMap(scene.RawImage(u"raw", 2, 2, 1, std::vector<uint8_t>(12, 9)), 0);
  const auto multi = scene.MultiMaterial(
      {scene.Material(png, u"Png"), {}, scene.Material(jpeg, u"Jpeg"), scene.Material(bmp, u"Bmp")},
      u"Multi");

  // Faces 0 and 1 take sub-materials 0 and 2 (the second through 6 modulo 4), faces 2 and 3
  // sub-material 1, which is empty.
  LegacyMesh cube = LegacyMesh::Quad(1.0f);
  cube.positions.push_back({0.5f, 0.5f, 1});
  cube.normals.push_back({0, 0, 0});  // no direction: the face's own normal stands in
  cube.mapVertices.push_back({0.5f, 0.5f, 0});
  cube.faceCount = 4;
  cube.facePositionIndices.insert(cube.facePositionIndices.end(), {0, 1, 4, 1, 2, 4});
  cube.faceNormalIndices.insert(cube.faceNormalIndices.end(), {0, 1, 4, 1, 2, 4});
  cube.faceMapIndices.insert(cube.faceMapIndices.end(), {0, 1, 4, 1, 2, 4});
  cube.faceTriples4 = cube.facePositionIndices;
  cube.faceValues1 = {0, 6, 1, 5};
  cube.faceValues2 = {0, 0, 0, 0};
  const auto multiMesh = scene.Mesh(u"Multi Mesh", cube, Transform({0, 1, 0}));
  scene.SetMaterial(multiMesh, multi);
  scene.AddChild(turned, multiMesh);

  // A quad whose corners name their own map vertices: six glTF vertices instead of four.
  LegacyMesh split = LegacyMesh::Quad(2.0f);
  split.mapVertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0.1f, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  split.faceMapIndices = {0, 1, 2, 3, 4, 5};
  const auto splitMesh = scene.Mesh(u"Split", split, Transform({0, 0, 2}, {0, 0, 0.5f}));
  scene.SetMaterial(splitMesh, scene.Material(raw, u"Raw"));
  scene.AddChild(mirrored, splitMesh);

  // A shear cannot be a node's transform: it goes into the vertices.
  CMatrix4 shear = Transform({0, 3, 0});
  shear.m[1][0] = 0.5f;
  const auto sheared = scene.Mesh(u"Sheared", LegacyMesh::Quad(1.0f), shear);
  scene.SetMaterial(sheared, scene.Material(png, u"Png Again"));
  scene.AddChild(root, sheared);

  // The second face names a position past the end; normals and map indices run out early.
  LegacyMesh broken = LegacyMesh::Quad(1.0f);
  broken.facePositionIndices[4] = 99;
  broken.faceNormalIndices[1] = 50;
  broken.faceMapIndices = {0, 1, 7, 0, 2, 3};
  scene.AddChild(mirrored, scene.Mesh(u"Broken", broken));
  LegacyMesh empty;
  scene.AddChild(mirrored, scene.Mesh(u"Empty", empty));

  scene.AddChild(root,
                 scene.Light(u"Sun", 1, {1, 0.9f, 0.8f}, Transform({0, 5, 0}, {-1.2f, 0, 0})));
  scene.AddChild(root, scene.Light(u"Bulb", 2, {2, 1, 0.5f}, Translation({1, 2, 1})));
  scene.AddChild(root, scene.Light(u"Spot", 3, {1, 1, 1}, Translation({0, 4, 0})));
  const auto target = scene.CameraTarget(u"Look Here", Translation({0, 0, -5}));
  scene.AddChild(root, scene.Camera(u"Eye", Translation({0, 1, 5}), target));
  scene.AddChild(root, target);
  return scene;
}

TEST(GltfExport, MeshesLandWhereTheSceneDrawsThem) {
  RegisterForTests();
  const LegacyScene shapes = ShapesScene();
  CPersistContext document;
  ASSERT_EQ(LoadFromBytes(shapes.Bytes(), document), kOk);
  CSpatial* root = RootOf(document);
  ASSERT_TRUE(root);
  std::vector<std::string> warnings;
  const Glb glb = ReadGlb(GlbOf(*root, &warnings));
  ExpectSameTriangles(TreeWorldTriangles(*root), GlbWorldTriangles(glb), 1e-5f);

  // What was left out is said.
  const auto said = [&](const std::string& part) {
    return std::any_of(warnings.begin(), warnings.end(),
                       [&](const std::string& w) { return w.find(part) != std::string::npos; });
  };
  EXPECT_TRUE(said("mesh 'Broken': 1 face(s) name positions that are missing"));
  EXPECT_TRUE(said("camera 'Eye': its lens values are not carried"));
  EXPECT_EQ(warnings.size(), 2u) << warnings.front();

  const auto& json = glb.json;
  auto meshNamed = [&](const std::string& name) {
    for (const auto& mesh : json["meshes"])
      if (mesh.value("name", "") == name) return mesh;
    ADD_FAILURE() << "no mesh " << name;
    return nlohmann::json::object();
  };
  // One primitive per sub-material the faces use; the empty sub-material has no material.
  const auto multi = meshNamed("Multi Mesh");
  ASSERT_EQ(multi["primitives"].size(), 3u);
  EXPECT_EQ(json["materials"][multi["primitives"][0]["material"].get<int>()]["name"], "Png");
  EXPECT_FALSE(multi["primitives"][1].contains("material"));
  EXPECT_EQ(json["materials"][multi["primitives"][2]["material"].get<int>()]["name"], "Jpeg");
  // Vertices split where the corners name different map vertices, and only there.
  const auto split = meshNamed("Split")["primitives"][0]["attributes"];
  EXPECT_EQ(json["accessors"][split["POSITION"].get<int>()]["count"], 6);
  const auto plain = meshNamed("Sheared")["primitives"][0]["attributes"];
  EXPECT_EQ(json["accessors"][plain["POSITION"].get<int>()]["count"], 4);
  // Normals and map coordinates go only where every face has them.
  const auto broken = meshNamed("Broken")["primitives"][0]["attributes"];
  EXPECT_FALSE(broken.contains("NORMAL"));
  EXPECT_FALSE(broken.contains("TEXCOORD_0"));
  EXPECT_TRUE(plain.contains("NORMAL"));
  EXPECT_TRUE(plain.contains("TEXCOORD_0"));

  // PNG and JPEG pictures go as stored; the others become PNG. A material shows its opacity.
  std::vector<std::string> mimeTypes;
  for (const auto& image : json["images"]) mimeTypes.push_back(image["mimeType"]);
  EXPECT_EQ(mimeTypes, (std::vector<std::string>{"image/png", "image/jpeg", "image/png"}));
  const auto& first = json["bufferViews"][json["images"][0]["bufferView"].get<int>()];
  const std::vector<uint8_t> stored = Encoded(kCodecPNG, 200);
  ASSERT_EQ(first["byteLength"], stored.size());
  EXPECT_TRUE(std::equal(stored.begin(), stored.end(),
                         glb.binary.begin() + first["byteOffset"].get<std::ptrdiff_t>()));
  for (const auto& material : json["materials"]) {
    if (material["name"] != "Bmp") continue;
    EXPECT_EQ(material["alphaMode"], "BLEND");
    EXPECT_FLOAT_EQ(material["pbrMetallicRoughness"]["baseColorFactor"][3].get<float>(), 0.5f);
    EXPECT_FLOAT_EQ(material["emissiveFactor"][0].get<float>(), 0.2f);
  }
}

CVector3<float> Direction(const CVector3<float>& from, const CVector3<float>& to) {
  const CVector3<float> d{to.x - from.x, to.y - from.y, to.z - from.z};
  const float length = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
  return {d.x / length, d.y / length, d.z / length};
}

// Lights and cameras look down the -Z of their glTF node: the light's own direction and the
// camera's view of its target are folded into the node.
TEST(GltfExport, LightsAndCamerasLookWhereTheSceneAimsThem) {
  RegisterForTests();
  LegacyScene scene("1.50");
  const auto root = scene.Root(u"Lit", Translation({0, 1, 0}));
  const auto sun = scene.Light(u"Sun", 1, {1, 0.9f, 0.8f}, Transform({0, 5, 0}, {-1.2f, 0.3f, 0}));
  const auto bulb = scene.Light(u"Bulb", 2, {2, 1, 0.5f}, Translation({1, 2, 1}));
  const auto spot = scene.Light(u"Spot", 3, {1, 1, 1}, Translation({0, 4, 0}));
  const auto rig = scene.Node(u"Rig", Transform({3, 1, 5}, {0, 0.5f, 0}));
  const auto target = scene.CameraTarget(u"Look Here", Translation({-2, 0, -5}));
  scene.AddChild(root, sun);
  scene.AddChild(root, bulb);
  scene.AddChild(root, spot);
  scene.AddChild(root, rig);
  scene.AddChild(rig, scene.Camera(u"Eye", Translation({0, 1, 0}), target));
  scene.AddChild(root, target);
  CPersistContext document;
  ASSERT_EQ(LoadFromBytes(scene.Bytes(), document), kOk);
  CNode& tree = *KindOf<CNode>(RootOf(document));
  auto* light = KindOf<CSpotLight>(KindOf<CNode>(&tree)->children[2].get());
  ASSERT_TRUE(light);
  light->localDirection = {1, -1, 0};
  light->theta = 0.4f;
  light->phi = 1.0f;

  const Glb glb = ReadGlb(GlbOf(tree));
  const auto& json = glb.json;
  const std::vector<CMatrix4> world = GlbWorldMatrices(glb);
  const auto& lights = json["extensions"]["KHR_lights_punctual"]["lights"];
  ASSERT_EQ(lights.size(), 3u);
  EXPECT_EQ(lights[0]["type"], "directional");
  EXPECT_EQ(lights[1]["type"], "point");
  EXPECT_FLOAT_EQ(lights[1]["intensity"].get<float>(), 2.0f);  // brighter than white
  EXPECT_FLOAT_EQ(lights[1]["color"][2].get<float>(), 0.25f);
  EXPECT_FLOAT_EQ(lights[2]["spot"]["innerConeAngle"].get<float>(), 0.2f);
  EXPECT_FLOAT_EQ(lights[2]["spot"]["outerConeAngle"].get<float>(), 0.5f);

  auto lookOf = [&](int node) { return TransformVector({0, 0, -1}, UpperMatrix3(world[node])); };
  auto near = [](const CVector3<float>& a, const CVector3<float>& b) {
    return std::fabs(a.x - b.x) < 1e-5f && std::fabs(a.y - b.y) < 1e-5f &&
           std::fabs(a.z - b.z) < 1e-5f;
  };
  const CMatrix4 sunWorld = Transform({0, 5, 0}, {-1.2f, 0.3f, 0}) * Translation({0, 1, 0});
  EXPECT_TRUE(near(lookOf(1), Direction({}, TransformVector({0, 0, -1}, UpperMatrix3(sunWorld)))));
  EXPECT_TRUE(near(lookOf(3), Direction({}, {1, -1, 0})));
  ASSERT_EQ(json["nodes"][5]["name"], "Eye");
  EXPECT_EQ(json["cameras"][json["nodes"][5]["camera"].get<int>()]["type"], "perspective");
  EXPECT_TRUE(near(lookOf(5), Direction(world[5].Translation(), world[6].Translation())));
}

// A node's keyframes become an animation of its translation, rotation and scale that passes
// through every key at its time; the converted prop, which keeps no animation, has none.
TEST(GltfExport, KeyframesBecomeAnAnimationThroughEveryKey) {
  RegisterForTests();
  LegacyScene scene("1.50");
  const auto root = scene.Root(u"Moving", Translation({0, 1, 0}));
  const auto box = scene.Node(u"Box", Translation({1, 0, 0}));
  scene.AddChild(root, box);
  scene.AddChild(box, scene.Mesh(u"Face", LegacyMesh::Quad()));
  const CQuaternion turned{0.8660254f, 0, 0.5f, 0};  // 60 degrees about y
  scene.KeyframeController(
      box, {{0.0f, {1, 0, 0}}, {1.0f, {1, 2, 0}, turned, {2, 2, 2}}, {1.5f, {0, 2, 0}, turned}});
  CPersistContext document;
  ASSERT_EQ(LoadFromBytes(scene.Bytes(), document), kOk);
  const Glb glb = ReadGlb(GlbOf(*RootOf(document)));
  const auto& json = glb.json;
  ASSERT_EQ(json["animations"].size(), 1u);
  const auto& animation = json["animations"][0];
  ASSERT_EQ(animation["channels"].size(), 3u);
  auto values = [&](const char* path) {
    for (const auto& channel : animation["channels"]) {
      if (channel["target"]["path"] != path) continue;
      EXPECT_EQ(channel["target"]["node"], 1);
      const auto& sampler = animation["samplers"][channel["sampler"].get<int>()];
      const auto& input = json["accessors"][sampler["input"].get<int>()];
      const auto& output = json["accessors"][sampler["output"].get<int>()];
      std::map<float, std::vector<float>> byTime;
      const size_t width = output["type"] == "VEC4" ? 4 : 3;
      auto floats = [&](const nlohmann::json& accessor, size_t at) {
        float v;
        const auto& view = json["bufferViews"][accessor["bufferView"].get<int>()];
        std::memcpy(&v, &glb.binary[view["byteOffset"].get<size_t>() + 4 * at], 4);
        return v;
      };
      for (size_t i = 0; i < input["count"].get<size_t>(); ++i)
        for (size_t k = 0; k < width; ++k)
          byTime[floats(input, i)].push_back(floats(output, i * width + k));
      return byTime;
    }
    ADD_FAILURE() << "no channel for " << path;
    return std::map<float, std::vector<float>>{};
  };
  const auto translation = values("translation");
  const auto rotation = values("rotation");
  const auto scale = values("scale");
  ASSERT_TRUE(translation.contains(1.0f) && translation.contains(1.5f) &&
              translation.contains(0.0f));
  EXPECT_EQ(translation.rbegin()->first, 1.5f);
  auto expectNear = [](const std::vector<float>& actual, const std::vector<float>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t k = 0; k < actual.size(); ++k) EXPECT_NEAR(actual[k], expected[k], 1e-5f) << k;
  };
  expectNear(translation.at(0.0f), {1, 0, 0});
  expectNear(translation.at(1.0f), {1, 2, 0});
  expectNear(translation.at(1.5f), {0, 2, 0});
  expectNear(scale.at(1.0f), {2, 2, 2});
  std::vector<float> q = rotation.at(1.0f);
  if (q[3] < 0) q = {-q[0], -q[1], -q[2], -q[3]};
  expectNear(q, {0, 0.5f, 0, 0.8660254f});
  // Half way between the first two keys, as the controller plays it.
  expectNear(translation.at(0.5f), {1, 1, 0});

  // A controller played so slowly that its end is past what a float can count moves nothing.
  auto* node = KindOf<CSpatial>(KindOf<CNode>(RootOf(document))->children[0].get());
  KindOf<CKeyframeControl>(node->controllers.get())->timeScale = 1e-38f;
  std::vector<std::string> warnings;
  EXPECT_FALSE(ReadGlb(GlbOf(*RootOf(document), &warnings)).json.contains("animations"));
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("'Box': its keyframes last longer"), std::string::npos);

  CSilentUi ui;
  CRefPtr<CNode> prop;
  CPersistContext sample;
  ASSERT_EQ(LoadFromBytes(ReadFileBytes(KX_SAMPLE_SCENE), sample), kOk);
  EXPECT_TRUE(ReadGlb(GlbOf(*RootOf(sample))).json.contains("animations"));
  ASSERT_EQ(CheckCompatibility(sample, prop, ui), kOk);
  EXPECT_FALSE(ReadGlb(GlbOf(*prop)).json.contains("animations"));
}

// The check: what the converter makes of the bundled scene, exported, puts every face
// where the prop's baked vertices are.
TEST(GltfExport, TheConvertedSampleMatchesThePropsBakedPositions) {
  RegisterForTests();
  CPersistContext document;
  ASSERT_EQ(LoadFromBytes(ReadFileBytes(KX_SAMPLE_SCENE), document), kOk);
  CSilentUi ui;
  CRefPtr<CNode> prop;
  ASSERT_EQ(CheckCompatibility(document, prop, ui), kOk);
  const Glb glb = ReadGlb(GlbOf(*prop));
  const auto expected = TreeWorldTriangles(*prop);
  EXPECT_EQ(expected.size(), 3u);
  ExpectSameTriangles(expected, GlbWorldTriangles(glb), 1e-5f);
}

// A node whose transform is not finite and one whose transform shears, each over a mesh.
LegacyScene OddScene() {
  LegacyScene scene("1.50");
  const auto root = scene.Root(u"Odd");
  CMatrix4 nan = Translation({1, 2, 3});
  nan.m[3][1] = std::numeric_limits<float>::quiet_NaN();
  CMatrix4 shear = MatrixIdentity();
  shear.m[2][0] = 1.0f;
  const auto lost = scene.Node(u"Lost", nan);
  const auto slanted = scene.Node(u"Slanted", shear);
  scene.AddChild(root, lost);
  scene.AddChild(root, slanted);
  scene.AddChild(lost, scene.Mesh(u"Under Lost", LegacyMesh::Triangle()));
  scene.AddChild(slanted, scene.Mesh(u"Under Slanted", LegacyMesh::Triangle()));
  return scene;
}

TEST(GltfExport, TransformsGltfCannotHoldAreSaidAndTheFileStaysValid) {
  RegisterForTests();
  const LegacyScene scene = OddScene();
  CPersistContext document;
  ASSERT_EQ(LoadFromBytes(scene.Bytes(), document), kOk);
  std::vector<std::string> warnings;
  const Glb glb = ReadGlb(GlbOf(*RootOf(document), &warnings));
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_NE(warnings[0].find("'Lost': its rest transform is not finite"), std::string::npos);
  EXPECT_NE(warnings[1].find("'Slanted': its rest transform shears"), std::string::npos);
  EXPECT_EQ(glb.json["meshes"].size(), 2u);
  EXPECT_FALSE(glb.json["nodes"][1].contains("translation"));
}

// Controllers past the first keyframe controller, morphs and channels other than the diffuse one
// do not go across; each is named with its object.
TEST(GltfExport, WhatDoesNotGoAcrossIsNamed) {
  RegisterForTests();
  LegacyScene scene("1.50");
  const auto root = scene.Root(u"Root");
  const auto box = scene.Node(u"Box");
  scene.AddChild(root, box);
  const auto face = scene.Mesh(u"Face", LegacyMesh::Quad());
  scene.AddChild(box, face);
  LegacyMaterial bumpy;
  const auto picture = scene.Image(u"p", Encoded(kCodecPNG, 90));
  bumpy.channels[1] = scene.TextureMap(picture, 0);
  bumpy.channels[3] = scene.TextureMap(picture, 0);
  bumpy.channels[8] = scene.NormalBumpTex(scene.TextureMap(picture, 0));
  scene.SetMaterial(face, scene.Material(bumpy, u"Bumpy"));
  scene.KeyframeController(box, {{0.0f, {0, 0, 0}}, {1.0f, {0, 1, 0}}});
  scene.KeyframeController(box, {{0.0f, {0, 0, 0}}, {1.0f, {1, 0, 0}}});
  scene.MorphController(face, {{0, 0, 1}});
  CPersistContext document;
  ASSERT_EQ(LoadFromBytes(scene.Bytes(), document), kOk);
  std::vector<std::string> warnings;
  const Glb glb = ReadGlb(GlbOf(*RootOf(document), &warnings));
  EXPECT_EQ(glb.json["animations"].size(), 1u);
  EXPECT_EQ(warnings,
            (std::vector<std::string>{
                "node 'Box': its controller CKeyframeControl is not carried; only its first "
                "keyframe controller is",
                "material 'Bumpy': the textures of channel(s) 3 (CTextureMap) are not carried; "
                "only the diffuse picture and a normal-bump map are",
                "node 'Face': its controller CMorphControl is not carried"}));
}

// Three quads showing one picture at full, part and no amount over a red diffuse colour; the
// first with a normal-bump map at half amount, an offset and tiling, and a red specular colour.
// Old files store no amounts, offsets or tilings: they are set once the scene is loaded.
void LoadMaterialsScene(CPersistContext& document) {
  LegacyScene scene("1.50");
  const auto root = scene.Root(u"Root");
  const auto picture = scene.Image(u"p", Encoded(kCodecPNG, 90));
  for (const std::u16string name : {u"Full", u"Part", u"None"}) {
    LegacyMaterial look;
    look.diffuse = {0.8f, 0, 0};
    look.channels[1] = scene.TextureMap(picture, 0);
    if (name == u"Full") look.channels[8] = scene.NormalBumpTex(scene.TextureMap(picture, 0));
    const auto mesh = scene.Mesh(name, LegacyMesh::Quad());
    scene.SetMaterial(mesh, scene.Material(look, name));
    scene.AddChild(root, mesh);
  }
  ASSERT_EQ(LoadFromBytes(scene.Bytes(), document), kOk);
  auto material = [&](std::u16string_view name) {
    auto* mesh = KindOf<CTriMesh>(RootOf(document)->FindObject(name, nullptr, false));
    return KindOf<CStandardMaterial>(mesh->material.get());
  };
  CStandardMaterial* full = material(u"Full");
  full->specular = {1, 0, 0};
  full->channelOffset[1] = {0.5f, 0.25f};
  full->channelTiling[1] = {2, 3};
  full->channelAmount[8] = 0.5f;
  material(u"Part")->channelAmount[1] = 0.25f;
  material(u"None")->channelAmount[1] = 0.0f;
}

TEST(GltfExport, MaterialsLookAsInTheScene) {
  RegisterForTests();
  CPersistContext document;
  LoadMaterialsScene(document);
  std::vector<std::string> warnings;
  const Glb glb = ReadGlb(GlbOf(*RootOf(document), &warnings));
  EXPECT_TRUE(warnings.empty()) << warnings.front();
  std::map<std::string, nlohmann::json> byName;
  for (const auto& material : glb.json["materials"]) byName[material["name"]] = material;
  ASSERT_EQ(byName.size(), 3u);
  const auto factor = [&](const std::string& name) {
    return byName[name]["pbrMetallicRoughness"]["baseColorFactor"].get<std::vector<float>>();
  };
  // A picture at full amount replaces the colour; at a quarter, the factor is a quarter of the
  // way from the colour to white; at none the picture stays out.
  EXPECT_EQ(factor("Full"), (std::vector<float>{1, 1, 1, 1}));
  EXPECT_EQ(factor("Part"), (std::vector<float>{0.25f + 0.75f * 0.8f, 0.25f, 0.25f, 1}));
  EXPECT_EQ(factor("None"), (std::vector<float>{0.8f, 0, 0, 1}));
  EXPECT_TRUE(byName["Part"]["pbrMetallicRoughness"].contains("baseColorTexture"));
  EXPECT_FALSE(byName["None"]["pbrMetallicRoughness"].contains("baseColorTexture"));

  const auto& full = byName["Full"];
  EXPECT_EQ(full["normalTexture"]["scale"], 0.5f);
  EXPECT_TRUE(full["normalTexture"].contains("index"));
  EXPECT_EQ(full["pbrMetallicRoughness"]["baseColorTexture"]["extensions"]["KHR_texture_transform"],
            (nlohmann::json{{"offset", {0.5f, 0.25f}}, {"scale", {2.0f, 3.0f}}}));
  EXPECT_EQ(full["extensions"]["KHR_materials_specular"]["specularColorFactor"],
            (nlohmann::json{1.0f, 0.0f, 0.0f}));
  EXPECT_FALSE(byName["Part"].contains("extensions"));
  EXPECT_EQ(glb.json["extensionsUsed"],
            (nlohmann::json{"KHR_materials_specular", "KHR_texture_transform"}));

  // The normal-mapped quad lies in z = 0 with its first coordinate growing along x: every
  // tangent is +x, right-handed.
  for (const auto& mesh : glb.json["meshes"]) {
    const auto& attributes = mesh["primitives"][0]["attributes"];
    EXPECT_EQ(attributes.contains("TANGENT"), mesh["name"] == "Full") << mesh["name"];
    if (!attributes.contains("TANGENT")) continue;
    const auto& accessor = glb.json["accessors"][attributes["TANGENT"].get<int>()];
    const auto& view = glb.json["bufferViews"][accessor["bufferView"].get<int>()];
    const size_t count = accessor["count"];
    std::vector<float> tangents(4 * count);
    std::memcpy(tangents.data(), &glb.binary[view["byteOffset"].get<size_t>()],
                tangents.size() * sizeof(float));
    for (size_t i = 0; i < count; ++i)
      EXPECT_EQ(std::vector<float>(tangents.begin() + 4 * i, tangents.begin() + 4 * i + 4),
                (std::vector<float>{1, 0, 0, 1}));
  }
}

// Every root that is a spatial object is a scene of its own, the first the default.
TEST(GltfExport, EveryRootIsAScene) {
  RegisterForTests();
  LegacyScene scene("1.50");
  const auto first = scene.Root(u"First");
  scene.AddChild(first, scene.Mesh(u"Mine", LegacyMesh::Quad()));
  const auto second = scene.Node(u"Second");
  scene.MarkRoot(second);
  scene.AddChild(second, scene.Mesh(u"Own", LegacyMesh::Quad()));
  CPersistContext document;
  ASSERT_EQ(LoadFromBytes(scene.Bytes(), document), kOk);
  ASSERT_EQ(document.roots.size(), 2u);
  std::vector<CSpatial*> roots;
  for (const auto& root : document.roots) roots.push_back(KindOf<CSpatial>(root.get()));
  GltfScene built;
  ASSERT_EQ(BuildGltfScene(roots, built), kOk);
  const auto& json = built.json;
  EXPECT_EQ(json["scene"], 0);
  ASSERT_EQ(json["scenes"].size(), 2u);
  EXPECT_EQ(json["scenes"][0]["name"], "First");
  EXPECT_EQ(json["scenes"][1]["name"], "Second");
  const int secondRoot = json["scenes"][1]["nodes"][0];
  EXPECT_EQ(json["nodes"][secondRoot]["name"], "Second");
  EXPECT_EQ(json["nodes"][json["nodes"][secondRoot]["children"][0].get<int>()]["name"], "Own");
  EXPECT_EQ(json["nodes"].size(), 4u);
  EXPECT_TRUE(built.warnings.empty());
}

// Every sample object of the tests, in a scene of its own and loaded from its file, the
// bundled scene as loaded and converted, and the scenes above, in both forms, through the
// reference validator: no errors and no warnings.
TEST(GltfExport, EveryShapeOfSceneIsValidGltf) {
  if (ValidatorDeliberatelyAbsent()) GTEST_SKIP() << "KX_NO_GLTF_VALIDATOR is set";
  RegisterForTests();
  TempDir dir("kx_gltf");
  std::vector<std::string> files;
  std::vector<std::string> names;
  auto add = [&](const std::string& name, CSpatial& root) {
    GltfScene scene;
    ASSERT_EQ(BuildGltfScene(root, scene), kOk);
    std::vector<uint8_t> bytes;
    ASSERT_EQ(EncodeGlb(scene, bytes), kOk);
    files.push_back(WriteFile(dir.Path(std::to_string(files.size()) + ".glb"), bytes));
    names.push_back(name + " (.glb)");
    std::vector<GltfFile> parts;
    ASSERT_EQ(LayOutGltf(scene, dir.Path(std::to_string(files.size()) + " text.gltf"), parts), kOk);
    for (const auto& part : parts) WriteFile(part.path, part.bytes);
    files.push_back(parts.back().path);
    names.push_back(name + " (.gltf)");
  };
  std::vector<std::unique_ptr<CPersistContext>> keep;
  for (const auto& sample : RoundTripSamples()) {
    CRefPtr<CBase> scene = InScene(sample.make().get());
    ASSERT_TRUE(scene);
    keep.push_back(std::make_unique<CPersistContext>());
    ASSERT_EQ(LoadFromBytes(SaveRootToBytes(scene.get()), *keep.back()), kOk) << sample.className;
    ASSERT_TRUE(RootOf(*keep.back())) << sample.className;
    add(sample.className, *RootOf(*keep.back()));
  }
  ASSERT_GT(files.size(), 100u);
  // The same with every plain reference pointed back at the scene that holds it: the shapes of
  // graph that hostile files make.
  for (const auto& sample : RoundTripSamples()) {
    CRefPtr<CBase> scene = InScene(sample.make().get());
    ASSERT_TRUE(scene);
    PointPlainReferencesBack(scene.get(), scene.get());
    keep.push_back(std::make_unique<CPersistContext>());
    ASSERT_EQ(LoadFromBytes(SaveRootToBytes(scene.get()), *keep.back()), kOk) << sample.className;
    add(sample.className + ", references pointed back", *RootOf(*keep.back()));
  }
  for (bool convert : {false, true}) {
    keep.push_back(std::make_unique<CPersistContext>());
    ASSERT_EQ(LoadFromBytes(ReadFileBytes(KX_SAMPLE_SCENE), *keep.back()), kOk);
    CRefPtr<CNode> prop;
    CSilentUi ui;
    if (convert) {
      ASSERT_EQ(CheckCompatibility(*keep.back(), prop, ui), kOk);
    }
    add(convert ? "sample, converted" : "sample", prop ? *prop : *RootOf(*keep.back()));
  }
  keep.push_back(std::make_unique<CPersistContext>());
  ASSERT_EQ(LoadFromBytes(ShapesScene().Bytes(), *keep.back()), kOk);
  add("shapes", *RootOf(*keep.back()));
  keep.push_back(std::make_unique<CPersistContext>());
  LoadMaterialsScene(*keep.back());
  add("materials", *RootOf(*keep.back()));
  keep.push_back(std::make_unique<CPersistContext>());
  ASSERT_EQ(LoadFromBytes(OddScene().Bytes(), *keep.back()), kOk);
  add("odd transforms", *RootOf(*keep.back()));

  const auto reports = ValidateGltf(files);
  ASSERT_EQ(reports.size(), files.size());
  for (size_t i = 0; i < files.size(); ++i) ExpectValid(names[i], reports.at(files[i]));
}

}  // namespace
}  // namespace KX::test
