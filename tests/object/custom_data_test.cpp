#include <gtest/gtest.h>

#include "object/custom_data.h"
#include "support/bytes.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX {
namespace {

using test::Bytes;

class CustomDataTest : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }
};

CRefPtr<CRawData> Raw(const char16_t* name, std::vector<uint8_t> payload = {}) {
  CRefPtr<CRawData> r(new CRawData);
  r->name = name;
  EXPECT_TRUE(::KX::Succeeded(r->SetPayload(payload)));
  return r;
}

TEST_F(CustomDataTest, EmptyPayloadWritesSixteenBytesAndLoadsWithoutData) {
  auto empty = Raw(u"");
  EXPECT_EQ(empty->GetSaveSize(), 92);
  auto loaded = test::ExpectRoundTrip(empty.get());
  auto* raw = KindOf<CRawData>(loaded.get());
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->size, 0);
  EXPECT_FALSE(raw->data);
}

TEST_F(CustomDataTest, PayloadRoundTripsAndSizesAddUp) {
  auto r = Raw(u"blob", {9, 8, 7});
  r->key = u"k";
  r->param1 = -4;
  r->param2 = 11;
  EXPECT_EQ(r->GetSaveSize(), 92 + 8 + 2 + 3);
  EXPECT_EQ(r->GetMemorySize(), 60 + 2 + 40 + 3 + 8);
  auto loaded = test::ExpectRoundTrip(r.get());
  auto* raw = KindOf<CRawData>(loaded.get());
  ASSERT_TRUE(raw);
  EXPECT_EQ(std::vector<uint8_t>(raw->Payload().begin(), raw->Payload().end()),
            (std::vector<uint8_t>{9, 8, 7}));
  EXPECT_EQ(raw->key, u"k");
  EXPECT_EQ(raw->param1, -4);
  EXPECT_EQ(raw->param2, 11);
}

TEST_F(CustomDataTest, ASizeWithoutAPayloadIsKeptButNothingIsWrittenForIt) {
  // A file may say 5 bytes and mark none as present: the record must still save consistently.
  Bytes body;
  body.Version(2, 0).I32(1).W(u"").Version(2, 0).I32(0).I32(0).I32(0);
  body.Version(2, 0).W(u"").I32(0).I32(0).I32(0).Version(2, 0).I32(5).I32(0);
  const Bytes file = test::NewHeader().I32(0).I32(0).A("_Root").A("CRawData")
                         .I32(static_cast<int32_t>(body.size())).Append(body);
  CPersistContext context;
  ASSERT_EQ(test::LoadFromBytes(file.data, context), kOk);
  auto* raw = KindOf<CRawData>(context.roots.at(0).get());
  EXPECT_EQ(raw->size, 5);
  EXPECT_FALSE(raw->data);
  EXPECT_EQ(test::SaveRootToBytes(raw), file.data);
}

TEST_F(CustomDataTest, PayloadLongerThanTheFileIsAStreamError) {
  Bytes body;
  body.Version(2, 0).I32(1).W(u"").Version(2, 0).I32(0).I32(0).I32(0);
  body.Version(2, 0).W(u"").I32(0).I32(0).I32(0).Version(2, 0).I32(0x7FFFFFFF).I32(1).Text("ab");
  const Bytes file = test::NewHeader().I32(0).I32(0).A("CRawData").I32(0).Append(body);
  CPersistContext context;
  EXPECT_EQ(test::LoadFromBytes(file.data, context), kErrStream);
  EXPECT_EQ(context.diagnostics.className, "CRawData");
}

TEST_F(CustomDataTest, AssignToReusesALargeEnoughBuffer) {
  auto ten = Raw(u"ten", std::vector<uint8_t>(10, 1));
  auto twenty = Raw(u"twenty", std::vector<uint8_t>(20, 2));
  const uint8_t* buffer = twenty->data.get();
  ReleasedList released;
  ASSERT_EQ(ten->AssignTo(twenty.get(), released), kOk);
  EXPECT_EQ(twenty->data.get(), buffer);
  EXPECT_EQ(twenty->size, 10);
  EXPECT_EQ(twenty->Payload()[9], 1);
  EXPECT_EQ(twenty->name, u"ten");

  auto empty = Raw(u"");
  ASSERT_EQ(empty->AssignTo(twenty.get(), released), kOk);
  EXPECT_FALSE(twenty->data);
  EXPECT_EQ(twenty->size, 0);

  // Growing needs a new buffer.
  ASSERT_EQ(ten->AssignTo(empty.get(), released), kOk);
  EXPECT_EQ(empty->size, 10);
  EXPECT_NE(empty->data.get(), ten->data.get());

  CRefPtr<CAuthorInfo> author(new CAuthorInfo);
  EXPECT_EQ(ten->AssignTo(author.get(), released), kErrMalformed);
  EXPECT_EQ(author->AssignTo(ten.get(), released), kErrMalformed);
}

