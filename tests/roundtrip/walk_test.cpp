// The generic walks (searching, collection for saving, name binding, remapping) over every
// class: each follows the references a class states, in the stated order, and every operation
// that runs after a load ends on graphs whose plain references close cycles.
#include <sys/wait.h>

#include <cstdio>
#include <functional>
#include <set>

#include "object/scene_object_base.h"
#include "object/walker.h"
#include "support/after_load.h"
#include "support/round_trip.h"
#include "support/temp_dir.h"
#include "support/test_classes.h"

namespace KX::test {
namespace {

// The walk order the statements define, computed the plain recursive way: depth first, an
// object once, its references in statement order.
void ExpectedOrder(CBase* object, Walks walk, std::set<const CBase*>& seen,
                   std::vector<CBase*>& order) {
  if (!seen.insert(object).second) return;
  order.push_back(object);
  class CTargets final : public CReferenceVisitor {
   public:
    Walks walk;
    std::vector<CBase*> targets;
    void Owned(const CReference& ref) override { Add(ref); }
    void Plain(const CReference& ref) override { Add(ref); }
    void Add(const CReference& ref) {
      if (ref.Follows(walk)) targets.push_back(ref.target);
    }
  } targets;
  targets.walk = walk;
  object->VisitReferences(targets);
  for (CBase* target : targets.targets) ExpectedOrder(target, walk, seen, order);
}

std::vector<CBase*> ExpectedOrder(CBase* root, Walks walk) {
  std::set<const CBase*> seen;
  std::vector<CBase*> order;
  ExpectedOrder(root, walk, seen, order);
  return order;
}

std::vector<std::string> Classes(const std::vector<CBase*>& objects) {
  std::vector<std::string> names;
  for (const CBase* object : objects) names.emplace_back(object->GetRuntimeClass()->className);
  return names;
}

TEST(Walks, SearchAndCollectionFollowTheStatedReferencesOfEveryClass) {
  RegisterForTests();
  for (const auto& sample : RoundTripSamples()) {
    SCOPED_TRACE(sample.className);
    CRefPtr<CBase> root = sample.make();
    ASSERT_TRUE(root);
    std::vector<CBase*> found;
    root->FindObjects(found, std::nullopt, nullptr, false);
    EXPECT_EQ(Classes(found), Classes(ExpectedOrder(root.get(), kSearch)));
    CPersistContext context;
    ASSERT_EQ(root->CollectForSave(context), kOk);
    EXPECT_EQ(Classes(context.saveList), Classes(ExpectedOrder(root.get(), kCollect)));
    // The first hit of FindObject is the first object of that class in search order.
    for (CBase* object : found)
      EXPECT_EQ(root->FindObject(std::nullopt, object->GetRuntimeClass(), false),
                *std::find_if(found.begin(), found.end(), [&](CBase* o) {
                  return o->GetRuntimeClass() == object->GetRuntimeClass();
                }));
  }
}

// Every plain reference of every sample pointed back at the scene that holds it: the graph is
// searched, collected, bound, copied, listed, classified, converted and saved, and it all ends.
TEST(Walks, EveryOperationAfterALoadEndsWhenPlainReferencesPointBack) {
  RegisterForTests();
  size_t repointed = 0;
  for (const auto& sample : RoundTripSamples()) {
    SCOPED_TRACE(sample.className);
    CRefPtr<CBase> object = sample.make();
    ASSERT_TRUE(object);
    CRefPtr<CBase> scene = InScene(object.get());
    ASSERT_TRUE(scene);
    repointed += PointPlainReferencesBack(scene.get(), scene.get());

    CPersistContext built;
    ASSERT_EQ(AddRoot(built, scene.get()), kOk);
    RunAfterLoad(built);

    // The same graph as a file: what loads must come through the same.
    CPersistContext source;
    ASSERT_EQ(AddRoot(source, sample.make().get()), kOk);
    CRefPtr<CBase> again = InScene(source.roots[0].get());
    ASSERT_TRUE(again);
    PointPlainReferencesBack(again.get(), again.get());
    CPersistContext saving;
    ASSERT_EQ(AddRoot(saving, again.get()), kOk);
    Status saved = kOk;
    const auto bytes = SaveToBytes(saving, &saved);
    ASSERT_EQ(saved, kOk);
    CPersistContext loaded;
    if (Succeeded(LoadFromBytes(bytes, loaded))) RunAfterLoad(loaded);
  }
  EXPECT_GT(repointed, 10u) << "the samples should hold plain references to point back";
}

// The tool's exit code, or -1 when a signal ended it.
int RunTool(const std::string& arguments) {
  const std::string command = std::string(KX_RECASTER_PATH) + " " + arguments + " >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The same graphs as files, through the real tool: each listing and the check end with one of
// the tool's own exit codes.
TEST(Walks, TheToolListsAndChecksFilesWhosePlainReferencesPointBack) {
  RegisterForTests();
  TempDir dir("kx_walks");
  int files = 0;
  for (const auto& sample : RoundTripSamples()) {
    SCOPED_TRACE(sample.className);
    CRefPtr<CBase> object = sample.make();
    CRefPtr<CBase> scene = InScene(object.get());
    ASSERT_TRUE(scene);
    if (PointPlainReferencesBack(scene.get(), scene.get()) == 0) continue;
    CPersistContext context;
    ASSERT_EQ(AddRoot(context, scene.get()), kOk);
    const std::string path = dir.Path("cycle_" + sample.className + ".crv");
    ASSERT_EQ(SaveFile(0, context, path), kOk);
    ++files;
    for (const char* command : {"info --json", "info --tree", "info", "check"}) {
      const int code = RunTool(std::string(command) + " " + path);
      EXPECT_TRUE(code == 0 || code == 5) << command << " ended with " << code;
    }
  }
  EXPECT_GT(files, 5);
}

// A test object with two plain references that every walk follows: enough to build lattices
// and rings that no tree of owned references can.
class CFork : public CTestObject {
 public:
  CBase* left = nullptr;
  CBase* right = nullptr;
  void VisitReferences(CReferenceVisitor& visit) override {
    CTestObject::VisitReferences(visit);
    visit(left, kFollowAll | kRetarget);
    visit(right, kFollowAll | kRetarget);
  }
};

TEST(Walks, EndOnRingsLatticesAndVeryLongChains) {
  // A lattice of 60 levels of two objects, each pointing at both of the next level: 2^60 paths,
  // 120 objects; then the last level points back at the first (a ring).
  std::vector<CRefPtr<CFork>> objects;
  for (int i = 0; i < 120; ++i) objects.emplace_back(new CFork);
  for (int i = 0; i + 2 < 120; ++i) {
    objects[i]->left = objects[(i / 2 + 1) * 2].get();
    objects[i]->right = objects[(i / 2 + 1) * 2 + 1].get();
  }
  objects[118]->left = objects[0].get();
  objects[119]->right = objects[1].get();
  objects[77]->name = u"wanted";
  std::vector<CBase*> found;
  objects[0]->FindObjects(found, std::nullopt, nullptr, false);
  EXPECT_EQ(found.size(), 120u);
  EXPECT_EQ(objects[0]->FindObject(u"wanted", nullptr, false), objects[77].get());
  EXPECT_EQ(objects[0]->FindObject(u"absent", nullptr, false), nullptr);
  CPersistContext context;
  EXPECT_EQ(objects[0]->CollectForSave(context), kOk);
  EXPECT_EQ(context.saveList.size(), 120u);
  EXPECT_EQ(objects[0]->CollectForSave(context), kNothingDone);
  EXPECT_EQ(objects[0]->ResolveNames(objects[0].get()), kOk);

  // Remapping retargets each plain reference once, through the ring, to the copies in the map.
  DuplicateMap map;
  for (auto& object : objects) map.emplace(object.get(), CRefPtr<CBase>(new CFork));
  EXPECT_EQ(objects[0]->RemapReferences(map), kOk);
  EXPECT_EQ(objects[0]->left, map[objects[2].get()].get());

  // A chain longer than any walk goes: searches stop, status walks answer malformed; none
  // overflows the stack.
  std::vector<CRefPtr<CFork>> chain;
  for (size_t i = 0; i < kMaxWalkDepth + 10; ++i) chain.emplace_back(new CFork);
  for (size_t i = 0; i + 1 < chain.size(); ++i) chain[i]->left = chain[i + 1].get();
  chain.back()->name = u"end";
  EXPECT_EQ(chain[0]->FindObject(u"end", nullptr, false), nullptr);
  CPersistContext deep;
  EXPECT_EQ(chain[0]->CollectForSave(deep), kErrMalformed);
  EXPECT_EQ(chain[10]->FindObject(u"end", nullptr, false), chain.back().get());
}

}  // namespace
}  // namespace KX::test
