#include <gtest/gtest.h>

#include "object/base.h"
#include "object/custom_data.h"
#include "support/test_classes.h"

namespace KX {
namespace {

class BaseTest : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }
};

// A class whose record chain skips its C++ base, like the grass object whose record's base is
// CCorva although it derives from a spatial class.
class CShortcut : public test::CTestObject {
 public:
  static const CRuntimeClass classRecord;
  const CRuntimeClass* GetRuntimeClass() const override { return &classRecord; }
};
const CRuntimeClass CShortcut::classRecord{"CShortcut", &CCorva::classRecord, 2, 0};

TEST_F(BaseTest, RefPtrCountsAndDestroysOnLastRelease) {
  static int destroyed = 0;
  struct Counted : CBase {
    ~Counted() override { ++destroyed; }
  };
  destroyed = 0;
  auto* raw = new Counted;
  EXPECT_EQ(raw->refCount, 0);
  {
    CRefPtr<CBase> a(raw);
    EXPECT_EQ(raw->refCount, 1);
    CRefPtr<CBase> b = a;
    EXPECT_EQ(raw->refCount, 2);
    b = raw;  // same pointer: nothing changes
    EXPECT_EQ(raw->refCount, 2);
    CRefPtr<CBase> c = std::move(b);
    EXPECT_EQ(raw->refCount, 2);
    EXPECT_FALSE(b);
  }
  EXPECT_EQ(destroyed, 1);
}

TEST_F(BaseTest, RefPtrAssignmentKeepsAnObjectOnlyTheOldOneHeld) {
  // The new object is reached only through the old one: acquiring before releasing keeps it.
  CRefPtr<CCustomData> head(new CRawData);
  head->next = new CRawData;
  head->next->name = u"second";
  head = head->next;
  ASSERT_TRUE(head);
  EXPECT_EQ(head->name, u"second");
  EXPECT_EQ(head->refCount, 1);
}

TEST_F(BaseTest, FindObjectTestsNameAndClass) {
  CRefPtr<CRawData> raw(new CRawData);
  raw->name = u"Payload";
  EXPECT_EQ(raw->FindObject(std::nullopt, nullptr, false), raw.get());
  EXPECT_EQ(raw->FindObject(u"Payload", nullptr, true), raw.get());
  EXPECT_EQ(raw->FindObject(u"payload", nullptr, true), nullptr);  // case-sensitive
  EXPECT_EQ(raw->FindObject(std::nullopt, &CCorva::classRecord, false), nullptr);
  EXPECT_EQ(raw->FindObject(std::nullopt, &CCorva::classRecord, true), raw.get());
  EXPECT_EQ(raw->FindObject(std::nullopt, &CRawData::classRecord, false), raw.get());
  EXPECT_EQ(raw->FindObject(std::nullopt, &CXmlRawData::classRecord, true), nullptr);
}

TEST_F(BaseTest, IsKindOfFollowsTheRecordChainNotTheCxxBases) {
  CRefPtr<CBase> shortcut(new CShortcut);
  EXPECT_EQ(IsKindOf(shortcut.get(), &CCorva::classRecord), shortcut.get());
  EXPECT_EQ(IsKindOf(shortcut.get(), &test::CTestObject::classRecord), nullptr);
  EXPECT_EQ(KindOf<test::CTestObject>(shortcut.get()), nullptr);
  EXPECT_EQ(IsKindOf(static_cast<CBase*>(nullptr), &CBase::classRecord), nullptr);
  CRefPtr<CBase> xml(new CXmlRawData);
  EXPECT_NE(KindOf<CRawData>(xml.get()), nullptr);
  EXPECT_NE(KindOf<CCustomData>(xml.get()), nullptr);
}

TEST_F(BaseTest, DuplicateTwiceWithOneMapGivesTheSameCopy) {
  CRefPtr<CRawData> raw(new CRawData);
  raw->name = u"x";
  DuplicateMap map;
  CRefPtr<CBase> first, second;
  EXPECT_EQ(raw->Duplicate(first, map), kOk);
  EXPECT_EQ(raw->Duplicate(second, map), kNothingDone);
  EXPECT_EQ(first.get(), second.get());
  EXPECT_NE(first.get(), raw.get());
  EXPECT_EQ(first->name, u"x");
}

TEST_F(BaseTest, CopiesStartUnreferencedAndUnmodified) {
  CRefPtr<CRawData> raw(new CRawData);
  raw->modified = 1;
  raw->name = u"n";
  CRefPtr<CBase> copy;
  ASSERT_EQ(raw->Clone(copy), kOk);
  EXPECT_EQ(copy->refCount, 1);  // only `copy` holds it
  EXPECT_EQ(copy->modified, 0);
  EXPECT_EQ(copy->name, u"n");
}

TEST_F(BaseTest, AbstractLevelsDoNotClone) {
  struct Plain : CBase {};
  CRefPtr<CBase> plain(new Plain), out;
  EXPECT_EQ(plain->Clone(out), kErrBadArgument);
  DuplicateMap map;
  EXPECT_EQ(plain->Duplicate(out, map), kErrBadArgument);
  EXPECT_TRUE(map.empty());
  EXPECT_EQ(plain->Reserved1(nullptr, nullptr), kErrBadArgument);
}

