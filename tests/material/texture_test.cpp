#include <gtest/gtest.h>

#include "object/container.h"
#include "image/image.h"
#include "material/material.h"
#include "material/texture.h"
#include "material_fixtures.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX {
namespace {

using test::Bytes;

class Textures : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }
  Status Load(const Bytes& file) { return test::LoadFromBytes(file.data, context); }
  template <class T>
  T* Root0() {
    return context.roots.empty() ? nullptr : KindOf<T>(context.roots[0].get());
  }
  CPersistContext context;
};

TEST_F(Textures, AbstractLevelsHaveNoCreator) {
  CRefPtr<CBase> none;
  for (const char* name : {"CMaterialBase", "CMaterial", "CTexture", "CLight"})
    EXPECT_EQ(CreateObject(name, none), kErrUnknownClass) << name;
}

TEST_F(Textures, TextureMapFromAnOldBlockCountsChannelsFromOne) {
  Bytes file = test::OldHeader("1.50").Append(test::OldEmptyThumbnail()).A("_CorvaRoot");
  file.A("CBlendTex").I32(1).A("blend").I32(0).I32(0).I32(0).U8(0x55);  // the dropped byte
  file.F32(0.5f).F32(0.25f).I32(2).I32(3);
  for (const auto& [id, channel] : {std::pair{2, 1}, std::pair{3, 0}}) {
    file.A("CTextureMap").I32(id).A("map").I32(0).I32(0).I32(0).U8(0x55);
    file.I32(channel).I32(0);
  }
  ASSERT_EQ(Load(file), kOk) << context.diagnostics.Describe();
  auto* blend = Root0<CBlendTex>();
  ASSERT_TRUE(blend);
  EXPECT_EQ(blend->weight1, 0.5f);
  EXPECT_EQ(blend->weight2, 0.25f);
  auto* first = KindOf<CTextureMap>(blend->texture1.get());
  auto* second = KindOf<CTextureMap>(blend->texture2.get());
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->channel, 0);
  EXPECT_EQ(second->channel, 0);  // a stored 0 does not become a channel before the first
  test::ExpectRoundTrip(blend);
}

TEST_F(Textures, CloneLeavesTheImageBehindDuplicateCopiesIt) {
  CRefPtr<CTextureMap> map(new CTextureMap);
  map->channel = 3;
  CRefPtr<CImage> image(new CImage);
  image->name = u"picture";
  map->image = image;
  EXPECT_EQ(map->FindObject(u"picture", nullptr, false), image.get());

  CRefPtr<CBase> clone;
  ASSERT_EQ(map->Clone(clone), kOk);
  auto* cloned = KindOf<CTextureMap>(clone.get());
  EXPECT_EQ(cloned->channel, 3);
  EXPECT_FALSE(cloned->image);

  DuplicateMap copies;
  CRefPtr<CBase> first, second;
  ASSERT_EQ(map->Duplicate(first, copies), kOk);
  auto* copy = KindOf<CTextureMap>(first.get());
  ASSERT_TRUE(copy->image);
  EXPECT_NE(copy->image, map->image);
  EXPECT_EQ(copy->image->name, u"picture");
  EXPECT_EQ(copies.at(image.get()), copy->image);
  EXPECT_EQ(map->Duplicate(second, copies), kNothingDone);
  EXPECT_EQ(second, first);

  // AssignTo shares the picture.
  ReleasedList released;
  ASSERT_EQ(map->AssignTo(cloned, released), kOk);
  EXPECT_EQ(cloned->image, map->image);
  EXPECT_EQ(map->AssignTo(CRefPtr<CBlendTex>(new CBlendTex).get(), released), kErrMalformed);
}

TEST_F(Textures, TextureMapKeepsOnlyPictures) {
  // The image id names a cube map: dropped with a warning, not linked.
  Bytes map = test::TextureBlocks(1, u"");
  map.Version(2, 0).I32(0).I32(2);
  const Bytes file = test::NewFile().Append(test::Record("CTextureMap", map))
                         .Append(test::Record("CCubeMap", test::CubeMapBody(2, u"")));
  ASSERT_EQ(Load(file), kOk);
  EXPECT_FALSE(Root0<CTextureMap>()->image);
  EXPECT_FALSE(context.diagnostics.warnings.empty());
}

TEST_F(Textures, NormalBumpSwitchesReadAnyNonZeroAndWriteOne) {
  Bytes body = test::TextureBlocks(1, u"bump");
  body.Version(2, 0).U8(2).U8(0).F32(0.5f).F32(1.5f).I32(0).I32(0);
  const Bytes record = test::Record("CNormalBumpTex", body);
  ASSERT_EQ(Load(test::NewFile().Append(record)), kOk) << context.diagnostics.Describe();
  auto* bump = Root0<CNormalBumpTex>();
  ASSERT_TRUE(bump);
  EXPECT_TRUE(bump->use1);
  EXPECT_FALSE(bump->use2);
  EXPECT_EQ(bump->amount2, 1.5f);

  Bytes expected = test::TextureBlocks(1, u"bump");
  expected.Version(2, 0).U8(1).U8(0).F32(0.5f).F32(1.5f).I32(0).I32(0);
  EXPECT_EQ(test::SaveRootToBytes(bump), test::NewFile().Append(test::Record("CNormalBumpTex", expected)).data);
  EXPECT_EQ(bump->GetSaveSize(), static_cast<int64_t>(record.size()));
}

TEST_F(Textures, BlocksAreByteExact) {
  // A cube map adds exactly its version pair to the texture blocks.
  CRefPtr<CCubeMap> cube(new CCubeMap);
  cube->name = u"c";
  const Bytes cubeRecord = test::Record("CCubeMap", test::CubeMapBody(1, u"c"));
  EXPECT_EQ(test::SaveRootToBytes(cube.get()), test::NewFile().Append(cubeRecord).data);
  EXPECT_EQ(cubeRecord.size() - test::Record("CCubeMap", test::TextureBlocks(1, u"c")).size(), 8u);
  EXPECT_EQ(cube->GetSaveSize(), static_cast<int64_t>(cubeRecord.size()));

  CRefPtr<CBlendTex> blend(new CBlendTex);
  blend->weight2 = 0.5f;
  blend->texture2 = new CRefractionMap;
  Bytes blendBody = test::TextureBlocks(1, u"");
  const Bytes blendRecord = test::Record("CBlendTex", blendBody.Version(2, 0).F32(1).F32(0.5f).I32(0).I32(2));
  EXPECT_TRUE(test::StartsWithRecord(test::SaveRootToBytes(blend.get()), blendRecord));
  EXPECT_EQ(blend->GetSaveSize(), static_cast<int64_t>(blendRecord.size()));

  CRefPtr<CTextureMap> map(new CTextureMap);
  map->channel = 2;
  map->image = new CImage;
  Bytes mapBody = test::TextureBlocks(1, u"");
  const Bytes mapRecord = test::Record("CTextureMap", mapBody.Version(2, 0).I32(2).I32(2));
  EXPECT_TRUE(test::StartsWithRecord(test::SaveRootToBytes(map.get()), mapRecord));
  EXPECT_EQ(map->GetSaveSize(), static_cast<int64_t>(mapRecord.size()));
}

}  // namespace
}  // namespace KX
