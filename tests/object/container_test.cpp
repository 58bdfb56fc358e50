#include <gtest/gtest.h>

#include "object/archive.h"
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "object/container.h"
#include "content/content_data.h"
#include "object/custom_data.h"
#include "support/bytes.h"
#include "support/round_trip.h"
#include "support/save_paths.h"
#include "support/temp_dir.h"
#include "support/test_classes.h"

namespace KX {
namespace {

using test::Bytes;

// Current-layout record of a CRawData: class name, size, then the four blocks.
Bytes RawRecord(int32_t id, const std::u16string& name = u"", int32_t next = 0,
                const std::string& payload = "", int32_t controller = 0) {
  Bytes body;
  body.Version(2, 0).I32(id).W(name);
  body.Version(2, 0).I32(controller).I32(0).I32(0);
  body.Version(2, 0).W(u"").I32(0).I32(0).I32(next);
  body.Version(2, 0).I32(static_cast<int32_t>(payload.size())).I32(payload.empty() ? 0 : 1);
  body.Text(payload);
  return Bytes().A("CRawData").I32(static_cast<int32_t>(body.size())).Append(body);
}

Bytes EmptySections() { return Bytes().I32(0).I32(0); }

Bytes FileOf(std::initializer_list<Bytes> records) {
  Bytes file = test::NewHeader().Append(EmptySections());
  for (const auto& r : records) file.Append(r);
  return file;
}

Bytes Root() { return Bytes().A("_Root"); }

class ContainerTest : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }

  Status Load(const Bytes& bytes) { return test::LoadFromBytes(bytes.data, context); }

  CPersistContext context;
};

TEST_F(ContainerTest, RawDataRecordIsNinetyTwoBytes) {
  CRefPtr<CRawData> raw(new CRawData);
  EXPECT_EQ(raw->GetSaveSize(), 92);
  const auto bytes = test::SaveRootToBytes(raw.get());
  const Bytes expected = test::NewHeader().Append(EmptySections()).Append(Root()).Append(RawRecord(1));
  EXPECT_EQ(bytes, expected.data);
  EXPECT_EQ(RawRecord(1).size(), 92u);
  EXPECT_EQ(bytes.size(), 15u + 8 + 9 + 92);
}

TEST_F(ContainerTest, HeaderWithTwoEmptySectionsLoadsNothing) {
  const Bytes file = test::NewHeader().Append(EmptySections());
  ASSERT_EQ(file.size(), 23u);
  EXPECT_EQ(Load(file), kOk);
  EXPECT_FALSE(context.thumbnail);
  EXPECT_TRUE(context.extInfo.empty());
  EXPECT_TRUE(context.roots.empty());
  EXPECT_EQ(context.version, 201);
}

TEST_F(ContainerTest, SingleRootFileLayout) {
  // A root is written before what it reaches; the reached record carries no marker.
  CRefPtr<test::CTestObject> root(new test::CTestObject);
  CRefPtr<CRawData> attached(new CRawData);
  attached->name = u"meta";
  EXPECT_TRUE(::KX::Succeeded(root->AttachCustomData(attached.get())));
  const auto bytes = test::SaveRootToBytes(root.get());

  Bytes rootRecord;
  {
    Bytes body;
    body.Version(2, 0).I32(1).W(u"").Version(2, 0).I32(0).I32(0).I32(2);
    rootRecord.A("CTestObject").I32(static_cast<int32_t>(body.size())).Append(body);
  }
  const Bytes expected = FileOf({Root(), rootRecord, RawRecord(2, u"meta")});
  EXPECT_EQ(bytes, expected.data);

  ASSERT_EQ(Load(expected), kOk);
  ASSERT_EQ(context.roots.size(), 1u);
  auto* loaded = KindOf<CCorva>(context.roots[0].get());
  ASSERT_TRUE(loaded && loaded->customData);
  EXPECT_EQ(loaded->customData->name, u"meta");
}

