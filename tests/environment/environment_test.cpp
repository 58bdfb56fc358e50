#include <gtest/gtest.h>

#include "content/content_data.h"
#include "object/container.h"
#include "environment/environment.h"
#include "environment/terrain.h"
#include "material/walk_probe.h"
#include "scene/bounding_objects.h"
#include "support/bytes.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX {
namespace {

using test::Bytes;
using V = CVector3<float>;

Bytes NewFile() { return test::NewHeader().I32(0).I32(0); }
Bytes BaseBlocks(int32_t id) {
  return Bytes().Version(2, 0).I32(id).I32(0).Version(2, 0).I32(0).I32(0).I32(0);
}
Bytes Record(const char* className, const Bytes& body) {
  return Bytes().A(className).I32(static_cast<int32_t>(body.size())).Append(body);
}
Bytes Vec(Bytes b, const V& v) { return b.F32(v.x).F32(v.y).F32(v.z); }
// A box record whose first corner is (marker, 0, 0).
Bytes BoxRecord(int32_t id, float marker) {
  Bytes body = BaseBlocks(id).Version(2, 0).F32(marker);
  for (int i = 1; i < 24; ++i) body.F32(0);
  return Record("CBoundingBox", body);
}

CRefPtr<CWater> WaterWithSettings() {
  CRefPtr<CWater> water(new CWater);
  water->waterVector1 = {1, 2, 3};
  water->waterFlag1 = true;
  water->waterVector2 = {4, 5, 6};
  water->waterVector3 = {7, 8, 9};
  water->waterValue1 = 10;
  water->waterValue2 = 11;
  water->waterValue3 = 12;
  water->waterValue4 = 13;
  water->waterValue5 = 14;
  water->waterValue6 = 15;
  water->waterValue7 = 16;
  water->waterValue8 = 17;
  water->waterValue9 = 18;
  water->waterFlag3 = true;
  return water;
}

// The water fields from waterVector1 to waterValue8.
Bytes WaterHead(const CWater& w) {
  Bytes b = Vec(Bytes(), w.waterVector1).U8(w.waterFlag1);
  b = Vec(Vec(b, w.waterVector2), w.waterVector3);
  for (float v : {w.waterValue1, w.waterValue2, w.waterValue3, w.waterValue4, w.waterValue5,
                  w.waterValue6, w.waterValue7, w.waterValue8})
    b.F32(v);
  return b;
}

class Environment : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }
  Status Load(const Bytes& file) {
    const Status status = test::LoadFromBytes(file.data, context);
    EXPECT_TRUE(context.diagnostics.warnings.empty()) << context.diagnostics.Describe();
    return status;
  }
  template <class T>
  T* Root(size_t i = 0) {
    return i < context.roots.size() ? KindOf<T>(context.roots[i].get()) : nullptr;
  }
  CPersistContext context;
};

TEST_F(Environment, WaterBlockIsByteExactAndOlderBlocksLackValue9) {
  CRefPtr<CWater> water = WaterWithSettings();
  CRefPtr<CBoundingBox> box(new CBoundingBox);
  box->corners[0].x = 3;
  water->content = box;
  const Bytes body = BaseBlocks(1).Version(2, 1).I32(2).Append(WaterHead(*water)).F32(18).U8(0).U8(1);
  EXPECT_EQ(body.size() - BaseBlocks(1).size(), 87u);
  const Bytes expected = NewFile().A("_Root").Append(Record("CWater", body)).Append(BoxRecord(2, 3));
  EXPECT_EQ(test::SaveRootToBytes(water.get()), expected.data);
  EXPECT_EQ(water->GetSaveSize(), static_cast<int64_t>(Record("CWater", body).size()));

  // 2.0: the two flags follow waterValue8 directly.
  const Bytes old = NewFile().A("_Root")
                        .Append(Record("CWater", BaseBlocks(1).Version(2, 0).I32(2)
                                                     .Append(WaterHead(*water)).U8(1).U8(0)))
                        .Append(BoxRecord(2, 4));
  ASSERT_EQ(Load(old), kOk) << context.diagnostics.Describe();
  auto* loaded = Root<CWater>();
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->waterValue8, 17);
  EXPECT_EQ(loaded->waterValue9, 0);
  EXPECT_TRUE(loaded->waterFlag2);
  EXPECT_FALSE(loaded->waterFlag3);
  EXPECT_EQ(loaded->waterVector3, (V{7, 8, 9}));
  ASSERT_TRUE(loaded->content);
  EXPECT_EQ(KindOf<CBoundingBox>(loaded->content.get())->corners[0].x, 4);

  // A newer water block is refused.
  const Bytes newer = NewFile().A("_Root").Append(
      Record("CWater", BaseBlocks(1).Version(2, 2).I32(0).Append(WaterHead(*water)).F32(0).U8(0).U8(0)));
  CPersistContext ctx;
  EXPECT_EQ(test::LoadFromBytes(newer.data, ctx), kErrNewerVersion);
}

