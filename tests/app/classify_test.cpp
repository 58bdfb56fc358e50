// The content kind of old scene files, worked out from the shape of their trees. The files are
// written in the old layout, as the converter meets them.
#include <gtest/gtest.h>

#include "app/classify.h"
#include "app_fixtures.h"
#include "control/keyframe_control.h"
#include "object/custom_data.h"
#include "scene/node.h"
#include "scene/tri_mesh.h"

namespace KX {
namespace {

using test::LegacyRef;
using test::LegacyScene;

class ClassifyTest : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }

  // A root with one node per name below it, in order.
  LegacyRef Tree(std::u16string rootName, const std::vector<std::u16string>& childNames) {
    root = scene.Root(std::move(rootName));
    children.clear();
    for (const auto& name : childNames) {
      children.push_back(scene.Node(name));
      scene.AddChild(root, children.back());
    }
    return root;
  }
  // A mesh with faces (or with none) below `parent`.
  LegacyRef AddMesh(LegacyRef parent, bool faces = true) {
    test::LegacyMesh mesh = test::LegacyMesh::Triangle();
    if (!faces) mesh.faceCount = 0;
    const auto ref = scene.Mesh(u"Mesh", mesh);
    scene.AddChild(parent, ref);
    return ref;
  }
  void Keyframes(LegacyRef owner) { scene.KeyframeController(owner, {{}}); }
  void RawData(std::vector<std::u16string> names) {
    std::vector<test::LegacyRawData> records;
    for (auto& name : names) records.push_back({std::move(name), {1}, u""});
    scene.RawDataChain(records);
  }

  // The kind, which must not depend on whether the classification keeps what it searched; what
  // it keeps is every object the first root reaches, in search order.
  int32_t Kind() {
    document = test::LoadScene(scene);
    const int32_t kind = ClassifyContent(*document);
    CSearchedTree searched;
    EXPECT_EQ(ClassifyContent(*document, &searched), kind);
    if (searched.complete) {
      std::vector<CBase*> all;
      document->roots.at(0)->FindObjects(all, std::nullopt, nullptr, false);
      EXPECT_EQ(searched.objects, all);
    } else {
      EXPECT_TRUE(searched.objects.empty());
    }
    return kind;
  }

  LegacyScene scene{"1.50"};
  LegacyRef root;
  std::vector<LegacyRef> children;
  std::unique_ptr<CPersistContext> document;
};

TEST_F(ClassifyTest, ProjectStateMakesAProjectWhateverTheTree) {
  Tree(u"Scene Root", {u"AccRoot"});
  RawData({u"Settings", u"ProjectState"});  // found anywhere along the chain
  EXPECT_EQ(Kind(), kKindProject);

  scene = LegacyScene("1.50");
  AddMesh(Tree(u"CameraRoot", {}));
  RawData({u"ProjectState"});
  EXPECT_EQ(Kind(), kKindProject);
}

TEST_F(ClassifyTest, RawDataIsOnlyLookedForInTheSecondRoot) {
  // A record of that name in the first root's custom data is no project.
  AddMesh(Tree(u"Props", {}));
  scene.RawData(root, {u"ProjectState", {1}, u""});
  EXPECT_EQ(Kind(), kKindScene);
  EXPECT_EQ(FindRawData(*document, u"ProjectState"), nullptr);

  // Only raw-data records count, and names match whole and case-sensitively.
  RawData({u"projectstate", u"ProjectState "});
  EXPECT_EQ(Kind(), kKindScene);
}

TEST_F(ClassifyTest, SingleChildOfASceneRoot) {
  Tree(u"Scene Root", {u"AccRoot"});
  EXPECT_EQ(Kind(), kKindScene) << "an accessory needs no animation";

  scene = LegacyScene("1.50");
  Tree(u"Scene Root", {u"Box"});
  EXPECT_EQ(Kind(), kKindSingleObjectScene);
  Keyframes(children[0]);  // the child's own keys do not count
  EXPECT_EQ(Kind(), kKindSingleObjectScene);
  scene.LinkController(root, children[0]);
  EXPECT_EQ(Kind(), kKindSingleObjectScene) << "a link controller is no keyframe controller";
  Keyframes(root);  // behind the link controller in the root's chain
  EXPECT_EQ(Kind(), kKindScene);
}