TEST_F(ContainerTest, SavingTheSameObjectsTwiceGivesIdenticalBytes) {
  CRefPtr<test::CTestObject> root(new test::CTestObject);
  for (int i = 0; i < 5; ++i) {
    CRefPtr<CRawData> raw(new CRawData);
    raw->name = u"r" + std::u16string(1, char16_t('0' + i));
    EXPECT_TRUE(::KX::Succeeded(root->AttachCustomData(raw.get())));
  }
  EXPECT_EQ(test::SaveRootToBytes(root.get()), test::SaveRootToBytes(root.get()));
  test::ExpectRoundTrip(root.get());
}

// References to objects written right before or after a record, and to objects far from it in
// the file, all get the ids their objects are written under; one to an object the save does not
// write is 0.
TEST_F(ContainerTest, ReferencesNearAndFarGetTheIdsOfTheirObjects) {
  CRefPtr<test::CTestObject> root(new test::CTestObject);
  CRefPtr<test::CTestObject> elsewhere(new test::CTestObject);
  constexpr int kControllers = 40;
  for (int i = 0; i < kControllers; ++i) {
    CRefPtr<test::CTestControl> control(new test::CTestControl);
    control->name = u"c" + std::u16string(1, char16_t(u'A' + i));
    ASSERT_EQ(root->AttachController(control.get()), kOk);
  }
  root->controllers->owner = elsewhere.get();  // a back-pointer to an object not written

  CPersistContext saved;
  ASSERT_EQ(AddRoot(saved, root.get()), kOk);
  const std::vector<uint8_t> bytes = test::SaveToBytes(saved);
  CPersistContext loaded;
  ASSERT_EQ(test::LoadFromBytes(bytes, loaded), kOk);
  ASSERT_EQ(loaded.roots.size(), 1u);
  auto* copy = KindOf<CCorva>(loaded.roots[0].get());
  ASSERT_TRUE(copy);
  int count = 0;
  for (CControl* c = copy->controllers.get(); c; c = c->next.get(), ++count) {
    EXPECT_EQ(c->name, u"c" + std::u16string(1, char16_t(u'A' + count)));
    EXPECT_EQ(c->owner, count == 0 ? nullptr : copy) << count;
  }
  EXPECT_EQ(count, kControllers);
}

// An object the first root shares with the second is written once and read back as one object;
// one the extended information holds too keeps its place in both.
TEST_F(ContainerTest, ObjectsSharedBetweenRootsAndTheExtendedInformationKeepOneId) {
  CRefPtr<test::CTestObject> first(new test::CTestObject);
  CRefPtr<test::CTestObject> second(new test::CTestObject);
  CRefPtr<CRawData> info(new CRawData);
  info->name = u"info";
  CRefPtr<CRawData> shared(new CRawData);
  shared->name = u"shared";
  ASSERT_EQ(first->AttachCustomData(info.get()), kOk);
  ASSERT_EQ(first->AttachCustomData(shared.get()), kOk);  // info -> shared
  ASSERT_EQ(second->AttachCustomData(shared.get()), kOk);

  CPersistContext saved;
  saved.extInfo.emplace_back(info.get());
  ASSERT_EQ(AddRoot(saved, first.get()), kOk);
  ASSERT_EQ(AddRoot(saved, second.get()), kOk);
  const std::vector<uint8_t> bytes = test::SaveToBytes(saved);
  EXPECT_EQ(test::SaveToBytes(saved), bytes);

  CPersistContext loaded;
  ASSERT_EQ(test::LoadFromBytes(bytes, loaded), kOk);
  ASSERT_EQ(loaded.roots.size(), 2u);
  ASSERT_EQ(loaded.extInfo.size(), 1u);
  auto* one = KindOf<CCorva>(loaded.roots[0].get());
  auto* two = KindOf<CCorva>(loaded.roots[1].get());
  ASSERT_TRUE(one && two && one->customData && two->customData);
  EXPECT_EQ(loaded.extInfo[0]->name, u"info");  // the section is read on its own
  EXPECT_EQ(one->customData->name, u"info");
  EXPECT_EQ(one->customData->next.get(), two->customData.get());
  EXPECT_EQ(two->customData->name, u"shared");
}

