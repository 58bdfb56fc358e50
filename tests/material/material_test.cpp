#include <gtest/gtest.h>

#include <cstring>

#include "object/container.h"
#include "material/material.h"
#include "material_fixtures.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX {
namespace {

using test::Bytes;
using V = CVector3<float>;

// A standard material block of any stored version, from the fields of a material; `ids` are
// the channel ids to store (their count is the stored channel count).
Bytes StandardBody(int32_t id, const CStandardMaterial& m, int32_t minor, int32_t major,
                   const std::vector<int32_t>& ids) {
  Bytes b = test::MaterialBlocks(id, m.name);
  b.Version(major, minor);
  const bool old = major < 2;
  if (old) b.U8(m.materialFlag);
  for (const V& v : {m.ambient, m.diffuse, m.specular, m.emissive}) b.F32(v.x).F32(v.y).F32(v.z);
  for (float p : m.param) b.F32(p);
  if (!old) b.U8(m.materialFlag);
  b.I32(static_cast<int32_t>(ids.size()));
  for (int32_t i : ids) b.I32(i);
  const auto channel = [&](size_t i) { return i % CStandardMaterial::kChannels; };
  if (!old)
    for (size_t i = 0; i < ids.size(); ++i) b.F32(m.channelAmount[channel(i)]);
  if (!old && minor >= 1) {
    for (size_t i = 0; i < ids.size(); ++i) b.F32(m.channelOffset[channel(i)].u).F32(m.channelOffset[channel(i)].v);
    for (size_t i = 0; i < ids.size(); ++i) b.F32(m.channelTiling[channel(i)].u).F32(m.channelTiling[channel(i)].v);
  }
  return test::Record("CStandardMaterial", b);
}

class Materials : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }
  Status Load(const Bytes& file) { return test::LoadFromBytes(file.data, context); }
  template <class T>
  T* Root0() {
    return context.roots.empty() ? nullptr : KindOf<T>(context.roots[0].get());
  }
  CPersistContext context;
};

TEST_F(Materials, NewStandardMaterialIsByteExactAndKeepsItsDefaults) {
  CRefPtr<CStandardMaterial> material(new CStandardMaterial);
  material->Validate();
  EXPECT_EQ(material->channelCount, 12);
  EXPECT_EQ(material->channelAmount[4], 1.0f);
  EXPECT_EQ(material->channelTiling[11], (CUvPair{1, 1}));

  const Bytes record = StandardBody(1, *material, 1, 2, std::vector<int32_t>(12, 0));
  EXPECT_EQ(test::SaveRootToBytes(material.get()), test::NewFile().Append(record).data);
  EXPECT_EQ(material->GetSaveSize(), static_cast<int64_t>(record.size()));

  const CRefPtr<CBase> loaded = test::ExpectRoundTrip(material.get());
  auto* back = KindOf<CStandardMaterial>(loaded.get());
  ASSERT_TRUE(back);
  EXPECT_FALSE(back->IsValid());
  EXPECT_EQ(back->ambient, (V{0.2f, 0.2f, 0.2f}));
  EXPECT_EQ(back->diffuse, (V{0.8f, 0, 0}));
  EXPECT_EQ(back->specular, (V{0.5f, 0.5f, 0.5f}));
  EXPECT_EQ(back->param, material->param);
  EXPECT_EQ(back->channelAmount, material->channelAmount);
  EXPECT_EQ(back->channelOffset, material->channelOffset);
  EXPECT_EQ(back->channelTiling, material->channelTiling);
}

TEST_F(Materials, OlderStandardMaterialBlocks) {
  CRefPtr<CStandardMaterial> stored(new CStandardMaterial);
  stored->materialFlag = true;
  stored->param[2] = 9;
  stored->channelAmount.fill(0.5f);
  stored->channelOffset.fill({3, 3});
  stored->channelTiling.fill({7, 7});

  // 1.x: the flag first, ids only; channel 4 is weaker, every other amount and offset new.
  {
    CPersistContext ctx;
    const Bytes file = test::NewFile().Append(StandardBody(1, *stored, 50, 1, {0, 0, 0}));
    ASSERT_EQ(test::LoadFromBytes(file.data, ctx), kOk) << ctx.diagnostics.Describe();
    auto* m = KindOf<CStandardMaterial>(ctx.roots.at(0).get());
    EXPECT_TRUE(m->materialFlag);
    EXPECT_EQ(m->param[2], 9.0f);
    EXPECT_EQ(m->channelCount, 3);
    for (int i = 0; i < 12; ++i) {
      EXPECT_EQ(m->channelAmount[i], i == 4 ? 0.2f : 1.0f) << i;
      EXPECT_EQ(m->channelOffset[i], (CUvPair{0, 0}));
      EXPECT_EQ(m->channelTiling[i], (CUvPair{1, 1}));
    }
  }
  // 2.0: amounts, but offsets and tilings keep their defaults.
  {
    CPersistContext ctx;
    const Bytes file = test::NewFile().Append(StandardBody(1, *stored, 0, 2, std::vector<int32_t>(12, 0)));
    ASSERT_EQ(test::LoadFromBytes(file.data, ctx), kOk) << ctx.diagnostics.Describe();
    auto* m = KindOf<CStandardMaterial>(ctx.roots.at(0).get());
    EXPECT_TRUE(m->materialFlag);
    EXPECT_EQ(m->channelAmount[4], 0.5f);
    EXPECT_EQ(m->channelOffset[4], (CUvPair{0, 0}));
    EXPECT_EQ(m->channelTiling[4], (CUvPair{1, 1}));
  }
}

