#include <gtest/gtest.h>

#include "content/content_data.h"
#include "support/bytes.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX {
namespace {

using test::Bytes;

class ContentDataTest : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }

  // A new-layout file whose single root is a record of `className`: the common blocks of an
  // unnamed record with no chain, then `own` (the class's block including its version pair).
  static Bytes File(const std::string& className, const Bytes& own) {
    Bytes body;
    body.Version(2, 0).I32(1).W(u"").Version(2, 0).I32(0).I32(0).I32(0);
    body.Version(2, 0).W(u"").I32(0).I32(0).I32(0).Append(own);
    return test::NewHeader().I32(0).I32(0).A("_Root").A(className)
        .I32(static_cast<int32_t>(body.size())).Append(body);
  }

  template <class T>
  T* LoadRoot(const Bytes& file) {
    context = std::make_unique<CPersistContext>();
    const Status status = test::LoadFromBytes(file.data, *context);
    EXPECT_EQ(status, kOk) << context->diagnostics.Describe();
    return Succeeded(status) ? KindOf<T>(context->roots.at(0).get()) : nullptr;
  }

  std::unique_ptr<CPersistContext> context;
};

// Bytes of the record classes' common blocks for an unnamed record: CBase 16 + CCorva 20 +
// CCustomData 24, plus the class name and the record size.
int64_t CommonSize(const std::string& className) { return 4 + className.size() + 4 + 60; }

TEST_F(ContentDataTest, SkyWithoutEntriesIsTwelveBytesOfItsOwn) {
  CRefPtr<CSkyData> sky(new CSkyData);
  EXPECT_EQ(sky->GetSaveSize(), CommonSize("CSkyData") + 12);
  const CRefPtr<CBase> copy = test::ExpectRoundTrip(sky.get());
  auto* loaded = KindOf<CSkyData>(copy.get());
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(loaded->entries.empty());

  sky->entries = {{{1, 2, 3}}, {{4, 5, 6}}};
  EXPECT_EQ(test::SaveRootToBytes(sky.get()),
            File("CSkyData", Bytes().Version(2, 0).I32(2).I32(1).I32(2).I32(3).I32(4).I32(5).I32(6))
                .data);
}

TEST_F(ContentDataTest, WaterDefaultsAndLayout) {
  CRefPtr<CWaterData> water(new CWaterData);
  EXPECT_EQ(water->floatValue, 1.0f);
  EXPECT_EQ(water->intValue, 0);
  water->intValue = 9;
  water->entries = {{{7, 8, 9}}};
  EXPECT_EQ(water->GetSaveSize(), CommonSize("CWaterData") + 20 + 12);
  EXPECT_EQ(test::SaveRootToBytes(water.get()),
            File("CWaterData", Bytes().Version(2, 0).I32(1).I32(7).I32(8).I32(9).F32(1.0f).I32(9)).data);
}

TEST_F(ContentDataTest, RoseOfVersionTwoZeroLoadsWithoutFlagAndExtra) {
  Bytes own;
  own.Version(2, 0);
  for (int i = 0; i < 59; ++i) own.U8(static_cast<uint8_t>(i));
  auto* rose = LoadRoot<CRoseData>(File("CRoseData", own));
  ASSERT_TRUE(rose);
  EXPECT_FALSE(rose->flag);
  EXPECT_EQ(rose->extra, 0);
  EXPECT_EQ(rose->block1[20], 20);
  EXPECT_EQ(rose->block3[14], 58);
  // Written back as 2.02 with 72 bytes of its own.
  EXPECT_EQ(rose->GetSaveSize(), CommonSize("CRoseData") + 72);
  Bytes current;
  current.Version(2, 2);
  for (int i = 0; i < 59; ++i) current.U8(static_cast<uint8_t>(i));
  current.U8(0).I32(0);
  EXPECT_EQ(test::SaveRootToBytes(rose), File("CRoseData", current).data);

  // 2.01 has the flag but no extra value.
  Bytes withFlag;
  withFlag.Version(2, 1);
  for (int i = 0; i < 59; ++i) withFlag.U8(0);
  withFlag.U8(5);
  auto* flagged = LoadRoot<CRoseData>(File("CRoseData", withFlag));
  ASSERT_TRUE(flagged);
  EXPECT_TRUE(flagged->flag);
}