TEST_F(ContainerTest, TwoRootsInFileOrderAndUnmarkedRecordsAreLinkedButNotRoots) {
  const Bytes file = FileOf({RawRecord(7, u"loose"), Root(), RawRecord(3, u"first", 7), Root(),
                             RawRecord(5, u"second")});
  ASSERT_EQ(Load(file), kOk);
  ASSERT_EQ(context.roots.size(), 2u);
  EXPECT_EQ(context.roots[0]->name, u"first");
  EXPECT_EQ(context.roots[1]->name, u"second");
  auto* first = KindOf<CRawData>(context.roots[0].get());
  ASSERT_TRUE(first->next);
  EXPECT_EQ(first->next->name, u"loose");
}

TEST_F(ContainerTest, MissingIdsLoadAsNullAndTheFirstRecordOfAnIdWins) {
  const Bytes file = FileOf({Root(), RawRecord(1, u"root", 9), Root(), RawRecord(2, u"r2", 4),
                             RawRecord(4, u"winner"), RawRecord(4, u"loser")});
  ASSERT_EQ(Load(file), kOk);
  ASSERT_EQ(context.roots.size(), 2u);
  EXPECT_FALSE(KindOf<CRawData>(context.roots[0].get())->next);
  auto* second = KindOf<CRawData>(context.roots[1].get());
  ASSERT_TRUE(second->next);
  EXPECT_EQ(second->next->name, u"winner");
}

TEST_F(ContainerTest, ThumbnailAndExtendedInformationSections) {
  CRefPtr<CRawData> thumb(new CRawData), info1(new CRawData);
  CRefPtr<CAuthorInfo> info2(new CAuthorInfo);
  thumb->name = u"thumb";
  info1->name = u"info";
  context.thumbnail = thumb;
  context.extInfo = {info1, info2};
  CRefPtr<CRawData> root(new CRawData);
  EXPECT_TRUE(::KX::Succeeded(AddRoot(context, root.get())));
  Status status = kOk;
  const auto bytes = test::SaveToBytes(context, &status);
  ASSERT_EQ(status, kOk);

  CPersistContext loaded;
  ASSERT_EQ(test::LoadFromBytes(bytes, loaded), kOk) << loaded.diagnostics.Describe();
  ASSERT_TRUE(loaded.thumbnail);
  EXPECT_EQ(loaded.thumbnail->name, u"thumb");
  ASSERT_EQ(loaded.extInfo.size(), 2u);
  EXPECT_EQ(loaded.extInfo[0]->name, u"info");
  EXPECT_NE(KindOf<CAuthorInfo>(loaded.extInfo[1].get()), nullptr);
  EXPECT_EQ(loaded.roots.size(), 1u);
  EXPECT_EQ(test::SaveToBytes(loaded), bytes);
}