TEST_F(Materials, ChannelsBeyondTheTwelfthAreReadAndDropped) {
  CRefPtr<CStandardMaterial> stored(new CStandardMaterial);
  for (int i = 0; i < 12; ++i) stored->channelTiling[i] = {float(i), 1};
  // Channel 0 names texture 2, the surplus channel 13 names texture 3.
  std::vector<int32_t> ids(14, 0);
  ids[0] = 2;
  ids[13] = 3;
  const Bytes file = test::NewFile()
                         .Append(StandardBody(1, *stored, 1, 2, ids))
                         .Append(test::Record("CCubeMap", test::CubeMapBody(2, u"kept")))
                         .Append(test::Record("CCubeMap", test::CubeMapBody(3, u"surplus")));
  ASSERT_EQ(Load(file), kOk) << context.diagnostics.Describe();
  auto* m = Root0<CStandardMaterial>();
  ASSERT_TRUE(m);
  EXPECT_EQ(m->channelCount, 12);
  ASSERT_TRUE(m->channelTexture[0]);
  EXPECT_EQ(m->channelTexture[0]->name, u"kept");
  EXPECT_EQ(m->FindObject(u"surplus", nullptr, false), nullptr);
  // The tilings sit behind all fourteen offsets; reading them found the right ones.
  EXPECT_EQ(m->channelTiling[11], (CUvPair{11, 1}));
  // Saved back with the twelve channels there are.
  const CRefPtr<CBase> again = test::ExpectRoundTrip(m);
  EXPECT_EQ(KindOf<CStandardMaterial>(again.get())->channelCount, 12);
}

TEST_F(Materials, HostileChannelCountsAreStreamErrors) {
  CRefPtr<CStandardMaterial> stored(new CStandardMaterial);
  for (const int32_t count : {-1, 0x7FFFFFFF}) {
    Bytes file = test::NewFile().Append(StandardBody(1, *stored, 1, 2, {}));
    std::memcpy(file.data.data() + file.size() - 4, &count, 4);
    CPersistContext ctx;
    EXPECT_EQ(test::LoadFromBytes(file.data, ctx), kErrStream) << count;
  }
  // A count set by hand beyond the channels saves the channels there are.
  stored->channelCount = 40;
  test::ExpectRoundTrip(stored.get());
}

TEST_F(Materials, StandardMaterialCopiesAndSearchesItsChannels) {
  CRefPtr<CStandardMaterial> material(new CStandardMaterial);
  CRefPtr<CTextureMap> shared(new CTextureMap);
  shared->name = u"tex";
  material->channelTexture[2] = material->channelTexture[7] = shared;
  material->channelAmount[7] = 0.1f;
  EXPECT_EQ(material->FindObject(u"tex", nullptr, false), shared.get());

  CRefPtr<CBase> clone, duplicate;
  ASSERT_EQ(material->Clone(clone), kOk);
  EXPECT_EQ(KindOf<CStandardMaterial>(clone.get())->channelTexture[2], shared);
  DuplicateMap map;
  ASSERT_EQ(material->Duplicate(duplicate, map), kOk);
  auto* copy = KindOf<CStandardMaterial>(duplicate.get());
  EXPECT_NE(copy->channelTexture[2], shared);
  EXPECT_EQ(copy->channelTexture[2], copy->channelTexture[7]);  // one texture, one copy

  // AssignTo shares the textures; those the target had go to the caller.
  CRefPtr<CStandardMaterial> target(new CStandardMaterial);
  target->channelTexture[0] = new CCubeMap;
  ReleasedList released;
  ASSERT_EQ(material->AssignTo(target.get(), released), kOk);
  EXPECT_EQ(target->channelTexture[7], shared);
  EXPECT_FALSE(target->channelTexture[0]);
  EXPECT_EQ(released.size(), 1u);
  EXPECT_EQ(target->channelAmount[7], 0.1f);
  EXPECT_EQ(material->AssignTo(CRefPtr<CMultiMaterial>(new CMultiMaterial).get(), released), kErrMalformed);
  EXPECT_EQ(material->AssignTo(nullptr, released), kErrBadArgument);
}

