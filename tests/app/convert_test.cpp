// The scene-to-prop conversion over old scene files: what is baked and what is not, what is
// removed, how materials are cleaned up and compacted, and the single rest key every spatial
// object ends with.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "app/classify.h"
#include "app/command_flow.h"
#include "app/convert.h"
#include "app/texts.h"
#include "app_fixtures.h"
#include "support/round_trip.h"
#include "control/keyframe_control.h"
#include "control/link_control.h"
#include "core/math/transform.h"
#include "image/codec.h"
#include "image/pixel_buffer.h"
#include "material/material.h"
#include "material/texture.h"
#include "scene/camera.h"
#include "scene/node.h"
#include "scene/tri_mesh.h"

namespace KX {
namespace {

using test::LegacyRef;
using test::LegacyScene;
using V = CVector3<float>;

void ExpectNear(const V& actual, const V& expected) {
  EXPECT_NEAR(actual.x, expected.x, 1e-4f);
  EXPECT_NEAR(actual.y, expected.y, 1e-4f);
  EXPECT_NEAR(actual.z, expected.z, 1e-4f);
}

std::vector<uint8_t> Png() {
  CPixelBuffer picture;
  EXPECT_EQ(picture.Create(2, 2, kPixelBGRA, 0xFFFFFFFFu), kOk);
  std::vector<uint8_t> bytes;
  EXPECT_EQ(EncodeBlob(picture, kCodecPNG, bytes), kOk);
  return bytes;
}

class ConvertTest : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }

  // A complete mesh with a plain material, below `parent`.
  LegacyRef AddMesh(LegacyRef parent, std::u16string name,
                    const CMatrix4& transform = MatrixIdentity()) {
    const auto mesh = scene.Mesh(std::move(name), test::LegacyMesh::Triangle(), transform);
    scene.SetMaterial(mesh, scene.Material({}));
    scene.AddChild(parent, mesh);
    return mesh;
  }

  Status Convert() {
    document = test::LoadScene(scene);
    return ConvertSceneToProp(*document, ui);
  }
  CNode* Root() const { return KindOf<CNode>(document->roots.at(0).get()); }
  template <class T = CBase>
  T* Find(std::u16string_view name) const {
    return KindOf<T>(Root()->FindObject(name, nullptr, false));
  }

  LegacyScene scene{"1.50"};
  std::unique_ptr<CPersistContext> document;
  test::ScriptedUi ui;
};

// Every spatial object of the tree holds exactly one keyframe controller with one key.
void ExpectOneRestKeyEach(CNode& root) {
  std::vector<CBase*> spatials;
  root.FindObjects(spatials, std::nullopt, &CSpatial::classRecord, true);
  for (CBase* object : spatials) {
    auto* spatial = static_cast<CSpatial*>(object);
    auto* key = KindOf<CKeyframeControl>(spatial->controllers.get());
    ASSERT_TRUE(key) << std::string(spatial->name.begin(), spatial->name.end());
    EXPECT_FALSE(key->next);
    EXPECT_EQ(key->owner, spatial);
    ASSERT_EQ(key->keyTimes, std::vector<float>{0.0f});
    ASSERT_EQ(key->positionKeys.size(), 1u);
    ExpectNear(key->positionKeys[0], spatial->position);
    ExpectNear(key->scaleKeys.at(0), spatial->scale);
    // The key's rotation turns the axes as the rest rotation does.
    const CMatrix4 keyed = ComposeMatrix(V{1, 1, 1}, key->rotationKeys.at(0), V{});
    for (int row = 0; row < 3; ++row) ExpectNear(keyed.Row(row), spatial->rotation.Row(row));
    EXPECT_EQ(key->transition, std::vector<float>{std::numeric_limits<float>::max()});
    EXPECT_EQ(key->type, std::vector<int32_t>{0});
    EXPECT_EQ(key->timeScale, 1.0f);
  }
}

TEST_F(ConvertTest, ARootWithoutMarkerIsBakedIntoTheSceneFrame) {
  // Root moved by (0, 0, 10); group scaled by 2 and moved by (0, 1, 0); mesh moved by (1, 0, 0).
  const auto root = scene.Root(u"Props", test::Translation({0, 0, 10}));
  const auto group = scene.Node(u"Group", test::Transform({0, 1, 0}, {}, {2, 2, 2}));
  scene.AddChild(root, group);
  AddMesh(group, u"Tri", test::Translation({1, 0, 0}));
  scene.KeyframeController(group, {{0.0f, {0, 1, 0}}, {1.0f, {0, 9, 0}}});
  ASSERT_EQ(Convert(), kOk);

  auto* tri = Find<CTriMesh>(u"Tri");
  ASSERT_TRUE(tri);
  // (0,0,0) -> (1,0,0) -> (2,1,0) -> (2,1,10); (1,0,0) -> (2,0,0) -> (4,1,0) -> (4,1,10)
  ExpectNear(tri->positions[0], {2, 1, 10});
  ExpectNear(tri->positions[1], {4, 1, 10});
  ExpectNear(tri->positions[2], {2, 3, 10});
  EXPECT_EQ(tri->normals[0], (V{0, 0, 1})) << "moved and evenly scaled, normals keep their way";
  for (CSpatial* spatial : {static_cast<CSpatial*>(Root()), Find<CSpatial>(u"Group"),
                            static_cast<CSpatial*>(tri)}) {
    EXPECT_EQ(spatial->position, (V{0, 0, 0}));
    EXPECT_EQ(spatial->scale, (V{1, 1, 1}));
    EXPECT_EQ(spatial->rotation, CMatrix3{});
  }
  ExpectOneRestKeyEach(*Root());
}