TEST_F(ContainerTest, FailureStatuses) {
  struct Case {
    const char* what;
    Bytes file;
    Status status;
  };
  const Bytes header = test::NewHeader();
  Bytes newerRecord;
  {
    Bytes body;
    body.Version(2, 1).I32(1).W(u"");  // CBase is 2.0 here
    newerRecord.A("CRawData").I32(static_cast<int32_t>(body.size())).Append(body);
  }
  const Case cases[] = {
      {"unknown magic", Bytes().Text("_KXBrox").I32(2).I32(1), kErrMalformed},
      {"short magic", Bytes().Text("_KX"), kErrStream},
      {"old header without a version", Bytes().Text("KXCorva").Text("abcdefghijklmn"), kErrMalformed},
      {"old thumbnail name in the new layout",
       Bytes(header).A("_CorvaThumbnail").A("CRawData").Append(RawRecord(1)).I32(0), kErrMalformed},
      {"unknown thumbnail section", Bytes(header).A("_Thumb"), kErrMalformed},
      {"extended information with count 0", Bytes(header).I32(0).A("_ExtendInfo").I32(0), kErrMalformed},
      {"extended information without a count", Bytes(header).I32(0).A("_ExtendInfo"), kErrMalformed},
      {"unknown extended-information section", Bytes(header).I32(0).A("_Extend"), kErrMalformed},
      {"extended-information count beyond the file",
       Bytes(header).I32(0).A("_ExtendInfo").I32(1000000), kErrStream},
      {"unknown class", FileOf({Root(), Bytes().A("CNoSuchClass").I32(4).I32(0)}), kErrUnknownClass},
      {"newer class version", FileOf({Root(), newerRecord}), kErrNewerVersion},
      {"record cut short", FileOf({Root(), Bytes().A("CRawData").I32(76).Version(2, 0).I32(1)}),
       kErrStream},
      {"root marker without a record", FileOf({Root()}), kErrStream},
      {"old layout without a thumbnail", test::OldHeader("1.50").A("_CorvaRoot"), kErrMalformed},
  };
  for (const auto& c : cases) {
    CPersistContext ctx;
    EXPECT_EQ(test::LoadFromBytes(c.file.data, ctx), c.status) << c.what;
    EXPECT_EQ(ctx.diagnostics.status, c.status) << c.what;
    EXPECT_FALSE(ctx.diagnostics.Describe().empty()) << c.what;
  }
}

TEST_F(ContainerTest, DiagnosticsNameTheRecordAndItsOffset) {
  const Bytes good = FileOf({Root(), RawRecord(1)});
  Bytes file = good;
  file.A("CMystery").I32(0);
  ASSERT_EQ(Load(file), kErrUnknownClass);
  EXPECT_EQ(context.diagnostics.className, "CMystery");
  EXPECT_EQ(context.diagnostics.recordOffset, good.size() + 12);  // after the class name
  EXPECT_NE(context.diagnostics.Describe().find("CMystery"), std::string::npos);
}

TEST_F(ContainerTest, EveryTruncationFailsCleanly) {
  CRefPtr<test::CTestObject> root(new test::CTestObject);
  CRefPtr<test::CTestControl> control(new test::CTestControl);
  control->keyTimes = {0, 1, 2};
  EXPECT_TRUE(::KX::Succeeded(root->AttachController(control.get())));
  CRefPtr<CRawData> raw(new CRawData);
  const uint8_t payload[] = {1, 2, 3, 4, 5};
  EXPECT_TRUE(::KX::Succeeded(raw->SetPayload(payload)));
  EXPECT_TRUE(::KX::Succeeded(root->AttachCustomData(raw.get())));
  const auto bytes = test::SaveRootToBytes(root.get());
  for (size_t n = 0; n < bytes.size(); ++n) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    CPersistContext ctx;
    const Status status = test::LoadFromBytes(cut, ctx);
    // A cut exactly between two records is a valid, shorter file.
    if (Succeeded(status)) continue;
    EXPECT_TRUE(status == kErrStream || status == kErrMalformed) << n << ": " << status;
  }
}