TEST_F(Materials, MultiMaterialWithAGap) {
  CRefPtr<CMultiMaterial> multi(new CMultiMaterial);
  CRefPtr<CStandardMaterial> a(new CStandardMaterial), b(new CStandardMaterial);
  b->name = u"B";
  multi->subMaterials = {a, nullptr, b};
  EXPECT_EQ(multi->FindObject(u"B", nullptr, false), b.get());

  DuplicateMap map;
  CRefPtr<CBase> duplicate;
  ASSERT_EQ(multi->Duplicate(duplicate, map), kOk);
  auto* copy = KindOf<CMultiMaterial>(duplicate.get());
  ASSERT_EQ(copy->subMaterials.size(), 3u);
  EXPECT_FALSE(copy->subMaterials[1]);
  EXPECT_TRUE(copy->subMaterials[2] && copy->subMaterials[2] != b);

  // Valid only when every sub-material is.
  multi->Validate();
  EXPECT_TRUE(a->IsValid() && b->IsValid() && multi->IsValid());
  b->Invalidate();
  EXPECT_FALSE(multi->IsValid());

  Bytes body = test::MaterialBlocks(1, u"");
  const Bytes record = test::Record("CMultiMaterial", body.Version(2, 0).U32(3).I32(2).I32(0).I32(3));
  EXPECT_TRUE(test::StartsWithRecord(test::SaveRootToBytes(multi.get()), record));
  EXPECT_EQ(multi->GetSaveSize(), static_cast<int64_t>(record.size()));
}

TEST_F(Materials, BlendMaterial) {
  CRefPtr<CBlendMaterial> blend(new CBlendMaterial);
  EXPECT_TRUE(blend->IsValid());  // nothing in it can be out of date
  CRefPtr<CStandardMaterial> one(new CStandardMaterial);
  blend->material2 = one;
  EXPECT_FALSE(blend->IsValid());
  blend->Validate();
  EXPECT_TRUE(one->IsValid() && blend->IsValid());

  blend->blendValue = 0.5f;
  blend->extraObject = new CCubeMap;
  Bytes body = test::MaterialBlocks(1, u"");
  const Bytes record = test::Record("CBlendMaterial", body.Version(2, 0).F32(0.5f).I32(2).I32(0).I32(3));
  EXPECT_TRUE(test::StartsWithRecord(test::SaveRootToBytes(blend.get()), record));
  EXPECT_EQ(blend->GetSaveSize(), static_cast<int64_t>(record.size()));

  DuplicateMap map;
  CRefPtr<CBase> duplicate;
  ASSERT_EQ(blend->Duplicate(duplicate, map), kOk);
  auto* copy = KindOf<CBlendMaterial>(duplicate.get());
  EXPECT_TRUE(copy->extraObject && copy->extraObject != blend->extraObject);
  EXPECT_TRUE(copy->material2 && copy->material2 != one);
}

TEST_F(Materials, OldMultiAndBlendBlocksCarryAByteToDrop) {
  // Old layout: no version pairs; the byte comes first in each block.
  Bytes file = test::OldHeader("1.50").Append(test::OldEmptyThumbnail()).A("_CorvaRoot");
  file.A("CMultiMaterial").I32(1).A("multi").I32(0).I32(0).I32(0);
  file.U8(0xEE).U32(2).I32(2).I32(3);
  file.A("CBlendMaterial").I32(2).A("blend").I32(0).I32(0).I32(0);
  file.U8(0xEE).F32(0.75f).I32(0).I32(3).I32(0);
  file.A("CStandardMaterial").I32(3).A("std").I32(0).I32(0).I32(0);
  file.U8(1);
  for (int i = 0; i < 4 * 3 + 10; ++i) file.F32(0.5f);
  file.I32(0);
  ASSERT_EQ(Load(file), kOk) << context.diagnostics.Describe();
  auto* multi = Root0<CMultiMaterial>();
  ASSERT_TRUE(multi && multi->subMaterials.size() == 2);
  auto* blend = KindOf<CBlendMaterial>(multi->subMaterials[0].get());
  ASSERT_TRUE(blend);
  EXPECT_EQ(blend->blendValue, 0.75f);
  EXPECT_EQ(blend->material1, multi->subMaterials[1]);
  auto* standard = KindOf<CStandardMaterial>(blend->material1.get());
  EXPECT_TRUE(standard->materialFlag);
  EXPECT_EQ(standard->channelCount, 0);
  EXPECT_EQ(standard->channelAmount[4], 0.2f);
  test::ExpectRoundTrip(multi);
}

TEST_F(Materials, MaterialsThatContainThemselvesAreRefused) {
  Bytes body = test::MaterialBlocks(1, u"");
  body.Version(2, 0).U32(1).I32(1);
  CPersistContext ctx;
  EXPECT_EQ(test::LoadFromBytes(test::NewFile().Append(test::Record("CMultiMaterial", body)).data, ctx),
            kErrMalformed);
}

}  // namespace
}  // namespace KX