// Normals turn with the faces they belong to: under a turned, unevenly scaled and mirrored
// group each stays perpendicular to its face and of unit length. A mesh whose transform
// flattens space keeps its normals as they were.
TEST_F(ConvertTest, BakedNormalsStayPerpendicularToTheirFaces) {
  const auto root = scene.Root(u"Props");
  const auto group =
      scene.Node(u"Group", test::Transform({1, 2, 3}, {0.4f, -1.1f, 0.7f}, {-2, 0.5f, 3}));
  scene.AddChild(root, group);
  test::LegacyMesh tilted = test::LegacyMesh::Triangle();
  tilted.positions = {{0, 0, 0}, {1, 0, 1}, {0, 1, 0}};
  const float r = 1.0f / std::sqrt(2.0f);
  tilted.normals = {{-r, 0, r}, {-r, 0, r}, {-r, 0, r}};
  const auto mesh = scene.Mesh(u"Tilted", tilted, test::Transform({0, 0, 0}, {0.2f, 0, 0}));
  scene.SetMaterial(mesh, scene.Material({}));
  scene.AddChild(group, mesh);
  AddMesh(root, u"Flat", test::Transform({0, 0, 0}, {}, {1, 0, 1}));
  ASSERT_EQ(Convert(), kOk);

  auto* baked = Find<CTriMesh>(u"Tilted");
  ASSERT_TRUE(baked);
  const auto& p = baked->positions;
  const V a{p[1].x - p[0].x, p[1].y - p[0].y, p[1].z - p[0].z};
  const V b{p[2].x - p[0].x, p[2].y - p[0].y, p[2].z - p[0].z};
  V face{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
  const float length = std::sqrt(face.x * face.x + face.y * face.y + face.z * face.z);
  face = {face.x / length, face.y / length, face.z / length};
  for (const V& n : baked->normals.items) {
    EXPECT_NEAR(std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z), 1.0f, 1e-5f);
    EXPECT_NEAR(std::abs(n.x * face.x + n.y * face.y + n.z * face.z), 1.0f, 1e-5f);
  }
  EXPECT_EQ(Find<CTriMesh>(u"Flat")->normals[0], (V{0, 0, 1}));
  EXPECT_TRUE(ui.warnings.empty());
}

// Positions that are not finite, in the scene or after the bake, still convert and are named.
TEST_F(ConvertTest, GeometryThatIsNotFiniteIsNamed) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (const std::u16string rootName : {u"Props", u"Scene Root"}) {
    scene = LegacyScene("1.50");
    const auto root = scene.Root(rootName);
    AddMesh(root, u"Lost", test::Translation({nan, 0, 0}));
    AddMesh(root, u"Fine");
    test::LegacyMesh holed = test::LegacyMesh::Triangle();
    holed.positions[2] = {0, std::numeric_limits<float>::infinity(), 0};
    const auto mesh = scene.Mesh(u"Holed", holed);
    scene.SetMaterial(mesh, scene.Material({}));
    scene.AddChild(root, mesh);
    document = test::LoadScene(scene);
    CRefPtr<CNode> converted;
    ui.warnings.clear();
    ASSERT_EQ(CheckCompatibility(*document, converted, ui), kOk);
    const bool baked = rootName == u"Props";
    std::vector<std::string> expected{"CTriMesh 'Holed': 1 of 3 positions are not finite " +
                                      std::string(baked ? "after the bake" : "in the scene")};
    if (baked)
      expected.insert(expected.begin(),
                      "CTriMesh 'Lost': 3 of 3 positions are not finite after the bake");
    EXPECT_EQ(ui.warnings, expected);
  }
  // A front-end that does not accept them ends the command as for a scene it cannot convert.
  ui.acceptWarnings = false;
  document = test::LoadScene(scene);
  CRefPtr<CNode> converted;
  EXPECT_EQ(CheckCompatibility(*document, converted, ui), kErrMalformed);
  EXPECT_EQ(ui.messages.back().text, "#" + std::to_string(kTextNotAScene));
}

