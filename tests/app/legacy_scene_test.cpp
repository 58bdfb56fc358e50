// The old-layout writer of the tests must write what the library reads: every kind of record it
// makes is loaded back, checked field by field, and the loaded scene round-trips in the current
// layout.
#include <gtest/gtest.h>

#include "control/keyframe_control.h"
#include "control/link_control.h"
#include "control/mesh_deformers.h"
#include "content/content_data.h"
#include "object/container.h"
#include "object/custom_data.h"
#include "image/codec.h"
#include "image/image.h"
#include "image/pixel_buffer.h"
#include "image/thumbnail.h"
#include "material/material.h"
#include "material/texture.h"
#include "scene/camera.h"
#include "scene/node.h"
#include "scene/tri_mesh.h"
#include "support/legacy_scene.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX {
namespace {

using V = CVector3<float>;

std::vector<uint8_t> EncodedPicture(int32_t width, int32_t height) {
  CPixelBuffer picture;
  EXPECT_EQ(picture.Create(width, height, kPixelBGRA, 0xFF2080C0u), kOk);
  std::vector<uint8_t> bytes;
  EXPECT_EQ(EncodeBlob(picture, kCodecPNG, bytes), kOk);
  return bytes;
}

class LegacySceneTest : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }

  Status Load(const test::LegacyScene& scene) {
    return test::LoadFromBytes(scene.Bytes(), document);
  }

  CPersistContext document;
};

