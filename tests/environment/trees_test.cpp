// Trees, tree instances, grass and wind: blocks of other runtimes kept byte for byte, damaged
// blocks of ours refused, counts checked before anything is allocated, the saved form made as
// the runtime stands, ray queries, the grass record without a spatial level, and walks over
// trees whose parts lead back to them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "object/container.h"
#include "object/persist.h"
#include "environment/grass.h"
#include "environment/tree.h"
#include "environment/wind.h"
#include "material/material.h"
#include "scene/bounding_objects.h"
#include "scene/node.h"
#include "scene/tri_mesh.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX {
namespace {

using V = CVector3<float>;

// A straight trunk of length 10 and radius 1 with four sides and one level of detail: its faces
// are vertical, and the ring starts at +z and turns towards -x.
CRefPtr<CTree> TrunkTree() {
  CRefPtr<CTree> tree(new CTree);
  CTreeModel model;
  model.trunkLean = 0;
  model.trunkTaper = 1;
  model.trunkRadius = 0.1f;
  model.sides = 4;
  model.levelCount = 0;
  model.lodCount = 1;
  EXPECT_EQ(tree->runtime->SetModel(model), kOk);
  EXPECT_EQ(tree->ComputeTree(), kOk);
  return tree;
}

size_t Find(const std::vector<uint8_t>& bytes, const void* what, size_t size) {
  const auto* p = static_cast<const uint8_t*>(what);
  const auto at = std::search(bytes.begin(), bytes.end(), p, p + size);
  EXPECT_NE(at, bytes.end());
  return static_cast<size_t>(at - bytes.begin());
}
void Put32(std::vector<uint8_t>& bytes, size_t at, int32_t value) {
  std::memcpy(&bytes[at], &value, 4);
}

class Trees : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }
  Status Load(const std::vector<uint8_t>& bytes) {
    loaded = std::make_unique<CPersistContext>();
    return test::LoadFromBytes(bytes, *loaded);
  }
  std::unique_ptr<CPersistContext> loaded;
};

TEST_F(Trees, BlocksOfOtherRuntimesLoadWithoutGeometryAndAreWrittenBackByteForByte) {
  const std::vector<uint8_t> treeBlock{'S', 'P', 'T', 0x04, 0xFF, 0, 0x10, 0x20, 0x30, 0x40, 7};
  const std::vector<uint8_t> windBlock{'W', 'N', 'D', 0, 0, 0, 3};
  CRefPtr<CNode> root(new CNode);
  CRefPtr<CTreeInstance> instance(new CTreeInstance);
  instance->tree = new CTree;
  ASSERT_EQ(instance->tree->runtime->LoadTree(treeBlock.data(), treeBlock.size()), kOk);
  CRefPtr<CWind> wind(new CWind);
  ASSERT_EQ(wind->engine->Load(windBlock.data(), windBlock.size()), kOk);
  instance->tree->parts[2] = wind;
  ASSERT_EQ(root->AddChild(instance.get()), kOk);

  CRefPtr<CBase> again = test::ExpectRoundTrip(root.get());
  ASSERT_TRUE(again);
  auto* tree = KindOf<CTree>(again->FindObject(std::nullopt, &CTree::classRecord, false));
  auto* copy =
      KindOf<CTreeInstance>(again->FindObject(std::nullopt, &CTreeInstance::classRecord, false));
  auto* loadedWind = KindOf<CWind>(again->FindObject(std::nullopt, &CWind::classRecord, false));
  ASSERT_TRUE(tree && copy && loadedWind);
  std::vector<uint8_t> block;
  ASSERT_EQ(tree->runtime->SaveTree(block), kOk);
  EXPECT_EQ(block, treeBlock);
  ASSERT_EQ(loadedWind->engine->Save(block), kOk);
  EXPECT_EQ(block, windBlock);
  EXPECT_EQ(loadedWind->windValues1.size(), 10u) << "sized by the engine's default count";

  // Nothing grown: no corners, an empty bound (not one left from before), no hits.
  EXPECT_TRUE(tree->corners.empty());
  copy->bound.Mutable().radius = 5;
  ASSERT_EQ(copy->UpdateBound(), kOk);
  EXPECT_EQ(copy->bound, Bound());
  int32_t index = -1;
  float distance = 0;
  V point;
  EXPECT_FALSE(copy->IntersectRay({5, 5, 0}, {-1, 0, 0}, index, distance, point));
}