TEST_F(BaseTest, AssignToCopiesTheName) {
  CRefPtr<CRawData> a(new CRawData), b(new CRawData);
  a->name = u"from";
  ReleasedList released;
  EXPECT_EQ(a->AssignTo(nullptr, released), kErrBadArgument);
  EXPECT_EQ(a->AssignTo(b.get(), released), kOk);
  EXPECT_EQ(b->name, u"from");
}

TEST_F(BaseTest, SaveSizeOfTheBaseLevel) {
  struct Plain : CBase {};
  CRefPtr<CBase> plain(new Plain);
  EXPECT_EQ(plain->GetSaveSize(), 29);  // "CBase" 5 + empty name + 24
  plain->name = u"abc";
  EXPECT_EQ(plain->GetSaveSize(), 35);
  EXPECT_EQ(plain->GetMemorySize(), 44);
  EXPECT_EQ(plain->GetVersion(), 200);
}

// A reference slot takes an object by its C++ class. The answer is remembered per class of
// object; many classes in turn (more than it remembers at once) answer what dynamic_cast does.
TEST_F(BaseTest, SlotCastAnswersWhatDynamicCastDoesForEveryClass) {
  std::vector<CRefPtr<CBase>> objects;
  for (const auto& name : RegisteredClassNames()) {
    CRefPtr<CBase> object;
    if (Succeeded(CreateObject(name, object)) && object) objects.push_back(object);
  }
  objects.emplace_back(new CShortcut);
  ASSERT_GT(objects.size(), 16u);
  for (int round = 0; round < 2; ++round) {
    for (size_t k = 0; k < objects.size(); ++k) {
      CBase* object = objects[round ? objects.size() - 1 - k : k].get();
      const char* name = object->GetRuntimeClass()->className;
      EXPECT_EQ(SlotCast<CCorva>(object), dynamic_cast<CCorva*>(object)) << name;
      EXPECT_EQ(SlotCast<CCustomData>(object), dynamic_cast<CCustomData*>(object)) << name;
      EXPECT_EQ(SlotCast<CRawData>(object), dynamic_cast<CRawData*>(object)) << name;
      EXPECT_EQ(SlotCast<test::CTestObject>(object), dynamic_cast<test::CTestObject*>(object))
          << name;
    }
  }
  EXPECT_EQ(SlotCast<CCorva>(nullptr), nullptr);
}

TEST_F(BaseTest, RegistryCreatesByExactNameAndReportsUnknownNames) {
  CRefPtr<CBase> object;
  EXPECT_EQ(CreateObject("CRawData", object), kOk);
  ASSERT_TRUE(object);
  EXPECT_EQ(object->GetRuntimeClass(), &CRawData::classRecord);
  EXPECT_EQ(object->refCount, 1);
  EXPECT_EQ(CreateObject("crawdata", object), kErrUnknownClass);
  EXPECT_EQ(CreateObject("CCorva", object), kErrUnknownClass);  // abstract levels have no creator
  EXPECT_EQ(CreateObject("CCustomData", object), kErrUnknownClass);

  // An alias creates an object of the class it stands for.
  RegisterClass("CRawAlias", &CreateInstance<CRawData>);
  ASSERT_EQ(CreateObject("CRawAlias", object), kOk);
  EXPECT_EQ(object->GetRuntimeClass(), &CRawData::classRecord);
  UnregisterClass("CRawAlias");
  EXPECT_FALSE(IsClassRegistered("CRawAlias"));
  EXPECT_EQ(CreateObject("CRawAlias", object), kErrUnknownClass);
  RegisterClass("CRawAlias", &CreateInstance<CRawData>);  // and back, under the same name
  ASSERT_EQ(CreateObject("CRawAlias", object), kOk);
  UnregisterClass("CRawAlias");
}

TEST_F(BaseTest, StatusCodesKeepTheirValues) {
  EXPECT_EQ(static_cast<uint32_t>(kErrStream), 0x80000000u);
  EXPECT_EQ(static_cast<uint32_t>(kErrOutOfMemory), 0x80000002u);
  EXPECT_EQ(static_cast<uint32_t>(kErrBadArgument), 0x80000003u);
  EXPECT_EQ(static_cast<uint32_t>(kErrMalformed), 0x80000005u);
  EXPECT_EQ(static_cast<uint32_t>(kErrOpen), 0x80000006u);
  EXPECT_EQ(static_cast<uint32_t>(kErrFileSize), 0x80000007u);
  EXPECT_EQ(static_cast<uint32_t>(kErrUnknownClass), 0x80000008u);
  EXPECT_EQ(static_cast<uint32_t>(kErrNewerVersion), 0x80000009u);
  EXPECT_EQ(static_cast<uint32_t>(kErrPending), 0x80030000u);
  EXPECT_EQ(static_cast<uint32_t>(kErrNodeNotFound), 0x80030001u);
  EXPECT_TRUE(Succeeded(kNothingDone));
  EXPECT_TRUE(Failed(kErrStream));
}

}  // namespace
}  // namespace KX