TEST_F(LegacySceneTest, EveryKindOfRecordLoadsAndRoundTrips) {
  test::LegacyScene scene("1.50");
  const auto root = scene.Root(u"Scene Root", test::Translation({1, 2, 3}));
  const auto group = scene.Node(u"Group", test::Transform({0, 5, 0}, {0, 0, 0}, {2, 2, 2}));
  const auto billboard = scene.BillboardNode(u"Sign");
  const auto mesh = scene.Mesh(u"Quad", test::LegacyMesh::Quad(2.0f), test::Translation({4, 0, 0}));
  scene.AddChild(root, group);
  scene.AddChild(group, mesh);
  scene.AddChild(root, billboard);
  scene.SetVisible(billboard, false);

  const auto picture = scene.Image(u"wood", EncodedPicture(4, 2));
  const auto raw = scene.RawImage(u"raw", 2, 2, kPixelBGR, std::vector<uint8_t>(12, 0x40));
  test::LegacyMaterial look;
  look.diffuse = {0.1f, 0.2f, 0.3f};
  look.channels[0] = scene.TextureMap(picture, 0, u"diffuse map");
  look.channels[8] = scene.NormalBumpTex(scene.TextureMap(raw, 2));
  look.channels[9] = scene.BlendTex(scene.TextureMap(picture), 0.25f, scene.TextureMap(raw), 0.75f);
  const auto standard = scene.Material(look, u"Wood");
  scene.SetMaterial(mesh, scene.MultiMaterial({standard, scene.Material({})}));

  const auto target = scene.CameraTarget(u"Target", test::Translation({0, 0, -10}));
  const auto camera = scene.Camera(u"Camera", test::Translation({0, 0, 10}), target);
  scene.AddChild(root, camera);
  scene.AddChild(root, target);

  scene.KeyframeController(group, {{0.0f, {0, 5, 0}}, {1.0f, {0, 6, 0}}}, 2.0f);
  scene.LinkController(group, root, 0.5f);
  scene.MorphController(mesh, {{0, 0, 1}, {0, 0, 2}});
  test::LegacyRose rose;
  rose.name = u"Rose";
  rose.key = u"prop";
  rose.block1[0] = 7;
  rose.block3[14] = 9;
  scene.RoseData(root, rose);
  scene.RawDataChain({{u"First", {1, 2, 3}, u""}, {u"Second", {}, u""}});
  std::vector<uint8_t> pixels(3 * 2 * 4, 0);
  pixels[0] = 0xAB;
  scene.Thumbnail(3, 2, pixels);

  ASSERT_EQ(Load(scene), kOk) << document.diagnostics.Describe();
  EXPECT_TRUE(document.diagnostics.warnings.empty()) << document.diagnostics.Describe();
  EXPECT_EQ(document.version, 150);
  ASSERT_EQ(document.roots.size(), 2u);

  // The tree, its transforms and its visibility.
  auto* top = KindOf<CNode>(document.roots[0].get());
  ASSERT_TRUE(top);
  EXPECT_EQ(top->name, u"Scene Root");
  EXPECT_EQ(top->position, (V{1, 2, 3}));
  ASSERT_EQ(top->children.size(), 4u);
  auto* loadedGroup = KindOf<CNode>(top->children[0].get());
  ASSERT_TRUE(loadedGroup);
  EXPECT_EQ(loadedGroup->scale, (V{2, 2, 2}));
  EXPECT_EQ(loadedGroup->parent, top);
  EXPECT_STREQ(top->children[1]->GetRuntimeClass()->className, "CBillboardNode");
  EXPECT_FALSE(top->children[1]->visible);

  // The mesh with every buffer and its material.
  auto* quad = KindOf<CTriMesh>(loadedGroup->children.at(0).get());
  ASSERT_TRUE(quad);
  EXPECT_EQ(quad->position, (V{4, 0, 0}));
  EXPECT_EQ(quad->positions.size(), 4u);
  EXPECT_EQ(quad->positions[2], (V{2, 2, 0}));
  EXPECT_EQ(quad->normals.size(), 4u);
  EXPECT_EQ(quad->indexList2.size(), 4u);
  EXPECT_EQ(quad->faceCount, 2);
  EXPECT_EQ(quad->faceTriples4.size(), 6u);
  EXPECT_EQ(quad->faceValues1.size(), 2u);
  auto* multi = KindOf<CMultiMaterial>(quad->material.get());
  ASSERT_TRUE(multi);
  ASSERT_EQ(multi->subMaterials.size(), 2u);
  auto* wood = KindOf<CStandardMaterial>(multi->subMaterials[0].get());
  ASSERT_TRUE(wood);
  EXPECT_EQ(wood->name, u"Wood");
  EXPECT_EQ(wood->diffuse, (V{0.1f, 0.2f, 0.3f}));
  auto* diffuseMap = KindOf<CTextureMap>(wood->channelTexture[0].get());
  ASSERT_TRUE(diffuseMap);
  EXPECT_EQ(diffuseMap->channel, 0);
  auto* image = KindOf<CImage>(diffuseMap->image.get());
  ASSERT_TRUE(image);
  EXPECT_EQ(image->picture.width, 4);
  EXPECT_EQ(image->picture.height, 2);
  EXPECT_TRUE(image->picture.HasPixels());
  auto* bump = KindOf<CNormalBumpTex>(wood->channelTexture[8].get());
  ASSERT_TRUE(bump);
  auto* bumpMap = KindOf<CTextureMap>(bump->map1.get());
  ASSERT_TRUE(bumpMap);
  EXPECT_EQ(bumpMap->channel, 2);
  auto* rawImage = KindOf<CImage>(bumpMap->image.get());
  ASSERT_TRUE(rawImage);
  EXPECT_EQ(rawImage->picture.format, kPixelBGR);
  EXPECT_TRUE(rawImage->picture.HasPixels());
  auto* blend = KindOf<CBlendTex>(wood->channelTexture[9].get());
  ASSERT_TRUE(blend);
  EXPECT_EQ(blend->weight2, 0.75f);
  EXPECT_TRUE(blend->texture1 && blend->texture2);
  EXPECT_EQ(KindOf<CTextureMap>(blend->texture1.get())->image.get(), image);  // shared picture

  // The camera and its target.
  auto* loadedCamera = KindOf<CCamera>(top->children[2].get());
  ASSERT_TRUE(loadedCamera);
  EXPECT_EQ(loadedCamera->target.get(), top->children[3].get());
  EXPECT_STREQ(top->children[3]->GetRuntimeClass()->className, "CCameraTarget");

  // The controller chains: keyframes (keys back in the controller's own time), then the link.
  auto* keys = KindOf<CKeyframeControl>(loadedGroup->controllers.get());
  ASSERT_TRUE(keys);
  EXPECT_EQ(keys->owner, loadedGroup);
  ASSERT_EQ(keys->positionKeys.size(), 2u);
  EXPECT_EQ(keys->positionKeys[1], (V{0, 6, 0}));
  EXPECT_EQ(keys->keyTimes, (std::vector<float>{0.0f, 1.0f}));
  auto* link = KindOf<CLinkControl>(keys->next.get());
  ASSERT_TRUE(link);
  ASSERT_EQ(link->linkParents.size(), 1u);
  EXPECT_EQ(link->linkParents[0], top);
  auto* morph = KindOf<CMorphControl>(quad->controllers.get());
  ASSERT_TRUE(morph);
  EXPECT_EQ(morph->deltas.size(), 2u);

  // Custom data: the summary record on the root, the raw-data chain as the second root.
  auto* loadedRose = KindOf<CRoseData>(top->customData.get());
  ASSERT_TRUE(loadedRose);
  EXPECT_EQ(loadedRose->name, u"Rose");
  EXPECT_EQ(loadedRose->key, u"prop");
  EXPECT_EQ(loadedRose->block1[0], 7);
  EXPECT_EQ(loadedRose->block3[14], 9);
  auto* first = KindOf<CRawData>(document.roots[1].get());
  ASSERT_TRUE(first);
  EXPECT_EQ(first->name, u"First");
  EXPECT_EQ(std::vector<uint8_t>(first->Payload().begin(), first->Payload().end()),
            (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(FindRawData(first, u"Second"), first->next.get());

  auto* thumbnail = KindOf<CThumbnail>(document.thumbnail.get());
  ASSERT_TRUE(thumbnail);
  EXPECT_EQ(thumbnail->picture.width, 3);
  ASSERT_TRUE(thumbnail->picture.HasPixels());
  EXPECT_EQ(thumbnail->picture.pixels[0], 0xAB);

  test::ExpectRoundTrip(top);
  test::ExpectRoundTrip(first);
}

// Streams of 1.00 keep one chain per object, and image blocks one extra word.
TEST_F(LegacySceneTest, VersionOneZeroFilesLoad) {
  test::LegacyScene scene("1.00");
  const auto root = scene.Root(u"Props");
  const auto mesh = scene.Mesh(u"Tri", test::LegacyMesh::Triangle());
  scene.AddChild(root, mesh);
  test::LegacyMaterial look;
  look.channels[0] = scene.TextureMap(scene.Image(u"pic", EncodedPicture(2, 2)));
  scene.SetMaterial(mesh, scene.Material(look));
  scene.KeyframeController(mesh, {{0.0f, {1, 1, 1}}});
  ASSERT_EQ(Load(scene), kOk) << document.diagnostics.Describe();
  EXPECT_EQ(document.version, 100);
  auto* top = KindOf<CNode>(document.roots.at(0).get());
  ASSERT_TRUE(top);
  auto* tri = KindOf<CTriMesh>(top->children.at(0).get());
  ASSERT_TRUE(tri);
  EXPECT_TRUE(KindOf<CKeyframeControl>(tri->controllers.get()));
  auto* material = KindOf<CStandardMaterial>(tri->material.get());
  ASSERT_TRUE(material);
  auto* map = KindOf<CTextureMap>(material->channelTexture[0].get());
  ASSERT_TRUE(map && map->image);
  EXPECT_EQ(KindOf<CImage>(map->image.get())->picture.width, 2);
  test::ExpectRoundTrip(top);
}

TEST_F(LegacySceneTest, NewerVersionTextIsRefused) {
  EXPECT_THROW(test::LegacyScene("2.00"), std::invalid_argument);
}

}  // namespace
}  // namespace KX