TEST_F(ContainerTest, OldLayoutFile) {
  // Stream version 1.00: no record sizes, no version pairs, 8-bit names, and the scene-object
  // level keeps only the controller chain. The controller block is of the old timing kind: a
  // start time of 10 that the keys 10, 12, 15 are relative to.
  Bytes file = test::OldHeader("1.00").Append(test::OldEmptyThumbnail());
  file.A("_CorvaRoot").A("CRawData");
  file.I32(1).A("Old \xe9").I32(2);                           // CBase, CCorva (controller 2)
  file.A("key").I32(5).I32(6).I32(0);                         // CCustomData
  file.I32(3).I32(1).Text("abc");                             // CRawData
  file.A("CTestControl");
  file.I32(2).A("ctl").I32(0);                                // CBase, CCorva
  file.I32(1).F32(10).F32(0.5f).F32(99).F32(2).U8(1).I32(1).I32(0);  // CControl
  file.I32(3).F32(10).F32(12).F32(15);                        // keys
  ASSERT_EQ(Load(file), kOk) << context.diagnostics.Describe();
  EXPECT_EQ(context.version, 100);
  ASSERT_TRUE(context.thumbnail);
  ASSERT_EQ(context.roots.size(), 1u);
  auto* raw = KindOf<CRawData>(context.roots[0].get());
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->name, (std::u16string{u'O', u'l', u'd', u' ', 0xE9}));
  EXPECT_EQ(raw->key, u"key");
  EXPECT_EQ(raw->param1, 5);
  EXPECT_EQ(std::string(raw->data.get(), raw->data.get() + raw->size), "abc");
  auto* control = KindOf<test::CTestControl>(raw->controllers.get());
  ASSERT_TRUE(control);
  EXPECT_EQ(control->owner, raw);
  EXPECT_EQ(control->outOfRange, 1);
  EXPECT_EQ(control->timeScale, 2.0f);
  EXPECT_EQ(control->keyTimes, (std::vector<float>{0, 2, 5}));
  EXPECT_EQ(control->priority, 0.0f);
  EXPECT_EQ(control->auxValue, 1.0f);

  // Old files come back in the current layout, and that layout round-trips.
  test::ExpectRoundTrip(raw);
}

TEST_F(ContainerTest, OldLayoutVersionAboveOneKeepsAllThreeChains) {
  Bytes file = test::OldHeader("1.50").Append(test::OldEmptyThumbnail());
  file.A("_Root").A("CTestObject").I32(1).A("").I32(0).I32(0).I32(2);
  file.A("CRawData").I32(2).A("data").I32(0).I32(0).I32(0).A("").I32(0).I32(0).I32(0).I32(0).I32(0);
  ASSERT_EQ(Load(file), kOk) << context.diagnostics.Describe();
  auto* root = KindOf<CCorva>(context.roots.at(0).get());
  ASSERT_TRUE(root->customData);
  EXPECT_EQ(root->customData->name, u"data");
}

// A class whose Link always fails.
class CBadLink : public test::CTestObject {
 public:
  static const CRuntimeClass classRecord;
  const CRuntimeClass* GetRuntimeClass() const override { return &classRecord; }
  Status Persist(CArchive& ar) override {
    return ar.Linking() ? kErrMalformed : CCorva::Persist(ar);
  }
};
const CRuntimeClass CBadLink::classRecord{"CBadLink", &CCorva::classRecord, 2, 0};

TEST_F(ContainerTest, LinkFailureStopsThePassButNotTheLoad) {
  RegisterClass<CBadLink>();
  Bytes bad;
  {
    Bytes body;
    body.Version(2, 0).I32(1).W(u"").Version(2, 0).I32(0).I32(0).I32(0);
    bad.A("CBadLink").I32(static_cast<int32_t>(body.size())).Append(body);
  }
  // Id 1 fails; 2 and 3 stay unlinked, so 2's next (3) stays null.
  const Bytes file = FileOf({Root(), bad, Root(), RawRecord(2, u"a", 3), RawRecord(3, u"b")});
  EXPECT_EQ(Load(file), kOk);
  EXPECT_FALSE(context.diagnostics.warnings.empty());
  ASSERT_EQ(context.roots.size(), 2u);
  EXPECT_FALSE(KindOf<CRawData>(context.roots[1].get())->next);
  UnregisterClass("CBadLink");
}