TEST_F(ConvertTest, RootsNamedWithAMarkerKeepTheirTransforms) {
  for (const std::u16string name :
       {u"Scene Root", u"My Scene Root 2", u"xCrvRooty", u"AccRoot", u"3DBackgroundRoot"}) {
    scene = LegacyScene("1.50");
    const auto root = scene.Root(name, test::Translation({0, 0, 10}));
    AddMesh(root, u"Tri", test::Translation({1, 0, 0}));
    AddMesh(root, u"Second");
    AddMesh(root, u"Third");  // three children: a plain scene whatever the root
    ASSERT_EQ(Convert(), kOk) << std::string(name.begin(), name.end());
    auto* tri = Find<CTriMesh>(u"Tri");
    EXPECT_EQ(tri->positions[1], (V{1, 0, 0}));
    EXPECT_EQ(tri->position, (V{1, 0, 0}));
    EXPECT_EQ(Root()->position, (V{0, 0, 10}));
    ExpectOneRestKeyEach(*Root());
  }
  // The markers are case-sensitive.
  scene = LegacyScene("1.50");
  const auto root = scene.Root(u"scene root", test::Translation({0, 0, 10}));
  AddMesh(root, u"Tri");
  ASSERT_EQ(Convert(), kOk);
  EXPECT_EQ(Find<CTriMesh>(u"Tri")->positions[0], (V{0, 0, 10}));
}

TEST_F(ConvertTest, CamerasLeaveAloneOrWithTheirGroup) {
  const auto root = scene.Root(u"Scene Root");
  AddMesh(root, u"Tri");
  const auto rig = scene.Node(u"Rig");
  scene.AddChild(root, rig);
  const auto target = scene.CameraTarget(u"Target");
  scene.AddChild(rig, scene.Camera(u"Rig Camera", MatrixIdentity(), target));
  scene.AddChild(rig, target);
  scene.AddChild(rig, scene.Node(u"Rig Light"));
  scene.AddChild(root, scene.Camera(u"Free Camera"));
  scene.AddChild(root, scene.Node(u"Keep"));
  ASSERT_EQ(Convert(), kOk);

  ASSERT_EQ(Root()->children.size(), 2u);
  EXPECT_EQ(Root()->children[0]->name, u"Tri");
  EXPECT_EQ(Root()->children[1]->name, u"Keep");
  EXPECT_EQ(Find(u"Rig Light"), nullptr) << "the camera's group went with it";
}

TEST_F(ConvertTest, AnAccessoryLevelGivesWayToItsFirstChild) {
  const auto root = scene.Root(u"Scene Root");
  const auto acc = scene.Node(u"AccRoot");
  scene.AddChild(root, acc);
  const auto a = scene.Node(u"A");
  scene.AddChild(acc, a);
  AddMesh(a, u"Tri");
  scene.AddChild(acc, scene.Node(u"B"));
  ASSERT_EQ(Convert(), kOk);
  ASSERT_EQ(Root()->children.size(), 1u);
  EXPECT_EQ(Root()->children[0]->name, u"A");
  EXPECT_EQ(Root()->children[0]->parent, Root());
  EXPECT_EQ(Find(u"B"), nullptr);
  EXPECT_EQ(Find(u"AccRoot"), nullptr);
  EXPECT_TRUE(Find(u"Tri"));
}

TEST_F(ConvertTest, AFirstChildCalledSceneRootNamesTheRoot) {
  const auto root = scene.Root(u"Scene Root");
  const auto inner = scene.Node(u"SceneRoot");
  scene.AddChild(root, inner);
  AddMesh(inner, u"Tri");
  ASSERT_EQ(Convert(), kOk);
  EXPECT_EQ(Root()->name, u"SceneRoot");
}

TEST_F(ConvertTest, AllAnimationMakesWayForOneRestKey) {
  const auto root = scene.Root(u"Scene Root");
  const auto node = scene.Node(u"Animated", test::Transform({3, 0, 0}, {0, 1.2f, 0}));
  scene.AddChild(root, node);
  AddMesh(node, u"Tri");
  scene.KeyframeController(node, {{0.0f, {1, 0, 0}}});
  scene.LinkController(node, root);
  scene.KeyframeController(node, {{0.0f, {2, 0, 0}}, {1.0f, {5, 0, 0}}});
  scene.KeyframeController(root, {{}});

  document = test::LoadScene(scene);
  CNode& top = *Root();
  auto* animated = Find<CNode>(u"Animated");
  ASSERT_EQ(RemoveLinkControllers(top), kOk);
  ASSERT_EQ(CleanUpGeometry(top), kOk);
  // Only the last keyframe controller survives the clean-up.
  auto* survivor = KindOf<CKeyframeControl>(animated->controllers.get());
  ASSERT_TRUE(survivor);
  EXPECT_FALSE(survivor->next);
  EXPECT_EQ(survivor->positionKeys.size(), 2u);

  ASSERT_EQ(ConvertSceneToProp(*document, ui), kOk);
  auto* key = KindOf<CKeyframeControl>(animated->controllers.get());
  ASSERT_TRUE(key);
  EXPECT_NE(key, survivor);
  EXPECT_EQ(key->positionKeys, std::vector<V>{V(3, 0, 0)}) << "the rest pose, not the old keys";
  ExpectOneRestKeyEach(top);
}