TEST_F(Environment, OldLayoutWaterAndSkyLoad) {
  CRefPtr<CWater> settings = WaterWithSettings();
  Bytes file = test::OldHeader("1.50").Append(test::OldEmptyThumbnail());
  file.A("_CorvaRoot").A("CWater").I32(1).A("lake").I32(0).I32(0).I32(0).I32(2);
  file.Append(WaterHead(*settings)).U8(1).U8(1);
  file.A("_CorvaRoot").A("CSky").I32(2).A("").I32(0).I32(0).I32(0).I32(0).U8(1);
  ASSERT_EQ(Load(file), kOk) << context.diagnostics.Describe();
  auto* water = Root<CWater>(0);
  auto* sky = Root<CSky>(1);
  ASSERT_TRUE(water && sky);
  EXPECT_EQ(water->name, u"lake");
  EXPECT_EQ(water->waterValue1, 10);
  EXPECT_EQ(water->waterValue9, 0);
  EXPECT_TRUE(water->waterFlag2 && water->waterFlag3);
  EXPECT_EQ(water->content.get(), sky);  // the sky is the water's content here
  EXPECT_TRUE(sky->skyFlag);
  EXPECT_FALSE(sky->content);
}

TEST_F(Environment, SkyAndTerrainBlocks) {
  CRefPtr<CSky> sky(new CSky);
  sky->skyFlag = true;
  CRefPtr<CTerrain> terrain(new CTerrain);
  sky->content = terrain;
  terrain->content = new CBoundingBox;
  const Bytes skyBody = BaseBlocks(1).Version(2, 0).I32(2).U8(1);
  const Bytes terrainBody = BaseBlocks(2).Version(2, 0).I32(3);
  EXPECT_EQ(skyBody.size() - BaseBlocks(1).size(), 13u);
  EXPECT_EQ(terrainBody.size() - BaseBlocks(2).size(), 12u);
  const Bytes expected = NewFile().A("_Root").Append(Record("CSky", skyBody))
                             .Append(Record("CTerrain", terrainBody)).Append(BoxRecord(3, 0));
  EXPECT_EQ(test::SaveRootToBytes(sky.get()), expected.data);
  EXPECT_EQ(sky->GetSaveSize(), static_cast<int64_t>(Record("CSky", skyBody).size()));
  EXPECT_EQ(terrain->GetSaveSize(), static_cast<int64_t>(Record("CTerrain", terrainBody).size()));
}