TEST_F(ContainerTest, ReferenceToAnObjectOfTheWrongClassIsDroppedWithAWarning) {
  // The custom data level's next points at... itself as a controller would: a CTestObject.
  Bytes object;
  {
    Bytes body;
    body.Version(2, 0).I32(2).W(u"").Version(2, 0).I32(0).I32(0).I32(0);
    object.A("CTestObject").I32(static_cast<int32_t>(body.size())).Append(body);
  }
  ASSERT_EQ(Load(FileOf({Root(), RawRecord(1, u"r", 2), object})), kOk);
  EXPECT_FALSE(KindOf<CRawData>(context.roots[0].get())->next);
  ASSERT_EQ(context.diagnostics.warnings.size(), 1u);
  EXPECT_NE(context.diagnostics.warnings[0].text.find("CTestObject"), std::string::npos);
}

// A plain reference outlives the load only when the roots keep what it names: one into a record
// that nothing owns is dropped with a warning, one into the roots' own tree stays, and a file
// whose plain references all stay loads without a word.
TEST_F(ContainerTest, PlainReferencesOutsideWhatTheRootsKeepAreDropped) {
  auto save = [](bool withLoose) {
    CRefPtr<CRawData> root(new CRawData);
    CRefPtr<CHeadData> toKept(new CHeadData);
    CRefPtr<CHeadData> toLoose(new CHeadData);
    CRefPtr<CRawData> kept(new CRawData);
    CRefPtr<CRawData> loose(new CRawData);
    kept->name = u"kept";
    root->next = toKept;
    toKept->next = toLoose;
    toLoose->next = kept;
    toKept->reference = kept.get();
    if (withLoose) toLoose->reference = loose.get();
    CPersistContext saving;
    EXPECT_EQ(AddRoot(saving, root.get()), kOk);
    EXPECT_EQ(AddRoot(saving, loose.get()), kOk);
    std::vector<uint8_t> bytes = test::SaveToBytes(saving);
    // The second root marker goes: the loose record stays in the file, owned by nothing.
    const Bytes marker = Root();
    auto at = bytes.begin();
    for (int found = 0; found < 2; ++found) {
      at = std::search(found ? at + 1 : at, bytes.end(), marker.data.begin(), marker.data.end());
      EXPECT_NE(at, bytes.end());
    }
    bytes.erase(at, at + static_cast<std::ptrdiff_t>(marker.data.size()));
    return bytes;
  };
  auto heads = [](CPersistContext& loaded) {
    auto* root = KindOf<CRawData>(loaded.roots.at(0).get());
    auto* toKept = KindOf<CHeadData>(root->next.get());
    return std::pair{toKept, KindOf<CHeadData>(toKept->next.get())};
  };

  ASSERT_EQ(test::LoadFromBytes(save(true), context), kOk);
  ASSERT_EQ(context.roots.size(), 1u);
  auto [toKept, toLoose] = heads(context);
  ASSERT_TRUE(toKept && toLoose);
  ASSERT_TRUE(toKept->reference);
  EXPECT_EQ(toKept->reference, toLoose->next.get());
  EXPECT_EQ(toLoose->reference, nullptr);
  ASSERT_EQ(context.diagnostics.warnings.size(), 1u);
  const CLoadWarning& warning = context.diagnostics.warnings[0];
  EXPECT_EQ(warning.className, "CHeadData");
  EXPECT_GT(warning.offset, 0u);
  EXPECT_EQ(warning.Describe(), "a CHeadData record at offset " + std::to_string(warning.offset) +
                                    " referred to a CRawData that nothing in the file keeps; the "
                                    "reference was dropped");

  CPersistContext clean;
  ASSERT_EQ(test::LoadFromBytes(save(false), clean), kOk);
  auto [cleanToKept, cleanToLoose] = heads(clean);
  EXPECT_EQ(cleanToKept->reference, cleanToLoose->next.get());
  EXPECT_TRUE(clean.diagnostics.warnings.empty());
}

