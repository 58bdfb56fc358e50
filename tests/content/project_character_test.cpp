// Project and character records: every stored revision in both layouts, byte by byte; the
// references, tables and copies of a character record.
#include <gtest/gtest.h>

#include "content/character_data.h"
#include "content/project_data.h"
#include "scene/node.h"
#include "support/bytes.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX {
namespace {

using test::Bytes;

// The blocks below a record's own for an unnamed record without chains; `old` as streams below
// 2.00 store them (no version pairs, 8-bit texts).
Bytes CommonBlocks(int32_t id, bool old) {
  if (old) return Bytes().I32(id).A("").I32(0).I32(0).I32(0).A("").I32(0).I32(0).I32(0);
  return Bytes()
      .Version(2, 0)
      .I32(id)
      .W(u"")
      .Version(2, 0)
      .I32(0)
      .I32(0)
      .I32(0)
      .Version(2, 0)
      .W(u"")
      .I32(0)
      .I32(0)
      .I32(0);
}

Bytes Record(const std::string& className, const Bytes& body, bool old) {
  Bytes b = Bytes().A(className);
  if (!old) b.I32(static_cast<int32_t>(body.size()));
  return b.Append(body);
}

Bytes File(const Bytes& records, bool old) {
  if (old)
    return test::OldHeader("1.50")
        .Append(test::OldEmptyThumbnail())
        .A("_CorvaRoot")
        .Append(records);
  return test::NewHeader().I32(0).I32(0).A("_Root").Append(records);
}

Bytes Text(Bytes b, const std::u16string& text, bool old) {
  if (!old) return b.W(text);
  return b.A(std::string(text.begin(), text.end()));
}

// The project record's fields, grouped by the first stored version that holds them: their bytes
// as a file stores them and as a record at its defaults writes them.
struct ProjectGroup {
  int32_t from;
  Bytes stored, defaults;
};

std::vector<ProjectGroup> ProjectGroups() {
  Bytes pairs, zeros;
  for (uint8_t i = 1; i <= 16; ++i) pairs.U8(i), zeros.U8(0);
  return {{200, Bytes().F32(5).I32(-7).Append(pairs).F32(0.5f).F32(1.5f).F32(2.5f),
           Bytes().F32(600).I32(0).Append(zeros).F32(0).F32(0).F32(0)},
          {201, Bytes().W(u"plan"), Bytes().W(u"")},
          {202, Bytes().F32(3.5f).F32(4.5f), Bytes().F32(0).F32(1)},
          {203, Bytes().U8(1), Bytes().U8(0)},
          {204, Bytes().F32(6.5f), Bytes().F32(10)},
          {205, Bytes().F32(7.5f).F32(8.5f), Bytes().F32(1).F32(1)},
          {206, Bytes().I32(9), Bytes().I32(2)}};
}

// The block stored at `version` (no version pair when `old`), and as it is written back.
Bytes ProjectBlock(int32_t version, bool old, bool writtenBack = false) {
  Bytes b;
  if (writtenBack)
    b.Version(2, 6);
  else if (!old)
    b.Version(version / 100, version % 100);
  for (const auto& group : ProjectGroups()) {
    if (version >= group.from)
      b.Append(group.stored);
    else if (writtenBack)
      b.Append(group.defaults);
  }
  return b;
}

struct Case {
  int32_t version;
  bool old;
};

class ProjectCharacterTest : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }

  template <class T>
  T* LoadRoot(const Bytes& file) {
    context = std::make_unique<CPersistContext>();
    const Status status = test::LoadFromBytes(file.data, *context);
    EXPECT_EQ(status, kOk) << context->diagnostics.Describe();
    return Succeeded(status) && !context->roots.empty() ? KindOf<T>(context->roots[0].get())
                                                        : nullptr;
  }

  std::unique_ptr<CPersistContext> context;
};