TEST_F(Environment, CopiesOfSkyWaterAndTerrain) {
  CRefPtr<CBoundingBox> shared(new CBoundingBox);
  shared->name = u"ground";
  CRefPtr<CWater> water = WaterWithSettings();
  CRefPtr<CSky> sky(new CSky);
  CRefPtr<CTerrain> terrain(new CTerrain);
  sky->skyFlag = true;
  for (CEnvironmentObject* object : {static_cast<CEnvironmentObject*>(water.get()),
                                     static_cast<CEnvironmentObject*>(sky.get()),
                                     static_cast<CEnvironmentObject*>(terrain.get())}) {
    SCOPED_TRACE(object->GetRuntimeClass()->className);
    EXPECT_FALSE(object->HasAttachments());
    object->content = shared;
    EXPECT_TRUE(object->HasAttachments());
    EXPECT_EQ(object->FindObject(u"ground", nullptr, false), shared.get());

    // A clone has no content.
    CRefPtr<CBase> clone;
    ASSERT_EQ(object->Clone(clone), kOk);
    ASSERT_EQ(clone->GetRuntimeClass(), object->GetRuntimeClass());
    EXPECT_FALSE(static_cast<CEnvironmentObject*>(clone.get())->content);
  }
  CRefPtr<CBase> clone;
  ASSERT_EQ(water->Clone(clone), kOk);
  EXPECT_EQ(KindOf<CWater>(clone.get())->waterValue9, 18);
  EXPECT_EQ(KindOf<CWater>(clone.get())->waterVector2, (V{4, 5, 6}));
  ASSERT_EQ(sky->Clone(clone), kOk);
  EXPECT_TRUE(KindOf<CSky>(clone.get())->skyFlag);

  // Duplicating through one map keeps the shared content shared.
  DuplicateMap map;
  CRefPtr<CBase> waterCopy, skyCopy;
  ASSERT_EQ(water->Duplicate(waterCopy, map), kOk);
  ASSERT_EQ(sky->Duplicate(skyCopy, map), kOk);
  CCorva* contentCopy = KindOf<CWater>(waterCopy.get())->content.get();
  ASSERT_TRUE(contentCopy);
  EXPECT_NE(contentCopy, shared.get());
  EXPECT_EQ(KindOf<CSky>(skyCopy.get())->content.get(), contentCopy);
  EXPECT_EQ(KindOf<CWater>(waterCopy.get())->waterValue7, 16);
  CRefPtr<CBase> again;
  EXPECT_EQ(water->Duplicate(again, map), kNothingDone);
  EXPECT_EQ(again, waterCopy);

  // Assigning copies the settings and shares the content; the old content is handed back.
  CRefPtr<CWater> target(new CWater);
  CRefPtr<CBoundingBox> before(new CBoundingBox);
  target->content = before;
  ReleasedList released;
  ASSERT_EQ(water->AssignTo(target.get(), released), kOk);
  EXPECT_EQ(target->content, water->content);
  EXPECT_EQ(target->waterValue4, 13);
  EXPECT_TRUE(target->waterFlag1);
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0].get(), before.get());
  ASSERT_EQ(water->AssignTo(water.get(), released), kOk);
  EXPECT_EQ(water->content, shared);
  EXPECT_EQ(sky->AssignTo(water.get(), released), kErrMalformed);
  EXPECT_EQ(terrain->AssignTo(sky.get(), released), kErrMalformed);
  EXPECT_EQ(water->content, shared);
  CRefPtr<CTerrain> otherTerrain(new CTerrain);
  ASSERT_EQ(terrain->AssignTo(otherTerrain.get(), released), kOk);
  EXPECT_EQ(otherTerrain->content, shared);
}

TEST_F(Environment, QuadTreeKeepsEachChildInItsSlot) {
  CRefPtr<CQuadTree> tree(new CQuadTree);
  tree->origin[0] = 1.5f;
  tree->origin[1] = -2;
  tree->quadValue1 = 3;
  tree->quadValue2 = 0x80000001u;
  EXPECT_FALSE(tree->HasAttachments());
  CRefPtr<CBoundingBox> leaf(new CBoundingBox);
  leaf->corners[0].x = 9;
  tree->children[2] = leaf;
  EXPECT_TRUE(tree->HasAttachments());
  const Bytes body = BaseBlocks(1).Version(2, 0).F32(1.5f).F32(-2).I32(3).U32(0x80000001u)
                         .I32(0).I32(0).I32(2).I32(0);
  EXPECT_EQ(body.size() - BaseBlocks(1).size(), 40u);
  const Bytes expected = NewFile().A("_Root").Append(Record("CQuadTree", body)).Append(BoxRecord(2, 9));
  EXPECT_EQ(test::SaveRootToBytes(tree.get()), expected.data);
  EXPECT_EQ(tree->GetSaveSize(), static_cast<int64_t>(Record("CQuadTree", body).size()));

  ASSERT_EQ(Load(expected), kOk);
  auto* loaded = Root<CQuadTree>();
  ASSERT_TRUE(loaded);
  EXPECT_FALSE(loaded->children[0] || loaded->children[1] || loaded->children[3]);
  ASSERT_TRUE(loaded->children[2]);
  EXPECT_EQ(KindOf<CBoundingBox>(loaded->children[2].get())->corners[0].x, 9);
  EXPECT_EQ(loaded->quadValue2, 0x80000001u);

  // Copies: a clone keeps the values only; a duplicate copies each child into its slot.
  CRefPtr<CBase> clone;
  ASSERT_EQ(tree->Clone(clone), kOk);
  auto* cloned = KindOf<CQuadTree>(clone.get());
  EXPECT_EQ(cloned->origin[1], -2);
  EXPECT_EQ(cloned->quadValue1, 3u);
  EXPECT_FALSE(cloned->HasAttachments());
  DuplicateMap map;
  CRefPtr<CBase> dup;
  ASSERT_EQ(tree->Duplicate(dup, map), kOk);
  auto* duplicated = KindOf<CQuadTree>(dup.get());
  EXPECT_TRUE(duplicated->modified);
  EXPECT_EQ(duplicated->children[2].get(), map.at(leaf.get()).get());
  EXPECT_FALSE(duplicated->children[0]);

  // Assigning copies nothing of the node, but refuses other classes.
  ReleasedList released;
  CRefPtr<CQuadTree> target(new CQuadTree);
  ASSERT_EQ(tree->AssignTo(target.get(), released), kOk);
  EXPECT_EQ(target->quadValue1, 0u);
  EXPECT_FALSE(target->children[2]);
  EXPECT_EQ(tree->AssignTo(CRefPtr<CHeightMap>(new CHeightMap).get(), released), kErrMalformed);

  // A node listed as its own grandchild is refused, not followed.
  const Bytes cycle = NewFile().A("_Root")
                          .Append(Record("CQuadTree", BaseBlocks(1).Version(2, 0).F32(0).F32(0).I32(0).I32(0)
                                                          .I32(2).I32(0).I32(0).I32(0)))
                          .Append(Record("CQuadTree", BaseBlocks(2).Version(2, 0).F32(0).F32(0).I32(0).I32(0)
                                                          .I32(0).I32(0).I32(0).I32(1)));
  CPersistContext ctx;
  EXPECT_EQ(test::LoadFromBytes(cycle.data, ctx), kErrMalformed);
}