TEST_F(CustomDataTest, XmlBlockOnlyFromStreamVersionAboveTwoHundred) {
  auto record = [](int32_t minor, bool withXmlBlock) {
    Bytes body;
    body.Version(2, 0).I32(1).W(u"x").Version(2, 0).I32(0).I32(0).I32(0);
    body.Version(2, 0).W(u"").I32(0).I32(0).I32(0).Version(2, 0).I32(2).I32(1).Text("<a");
    if (withXmlBlock) body.Version(2, 0);
    return Bytes().Text("_KXBrix").I32(2).I32(minor).I32(0).I32(0).A("_Root").A("CXmlRawData")
        .I32(static_cast<int32_t>(body.size())).Append(body);
  };
  for (auto [minor, block] : {std::pair{0, false}, std::pair{1, true}}) {
    CPersistContext context;
    ASSERT_EQ(test::LoadFromBytes(record(minor, block).data, context), kOk) << minor;
    EXPECT_TRUE(context.diagnostics.warnings.empty()) << context.diagnostics.Describe();
    auto* xml = KindOf<CXmlRawData>(context.roots.at(0).get());
    ASSERT_TRUE(xml);
    EXPECT_EQ(xml->size, 2);
    // Written here, the block is always there.
    EXPECT_EQ(test::SaveRootToBytes(xml), record(1, true).data);
  }
}

TEST_F(CustomDataTest, AuthorInfoTexts) {
  CRefPtr<CAuthorInfo> info(new CAuthorInfo);
  info->text1 = u"a";
  info->text5 = u"eeee";
  EXPECT_EQ(info->GetSaveSize(), 11 + 24 + 20 + 24 + 28 + 2 * 5);
  auto loaded = test::ExpectRoundTrip(info.get());
  auto* copy = KindOf<CAuthorInfo>(loaded.get());
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->text1, u"a");
  EXPECT_EQ(copy->text5, u"eeee");
  CRefPtr<CBase> clone;
  ASSERT_EQ(info->Clone(clone), kOk);
  EXPECT_EQ(static_cast<CAuthorInfo*>(clone.get())->text5, u"eeee");
}

TEST_F(CustomDataTest, ChainsAreSearchedDuplicatedAndSharedAsAWhole) {
  auto a = Raw(u"a"), b = Raw(u"b", {1}), c = Raw(u"c", {2});
  a->next = b;
  b->next = c;
  EXPECT_EQ(a->FindObject(u"c", nullptr, false), c.get());
  // A record's own chain comes before the rest of the chain it is in.
  auto own = Raw(u"own");
  ASSERT_EQ(a->AttachCustomData(own.get()), kOk);
  std::vector<CBase*> found;
  a->FindObjects(found, std::nullopt, &CRawData::classRecord, true);
  EXPECT_EQ(found, (std::vector<CBase*>{a.get(), own.get(), b.get(), c.get()}));
  CPersistContext context;
  ASSERT_EQ(a->CollectForSave(context), kOk);
  EXPECT_EQ(context.saveList, found);
  a->customData = nullptr;

  DuplicateMap map;
  CRefPtr<CBase> copy;
  ASSERT_EQ(a->Duplicate(copy, map), kOk);
  std::vector<std::u16string> names;
  for (auto* r = static_cast<CCustomData*>(copy.get()); r; r = r->next.get()) {
    names.push_back(r->name);
    EXPECT_FALSE(r == a.get() || r == b.get() || r == c.get());
  }
  EXPECT_EQ(names, (std::vector<std::u16string>{u"a", u"b", u"c"}));
  EXPECT_TRUE(a->HasAttachments());
  EXPECT_FALSE(c->HasAttachments());

  auto other = Raw(u"other");
  ReleasedList released;
  ASSERT_EQ(a->AssignTo(other.get(), released), kOk);
  EXPECT_EQ(other->next.get(), b.get());
}

}  // namespace
}  // namespace KX