// Every stored revision in the current layout, and old files (whose blocks are the first
// revision's), load what they store, keep the defaults of what they do not, and are written back
// as the current revision.
TEST_F(ProjectCharacterTest, ProjectRecordOfEveryRevisionInBothLayouts) {
  const Case cases[] = {{200, false}, {201, false}, {202, false}, {203, false}, {204, false},
                        {205, false}, {206, false}, {100, true},  {150, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "version " << c.version << (c.old ? " old" : ""));
    const int32_t stored = c.old ? 200 : c.version;
    Bytes file = File(
        Record("CProjectData", CommonBlocks(1, c.old).Append(ProjectBlock(stored, c.old)), c.old),
        c.old);
    if (c.version == 100) {
      // Streams of 1.00 carry only the controller chain in the CCorva block.
      file = test::OldHeader("1.00")
                 .Append(test::OldEmptyThumbnail())
                 .A("_CorvaRoot")
                 .A("CProjectData");
      file.I32(1).A("").I32(0).A("").I32(0).I32(0).I32(0).Append(ProjectBlock(200, true));
    }
    auto* loaded = LoadRoot<CProjectData>(file);
    ASSERT_TRUE(loaded);
    const Bytes own = ProjectBlock(stored, false, true);
    EXPECT_EQ(test::SaveRootToBytes(loaded),
              File(Record("CProjectData", CommonBlocks(1, false).Append(own), false), false).data);
    EXPECT_EQ(loaded->GetSaveSize(),
              4 + 12 + 4 + 60 + 73 + 2 * static_cast<int64_t>(loaded->text.size()));
  }
  Bytes newer = ProjectBlock(206, false);
  newer.data[4] = 7;  // 2.07
  CPersistContext ctx;
  EXPECT_EQ(
      test::LoadFromBytes(
          File(Record("CProjectData", CommonBlocks(1, false).Append(newer), false), false).data,
          ctx),
      kErrNewerVersion);
}

// A character record in a node's custom data, both references set, every table filled; its
// tables are written in key order whatever order the file gave.
CRefPtr<CNode> CharacterScene(CCharacterData*& character) {
  CRefPtr<CNode> root(new CNode);
  CRefPtr<CCharacterData> c(new CCharacterData);
  c->object1 = new CNode;
  c->object2 = new CRawData;
  c->value1 = 0.5f;
  c->value4 = 0x01020304;
  c->block1.fill(0xAA);
  c->text = u"hero";
  c->table1[u"b"].bytes.fill(2);
  c->table1[u"a"].bytes.fill(1);
  c->table2[u"pose"].bytes.fill(3);
  c->value6 = 6;
  c->table3[u"skin"] = u"dark";
  c->table3[u"hair"] = u"";
  c->table4[u"eye"].bytes.fill(4);
  c->flag4 = false;
  EXPECT_EQ(root->AttachCustomData(c.get()), kOk);
  character = c.get();
  return root;
}

TEST_F(ProjectCharacterTest, CharacterRecordWritesItsObjectsAndTablesInKeyOrder) {
  CCharacterData* character = nullptr;
  CRefPtr<CNode> root = CharacterScene(character);
  // Saving the scene writes the two objects after the record: ids 1 node, 2 record, 3 and 4.
  const std::vector<uint8_t> saved = test::SaveRootToBytes(root.get());
  Bytes own;
  own.Version(2, 5).U8(1).U8(0).U8(0).F32(0.5f).F32(1).F32(1).U32(0x01020304).U32(0);
  for (int i = 0; i < 16; ++i) own.U8(0xAA);
  for (int i = 0; i < 16; ++i) own.U8(0);
  own.I32(3).I32(4).W(u"hero");
  own.I32(2);
  for (int i = 0; i < 8; ++i) own.U8(1);
  for (int i = 0; i < 8; ++i) own.U8(2);
  own.W(u"a").W(u"b").I32(1);
  for (int i = 0; i < 24; ++i) own.U8(3);
  own.W(u"pose").I32(6).I32(2).W(u"hair").W(u"").W(u"skin").W(u"dark").I32(1).W(u"eye");
  for (int i = 0; i < 12; ++i) own.U8(4);
  own.U8(0);
  const Bytes record = Record("CCharacterData", CommonBlocks(2, false).Append(own), false);
  const auto at = std::search(saved.begin(), saved.end(), record.data.begin(), record.data.end());
  EXPECT_NE(at, saved.end()) << "the record's bytes are not in the file";
  // 96 + text + tables: 2 x (12 + 2), 28 + 8, (8 + 8 + 8) + (8 + 8), 16 + 6.
  EXPECT_EQ(character->GetSaveSize(), 4 + 14 + 4 + 60 + 96 + 8 + 28 + 36 + 40 + 22);

  const CRefPtr<CBase> loaded = test::ExpectRoundTrip(root.get());
  auto* node = KindOf<CNode>(loaded.get());
  ASSERT_TRUE(node);
  auto* copy = KindOf<CCharacterData>(node->customData.get());
  ASSERT_TRUE(copy);
  EXPECT_TRUE(KindOf<CNode>(copy->object1.get()));
  EXPECT_TRUE(KindOf<CRawData>(copy->object2.get()));
  EXPECT_EQ(copy->table3.at(u"skin"), u"dark");
  EXPECT_EQ(copy->table1.begin()->first, u"a");
  EXPECT_FALSE(copy->flag4);
  // Searches go on into both objects, after the chain.
  std::vector<CBase*> found;
  node->FindObjects(found, std::nullopt, nullptr, false);
  EXPECT_EQ(found, (std::vector<CBase*>{node, copy, copy->object1.get(), copy->object2.get()}));
  EXPECT_TRUE(copy->HasAttachments());
}