TEST_F(ContainerTest, GraphsThatOwnThemselvesAreRefused) {
  // A chain whose next comes back, and a record that is its own next.
  const Bytes loop = FileOf({Root(), RawRecord(1, u"a", 2), RawRecord(2, u"b", 1)});
  EXPECT_EQ(Load(loop), kErrMalformed);
  EXPECT_NE(context.diagnostics.message.find("owns itself"), std::string::npos);
  CPersistContext again;
  EXPECT_EQ(test::LoadFromBytes(FileOf({RawRecord(1, u"self", 1)}).data, again), kErrMalformed);
  // The loop is broken on refusal, so nothing leaks (the sanitizer build checks this).
}

TEST_F(ContainerTest, NestingBeyondTheLimitIsRefused) {
  auto chain = [](int length) {
    Bytes file = FileOf({Root()});
    for (int i = 1; i <= length; ++i) file.Append(RawRecord(i, u"", i < length ? i + 1 : 0));
    return file;
  };
  EXPECT_EQ(Load(chain(kMaxOwnershipDepth - 1)), kOk);
  CPersistContext deep;
  EXPECT_EQ(test::LoadFromBytes(chain(kMaxOwnershipDepth + 10).data, deep), kErrMalformed);
}

TEST_F(ContainerTest, SharingThatWouldMakeWalksExplodeIsRefused) {
  // Each record's custom data head and its next both lead to the following record: 2^60 paths
  // through 60 objects.
  Bytes file = FileOf({Root()});
  const int n = 60;
  for (int i = 1; i <= n; ++i) {
    const int32_t down = i < n ? i + 1 : 0;
    // controllers id 0; custom data head = down; next = down.
    Bytes body;
    body.Version(2, 0).I32(i).W(u"");
    body.Version(2, 0).I32(0).I32(0).I32(down);
    body.Version(2, 0).W(u"").I32(0).I32(0).I32(down);
    body.Version(2, 0).I32(0).I32(0);
    file.A("CRawData").I32(static_cast<int32_t>(body.size())).Append(body);
  }
  EXPECT_EQ(Load(file), kErrMalformed);
  EXPECT_NE(context.diagnostics.message.find("shared"), std::string::npos);
}

// Records of every size in one save: many small ones (more than fill one megabyte) and one
// larger than a record that is staged before it is written. The bytes are the layout
// built by hand, and the size announced before writing is the size written,
// give or take the header.
TEST_F(ContainerTest, RecordsOfEverySizeKeepTheirLayoutAndTheAnnouncedSize) {
  class CAnnouncedIo final : public CIoBuffer {
   public:
    CMemoryIo inner;
    int64_t announced = -1;
    bool IsEnd() const override { return inner.IsEnd(); }
    bool WantsTotal() const override { return true; }
    Status Reserve(int64_t total, int64_t largest) override {
      announced = total;
      return inner.Reserve(total, largest);
    }
    Status Read(void* d, size_t cap, size_t n, int32_t c) override {
      return inner.Read(d, cap, n, c);
    }
    Status Write(const void* s, size_t n, int32_t c) override { return inner.Write(s, n, c); }
    Status Skip(int64_t offset) override { return inner.Skip(offset); }
    uint64_t Tell() const override { return inner.Tell(); }
    uint64_t Remaining() const override { return inner.Remaining(); }
  };

  CPersistContext out;
  Bytes expected = test::NewHeader().Append(EmptySections());
  for (int32_t i = 0; i < 40; ++i) {
    const std::string payload(i == 5 ? 200000 : 30000 + i, static_cast<char>('a' + i % 26));
    CRefPtr<CRawData> raw(new CRawData);
    raw->name = u"r" + std::u16string(1, static_cast<char16_t>(u'A' + i));
    ASSERT_EQ(raw->SetPayload({reinterpret_cast<const uint8_t*>(payload.data()), payload.size()}),
              kOk);
    ASSERT_EQ(AddRoot(out, raw.get()), kOk);
    expected.Append(Root()).Append(RawRecord(i + 1, raw->name, 0, payload));
  }
  CAnnouncedIo stream;
  ASSERT_EQ(SaveToStream(out, stream, 0), kOk);
  EXPECT_EQ(stream.inner.bytes(), expected.data);
  // The announcement leaves out a few bytes of the file's header.
  EXPECT_LE(stream.announced, static_cast<int64_t>(expected.size()));
  EXPECT_GE(stream.announced, static_cast<int64_t>(expected.size()) - 16);
}