TEST_F(ConvertTest, BrokenMeshesLeaveTheTree) {
  const auto root = scene.Root(u"Scene Root");
  AddMesh(root, u"Good");
  scene.AddChild(root, scene.Mesh(u"No Material", test::LegacyMesh::Triangle()));
  auto noNormals = test::LegacyMesh::Triangle();
  noNormals.normals.clear();
  const auto bare = scene.Mesh(u"No Normals", noNormals);
  scene.SetMaterial(bare, scene.Material({}));
  scene.AddChild(root, bare);
  auto noFaces = test::LegacyMesh::Triangle();
  noFaces.faceTriples4.clear();
  const auto flat = scene.Mesh(u"No Triples", noFaces);
  scene.SetMaterial(flat, scene.Material({}));
  scene.AddChild(root, flat);
  const auto empty = scene.Mesh(u"No Positions", test::LegacyMesh{});
  scene.SetMaterial(empty, scene.Material({}));
  scene.AddChild(root, empty);
  ASSERT_EQ(Convert(), kOk);
  ASSERT_EQ(Root()->children.size(), 1u);
  EXPECT_EQ(Root()->children[0]->name, u"Good");
}

TEST_F(ConvertTest, EmptyTextureMapsAreClearedChannelByChannel) {
  const auto root = scene.Root(u"Scene Root");
  const auto mesh = scene.Mesh(u"Tri", test::LegacyMesh::Triangle());
  scene.AddChild(root, mesh);
  const auto picture = scene.Image(u"pic", Png());
  const auto nothing = scene.Image(u"none", {});
  test::LegacyMaterial look;
  look.channels[0] = scene.TextureMap(nothing, 0, u"empty diffuse");
  look.channels[1] = scene.TextureMap({}, 0, u"no image");
  look.channels[2] = scene.TextureMap(picture, 0, u"good");
  look.channels[8] = scene.NormalBumpTex(scene.TextureMap(nothing));
  look.channels[9] = scene.BlendTex(scene.TextureMap(nothing), 0.3f, scene.TextureMap(picture, 0, u"kept"), 0.6f);
  look.channels[10] = scene.TextureMap(nothing, 0, u"untouched");
  const auto material = scene.Material(look);
  scene.SetMaterial(mesh, material);
  // A second material: empty map in the bump channel, both blend textures empty.
  const auto other = scene.Mesh(u"Other", test::LegacyMesh::Triangle());
  scene.AddChild(root, other);
  test::LegacyMaterial second;
  second.channels[8] = scene.TextureMap(nothing);
  second.channels[9] = scene.BlendTex(scene.TextureMap(nothing), 0.3f, scene.TextureMap({}), 0.6f);
  scene.SetMaterial(other, scene.Material(second));
  // A third: a bump texture whose map is good stays; a blend of two good textures stays.
  const auto third = scene.Mesh(u"Third", test::LegacyMesh::Triangle());
  scene.AddChild(root, third);
  test::LegacyMaterial kept;
  kept.channels[8] = scene.NormalBumpTex(scene.TextureMap(picture));
  kept.channels[9] = scene.BlendTex(scene.TextureMap(picture), 0.3f, scene.TextureMap(picture), 0.6f);
  scene.SetMaterial(third, scene.Material(kept));
  ASSERT_EQ(Convert(), kOk);

  auto* m = KindOf<CStandardMaterial>(Find<CTriMesh>(u"Tri")->material.get());
  ASSERT_TRUE(m);
  EXPECT_FALSE(m->channelTexture[0]);
  EXPECT_FALSE(m->channelTexture[1]);
  EXPECT_TRUE(m->channelTexture[2]);
  EXPECT_FALSE(m->channelTexture[8]) << "a bump texture without its map goes";
  ASSERT_TRUE(m->channelTexture[9]);
  EXPECT_EQ(m->channelTexture[9]->name, u"kept") << "the surviving texture replaces the blend";
  EXPECT_EQ(m->channelAmount[9], 0.6f);
  ASSERT_TRUE(m->channelTexture[10]);
  EXPECT_EQ(m->channelTexture[10]->name, u"untouched");

  auto* m2 = KindOf<CStandardMaterial>(Find<CTriMesh>(u"Other")->material.get());
  EXPECT_FALSE(m2->channelTexture[8]);
  EXPECT_FALSE(m2->channelTexture[9]);

  auto* m3 = KindOf<CStandardMaterial>(Find<CTriMesh>(u"Third")->material.get());
  EXPECT_TRUE(KindOf<CNormalBumpTex>(m3->channelTexture[8].get()));
  EXPECT_TRUE(KindOf<CBlendTex>(m3->channelTexture[9].get()));
}

class MultiMaterialTest : public ConvertTest {
 protected:
  // A mesh of three vertices and two faces under a multi-material of `subs`.
  CTriMesh* Build(const std::vector<LegacyRef>& subs, std::vector<uint32_t> vertexValues,
                  std::vector<uint32_t> faceValues, std::vector<std::array<uint32_t, 3>> extra = {}) {
    const auto root = scene.Root(u"Scene Root");
    auto mesh = test::LegacyMesh::Triangle();
    mesh.faceCount = 2;
    mesh.facePositionIndices = {0, 1, 2, 0, 2, 1};
    mesh.faceNormalIndices = mesh.faceMapIndices = mesh.faceTriples4 = mesh.facePositionIndices;
    mesh.vertexValues = std::move(vertexValues);
    mesh.faceValues1 = std::move(faceValues);
    mesh.extraVectors = std::move(extra);
    const auto ref = scene.Mesh(u"Tri", mesh);
    scene.SetMaterial(ref, scene.MultiMaterial(subs));
    scene.AddChild(root, ref);
    status = Convert();
    return Find<CTriMesh>(u"Tri");
  }
  CMultiMaterial* Multi(CTriMesh* mesh) { return KindOf<CMultiMaterial>(mesh->material.get()); }