TEST_F(Trees, DamagedBlocksOfOursAreRefusedAndCountsCannotReachPastTheRecord) {
  CRefPtr<CNode> root(new CNode);
  CRefPtr<CTreeInstance> instance(new CTreeInstance);
  instance->tree = TrunkTree();
  instance->tree->parts[0] = new CWind;
  ASSERT_EQ(root->AddChild(instance.get()), kOk);
  CRefPtr<CGrass> grass(new CGrass);
  grass->grassValue7 = 0x13572468;  // the layer count follows
  grass->layers.resize(1);
  grass->layers[0].value = 0x24681357u;  // the blade count follows
  grass->layers[0].blades.resize(1);
  ASSERT_EQ(root->AddChild(grass.get()), kOk);
  const auto file = test::SaveRootToBytes(root.get());
  ASSERT_EQ(Load(file), kOk);

  const size_t treeAt = Find(file, "KXTreeRt", 8), windAt = Find(file, "KXWindRt", 8);
  for (const auto& [at, className] : {std::pair{treeAt, "CTree"}, std::pair{windAt, "CWind"}}) {
    auto damaged = file;
    damaged[at + 17] ^= 0x01;  // a payload byte: the checksum no longer matches
    EXPECT_EQ(Load(damaged), kErrOpen) << className;
    EXPECT_EQ(loaded->diagnostics.className, className);
    EXPECT_NE(loaded->diagnostics.message.find("damaged"), std::string::npos);
  }

  const int32_t layerMarker = 0x13572468;
  const uint32_t bladeMarker = 0x24681357u;
  for (size_t countAt :
       {treeAt - 4, windAt - 4, Find(file, &layerMarker, 4) + 4, Find(file, &bladeMarker, 4) + 4}) {
    auto hostile = file;
    Put32(hostile, countAt, 0x7FFFFFFF);
    EXPECT_EQ(Load(hostile), kErrStream) << "count at " << countAt;
  }
}

TEST_F(Trees, EverySaveWritesTheRuntimeAsItStandsAndSavingTwiceWritesTheSameBytes) {
  CRefPtr<CTree> tree = TrunkTree();
  // Not prepared: Save makes the saved form itself instead of writing none.
  CMemoryIo first, second;
  CWriter out1(first, 0), out2(second, 0);
  ASSERT_EQ(tree->Save(out1), kOk);
  ASSERT_EQ(tree->PrepareSave(*std::make_unique<CPersistContext>()), kOk);
  ASSERT_EQ(tree->Save(out2), kOk);
  EXPECT_EQ(first.bytes(), second.bytes());
  EXPECT_NE(Find(first.bytes(), "KXTreeRt", 8), 0u);
  CMemoryIo third;
  CWriter out3(third, 0);
  ASSERT_EQ(tree->Save(out3), kOk);
  EXPECT_EQ(third.bytes(), second.bytes()) << "a second Save writes the block again";

  // A change after a save reaches the next one.
  CTreeModel taller = tree->runtime->Model();
  taller.size = 30;
  ASSERT_EQ(tree->runtime->SetModel(taller), kOk);
  ASSERT_EQ(Load(test::SaveRootToBytes(tree.get())), kOk);
  EXPECT_EQ(KindOf<CTree>(loaded->roots.at(0).get())->runtime->Model().size, 30.0f);
}

TEST_F(Trees, TheStoredSizeCountsOnlyWhenSizeAndVarianceAreSet) {
  CRefPtr<CTree> tree = TrunkTree();
  auto height = [&] { return tree->corners.at(7).y - tree->corners.at(0).y; };
  EXPECT_FLOAT_EQ(height(), 10);
  tree->treeSize = 4;
  tree->sizeVariance = 0;
  ASSERT_EQ(tree->ComputeTree(), kOk);
  EXPECT_FLOAT_EQ(height(), 4);
  tree->sizeVariance = -1;  // the size given before no longer holds
  ASSERT_EQ(tree->ComputeTree(), kOk);
  EXPECT_FLOAT_EQ(height(), 10);
  tree->treeSize = INFINITY;
  tree->sizeVariance = 0;
  EXPECT_EQ(tree->ComputeTree(), kErrOpen);
  EXPECT_TRUE(tree->corners.empty());
}