TEST_F(ClassifyTest, ASingleChildThatIsNoNodeGoesToTheControllerTest) {
  root = scene.Root(u"Scene Root");
  AddMesh(root);
  EXPECT_EQ(Kind(), kKindSingleObjectScene);
  Keyframes(root);
  EXPECT_EQ(Kind(), kKindScene);
}

TEST_F(ClassifyTest, LoneLowerTorsoNeedsItsGroupBelowIt) {
  Tree(u"Scene Root", {u"LowerTorso"});
  EXPECT_EQ(Kind(), kKindLowerTorso) << "without children";
  const auto hip = scene.Node(u"Hip");
  scene.AddChild(children[0], hip);
  scene.AddChild(children[0], scene.Node(u"LowerTorso_02"));  // only the first child counts
  EXPECT_EQ(Kind(), kKindLowerTorso);

  scene = LegacyScene("1.50");
  Tree(u"Scene Root", {u"LowerTorso"});
  scene.AddChild(children[0], scene.Node(u"LowerTorso_01"));
  EXPECT_EQ(Kind(), kKindSingleObjectScene);
  Keyframes(root);
  EXPECT_EQ(Kind(), kKindScene);
}

TEST_F(ClassifyTest, PairsWithLowerTorsoInEitherOrder) {
  const std::pair<std::u16string, int32_t> partners[] = {
      {u"Upper", kKindUpper}, {u"Lower", kKindLower}, {u"Shoes", kKindShoes},
      {u"Hands", kKindHands}, {u"Hair", kKindHair}};
  for (const auto& [partner, kind] : partners) {
    for (bool torsoFirst : {true, false}) {
      scene = LegacyScene("1.50");
      if (torsoFirst)
        Tree(u"Scene Root", {u"LowerTorso", partner});
      else
        Tree(u"Scene Root", {partner, u"LowerTorso"});
      EXPECT_EQ(Kind(), kind) << std::string(partner.begin(), partner.end()) << " " << torsoFirst;
    }
  }
}

TEST_F(ClassifyTest, TeethAndEyesAreJudgedByTheFirstChild) {
  Tree(u"Scene Root", {u"Normal Teeth_dw", u"LowerTorso"});
  EXPECT_EQ(Kind(), kKindTeeth);
  scene = LegacyScene("1.50");
  Tree(u"Scene Root", {u"Normal Teeth_up", u"Hair"});
  EXPECT_EQ(Kind(), kKindTeeth);
  scene = LegacyScene("1.50");
  Tree(u"Scene Root", {u"eye_R", u"Upper"});
  EXPECT_EQ(Kind(), kKindEyes);
  // Second place does not count.
  scene = LegacyScene("1.50");
  Tree(u"Scene Root", {u"Hair", u"Normal Teeth_up"});
  EXPECT_EQ(Kind(), kKindUnknown);
}

TEST_F(ClassifyTest, TwoUnrelatedChildrenDependOnMeshesWithFaces) {
  Tree(u"Scene Root", {u"Table", u"Chair"});
  EXPECT_EQ(Kind(), kKindUnknown);
  const auto seat = scene.Node(u"Seat");
  scene.AddChild(children[1], seat);
  AddMesh(seat, false);
  EXPECT_EQ(Kind(), kKindUnknown) << "a mesh without faces is not enough";
  AddMesh(seat, true);  // anywhere below the root
  EXPECT_EQ(Kind(), kKindScene);
}

TEST_F(ClassifyTest, APairPartnerThatIsNoNodeDoesNotPair) {
  root = scene.Root(u"Scene Root");
  scene.AddChild(root, scene.Node(u"LowerTorso"));
  const auto upper = scene.Mesh(u"Upper", test::LegacyMesh::Triangle());
  scene.AddChild(root, upper);
  EXPECT_EQ(Kind(), kKindScene);
}