  Status status = kOk;
};

TEST_F(MultiMaterialTest, UnusedEntriesThatAreNoStandardMaterialAreCompactedAway) {
  const auto red = scene.Material({}, u"red");
  const auto blue = scene.Material({}, u"blue");
  const auto nested = scene.MultiMaterial({});
  CTriMesh* mesh = Build({red, nested, blue}, {0, 2, 2}, {2, 0}, {{2, 7, 7}, {0, 7, 7}});
  ASSERT_EQ(status, kOk);
  CMultiMaterial* multi = Multi(mesh);
  ASSERT_EQ(multi->subMaterials.size(), 2u);
  EXPECT_EQ(multi->subMaterials[0]->name, u"red");
  EXPECT_EQ(multi->subMaterials[1]->name, u"blue");
  EXPECT_EQ(mesh->vertexValues.items, (std::vector<uint32_t>{0, 1, 1}));
  EXPECT_EQ(mesh->faceValues1.items, (std::vector<uint32_t>{1, 0}));
  EXPECT_EQ(mesh->extraVectors[0].v[0], 1u);
  EXPECT_EQ(mesh->extraVectors[0].v[1], 7u) << "only the first value of each is an id";
  EXPECT_EQ(mesh->extraVectors[1].v[0], 0u);
}

TEST_F(MultiMaterialTest, UsedEntriesWithoutStandardMaterialGetADefaultOne) {
  const auto red = scene.Material({}, u"red");
  CTriMesh* mesh = Build({red, {}, scene.MultiMaterial({})}, {}, {1, 4});  // 4 is 1 modulo 3
  ASSERT_EQ(status, kOk);
  CMultiMaterial* multi = Multi(mesh);
  ASSERT_EQ(multi->subMaterials.size(), 2u);
  EXPECT_TRUE(KindOf<CStandardMaterial>(multi->subMaterials[1].get()));
  EXPECT_EQ(mesh->faceValues1.items, (std::vector<uint32_t>{1, 1}));
}

TEST_F(MultiMaterialTest, IdsOfDroppedEntriesStopTheConversion) {
  const auto red = scene.Material({}, u"red");
  // Vertex value 4 is used as such, but 4 modulo 3 names entry 1, which is dropped.
  Build({red, {}, scene.Material({})}, {0, 4, 2}, {0, 2});
  EXPECT_EQ(status, kErrMalformed);
  // An extra vector naming a dropped entry likewise.
  scene = LegacyScene("1.50");
  Build({red, {}, scene.Material({})}, {}, {0, 2}, {{1, 0, 0}});
  EXPECT_EQ(status, kErrMalformed);
}