TEST_F(Environment, QuadTreeSearchesAndCollectsChildrenInSlotOrder) {
  CRefPtr<CQuadTree> root(new CQuadTree);
  CRefPtr<CQuadTree> inner(new CQuadTree);
  CRefPtr<CBoundingBox> a(new CBoundingBox), b(new CBoundingBox);
  a->name = u"leaf";
  b->name = u"leaf";
  root->children[3] = a;
  root->children[1] = inner;
  inner->children[0] = b;
  EXPECT_EQ(root->FindObject(u"leaf", nullptr, false), b.get());
  std::vector<CBase*> found;
  root->FindObjects(found, std::nullopt, nullptr, false);
  EXPECT_EQ(found, (std::vector<CBase*>{root.get(), inner.get(), b.get(), a.get()}));
  const CRefPtr<CBase> loaded = test::ExpectRoundTrip(root.get());
  auto* tree = KindOf<CQuadTree>(loaded.get());
  ASSERT_TRUE(tree && tree->children[1] && tree->children[3]);
  EXPECT_TRUE(KindOf<CQuadTree>(tree->children[1].get())->children[0]);
}

TEST_F(Environment, HeightMapAndHeightData) {
  CRefPtr<CHeightMap> map(new CHeightMap);
  map->heightData.range1[0] = 4;
  map->heightData.samples = {1, 2, 3};
  CRefPtr<CHeightData> source(new CHeightData);
  source->name = u"src";
  source->range2[1] = 7;
  source->heightValue2 = 5;
  source->samples = {1, 2};
  EXPECT_FALSE(map->HasAttachments());
  map->source = source;
  EXPECT_TRUE(map->HasAttachments());
  EXPECT_EQ(map->FindObject(u"src", nullptr, false), source.get());

  // Only the version pairs and the source reference are stored.
  const Bytes mapBody = BaseBlocks(1).Version(2, 0).I32(2);
  const Bytes dataBody = Bytes().Version(2, 0).I32(2).W(u"src").Version(2, 0).I32(0).I32(0).I32(0).Version(2, 0);
  EXPECT_EQ(mapBody.size() - BaseBlocks(1).size(), 12u);
  const Bytes named = NewFile().A("_Root").Append(Record("CHeightMap", mapBody))
                          .Append(Record("CHeightData", dataBody));
  EXPECT_EQ(test::SaveRootToBytes(map.get()), named.data);
  EXPECT_EQ(map->GetSaveSize(), static_cast<int64_t>(Record("CHeightMap", mapBody).size()));
  EXPECT_EQ(source->GetSaveSize(), static_cast<int64_t>(Record("CHeightData", dataBody).size()));
  ASSERT_EQ(Load(named), kOk);
  auto* loaded = Root<CHeightMap>();
  ASSERT_TRUE(loaded && loaded->source);
  EXPECT_EQ(loaded->source->name, u"src");

  // Clones: parameters without samples; a map clone has a fresh block and no source.
  CRefPtr<CBase> clone;
  ASSERT_EQ(source->Clone(clone), kOk);
  auto* data = KindOf<CHeightData>(clone.get());
  EXPECT_EQ(data->range2[1], 7);
  EXPECT_EQ(data->heightValue2, 5u);
  EXPECT_TRUE(data->samples.empty());
  ASSERT_EQ(map->Clone(clone), kOk);
  auto* mapClone = KindOf<CHeightMap>(clone.get());
  EXPECT_FALSE(mapClone->source);
  EXPECT_EQ(mapClone->heightData.range1[0], 0);
  EXPECT_TRUE(mapClone->heightData.samples.empty());
  EXPECT_GT(map->GetMemorySize(), mapClone->GetMemorySize());

  DuplicateMap copies;
  CRefPtr<CBase> dup;
  ASSERT_EQ(map->Duplicate(dup, copies), kOk);
  EXPECT_EQ(KindOf<CHeightMap>(dup.get())->source.get(), copies.at(source.get()).get());

  ReleasedList released;
  EXPECT_EQ(map->AssignTo(source.get(), released), kErrMalformed);
  EXPECT_EQ(source->AssignTo(map.get(), released), kErrMalformed);
  CRefPtr<CHeightMap> target(new CHeightMap);
  ASSERT_EQ(map->AssignTo(target.get(), released), kOk);
  EXPECT_FALSE(target->source);
}