TEST_F(ClassifyTest, ThreeChildrenWithLowerTorsoAreABodyFourAreNot) {
  Tree(u"Scene Root", {u"Head", u"Arms", u"LowerTorso"});
  EXPECT_EQ(Kind(), kKindBody);
  scene = LegacyScene("1.50");
  Tree(u"Scene Root", {u"Head", u"Arms", u"Legs"});
  EXPECT_EQ(Kind(), kKindScene) << "three children need no mesh";
  scene = LegacyScene("1.50");
  Tree(u"Scene Root", {u"Head", u"Arms", u"LowerTorso", u"Legs"});
  EXPECT_EQ(Kind(), kKindScene);

  // Only a node of exactly that class is a lower torso.
  scene = LegacyScene("1.50");
  root = scene.Root(u"Scene Root");
  scene.AddChild(root, scene.Node(u"Head"));
  scene.AddChild(root, scene.Node(u"Arms"));
  scene.AddChild(root, scene.BillboardNode(u"LowerTorso"));
  EXPECT_EQ(Kind(), kKindScene);
}

TEST_F(ClassifyTest, FaceNeedsAMorphControllerOnNormalOrNormalCavity) {
  Tree(u"Scene Root", {u"Brows", u"Normal", u"Lashes", u"Normal Cavity", u"Tongue"});
  EXPECT_EQ(Kind(), kKindScene);
  scene.MorphController(children[1], {{0, 0, 1}});  // on "Normal"
  EXPECT_EQ(Kind(), kKindFace);

  scene = LegacyScene("1.50");
  Tree(u"Scene Root", {u"Brows", u"Normal", u"Lashes", u"Normal Cavity", u"Tongue"});
  Keyframes(children[3]);
  scene.MorphController(children[3], {{0, 0, 1}});  // behind keys on "Normal Cavity"
  EXPECT_EQ(Kind(), kKindFace);

  // Both names must be there; a morph elsewhere does not count.
  scene = LegacyScene("1.50");
  Tree(u"Scene Root", {u"Brows", u"Normal", u"Lashes", u"Cavity", u"Tongue"});
  scene.MorphController(children[1], {{0, 0, 1}});
  scene.MorphController(children[0], {{0, 0, 1}});
  EXPECT_EQ(Kind(), kKindScene);

  scene = LegacyScene("1.50");
  Tree(u"Scene Root", {});
  EXPECT_EQ(Kind(), kKindScene) << "a scene root without children";
}

TEST_F(ClassifyTest, NamedRootsWhatEverTheyHold) {
  const std::pair<std::u16string, int32_t> roots[] = {
      {u"GestureRoot", kKindGesture}, {u"LightRoot", kKindLight}, {u"CameraRoot", kKindCamera},
      {u"ParticleEmitter_Root", kKindParticles}};
  for (const auto& [name, kind] : roots) {
    scene = LegacyScene("1.50");
    AddMesh(Tree(name, {u"Group"}));
    EXPECT_EQ(Kind(), kind);
  }
  scene = LegacyScene("1.50");
  Tree(u"3DBackgroundRoot", {});
  EXPECT_EQ(Kind(), kKindScene) << "a background needs no mesh";
}

TEST_F(ClassifyTest, AWholeSkeletonMakesACharacterOneBoneLessDoesNot) {
  const std::u16string bones[] = {
      u"LowerTorso", u"UpperTorso", u"LCollar", u"RCollar", u"LUpArm",  u"RUpArm",
      u"LLowArm",    u"RLowArm",    u"Neck",    u"Head",    u"LPelvis", u"RPelvis",
      u"LThigh",     u"RThigh",     u"LLowLeg", u"RLowLeg", u"LFoot",   u"RFoot",
      u"LToe0",      u"RToe0",      u"LHand",   u"RHand"};
  auto build = [&](size_t skip, bool mesh) {
    scene = LegacyScene("1.50");
    LegacyRef parent = Tree(u"Biped", {});
    for (size_t i = 0; i < std::size(bones); ++i) {
      if (i == skip) continue;
      const auto bone = scene.Node(bones[i]);
      scene.AddChild(parent, bone);
      parent = bone;  // nested, found anywhere below the root
    }
    if (mesh) AddMesh(parent);
    RawData({u"Other"});
  };
  build(std::size(bones), false);
  EXPECT_EQ(Kind(), kKindCharacter);
  build(21, true);
  EXPECT_EQ(Kind(), kKindScene);
  build(0, false);
  EXPECT_EQ(Kind(), kKindUnknown);
}

