#include <gtest/gtest.h>

#include "object/archive.h"
#include "object/scene_object_base.h"

namespace KX {
namespace {

class CLowerLevel : public CCorva {
 public:
  static const CRuntimeClass classRecord;
  const CRuntimeClass* GetRuntimeClass() const override { return &classRecord; }
  int32_t lower = 0;
  Status Persist(CArchive& ar) override {
    KX_RETURN_IF_FAILED(CCorva::Persist(ar));
    ar.Version(classRecord);
    ar("lower", lower);
    return ar.status();
  }
};

class CUpperLevel : public CLowerLevel {
 public:
  static const CRuntimeClass classRecord;
  const CRuntimeClass* GetRuntimeClass() const override { return &classRecord; }
  int32_t count = 0;
  std::vector<float> values;
  std::u16string text;
  CRefPtr<CCorva> shared;
  CCorva* plain = nullptr;
  std::vector<CCorva*> list;
  int32_t gated = 0;

  Status Persist(CArchive& ar) override {
    KX_RETURN_IF_FAILED(CLowerLevel::Persist(ar));
    ar.Version(classRecord);
    int32_t stored = count * 2;  // a value of the record only, not of the object
    ar("count", count)("stored", stored).Counted("values", values)("text", text);
    ar.Ref("shared", shared).Ref("plain", plain).RefList("list", list);
    if (count > 100) ar("gated", gated);
    return ar.status();
  }
};

const CRuntimeClass CLowerLevel::classRecord{"CLowerLevel", &CCorva::classRecord, 2, 0};
const CRuntimeClass CUpperLevel::classRecord{"CUpperLevel", &CLowerLevel::classRecord, 2, 0};

TEST(ArchiveCopyTest, CopiesTheLevelsOwnFieldsAndSharesItsReferences) {
  CRefPtr<CCorva> a(new CCorva), b(new CCorva), old(new CCorva);
  CUpperLevel source;
  source.name = u"source";
  source.lower = 5;
  source.count = 101;
  source.values = {1.5f, 2.5f};
  source.text = u"words";
  source.shared = a;
  source.plain = b.get();
  source.list = {a.get(), nullptr, b.get()};
  source.gated = 42;

  CRefPtr<CUpperLevel> target(new CUpperLevel);
  target->shared = old;
  ReleasedList released;
  ASSERT_EQ(CopyLevel(source, target.get(), released), kOk);

  // The level below and the base's name are the base levels' to assign.
  EXPECT_EQ(target->lower, 0);
  EXPECT_TRUE(target->name.empty());
  EXPECT_EQ(target->count, 101);
  EXPECT_EQ(target->values, source.values);
  EXPECT_EQ(target->text, u"words");
  EXPECT_EQ(target->shared.get(), a.get());
  EXPECT_EQ(target->plain, b.get());
  EXPECT_EQ(target->list, source.list);
  // A statement gated on a value copied before it is taken on both sides.
  EXPECT_EQ(target->gated, 42);
  // The target's former shared object is handed over, not released on the way.
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0].get(), old.get());

  CLowerLevel lower;
  lower.lower = 9;
  CLowerLevel lowerTarget;
  ASSERT_EQ(CopyLevel(lower, &lowerTarget, released), kOk);
  EXPECT_EQ(lowerTarget.lower, 9);
}

TEST(ArchiveCopyTest, TargetsOfAnotherClassAreRefusedAndSelfCopiesDoNothing) {
  CUpperLevel source;
  source.count = 3;
  CRefPtr<CLowerLevel> lower(new CLowerLevel);
  ReleasedList released;
  EXPECT_EQ(CopyLevel(source, lower.get(), released), kErrMalformed);
  EXPECT_EQ(CopyLevel(source, nullptr, released), kErrMalformed);
  EXPECT_EQ(CopyLevel(source, &source, released), kOk);
  EXPECT_EQ(source.count, 3);
  EXPECT_TRUE(released.empty());
}

}  // namespace
}  // namespace KX
