// Our tree and wind library on its own: growth is reproducible and faces look outwards, strips
// keep their winding when joined, and saved forms come back exactly, keep blocks of other
// runtimes and refuse damaged ones of ours.
#include <gtest/gtest.h>

#include "environment/tree_runtime/saved_form.h"
#include "environment/tree_runtime/tree_runtime.h"
#include "environment/tree_runtime/wind_engine.h"

namespace KX {
namespace {

using V = CVector3<float>;

// A straight trunk and nothing else.
CTreeModel Trunk(uint32_t sides = 6) {
  CTreeModel model;
  model.trunkLean = 0;
  model.trunkTaper = 1;
  model.sides = sides;
  model.levelCount = 0;
  model.lodCount = 1;
  return model;
}

// Normals of the triangles of a strip that have an area, with the winding of strip position i.
std::vector<V> FaceNormals(const CTreeStrip& strip) {
  std::vector<V> normals;
  const auto& s = strip.positions;
  for (size_t i = 0; i + 2 < s.size(); ++i) {
    const V u = s[i % 2 ? i : i + 1], v = s[i % 2 ? i + 1 : i], w = s[i + 2];
    const V n = Cross(v - u, w - u);
    if (Length(n) > 1e-6f) normals.push_back(Normalised(n));
  }
  return normals;
}

TEST(TreeRuntime, GrowthDependsOnTheSeedAloneAndCoarserLevelsHaveLessDetail) {
  CTreeRuntime a, b;
  ASSERT_EQ(a.Compute(nullptr, 5, true), kOk);
  ASSERT_EQ(b.Compute(nullptr, 5, true), kOk);
  const auto& lods = a.GetBranchGeometry().lods;
  ASSERT_EQ(lods.size(), 3u);
  EXPECT_EQ(lods[0][0].positions, b.GetBranchGeometry().lods[0][0].positions);
  for (size_t lod = 0; lod < lods.size(); ++lod) ASSERT_EQ(lods[lod].size(), 1u) << "composite";
  EXPECT_GT(lods[0][0].positions.size(), lods[1][0].positions.size());
  EXPECT_GT(lods[1][0].positions.size(), lods[2][0].positions.size());
  // The coarsest level keeps the trunk alone, with the fewest sides: one ring of 2 * (3 + 1).
  EXPECT_EQ(lods[2][0].positions.size(), 2u * (3 + 1));
  ASSERT_EQ(b.Compute(nullptr, 6, true), kOk);
  EXPECT_NE(lods[0][0].positions, b.GetBranchGeometry().lods[0][0].positions);
}

TEST(TreeRuntime, FacesLookOutwardsAndJoinedStripsKeepEveryWinding) {
  CTreeRuntime trunk;
  ASSERT_EQ(trunk.SetModel(Trunk()), kOk);
  ASSERT_EQ(trunk.Compute(nullptr, 1, true), kOk);
  const CTreeStrip& ring = trunk.GetBranchGeometry().lods[0][0];
  const auto& s = ring.positions;
  const auto normals = FaceNormals(ring);
  ASSERT_EQ(normals.size(), 12u);
  for (size_t i = 0; i + 2 < s.size(); ++i) {
    const V centre = (s[i] + s[i + 1] + s[i + 2]) / 3.0f;
    EXPECT_GT(Dot(normals[i], V{centre.x, 0, centre.z}), 0.0f) << "face " << i;
  }

  // The same tree as separate strips and as one: the same faces, wound the same way.
  CTreeRuntime split, joined;
  ASSERT_EQ(split.Compute(nullptr, 3, false), kOk);
  ASSERT_EQ(joined.Compute(nullptr, 3, true), kOk);
  std::vector<V> separate;
  for (const CTreeStrip& strip : split.GetBranchGeometry().lods[0]) {
    const auto normals = FaceNormals(strip);
    separate.insert(separate.end(), normals.begin(), normals.end());
  }
  EXPECT_GT(split.GetBranchGeometry().lods[0].size(), 10u);
  EXPECT_EQ(FaceNormals(joined.GetBranchGeometry().lods[0][0]), separate);
}

TEST(TreeRuntime, SizesBoundsAndVertexChannels) {
  CTreeRuntime runtime;
  V min, max;
  EXPECT_FALSE(runtime.GetBoundingBox(min, max)) << "nothing grown yet";
  ASSERT_EQ(runtime.SetModel(Trunk()), kOk);
  runtime.SetTreeSize(20, 0);
  ASSERT_EQ(runtime.Compute(nullptr, 9, true), kOk);
  runtime.SetTightBounds(true);
  ASSERT_TRUE(runtime.GetBoundingBox(min, max));
  EXPECT_FLOAT_EQ(max.y - min.y, 20.0f);
  V looseMin, looseMax;
  runtime.SetTightBounds(false);
  ASSERT_TRUE(runtime.GetBoundingBox(looseMin, looseMax));
  EXPECT_LT(looseMin.y, min.y);
  EXPECT_GT(looseMax.x, max.x);

  for (float size : {INFINITY, 3.4e38f}) {  // the second grows past the float range
    runtime.SetTreeSize(size, 0);
    EXPECT_EQ(runtime.Compute(nullptr, 9, true), kErrMalformed);
    EXPECT_FALSE(runtime.GetBoundingBox(min, max)) << "a failed growth leaves no geometry";
  }

  CTreeRuntime windy;
  EXPECT_TRUE(windy.SetBranchWindMethod(CTreeRuntime::kWindGpu));
  EXPECT_TRUE(windy.SetBranchLightingMethod(CTreeRuntime::kLightingDynamic));
  EXPECT_FALSE(windy.SetBranchWindMethod(7));
  EXPECT_FALSE(windy.SetNumWindMatrices(0));
  EXPECT_TRUE(windy.SetNumWindMatrices(3));
  ASSERT_EQ(windy.Compute(nullptr, 2, true), kOk);
  const CTreeStrip& strip = windy.GetBranchGeometry().lods[0][0];
  EXPECT_EQ(strip.normals.size(), strip.positions.size());
  ASSERT_EQ(strip.windMatrices.size(), strip.positions.size());
  EXPECT_EQ(*std::max_element(strip.windMatrices.begin(), strip.windMatrices.end()), 2);
}

TEST(TreeRuntime, SavedFormsComeBackExactlyAndDamageIsRefused) {
  CTreeRuntime::SetVerifyChecksums(true);
  CTreeModel model;
  model.levelCount = 3;
  model.levels[2].angle = 12.5f;
  CTreeRuntime runtime;
  ASSERT_EQ(runtime.SetModel(model), kOk);
  std::vector<uint8_t> block, again;
  ASSERT_EQ(runtime.SaveTree(block), kOk);
  CTreeRuntime loaded;
  ASSERT_EQ(loaded.LoadTree(block.data(), block.size()), kOk);
  ASSERT_TRUE(loaded.HasModel());
  ASSERT_EQ(loaded.SaveTree(again), kOk);
  EXPECT_EQ(again, block);

  auto refused = [&](std::vector<uint8_t> damaged) {
    CTreeRuntime target;
    return target.LoadTree(damaged.data(), damaged.size()) == kErrMalformed && target.HasModel() &&
           target.Model().levelCount == CTreeModel().levelCount;
  };
  auto flipped = block;
  flipped[tree_runtime::kFrameHeadSize + 3] ^= 0x40;
  EXPECT_TRUE(refused(flipped)) << "checksum";
  EXPECT_TRUE(refused({block.begin(), block.end() - 1})) << "cut short";
  // A value out of range under a correct checksum: the sides count.
  std::vector<uint8_t> payload(block.begin() + tree_runtime::kFrameHeadSize, block.end() - 4);
  payload[16] = 40;
  std::vector<uint8_t> outOfRange;
  ASSERT_EQ(tree_runtime::SealBlock(tree_runtime::kTreeSignature, 1, payload, outOfRange), kOk);
  EXPECT_TRUE(refused(outOfRange)) << "sides";

  // Blocks of other runtimes, and of a later version of ours, are kept as they are.
  auto newer = block;
  newer[tree_runtime::kSignatureSize] = 2;
  for (const std::vector<uint8_t>& kept : {std::vector<uint8_t>{'S', 'P', 'T', 0, 1, 2, 3}, newer}) {
    CTreeRuntime other;
    ASSERT_EQ(other.LoadTree(kept.data(), kept.size()), kOk);
    EXPECT_FALSE(other.HasModel());
    ASSERT_EQ(other.Compute(nullptr, 1, true), kOk);
    EXPECT_TRUE(other.GetBranchGeometry().lods.empty());
    ASSERT_EQ(other.SaveTree(again), kOk);
    EXPECT_EQ(again, kept);
  }
}

TEST(WindEngine, SavedFormsAndMatrices) {
  CWindSettings settings;
  settings.matrixCount = 4;
  settings.direction = {0, 0, -2};
  CWindEngine engine;
  ASSERT_EQ(engine.SetSettings(settings), kOk);
  std::vector<uint8_t> block, again;
  ASSERT_EQ(engine.Save(block), kOk);
  CWindEngine loaded;
  ASSERT_EQ(loaded.Load(block.data(), block.size()), kOk);
  EXPECT_EQ(loaded.GetNumWindMatrices(), 4);
  ASSERT_EQ(loaded.Save(again), kOk);
  EXPECT_EQ(again, block);
  block[tree_runtime::kFrameHeadSize] = 0;  // no matrices (the checksum fails first)
  EXPECT_EQ(loaded.Load(block.data(), block.size()), kErrMalformed);
  const std::vector<uint8_t> foreign{9, 8, 7};
  ASSERT_EQ(loaded.Load(foreign.data(), foreign.size()), kOk);
  ASSERT_EQ(loaded.Save(again), kOk);
  EXPECT_EQ(again, foreign);

  // Every matrix bends the top of a tree towards where the wind blows.
  std::vector<CMatrix4> matrices;
  ASSERT_EQ(engine.GetWindMatrices(0.7f, matrices), kOk);
  ASSERT_EQ(matrices.size(), 4u);
  for (const CMatrix4& m : matrices) EXPECT_LT(TransformCoord({0, 1, 0}, m).z, 0.0f);
}

}  // namespace
}  // namespace KX