using Parts = std::vector<CRefPtr<CCubeMap>>;

template <class T>
CRefPtr<CCorva> WithContent(const Parts& p) {
  CRefPtr<T> object(new T);
  object->content = p[0];
  return CRefPtr<CCorva>(object);
}

// Sky, water and terrain take their content into every walk; a quad-tree node's children and a
// height map's source are searched, saved and remapped with it but not name-bound; nothing
// goes into a height map's own height-field block.
const test::WalkCase kWalkCases[] = {
    {"sky", kFollowAll, 1, WithContent<CSky>},
    {"water", kFollowAll, 1, WithContent<CWater>},
    {"terrain", kFollowAll, 1, WithContent<CTerrain>},
    {"quad-tree node", kSearch | kCollect | kRemap, 2,
     [](const Parts& p) {
       CRefPtr<CQuadTree> node(new CQuadTree);
       node->children[3] = p[1];
       node->children[1] = p[0];
       return CRefPtr<CCorva>(node);
     }},
    {"height map source", kSearch | kCollect | kRemap, 1,
     [](const Parts& p) {
       CRefPtr<CHeightMap> map(new CHeightMap);
       map->source = p[0];
       return CRefPtr<CCorva>(map);
     }},
    {"height map block", kNoWalk, 1,
     [](const Parts& p) {
       CRefPtr<CHeightMap> map(new CHeightMap);
       EXPECT_EQ(map->heightData.AttachCustomData(p[0]->GetCustomData()), kOk);
       return CRefPtr<CCorva>(map);
     }},
};

TEST_F(Environment, EachWalkReachesThePartsItShould) {
  for (const test::WalkCase& c : kWalkCases) {
    SCOPED_TRACE(c.what);
    test::ExpectWalks(c);
  }
}

// A copy made through a height map and a terrain node names the copies of what the originals
// named, not the originals.
TEST_F(Environment, RemappingReachesWhatTheNodesOwn) {
  CRefPtr<CTerrain> patch(new CTerrain);
  CRefPtr<CSky> neighbour(new CSky);
  CRefPtr<CHeadData> record(new CHeadData);
  record->reference = neighbour.get();
  ASSERT_EQ(patch->AttachCustomData(record.get()), kOk);
  CRefPtr<CQuadTree> tree(new CQuadTree);
  tree->children[0] = patch;
  tree->children[2] = neighbour;
  CRefPtr<CHeightMap> map(new CHeightMap);
  map->source = tree;

  DuplicateMap copies;
  CRefPtr<CBase> dup;
  ASSERT_EQ(map->Duplicate(dup, copies), kOk);
  ASSERT_EQ(KindOf<CHeightMap>(dup.get())->RemapReferences(copies), kOk);
  auto* copiedRecord = KindOf<CHeadData>(copies.at(record.get()).get());
  ASSERT_TRUE(copiedRecord);
  EXPECT_EQ(copiedRecord->reference, copies.at(neighbour.get()).get());
  EXPECT_EQ(record->reference, neighbour.get());
}

}  // namespace
}  // namespace KX