// Ids go to the thumbnail and the extended information first, each object once, and then to the
// records in the order the roots reach them; an object written before the records that a root
// reaches too is written again among them, under the id it already has.
TEST_F(ContainerTest, ObjectsWrittenBeforeTheRecordsKeepTheirIdsAmongThem) {
  CRefPtr<CRawData> thumb(new CRawData), a(new CRawData), b(new CRawData), c(new CRawData),
      r(new CRawData);
  thumb->name = u"t";
  a->name = u"a";
  b->name = u"b";
  c->name = u"c";
  r->name = u"r";
  r->next = b;
  b->next = c;
  CPersistContext out;
  out.thumbnail = thumb;
  out.extInfo = {a, b, a};
  ASSERT_EQ(AddRoot(out, r.get()), kOk);
  ASSERT_EQ(AddRoot(out, thumb.get()), kOk);
  Bytes expected = test::NewHeader();
  expected.A("_Thumbnail").Append(RawRecord(1, u"t"));
  expected.A("_ExtendInfo").I32(3).Append(RawRecord(2, u"a")).Append(RawRecord(3, u"b", 5));
  expected.Append(RawRecord(2, u"a"));
  expected.Append(Root()).Append(RawRecord(4, u"r", 3)).Append(RawRecord(3, u"b", 5));
  expected.Append(RawRecord(5, u"c")).Append(Root()).Append(RawRecord(1, u"t"));
  EXPECT_EQ(test::SaveToBytes(out), expected.data);
  EXPECT_EQ(test::SaveToBytesAsMade(out), expected.data);
}

class SaveFileTest : public ContainerTest {
 protected:
  size_t FilesInDir() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir),
                                             std::filesystem::directory_iterator()));
  }
  test::TempDir temp{"kx_save_test"};
  const std::string dir = temp.path;
};

TEST_F(SaveFileTest, WritesAndLoadsBack) {
  CRefPtr<CRawData> raw(new CRawData);
  raw->name = u"saved";
  CPersistContext out;
  EXPECT_TRUE(::KX::Succeeded(AddRoot(out, raw.get())));
  EXPECT_EQ(AddRoot(out, raw.get()), kNothingDone);
  EXPECT_EQ(AddRoot(out, nullptr), kErrBadArgument);
  const std::string path = dir + "/scene.fbprop";
  ASSERT_EQ(SaveFile(0, out, path), kOk);
  EXPECT_EQ(FilesInDir(), 1u);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_NE(st.st_mode & 0044, 0u) << "a saved file is readable like any other new file";

  CPersistContext in;
  ASSERT_EQ(LoadFile(0, in, path), kOk);
  ASSERT_EQ(in.roots.size(), 1u);
  EXPECT_EQ(in.roots[0]->name, u"saved");
  EXPECT_EQ(LoadFile(0, in, dir + "/missing.crv"), kErrFileSize);
}

TEST_F(SaveFileTest, AFailedSaveLeavesTheTargetUntouched) {
  const std::string path = dir + "/scene.crv";
  std::ofstream(path) << "precious";
  CRefPtr<CRawData> raw(new CRawData);
  CPersistContext out;
  EXPECT_TRUE(::KX::Succeeded(AddRoot(out, raw.get())));
  out.extInfo.push_back(nullptr);  // cannot be written
  EXPECT_LT(SaveFile(0, out, path), 0);
  std::ifstream in(path);
  std::string content;
  in >> content;
  EXPECT_EQ(content, "precious");
  EXPECT_EQ(FilesInDir(), 1u) << "the temporary file is removed";
  EXPECT_EQ(SaveFile(0, out, dir + "/no/such/dir/x.crv"), kErrOpen);
}

}  // namespace
}  // namespace KX