TEST_F(Trees, RaysHitTheNearestFrontFaceEdgesIncluded) {
  CRefPtr<CTreeInstance> instance(new CTreeInstance);
  int32_t index = -1;
  float distance = 0;
  V point;
  instance->bound.Mutable().radius = 3;
  ASSERT_EQ(instance->UpdateBound(), kOk);
  EXPECT_EQ(instance->bound.get().radius, 3) << "no tree: the bound stays";
  EXPECT_FALSE(instance->IntersectRay({5, 5, 0.3f}, {-1, 0, 0}, index, distance, point));

  instance->tree = TrunkTree();
  ASSERT_TRUE(instance->IntersectRay({5, 5, 0.3f}, {-1, 0, 0}, index, distance, point));
  EXPECT_NEAR(distance, 4.3f, 1e-5f);
  EXPECT_NEAR(point.x, 0.7f, 1e-5f);
  EXPECT_FALSE(instance->IntersectRay({0, 5, 0}, {1, 0, 0}, index, distance, point))
      << "from inside";

  // Through the bottom edge of the first side, between (0, 0, 1) and (-1, 0, 0): only the lower
  // triangle of the side (strip position 1) has that edge, and the point lies on it exactly.
  const float d = 0.70710678f;
  const V origin{-5.5f, 0, 5.5f}, direction{d, 0, -d};
  ASSERT_TRUE(instance->IntersectRay(origin, direction, index, distance, point));
  EXPECT_EQ(index, 1);
  EXPECT_EQ(point.y, 0.0f);
  EXPECT_NEAR(distance, 5 * 1.41421356f, 1e-4f);
  // A mesh of that very triangle counts the edge as outside.
  const auto& s = instance->tree->runtime->GetBranchGeometry().lods[0][0].positions;
  CRefPtr<CTriMesh> mesh(new CTriMesh);
  mesh->positions.items = {s[1], s[2], s[3]};
  mesh->facePositionIndices.items = {0, 1, 2};
  mesh->faceCount = 1;
  ASSERT_TRUE(Succeeded(mesh->SizeWorkingBuffers()));
  mesh->worldPositions.items = mesh->positions.items;
  RayHit hit;
  EXPECT_FALSE(mesh->IntersectRay(origin, direction, false, hit));

  // Moved by its transform, bound included.
  instance->transform = MatrixTranslation({10, 0, 0});
  ASSERT_EQ(instance->UpdateBound(), kOk);
  EXPECT_EQ(instance->worldCorners.size(), 8u);
  EXPECT_NEAR(instance->bound.get().boxMin.x, 9, 1e-5f);
  ASSERT_TRUE(instance->IntersectRay({15, 5, 0.3f}, {-1, 0, 0}, index, distance, point));
  EXPECT_NEAR(distance, 4.3f, 1e-5f);
}

TEST_F(Trees, AGrassRecordHasNoRestTransformAndTheGrassStaysItsNodesChild) {
  CRefPtr<CNode> root(new CNode);
  CRefPtr<CGrass> grass(new CGrass);
  EXPECT_FALSE(grass->IsKindOf(&CSpatial::classRecord));
  grass->position = {1, 2, 3};
  grass->scale = {2, 2, 2};
  grass->rotation.m[0][1] = 0.5f;
  grass->flags = 7;
  grass->visible = false;
  grass->layers.resize(2);
  grass->layers[1].blades.resize(3);
  grass->layers[1].blades[2].bytes[0] = 9;
  ASSERT_EQ(root->AddChild(grass.get()), kOk);
  CRefPtr<CBase> again = test::ExpectRoundTrip(root.get());
  auto* node = KindOf<CNode>(again.get());
  ASSERT_TRUE(node);
  ASSERT_EQ(node->children.size(), 1u);
  auto* loadedGrass = KindOf<CGrass>(node->children[0].get());
  ASSERT_TRUE(loadedGrass);
  EXPECT_EQ(loadedGrass->parent, node);
  EXPECT_EQ(loadedGrass->position, V{});
  EXPECT_EQ(loadedGrass->scale, (V{1, 1, 1}));
  EXPECT_EQ(loadedGrass->rotation, CMatrix3());
  EXPECT_EQ(loadedGrass->flags, 0u);
  EXPECT_TRUE(loadedGrass->visible);
  EXPECT_EQ(loadedGrass->layers[1].blades[2], grass->layers[1].blades[2]);
  // Copies keep the grass too.
  DuplicateMap map;
  CRefPtr<CBase> copy;
  ASSERT_EQ(node->Duplicate(copy, map), kOk);
  EXPECT_EQ(KindOf<CNode>(copy.get())->children.size(), 1u);
}