TEST_F(ContentDataTest, AccessoryEntriesComeBackInKeyOrder) {
  // Version 2.00: no text. The file lists "b" before "a".
  Bytes own;
  own.Version(2, 0).I32(2);
  for (int i = 0; i < 7; ++i) own.I32(20 + i);  // value of "b"
  for (int i = 0; i < 7; ++i) own.I32(10 + i);  // value of "a"
  own.W(u"b").W(u"a");
  auto* acc = LoadRoot<CAccData>(File("CAccData", own));
  ASSERT_TRUE(acc);
  ASSERT_EQ(acc->entries.size(), 2u);
  EXPECT_EQ(acc->entries.begin()->first, u"a");
  EXPECT_EQ(acc->entries.begin()->second.values[0], 10);
  EXPECT_TRUE(acc->text.empty());

  Bytes saved;
  saved.Version(2, 1).I32(2);
  for (int i = 0; i < 7; ++i) saved.I32(10 + i);
  for (int i = 0; i < 7; ++i) saved.I32(20 + i);
  saved.W(u"a").W(u"b").W(u"");
  EXPECT_EQ(acc->GetSaveSize(), CommonSize("CAccData") + 16 + 2 * (32 + 2));
  EXPECT_EQ(test::SaveRootToBytes(acc), File("CAccData", saved).data);
}

TEST_F(ContentDataTest, AccessoryCountBeyondTheFileIsAStreamError) {
  CPersistContext ctx;
  EXPECT_EQ(test::LoadFromBytes(File("CAccData", Bytes().Version(2, 1).I32(0x10000000)).data, ctx),
            kErrStream);
}

TEST_F(ContentDataTest, HeadDataOfAnOlderVersionLoadsEmptyAndIsWrittenAsTwoSix) {
  Bytes own;
  own.Version(2, 5).I32(7).I32(8).I32(9);
  for (int i = 0; i < 788; ++i) own.U8(0xAB);
  auto* head = LoadRoot<CHeadData>(File("CHeadData", own));
  ASSERT_TRUE(head);
  EXPECT_EQ(head->reference, nullptr);
  EXPECT_TRUE(head->list1.empty());
  EXPECT_EQ(head->block[0], 0);
  Bytes saved;
  saved.Version(2, 6).I32(0).I32(0).I32(0).I32(0).I32(0);
  for (size_t i = 0; i < CHeadData::kBlockSize; ++i) saved.U8(0);
  EXPECT_EQ(test::SaveRootToBytes(head), File("CHeadData", saved).data);
}

TEST_F(ContentDataTest, HeadDataReferencesLinkAndRoundTrip) {
  CRefPtr<test::CTestObject> root(new test::CTestObject);
  CRefPtr<CRawData> target(new CRawData);
  target->name = u"target";
  CRefPtr<CHeadData> head(new CHeadData);
  EXPECT_TRUE(::KX::Succeeded(root->AttachCustomData(target.get())));
  EXPECT_TRUE(::KX::Succeeded(root->AttachCustomData(head.get())));
  head->reference = target.get();
  head->list1 = {target.get(), nullptr};
  head->list2 = {root.get()};
  head->vectors1 = {{1, 2, 3}};
  head->block[767] = 9;
  auto loaded = test::ExpectRoundTrip(root.get());
  auto* copy = KindOf<CCorva>(loaded.get());
  ASSERT_TRUE(copy && copy->customData && copy->customData->next);
  auto* loadedHead = KindOf<CHeadData>(copy->customData->next.get());
  ASSERT_TRUE(loadedHead);
  EXPECT_EQ(loadedHead->reference, copy->customData.get());
  EXPECT_EQ(loadedHead->list1, (std::vector<CBase*>{copy->customData.get(), nullptr}));
  EXPECT_EQ(loadedHead->list2, (std::vector<CBase*>{copy}));
  EXPECT_EQ(loadedHead->block[767], 9);
}

