// docs/info-json.md names the fields of every class level that `recaster info --json` lists, as
// the classes' saves name them.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "app/class_registration.h"
#include "object/container.h"
#include "object/persist.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX {
namespace {

// The names at the top of each class level, in the order a save lists them.
class CLevelFields final : public CFieldSink {
 public:
  std::map<std::string, std::vector<std::string>>& levels;
  explicit CLevelFields(std::map<std::string, std::vector<std::string>>& out) : levels(out) {}

  void Level(const CRuntimeClass& cls) override {
    current_ = &levels[cls.className];
    depth_ = 0;
  }
  void Integer(const char* name, int64_t) override { Add(name); }
  void Unsigned(const char* name, uint64_t) override { Add(name); }
  void Number(const char* name, double) override { Add(name); }
  void Boolean(const char* name, bool) override { Add(name); }
  void Text(const char* name, std::string_view) override { Add(name); }
  void Reference(const char* name, int32_t) override { Add(name); }
  void Bytes(const char* name, std::span<const uint8_t>) override { Add(name); }
  void Absent(const char* name) override { Add(name); }
  void BeginList(const char* name) override { Open(name); }
  void EndList() override { --depth_; }
  void BeginRecord(const char* name) override { Open(name); }
  void EndRecord() override { --depth_; }

 private:
  void Add(const char* name) {
    if (depth_ != 0 || !current_ || !name) return;
    if (std::find(current_->begin(), current_->end(), name) == current_->end())
      current_->push_back(name);
  }
  void Open(const char* name) {
    Add(name);
    ++depth_;
  }
  std::vector<std::string>* current_ = nullptr;
  int depth_ = 0;
};

// Rows of the field table: | `CClass` | `base` | `field`, `field` |
std::map<std::string, std::vector<std::string>> DocumentedFields(const std::string& path) {
  std::map<std::string, std::vector<std::string>> documented;
  std::ifstream in(path);
  const std::regex row(R"(^\| `(C\w+)` \| [^|]* \| (.*) \|\s*$)");
  const std::regex field("`(\\w+)`");
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (!std::regex_match(line, m, row)) continue;
    auto& fields = documented[m[1]];
    const std::string list = m[2];
    for (std::sregex_iterator it(list.begin(), list.end(), field), end; it != end; ++it)
      fields.push_back((*it)[1]);
  }
  return documented;
}

TEST(FieldDocs, EveryClassLevelOfTheProgramIsListedWithItsFields) {
  test::RegisterForTests();
  // What the samples' saves list, level by level, for the classes the program registers.
  std::set<std::string> program;
  for (const auto& entry : RegisteredClassesInOrder())
    if (entry.name != "CTestObject" && entry.name != "CTestControl") program.insert(entry.name);
  std::map<std::string, std::vector<std::string>> listed;
  std::map<std::string, const CRuntimeClass*> records;
  for (const auto& sample : test::RoundTripSamples()) {
    CRefPtr<CBase> root = sample.make();
    CPersistContext context;
    ASSERT_TRUE(Succeeded(root->CollectForSave(context)));
    int32_t nextId = 1;
    for (const CBase* object : context.saveList) context.saveIds[object] = nextId++;
    for (const CBase* object : context.saveList) {
      if (!program.contains(object->GetRuntimeClass()->className)) continue;
      for (const CRuntimeClass* cls = object->GetRuntimeClass(); cls; cls = cls->baseClass)
        records[cls->className] = cls;
      CMemoryIo bytes;
      CLevelFields sink(listed);
      CWriter out(bytes, 0, &context, &sink);
      ASSERT_EQ(object->Save(out), kOk);
    }
  }
  const auto documented = DocumentedFields(std::string(KX_DOCS_DIR) + "/info-json.md");
  std::string missing;
  for (const auto& [name, cls] : records) {
    const auto& fields = listed[name];
    const auto it = documented.find(name);
    if (it != documented.end() && it->second == fields) continue;
    std::string row = "| `" + name + "` | " +
                      (cls->baseClass ? "`" + std::string(cls->baseClass->className) + "`" : "") +
                      " | ";
    for (size_t i = 0; i < fields.size(); ++i) row += (i ? ", `" : "`") + fields[i] + "`";
    missing += (fields.empty() ? row + "(none)" : row) + " |\n";
  }
  EXPECT_TRUE(missing.empty()) << "rows of docs/info-json.md missing or different:\n" << missing;
  for (const auto& [name, fields] : documented)
    EXPECT_TRUE(records.contains(name))
        << name << " is documented but no class level of the program";
}

}  // namespace
}  // namespace KX