// Meshes that share one multi-material: the list is compacted once, for all of them, and every
// face keeps the material it named before.
TEST_F(MultiMaterialTest, MeshesSharingAListKeepEachFaceOnItsMaterial) {
  struct Case {
    const char* what;
    std::vector<const char16_t*> subs;  // null: no standard material
    std::vector<std::vector<uint32_t>> faces;  // two face values per mesh
    std::vector<std::vector<const char16_t*>> expected;  // material of each face afterwards
  };
  const Case cases[] = {
      {"a dropped entry in front", {nullptr, u"A", u"B"}, {{1, 2}, {1, 2}},
       {{u"A", u"B"}, {u"A", u"B"}}},
      {"disjoint ids", {u"A", nullptr, u"B", u"C"}, {{0, 0}, {2, 2}, {3, 3}},
       {{u"A", u"A"}, {u"B", u"B"}, {u"C", u"C"}}},
      {"an entry only the second mesh uses", {nullptr, u"A", nullptr, u"B"}, {{1, 3}, {2, 1}},
       {{u"A", u"B"}, {u"", u"A"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    scene = LegacyScene("1.50");
    std::vector<LegacyRef> subs;
    for (const char16_t* name : c.subs) subs.push_back(name ? scene.Material({}, name) : LegacyRef{});
    const auto multi = scene.MultiMaterial(subs);
    const auto root = scene.Root(u"Scene Root");
    for (size_t m = 0; m < c.faces.size(); ++m) {
      auto mesh = test::LegacyMesh::Triangle();
      mesh.faceCount = 2;
      mesh.facePositionIndices = {0, 1, 2, 0, 2, 1};
      mesh.faceNormalIndices = mesh.faceMapIndices = mesh.faceTriples4 = mesh.facePositionIndices;
      mesh.faceValues1 = c.faces[m];
      const auto ref = scene.Mesh(u"Mesh" + std::u16string(1, char16_t(u'0' + m)), mesh);
      scene.SetMaterial(ref, multi);
      scene.AddChild(root, ref);
    }
    ASSERT_EQ(Convert(), kOk);
    for (size_t m = 0; m < c.faces.size(); ++m) {
      auto* mesh = Find<CTriMesh>(u"Mesh" + std::u16string(1, char16_t(u'0' + m)));
      ASSERT_TRUE(mesh);
      CMultiMaterial* list = Multi(mesh);
      ASSERT_TRUE(list);
      for (size_t f = 0; f < 2; ++f) {
        const uint32_t id = mesh->faceValues1.items[f];
        ASSERT_LT(id, list->subMaterials.size()) << "mesh " << m << " face " << f;
        EXPECT_EQ(list->subMaterials[id]->name, c.expected[m][f]) << "mesh " << m << " face " << f;
      }
    }
  }
}

TEST_F(MultiMaterialTest, AnIdOneSharingMeshCannotKeepStopsTheConversion) {
  const auto a = scene.Material({}, u"A");
  const auto multi = scene.MultiMaterial({a, {}, scene.Material({}, u"B")});
  const auto root = scene.Root(u"Scene Root");
  // The second mesh's 4 is used as such, but names entry 1 (4 modulo 3), which is dropped.
  for (std::vector<uint32_t> faces : {std::vector<uint32_t>{0, 2}, std::vector<uint32_t>{0, 4}}) {
    auto mesh = test::LegacyMesh::Triangle();
    mesh.faceCount = 2;
    mesh.facePositionIndices = {0, 1, 2, 0, 2, 1};
    mesh.faceNormalIndices = mesh.faceMapIndices = mesh.faceTriples4 = mesh.facePositionIndices;
    mesh.faceValues1 = faces;
    const auto ref = scene.Mesh(u"Mesh", mesh);
    scene.SetMaterial(ref, multi);
    scene.AddChild(root, ref);
  }
  EXPECT_EQ(Convert(), kErrMalformed);
}

TEST_F(MultiMaterialTest, ShortValueListsAreNeverReadPastTheirEnd) {
  // Without any values every standard material stays.
  const auto red = scene.Material({}, u"red");
  CTriMesh* mesh = Build({red, scene.MultiMaterial({}), scene.Material({}, u"green")}, {}, {});
  ASSERT_EQ(status, kOk);
  EXPECT_EQ(Multi(mesh)->subMaterials.size(), 2u);

  // Value lists shorter than the positions and the faces (files can hold them).
  CRefPtr<CTriMesh> bare(new CTriMesh);
  CRefPtr<CMultiMaterial> multi(new CMultiMaterial);
  multi->subMaterials = {new CStandardMaterial, nullptr};
  bare->material = multi;
  bare->positions.items.resize(3);
  bare->vertexValues.items = {0};  // fewer than the positions
  bare->faceCount = 5;
  bare->faceValues1.items = {0, 0};  // fewer than the faces
  RemovedObjects removed;
  EXPECT_EQ(CleanUpMaterials(*bare, removed), kOk);
  EXPECT_EQ(multi->subMaterials.size(), 1u);
  multi->subMaterials.clear();  // no entries: nothing to compact, nothing to divide by
  EXPECT_EQ(CleanUpMaterials(*bare, removed), kOk);
}

TEST_F(MultiMaterialTest, LaterBumpMapsTakeTheFirstOnesChannel) {
  const auto pic = scene.Image(u"pic", Png());
  test::LegacyMaterial a, b, c;
  a.channels[8] = scene.TextureMap(pic, 3);
  b.channels[8] = scene.NormalBumpTex(scene.TextureMap(pic, 1));
  c.channels[8] = scene.TextureMap(pic, 0);
  CTriMesh* mesh = Build({scene.Material(a), scene.Material(b), scene.Material(c)}, {}, {0, 1});
  ASSERT_EQ(status, kOk);
  for (const auto& sub : Multi(mesh)->subMaterials) {
    CTexture* bump = static_cast<CStandardMaterial*>(sub.get())->channelTexture[8].get();
    if (auto* normal = KindOf<CNormalBumpTex>(bump)) bump = normal->map1.get();
    EXPECT_EQ(KindOf<CTextureMap>(bump)->channel, 3);
  }
}

TEST_F(ConvertTest, OnlyExactNodesAreTagged) {
  const auto root = scene.Root(u"Scene Root");
  const auto group = scene.Node(u"Group");
  scene.AddChild(root, group);
  scene.AddChild(group, scene.BillboardNode(u"Sign"));
  AddMesh(group, u"Tri");
  ASSERT_EQ(Convert(), kOk);
  EXPECT_EQ(Root()->tag, static_cast<uint32_t>(kPropTag));
  EXPECT_EQ(Find<CNode>(u"Group")->tag, static_cast<uint32_t>(kPropTag));
  EXPECT_EQ(Find<CNode>(u"Sign")->tag, 0u);
}

TEST_F(ConvertTest, TheKindIsCheckedAgainAfterTheCleanUp) {
  // Two children whose only mesh has no material: after the clean-up nothing has faces.
  const auto root = scene.Root(u"Scene Root");
  const auto chair = scene.Node(u"Chair");
  scene.AddChild(root, scene.Node(u"Table"));
  scene.AddChild(root, chair);
  scene.AddChild(chair, scene.Mesh(u"Loose", test::LegacyMesh::Triangle()));
  document = test::LoadScene(scene);
  EXPECT_EQ(ClassifyContent(*document), kKindScene);
  EXPECT_EQ(ConvertSceneToProp(*document, ui), kErrMalformed);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "#103");
  EXPECT_EQ(ui.messages[0].type, kMessageError);
  EXPECT_EQ(Root()->tag, 0u) << "nothing after the check ran";
}

TEST_F(ConvertTest, AFirstRootThatIsNoNodeIsRefusedUntouched) {
  const auto mesh = scene.Mesh(u"Tri", test::LegacyMesh::Triangle());
  scene.MarkRoot(mesh);
  scene.KeyframeController(mesh, {{}});
  document = test::LoadScene(scene);
  EXPECT_EQ(ConvertSceneToProp(*document, ui), kErrMalformed);
  EXPECT_TRUE(static_cast<CSpatial*>(document->roots[0].get())->controllers);
  CPersistContext empty;
  EXPECT_EQ(ConvertSceneToProp(empty, ui), kErrMalformed);
  EXPECT_TRUE(ui.messages.empty());
}

}  // namespace
}  // namespace KX