TEST_F(ClassifyTest, FogAndMotionRecordsExceptForHands) {
  AddMesh(Tree(u"Props", {}));
  RawData({u"MotionInfo", u"V16FogSettings"});
  EXPECT_EQ(Kind(), kKindFog) << "fog is tested first";

  scene = LegacyScene("1.50");
  AddMesh(Tree(u"Props", {}));
  RawData({u"MotionInfo"});
  EXPECT_EQ(Kind(), kKindMotion);

  scene = LegacyScene("1.50");
  AddMesh(Tree(u"RHand", {}));
  RawData({u"MotionInfo"});
  EXPECT_EQ(Kind(), kKindScene);

  scene = LegacyScene("1.50");
  Tree(u"LHand", {});
  RawData({u"V16FogSettings"});
  EXPECT_EQ(Kind(), kKindUnknown);
}

TEST(ClassifyHelpers, FindChildLooksAtDirectChildrenOnly) {
  CRefPtr<CNode> root(new CNode), group(new CNode), deep(new CNode);
  CRefPtr<CBillboardNode> sign(new CBillboardNode);
  group->name = u"Group";
  deep->name = u"Deep";
  sign->name = u"Sign";
  ASSERT_EQ(root->AddChild(group.get()), kOk);
  ASSERT_EQ(root->AddChild(sign.get()), kOk);
  ASSERT_EQ(group->AddChild(deep.get()), kOk);
  EXPECT_EQ(FindChild(*root, u"Deep", nullptr, false), nullptr);
  EXPECT_EQ(FindChild(*root, u"Sign", &CNode::classRecord, false), nullptr);
  EXPECT_EQ(FindChild(*root, u"Sign", &CNode::classRecord, true), sign.get());
  EXPECT_EQ(FindChild(*root, std::nullopt, &CBillboardNode::classRecord, false), sign.get());
  EXPECT_EQ(FindChild(*root, std::nullopt, nullptr, false), group.get());
}

TEST(ClassifyHelpers, FindRawDataNeedsCustomDataAtTheSecondRoot) {
  CPersistContext document;
  CRefPtr<CNode> first(new CNode);
  CRefPtr<CRawData> record(new CRawData);
  CRefPtr<CXmlRawData> xml(new CXmlRawData);
  record->name = u"A";
  xml->name = u"B";
  record->next = xml;
  EXPECT_TRUE(::KX::Succeeded(AddRoot(document, first.get())));
  EXPECT_EQ(FindRawData(document, u"A"), nullptr) << "one root";
  CRefPtr<CNode> notData(new CNode);
  EXPECT_TRUE(::KX::Succeeded(AddRoot(document, notData.get())));
  EXPECT_EQ(FindRawData(document, u"A"), nullptr) << "the second root is no custom data";
  document.roots[1] = record.get();
  EXPECT_EQ(FindRawData(document, u"A"), record.get());
  EXPECT_EQ(FindRawData(document, u"B"), xml.get()) << "derived records count";
  EXPECT_EQ(FindRawData(document, u"C"), nullptr);
}

}  // namespace
}  // namespace KX

namespace KX {
namespace {

// The kinds are part of the interface (the conversion and stored reports use the numbers).
TEST(ClassifyHelpers, KindsKeepTheirNumbers) {
  const std::pair<int32_t, int32_t> kinds[] = {
      {kKindCharacter, 16},  {kKindScene, 32},      {kKindSingleObjectScene, 34},
      {kKindFog, 52},        {kKindParticles, 64},  {kKindLight, 96},
      {kKindCamera, 144},    {kKindReserved, 160},  {kKindLowerTorso, 176},
      {kKindTeeth, 192},     {kKindEyes, 193},      {kKindHair, 208},
      {kKindBody, 209},      {kKindHands, 210},     {kKindLower, 211},
      {kKindUpper, 212},     {kKindShoes, 213},     {kKindMotion, 224},
      {kKindFace, 225},      {kKindGesture, 226},   {kKindProject, 4096},
      {kKindUnknown, 65535}};
  for (const auto& [kind, number] : kinds) EXPECT_EQ(kind, number);
}

}  // namespace
}  // namespace KX
