// Every class the program registers must have a round-trip sample, and every sample must save,
// load and save again to the same bytes.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "app/class_registration.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX::test {
namespace {

// Checks the shape of a listing: fields only inside a class level, a name on every field of a
// level or record and none on list elements, no name twice in one level or record, scopes closed
// in order, levels only at the top.
class CFieldShapeCheck final : public CFieldSink {
 public:
  std::vector<std::string> errors;
  std::vector<std::string> levels;

  void Level(const CRuntimeClass& cls) override {
    if (open_.size() > 1) errors.push_back(std::string("level ") + cls.className + " inside a scope");
    levels.push_back(cls.className);
    open_.clear();
    open_.push_back({false, {}, "level " + levels.back()});
  }
  void Integer(const char* name, int64_t) override { Add(name); }
  void Unsigned(const char* name, uint64_t) override { Add(name); }
  void Number(const char* name, double) override { Add(name); }
  void Boolean(const char* name, bool) override { Add(name); }
  void Text(const char* name, std::string_view) override { Add(name); }
  void Reference(const char* name, int32_t) override { Add(name); }
  void Bytes(const char* name, std::span<const uint8_t>) override { Add(name); }
  void Absent(const char* name) override { Add(name); }
  void BeginList(const char* name) override { Open(name, true); }
  void EndList() override { Close(true); }
  void BeginRecord(const char* name) override { Open(name, false); }
  void EndRecord() override { Close(false); }

  // Levels stay open until the next one; anything else must be closed at the end.
  bool Balanced() const { return open_.size() <= 1; }

 private:
  struct Scope {
    bool list = false;
    std::set<std::string> names;
    std::string where;
  };
  std::vector<Scope> open_;

  void Add(const char* name) {
    if (open_.empty()) {
      errors.push_back(std::string("field ") + (name ? name : "(unnamed)") + " outside any level");
      return;
    }
    Scope& scope = open_.back();
    if (scope.list) {
      if (name) errors.push_back(std::string("list element named ") + name + " in " + scope.where);
      return;
    }
    if (!name || !*name) {
      errors.push_back("unnamed field in " + scope.where);
      return;
    }
    if (!scope.names.insert(name).second)
      errors.push_back(std::string("field ") + name + " twice in " + scope.where);
  }
  void Open(const char* name, bool list) {
    Add(name);
    open_.push_back({list, {}, std::string(list ? "list " : "record ") + (name ? name : "(element)")});
  }
  void Close(bool list) {
    if (open_.size() <= 1 || open_.back().list != list) {
      errors.push_back(list ? "EndList without its list" : "EndRecord without its record");
      return;
    }
    open_.pop_back();
  }
};

std::vector<std::string> ClassChain(const CRuntimeClass* cls) {
  std::vector<std::string> chain;
  for (; cls; cls = cls->baseClass) chain.insert(chain.begin(), cls->className);
  return chain;
}

TEST(RoundTrip, EveryRegisteredClassHasASample) {
  RegisterAllClasses();
  const std::vector<std::string> programClasses = RegisteredClassNames();
  std::set<std::string> sampled;
  for (const auto& sample : RoundTripSamples()) sampled.insert(sample.className);
  for (const auto& name : programClasses) {
    // An alias creates an object of another class; that class's sample covers it.
    CRefPtr<CBase> object;
    ASSERT_EQ(CreateObject(name, object), kOk) << name;
    if (name != object->GetRuntimeClass()->className) continue;
    // Other tests of this program may have registered the test-only classes already.
    if (name == CTestObject::classRecord.className || name == CTestControl::classRecord.className)
      continue;
    EXPECT_TRUE(sampled.contains(name)) << name << " has no round-trip sample";
  }
}

TEST(RoundTrip, EverySampleSavesLoadsAndSavesIdentically) {
  RegisterForTests();  // samples may hang test-only controllers on their objects
  ASSERT_FALSE(RoundTripSamples().empty());
  for (const auto& sample : RoundTripSamples()) {
    SCOPED_TRACE(sample.className);
    CRefPtr<CBase> root = sample.make();
    ASSERT_TRUE(root);
    std::vector<CBase*> found;
    root->FindObjects(found, std::nullopt, nullptr, false);
    bool present = false;
    for (CBase* object : found) present |= sample.className == object->GetRuntimeClass()->className;
    EXPECT_TRUE(present) << "the sample holds no object of its class";
    ExpectRoundTrip(root.get());
  }
}

// Every byte a Save writes belongs to a named field (or frames one), so `recaster info --json`
// lists every persisted field of every class; listing a save does not change its bytes.
TEST(RoundTrip, EverySavedByteBelongsToANamedField) {
  RegisterForTests();
  for (const auto& sample : RoundTripSamples()) {
    SCOPED_TRACE(sample.className);
    CRefPtr<CBase> root = sample.make();
    ASSERT_TRUE(root);
    // What a save does before writing: collect (and prepare) the objects, number them.
    CPersistContext context;
    ASSERT_TRUE(Succeeded(root->CollectForSave(context)));
    ASSERT_FALSE(context.saveList.empty());
    int32_t nextId = 1;
    for (const CBase* object : context.saveList) context.saveIds[object] = nextId++;
    for (const CBase* object : context.saveList) {
      const std::string className = object->GetRuntimeClass()->className;
      CMemoryIo plain;
      CWriter plainOut(plain, 0, &context);
      ASSERT_EQ(object->Save(plainOut), kOk) << className;

      CMemoryIo listed;
      CFieldShapeCheck check;
      CWriter listedOut(listed, 0, &context, &check);
      ASSERT_EQ(object->Save(listedOut), kOk) << className;
      EXPECT_EQ(listedOut.UnlistedBytes(), 0u) << className << " writes bytes under no field name";
      EXPECT_EQ(plain.bytes(), listed.bytes()) << className << ": listing changed the bytes";
      for (const auto& error : check.errors) ADD_FAILURE() << className << ": " << error;
      EXPECT_TRUE(check.Balanced()) << className << " leaves a list or record open";
      // The test object of the samples borrows its base's block and has no level of its own.
      if (object->GetRuntimeClass() != &CTestObject::classRecord) {
        EXPECT_EQ(check.levels, ClassChain(object->GetRuntimeClass())) << className;
      }
    }
  }
}

}  // namespace
}  // namespace KX::test