// A stored 2.00 record has only the fixed part and its references; each later revision adds its
// group of fields. Old files store the fixed part.
TEST_F(ProjectCharacterTest, CharacterRecordOfOlderRevisions) {
  auto fixed = [](int32_t version, bool old) {
    Bytes b;
    if (!old) b.Version(2, version - 200);
    b.U8(0).U8(1).U8(1).F32(3).F32(4).F32(5).U32(6).U32(7);
    for (int i = 0; i < 32; ++i) b.U8(static_cast<uint8_t>(i));
    return b.I32(3).I32(0);  // object1 is the raw record after it; no object2
  };
  struct Case {
    int32_t version;
    bool old;
    size_t tables;  // how many of the four tables the revision holds
    int32_t value6;
    bool flag4;
  };
  const Case cases[] = {{200, false, 0, 1, true}, {201, false, 2, 1, true},
                        {202, false, 3, 8, true}, {203, false, 4, 8, true},
                        {204, false, 4, 8, true}, {205, false, 4, 8, false},
                        {150, true, 0, 1, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "version " << c.version);
    Bytes own = fixed(c.version, c.old);
    if (c.tables >= 2) {
      own = Text(own, u"t", c.old).I32(1).U32(1).U32(2);
      own = Text(own, u"k1", c.old).I32(1);
      for (int i = 0; i < 6; ++i) own.U32(9);
      own = Text(own, u"k2", c.old);
    }
    if (c.tables >= 3) own = Text(Text(own.I32(8).I32(1), u"k3", c.old), u"v3", c.old);
    if (c.tables >= 4) own = Text(own.I32(1), u"k4", c.old).U32(1).U32(2).U32(3);
    if (c.version >= 205) own.U8(0);
    Bytes raw = CommonBlocks(3, c.old);
    if (!c.old) raw.Version(2, 0);
    Bytes records = Record("CCharacterData", CommonBlocks(2, c.old).Append(own), c.old);
    records.Append(Record("CRawData", raw.I32(0).I32(0), c.old));
    auto* loaded = LoadRoot<CCharacterData>(File(records, c.old));
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(loaded->flag2 && loaded->flag3 && !loaded->flag1);
    EXPECT_EQ(loaded->value5, 7u);
    EXPECT_EQ(loaded->block2[15], 31);
    EXPECT_TRUE(KindOf<CRawData>(loaded->object1.get()));
    EXPECT_EQ(loaded->object2, nullptr);
    EXPECT_EQ(loaded->text, c.tables >= 2 ? u"t" : u"");
    EXPECT_EQ(loaded->table1.size() + loaded->table2.size(), c.tables >= 2 ? 2u : 0u);
    EXPECT_EQ(loaded->table3.size(), c.tables >= 3 ? 1u : 0u);
    EXPECT_EQ(loaded->table4.size(), c.tables >= 4 ? 1u : 0u);
    EXPECT_EQ(loaded->value6, c.value6);
    EXPECT_EQ(loaded->flag4, c.flag4);
  }
}
TEST_F(ProjectCharacterTest, CopiesShareTheObjectsAndAssignReleasesTheOldOnes) {
  CCharacterData* source = nullptr;
  CRefPtr<CNode> root = CharacterScene(source);
  source->flag1 = false;
  source->flag5 = true;
  source->levels[2] = 7;
  source->table5[u"x"].bytes[0] = 1;
  CRefPtr<CBase> clone;
  ASSERT_EQ(source->Clone(clone), kOk);
  auto* copy = KindOf<CCharacterData>(clone.get());
  ASSERT_TRUE(copy);
  EXPECT_TRUE(copy->flag1 && copy->flag4);
  EXPECT_EQ(copy->object1, source->object1);
  EXPECT_EQ(copy->object1->refCount, 2);
  EXPECT_EQ(copy->table3, source->table3);
  EXPECT_EQ(copy->next, nullptr);

  CRefPtr<CCharacterData> target(new CCharacterData);
  CRefPtr<CRawData> previous(new CRawData);
  target->object2 = previous;
  ReleasedList released;
  ASSERT_EQ(source->AssignTo(target.get(), released), kOk);
  EXPECT_FALSE(target->flag1);
  EXPECT_FALSE(target->flag4);
  EXPECT_TRUE(target->flag5);
  EXPECT_EQ(target->levels[2], 7);
  EXPECT_EQ(target->table5.size(), 1u);
  EXPECT_EQ(target->object2, source->object2);
  EXPECT_EQ(released, (ReleasedList{previous}));
  EXPECT_EQ(source->AssignTo(root.get(), released), kErrMalformed);

  CRefPtr<CProjectData> project(new CProjectData), other(new CProjectData);
  project->text = u"plan";
  project->value11 = 9;
  ASSERT_EQ(project->AssignTo(other.get(), released), kOk);
  EXPECT_EQ(test::SaveRootToBytes(other.get()), test::SaveRootToBytes(project.get()));
}