// Remapping after a copy points the copy's plain references at the copies of what they named,
// or at nothing when that was not copied: never at the originals.
TEST_F(ContentDataTest, HeadDataCopiesNameCopiesOrNothing) {
  CRefPtr<test::CTestObject> root(new test::CTestObject), outsider(new test::CTestObject);
  CRefPtr<CRawData> target(new CRawData);
  CRefPtr<CHeadData> head(new CHeadData);
  ASSERT_EQ(root->AttachCustomData(target.get()), kOk);
  ASSERT_EQ(root->AttachCustomData(head.get()), kOk);
  head->reference = target.get();
  DuplicateMap copies;
  CRefPtr<CBase> dup;
  ASSERT_EQ(root->Duplicate(dup, copies), kOk);
  auto* copy = KindOf<CHeadData>(copies.at(head.get()).get());
  ASSERT_TRUE(copy);
  // The lists as an AssignTo from the original would leave them.
  copy->list1 = {root.get(), outsider.get()};
  copy->list2 = {outsider.get()};
  ASSERT_EQ(KindOf<CCorva>(dup.get())->RemapReferences(copies), kOk);
  EXPECT_EQ(copy->reference, copies.at(target.get()).get());
  EXPECT_EQ(copy->list1, (std::vector<CBase*>{dup.get(), nullptr}));
  EXPECT_EQ(copy->list2, (std::vector<CBase*>{nullptr}));
  EXPECT_EQ(head->reference, target.get());
  // Searches do not go through them.
  EXPECT_EQ(head->FindObject(std::nullopt, &test::CTestObject::classRecord, false), nullptr);
}

TEST_F(ContentDataTest, HeadDataReferenceToAnObjectNothingKeepsIsDropped) {
  // The reference names a record that is neither a root nor owned by anything.
  Bytes own;
  own.Version(2, 6).I32(2).I32(0).I32(0).I32(0).I32(0);
  for (size_t i = 0; i < CHeadData::kBlockSize; ++i) own.U8(0);
  Bytes file = File("CHeadData", own);
  Bytes loose;
  {
    Bytes body;
    body.Version(2, 0).I32(2).W(u"").Version(2, 0).I32(0).I32(0).I32(0);
    body.Version(2, 0).W(u"").I32(0).I32(0).I32(0).Version(2, 0).I32(0).I32(0);
    loose.A("CRawData").I32(static_cast<int32_t>(body.size())).Append(body);
  }
  file.Append(loose);
  auto* head = LoadRoot<CHeadData>(file);
  ASSERT_TRUE(head);
  EXPECT_EQ(head->reference, nullptr);
  EXPECT_EQ(context->diagnostics.warnings.size(), 1u);
}

TEST_F(ContentDataTest, CloneAndAssignTo) {
  CRefPtr<CHeadData> head(new CHeadData);
  CRefPtr<CRawData> someone(new CRawData);
  head->reference = someone.get();
  head->list1 = {someone.get()};
  head->vectors2 = {{4, 5, 6}};
  head->block[3] = 1;
  CRefPtr<CBase> clone;
  ASSERT_EQ(head->Clone(clone), kOk);
  auto* copy = static_cast<CHeadData*>(clone.get());
  EXPECT_EQ(copy->reference, someone.get());
  EXPECT_TRUE(copy->list1.empty());
  EXPECT_EQ(copy->vectors2.size(), 1u);
  EXPECT_EQ(copy->block[3], 1);

  ReleasedList released;
  CRefPtr<CExCntData> from(new CExCntData), to(new CExCntData);
  from->text1 = u"new";
  to->text1 = u"kept";
  from->key = u"k";
  ASSERT_EQ(from->AssignTo(to.get(), released), kOk);
  EXPECT_EQ(to->text1, u"kept");
  EXPECT_EQ(to->key, u"k");

  CRefPtr<CRoseData> rose(new CRoseData);
  EXPECT_EQ(rose->AssignTo(to.get(), released), kErrBadArgument);
  CRefPtr<CSkyData> sky(new CSkyData);
  EXPECT_EQ(sky->AssignTo(to.get(), released), kErrMalformed);
  rose->extra = 4;
  CRefPtr<CRoseData> otherRose(new CRoseData);
  ASSERT_EQ(rose->AssignTo(otherRose.get(), released), kOk);
  EXPECT_EQ(otherRose->extra, 4);
}

}  // namespace
}  // namespace KX