namespace KX {
namespace {

// A scene the old layout writer builds, and what it is.
struct SceneCase {
  const char* what;
  void (*build)(LegacyScene&);
};

// The conversion collects the tree once for the passes that run on it unchanged; the result must
// be what running every pass on its own, each collecting for itself, gives.
TEST(ConvertPasses, OneCallDoesWhatThePassesDoOneByOne) {
  test::RegisterForTests();
  const SceneCase cases[] = {
      {"baked, animated, with a link",
       [](LegacyScene& s) {
         const auto root = s.Root(u"Props", test::Translation({0, 1, 0}));
         const auto group = s.Node(u"Group", test::Transform({1, 0, 0}, {0, 0.5f, 0}));
         s.AddChild(root, group);
         const auto mesh = s.Mesh(u"Tri", test::LegacyMesh::Quad(), test::Translation({0, 2, 0}));
         s.SetMaterial(mesh, s.Material({}));
         s.AddChild(group, mesh);
         s.KeyframeController(group, {{0.0f, {1, 0, 0}}, {1.0f, {2, 0, 0}}});
         s.LinkController(mesh, group);
       }},
      {"cameras alone and in a group",
       [](LegacyScene& s) {
         const auto root = s.Root(u"Room");
         const auto rig = s.Node(u"Rig", test::Translation({0, 0, 3}));
         s.AddChild(root, rig);
         const auto target = s.CameraTarget(u"Target");
         s.AddChild(rig, s.Camera(u"Camera", MatrixIdentity(), target));
         s.AddChild(rig, target);
         s.AddChild(root, s.Camera(u"Free"));
         const auto mesh = s.Mesh(u"Tri", test::LegacyMesh::Triangle());
         s.SetMaterial(mesh, s.Material({}));
         s.AddChild(root, mesh);
       }},
      {"baked, animated, below a node called SceneRoot",
       [](LegacyScene& s) {
         const auto root = s.Root(u"Props", test::Translation({0, 1, 0}));
         const auto inner = s.Node(u"SceneRoot", test::Transform({0, 0, 1}, {0.5f, 0, 0}));
         s.AddChild(root, inner);
         const auto mesh = s.Mesh(u"Tri", test::LegacyMesh::Quad(), test::Translation({0, 2, 0}));
         s.SetMaterial(mesh, s.Material({}));
         s.AddChild(inner, mesh);
         s.KeyframeController(mesh, {{0.0f, {1, 0, 0}}, {1.0f, {2, 0, 0}}});
         s.AddChild(root, s.Node(u"Second"));
       }},
      {"an accessory level under a marker root",
       [](LegacyScene& s) {
         const auto root = s.Root(u"Scene Root", test::Translation({0, 1, 0}));
         const auto acc = s.Node(u"AccRoot");
         s.AddChild(root, acc);
         const auto inner = s.Node(u"Inner", test::Translation({2, 0, 0}));
         s.AddChild(acc, inner);
         const auto mesh = s.Mesh(u"Tri", test::LegacyMesh::Triangle());
         s.SetMaterial(mesh, s.Material({}));
         s.AddChild(inner, mesh);
         s.AddChild(acc, s.Node(u"Dropped"));
       }},
  };
  for (const auto& c : cases) {
    LegacyScene scene("1.50");
    c.build(scene);
    auto once = test::LoadScene(scene);
    test::ScriptedUi ui;
    ASSERT_EQ(ConvertSceneToProp(*once, ui), kOk) << c.what;

    auto stepwise = test::LoadScene(scene);
    auto* root = KindOf<CNode>(stepwise->roots.at(0).get());
    ASSERT_EQ(RemoveLinkControllers(*root), kOk) << c.what;
    ASSERT_EQ(CleanUpGeometry(*root), kOk) << c.what;
    ASSERT_EQ(TagNodes(*root, kPropTag), kOk) << c.what;
    ASSERT_EQ(StripControllers(*root), kOk) << c.what;
    if (root->name != u"Scene Root") {
      ASSERT_EQ(BakeTransforms(*root), kOk) << c.what;
    }
    ASSERT_EQ(RestructureRoot(*root), kOk) << c.what;

    EXPECT_EQ(test::SaveToBytes(*once), test::SaveToBytes(*stepwise)) << c.what;
    ExpectOneRestKeyEach(*KindOf<CNode>(once->roots.at(0).get()));
  }
}

}  // namespace
}  // namespace KX