TEST_F(Trees, PartsThatLeadBackToTheTreeEndEveryWalkAndSuchFilesAreRefused) {
  CRefPtr<CNode> root(new CNode);
  CRefPtr<CTreeInstance> instance(new CTreeInstance);
  CRefPtr<CTree> tree = TrunkTree();
  instance->tree = tree;
  instance->instanceObject = root;
  tree->parts[3] = root;
  ASSERT_EQ(root->AddChild(instance.get()), kOk);

  std::vector<CBase*> found;
  root->FindObjects(found, std::nullopt, nullptr, false);
  EXPECT_EQ(found.size(), 3u);
  CPersistContext collect;
  ASSERT_EQ(root->CollectForSave(collect), kOk);
  EXPECT_EQ(collect.saveList.size(), 3u);
  DuplicateMap map;
  CRefPtr<CBase> copy;
  ASSERT_EQ(root->Duplicate(copy, map), kOk);
  auto* treeCopy = KindOf<CTree>(map.at(tree.get()).get());
  EXPECT_EQ(treeCopy->parts[3], copy);
  Status saved = kOk;
  CPersistContext saving;
  ASSERT_EQ(AddRoot(saving, root.get()), kOk);
  const auto file = test::SaveToBytes(saving, &saved);
  ASSERT_EQ(saved, kOk);
  EXPECT_EQ(Load(file), kErrMalformed) << "an object that owns itself";

  // The graphs own themselves; take them apart so that they can go.
  for (CTree* t : {tree.get(), treeCopy}) t->parts[3] = nullptr;
  for (CBase* i : {static_cast<CBase*>(instance.get()), map.at(instance.get()).get()})
    static_cast<CTreeInstance*>(i)->instanceObject = nullptr;
}

TEST_F(Trees, CopiesShareTheirPartsAndGrowTheirOwnRuntime) {
  CRefPtr<CTree> tree = TrunkTree();
  tree->seed = 4;
  tree->parts[1] = new CStandardMaterial;
  CRefPtr<CBase> cloned;
  ASSERT_EQ(tree->Clone(cloned), kOk);
  auto* copy = KindOf<CTree>(cloned.get());
  ASSERT_TRUE(copy->runtime);
  EXPECT_NE(copy->runtime.get(), tree->runtime.get());
  EXPECT_EQ(copy->corners, tree->corners);
  EXPECT_EQ(copy->parts[1], tree->parts[1]);

  CRefPtr<CTree> target(new CTree);
  target->parts[1] = new CBoundingBox;
  ASSERT_EQ(target->PrepareSave(*std::make_unique<CPersistContext>()), kOk);
  ReleasedList released;
  ASSERT_EQ(tree->AssignTo(target.get(), released), kOk);
  EXPECT_EQ(target->seed, 4u);
  EXPECT_EQ(target->corners, tree->corners);
  EXPECT_EQ(target->parts[1], tree->parts[1]);
  ASSERT_EQ(released.size(), 1u);
  EXPECT_TRUE(target->treeBlock.empty());
  CRefPtr<CWind> notATree(new CWind);
  EXPECT_EQ(tree->AssignTo(notATree.get(), released), kErrMalformed);

  CRefPtr<CWind> wind(new CWind);
  CWindSettings settings;
  settings.matrixCount = 3;
  ASSERT_EQ(wind->engine->SetSettings(settings), kOk);
  wind->windValues1 = {1, 2, 3};
  ASSERT_EQ(wind->Clone(cloned), kOk);
  auto* windCopy = KindOf<CWind>(cloned.get());
  EXPECT_NE(windCopy->engine.get(), wind->engine.get());
  EXPECT_EQ(windCopy->engine->GetNumWindMatrices(), 3);
  EXPECT_EQ(windCopy->windValues1, wind->windValues1);
}

}  // namespace
}  // namespace KX