// A table that repeats a key keeps the first value stored for it, in both forms tables are stored
// in (all values before all keys, and key-value pairs), and holds the key once.
TEST_F(ProjectCharacterTest, CharacterTablesKeepTheFirstValueOfARepeatedKey) {
  Bytes own;
  own.Version(2, 5).U8(1).U8(0).U8(0).F32(2).F32(1).F32(1).U32(0).U32(0);
  for (int i = 0; i < 32; ++i) own.U8(0);
  own.I32(0).I32(0).W(u"");
  const auto block = [&](size_t bytes, uint8_t value) {
    for (size_t i = 0; i < bytes; ++i) own.U8(value);
  };
  own.I32(2);  // table1: two values, then their keys
  block(8, 1);
  block(8, 2);
  own.W(u"k").W(u"k").I32(2);  // table2 likewise
  block(24, 3);
  block(24, 4);
  own.W(u"p").W(u"p").I32(1);                                          // value6
  own.I32(2).W(u"s").W(u"first").W(u"s").W(u"second").I32(2).W(u"e");  // table3, table4: pairs
  block(12, 5);
  own.W(u"e");
  block(12, 6);
  own.U8(1);
  auto* loaded = LoadRoot<CCharacterData>(
      File(Record("CCharacterData", CommonBlocks(1, false).Append(own), false), false));
  ASSERT_TRUE(loaded);
  ASSERT_EQ(loaded->table1.size(), 1u);
  EXPECT_EQ(loaded->table1.at(u"k").bytes[0], 1);
  ASSERT_EQ(loaded->table2.size(), 1u);
  EXPECT_EQ(loaded->table2.at(u"p").bytes[0], 3);
  ASSERT_EQ(loaded->table3.size(), 1u);
  EXPECT_EQ(loaded->table3.at(u"s"), u"first");
  ASSERT_EQ(loaded->table4.size(), 1u);
  EXPECT_EQ(loaded->table4.at(u"e").bytes[0], 5);
}

// Counts that cannot fit in what is left of the file are refused before anything is made for them.
TEST_F(ProjectCharacterTest, CharacterTableCountsBeyondTheFileAreStreamErrors) {
  Bytes fixed;
  fixed.Version(2, 5).U8(1).U8(0).U8(0).F32(2).F32(1).F32(1).U32(0).U32(0);
  for (int i = 0; i < 32; ++i) fixed.U8(0);
  fixed.I32(0).I32(0).W(u"");
  const Bytes tails[] = {Bytes().I32(0x10000000), Bytes().I32(0).I32(0x7FFFFFFF),
                         Bytes().I32(0).I32(0).I32(1).I32(0x20000000),
                         Bytes().I32(0).I32(0).I32(1).I32(0).I32(-1)};
  for (const Bytes& tail : tails) {
    Bytes own = fixed;
    own.Append(tail);
    CPersistContext ctx;
    EXPECT_EQ(
        test::LoadFromBytes(
            File(Record("CCharacterData", CommonBlocks(1, false).Append(own), false), false).data,
            ctx),
        kErrStream);
  }
}

}  // namespace
}  // namespace KX