namespace KX {
namespace {

LegacyRef MeshUnder(LegacyScene& s, LegacyRef parent, std::u16string name) {
  const auto mesh = s.Mesh(std::move(name), test::LegacyMesh::Triangle());
  s.SetMaterial(mesh, s.Material({}));
  s.AddChild(parent, mesh);
  return mesh;
}

// A caller that classified the document already hands the kind in, with what the classification
// searched; the kind is worked out again only where the clean-up changed a reference. Either way
// the outcome is what classifying after the clean-up gives.
TEST(ConvertKnownKind, GivesWhatClassifyingAgainGives) {
  test::RegisterForTests();
  const SceneCase cases[] = {
      {"nothing to clean up",
       [](LegacyScene& s) {
         const auto root = s.Root(u"Scene Root");
         const auto group = s.Node(u"Group");
         s.AddChild(root, group);
         s.KeyframeController(MeshUnder(s, group, u"Tri"), {{0.0f, {1, 0, 0}}});
         s.AddChild(root, s.Node(u"Other"));
       }},
      {"the only mesh with faces goes",
       [](LegacyScene& s) {
         const auto root = s.Root(u"Scene Root");
         const auto chair = s.Node(u"Chair");
         s.AddChild(root, s.Node(u"Table"));
         s.AddChild(root, chair);
         s.AddChild(chair, s.Mesh(u"Loose", test::LegacyMesh::Triangle()));
       }},
      {"a link controller goes",
       [](LegacyScene& s) {
         const auto root = s.Root(u"Props");
         const auto group = s.Node(u"Group");
         s.AddChild(root, group);
         s.LinkController(MeshUnder(s, group, u"Tri"), group);
       }},
      {"a sub-material goes",
       [](LegacyScene& s) {
         const auto root = s.Root(u"Props");
         const auto tri = MeshUnder(s, root, u"Tri");
         s.SetMaterial(tri, s.MultiMaterial({s.Material({}), s.MultiMaterial({})}));
       }},
  };
  for (const auto& c : cases) {
    LegacyScene scene("1.50");
    c.build(scene);
    auto again = test::LoadScene(scene);
    auto known = test::LoadScene(scene);
    CSearchedTree searched;
    const int32_t kind = ClassifyContent(*known, &searched);
    test::ScriptedUi uiAgain, uiKnown;
    const Status status = ConvertSceneToProp(*again, uiAgain);
    EXPECT_EQ(ConvertSceneToProp(*known, uiKnown, kind, &searched), status) << c.what;
    ASSERT_EQ(uiKnown.messages.size(), uiAgain.messages.size()) << c.what;
    for (size_t i = 0; i < uiKnown.messages.size(); ++i)
      EXPECT_EQ(uiKnown.messages[i].detail, uiAgain.messages[i].detail) << c.what;
    EXPECT_EQ(test::SaveRootToBytes(known->roots.at(0).get()),
              test::SaveRootToBytes(again->roots.at(0).get()))
        << c.what;
  }
}

TEST(ConvertKnownKind, IsTakenOnlyWhereTheCleanUpChangedNoReference) {
  test::RegisterForTests();
  {
    // Nothing to clean up: the kind given is the kind checked.
    LegacyScene scene("1.50");
    MeshUnder(scene, scene.Root(u"Scene Root"), u"Tri");
    auto document = test::LoadScene(scene);
    test::ScriptedUi ui;
    EXPECT_EQ(ConvertSceneToProp(*document, ui, kKindCamera), kErrMalformed);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].detail.find("camera"), std::string::npos) << ui.messages[0].detail;
  }
  {
    // The clean-up took a keyframe controller off: the kind is worked out again.
    LegacyScene scene("1.50");
    const auto tri = MeshUnder(scene, scene.Root(u"Scene Root"), u"Tri");
    scene.KeyframeController(tri, {{0.0f, {1, 0, 0}}});
    scene.KeyframeController(tri, {{0.0f, {2, 0, 0}}});
    auto document = test::LoadScene(scene);
    test::ScriptedUi ui;
    EXPECT_EQ(ConvertSceneToProp(*document, ui, kKindCamera), kOk);
    EXPECT_TRUE(ui.messages.empty());
  }
}

}  // namespace
}  // namespace KX
