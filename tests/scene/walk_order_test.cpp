// Which objects each generic walk reaches from a scene object, and in which order. The classes
// differ in what their walks leave out (a spatial object's attachment is neither bound by name
// nor remapped, the scene's eighth object is never searched or saved, a switcher's secondary
// camera is searched and remapped but not saved), so every walk is checked on its own.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "object/container.h"
#include "object/walker.h"
#include "material/material.h"
#include "scene/bounding_objects.h"
#include "scene/camera.h"
#include "scene/scene_settings.h"
#include "scene/tri_mesh.h"
#include "scene_fixtures.h"

namespace KX {
namespace {

// Keeps every object of a case alive, plain targets included.
struct Graph {
  CRefPtr<CBase> start;
  std::vector<CRefPtr<CBase>> keep;

  template <class T>
  T* Add(const char* name) {
    T* object = new T;
    object->name.assign(name, name + std::char_traits<char>::length(name));
    keep.emplace_back(object);
    return object;
  }
};

std::string Names(const std::vector<CBase*>& objects) {
  std::string names;
  for (const CBase* object : objects) {
    if (!names.empty()) names += ' ';
    names.append(object->name.begin(), object->name.end());
  }
  return names;
}

std::string Reached(CBase* start, Walks walk) {
  std::vector<CBase*> reached;
  EXPECT_TRUE(Succeeded(Walk(start, walk, [&](CBase* object) {
    reached.push_back(object);
    return WalkStep::kDescend;
  })));
  return Names(reached);
}

struct WalkCase {
  const char* what;
  std::function<void(Graph&)> build;
  const char* search;
  const char* collect;
  const char* resolve;
  const char* remap;
};

CBoundingMesh* HullWithController(Graph& g, const char* name) {
  auto* hull = g.Add<CBoundingMesh>(name);
  EXPECT_EQ(hull->AttachController(g.Add<test::CTestControl>("ctl")), kOk);
  return hull;
}

const WalkCase kCases[] = {
    {"node: chains, attachment, hull chain, children; never the parent",
     [](Graph& g) {
       auto* node = g.Add<CNode>("node");
       g.start = node;
       EXPECT_EQ(node->AttachController(g.Add<test::CTestControl>("ctl")), kOk);
       node->attachment = g.Add<test::CTestObject>("att");
       auto* hull = g.Add<CBoundingMesh>("hull");
       hull->node = node;
       EXPECT_EQ(node->AddBounding(hull), kOk);
       EXPECT_EQ(node->AddChild(g.Add<test::CTestLeaf>("kid")), kOk);
       EXPECT_EQ(node->AddChild(g.Add<CNode>("kid2")), kOk);
     },
     "node ctl att hull kid kid2", "node ctl att hull kid kid2", "node ctl hull kid kid2",
     "node ctl hull kid kid2"},
    {"child: the parent link leads nowhere",
     [](Graph& g) {
       auto* node = g.Add<CNode>("node");
       auto* kid = g.Add<test::CTestLeaf>("kid");
       EXPECT_EQ(node->AddChild(kid), kOk);
       g.start = kid;
     },
     "kid", "kid", "kid", "kid"},
    {"hull: its own chains before the rest of the chain; the node is not walked",
     [](Graph& g) {
       auto* first = HullWithController(g, "h1");
       auto* second = g.Add<CBoundingMesh>("h2");
       first->node = g.Add<test::CTestLeaf>("moved");
       second->node = first->node;
       EXPECT_EQ(first->AppendBounding(second), kOk);
       g.start = first;
     },
     "h1 ctl h2", "h1 ctl h2", "h1 ctl h2", "h1 ctl h2"},
    {"mesh: spatial part, material, map channels",
     [](Graph& g) {
       auto* mesh = g.Add<CTriMesh>("mesh");
       g.start = mesh;
       mesh->attachment = g.Add<test::CTestObject>("att");
       mesh->bounding = g.Add<CBoundingMesh>("hull");
       mesh->material = g.Add<CStandardMaterial>("mat");
       mesh->mapChannels = {g.Add<CUvwMap>("uv1"), nullptr, g.Add<CUvwMap>("uv2")};
     },
     "mesh att hull mat uv1 uv2", "mesh att hull mat uv1 uv2", "mesh hull mat uv1 uv2",
     "mesh hull mat uv1 uv2"},
    {"camera: spatial part, then the target object",
     [](Graph& g) {
       auto* camera = g.Add<CCamera>("cam");
       g.start = camera;
       camera->attachment = g.Add<test::CTestObject>("att");
       camera->target = g.Add<CCameraTarget>("aim");
     },
     "cam att aim", "cam att aim", "cam aim", "cam aim"},
    {"scene: object1 to object7 with every walk, object8 only bound and remapped",
     [](Graph& g) {
       auto* scene = g.Add<CScene>("scene");
       g.start = scene;
       CRefPtr<CBase>* slots[] = {&scene->object1, &scene->object2, &scene->object3,
                                   &scene->object4, &scene->object5, &scene->object6,
                                   &scene->object7, &scene->object8};
       const char* names[] = {"o1", "o2", "o3", "o4", "o5", "o6", "o7", "o8"};
       for (int i = 0; i < 8; ++i) *slots[i] = g.Add<test::CTestObject>(names[i]);
       scene->object4 = scene->object2;  // shared: reached once
     },
     "scene o1 o2 o3 o5 o6 o7", "scene o1 o2 o3 o5 o6 o7", "scene o1 o2 o3 o5 o6 o7 o8",
     "scene o1 o2 o3 o5 o6 o7 o8"},
    {"switcher: listed and active cameras only remapped in place, secondary not saved",
     [](Graph& g) {
       auto* switcher = g.Add<CCameraSwitcher>("sw");
       g.start = switcher;
       switcher->cameras = {g.Add<CCamera>("listed")};
       switcher->activeCamera = g.Add<CCamera>("active");
       switcher->primaryCamera = g.Add<CCamera>("primary");
       switcher->secondaryCamera = g.Add<CCamera>("secondary");
       switcher->extraObject = g.Add<test::CTestObject>("extra");
     },
     "sw primary secondary extra", "sw primary extra", "sw primary extra",
     "sw primary secondary extra"},
};

TEST(WalkOrder, EachWalkReachesWhatItsClassStates) {
  test::RegisterForTests();
  for (const WalkCase& c : kCases) {
    SCOPED_TRACE(c.what);
    Graph g;
    c.build(g);
    ASSERT_TRUE(g.start);

    std::vector<CBase*> found;
    g.start->FindObjects(found, std::nullopt, nullptr, false);
    EXPECT_EQ(Names(found), c.search);
    // The single search reaches as far: the last object found is found by its name.
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(g.start->FindObject(found.back()->name, nullptr, false), found.back());

    CPersistContext context;
    ASSERT_EQ(g.start->CollectForSave(context), kOk);
    EXPECT_EQ(Names(context.saveList), c.collect);

    EXPECT_EQ(Reached(g.start.get(), kResolve), c.resolve);
    EXPECT_EQ(Reached(g.start.get(), kRemap), c.remap);
  }
}

}  // namespace
}  // namespace KX

namespace KX {
namespace {

// A node "root" with 300 child nodes, 301 objects in all; null when a child could not be added.
CNode* WideNode(Graph& graph) {
  auto* root = graph.Add<CNode>("root");
  graph.start = root;
  for (int i = 0; i < 300; ++i)
    if (root->AddChild(graph.Add<CNode>("n")) != kOk) return nullptr;
  return root;
}

// Walks share their working tables: a walk after a large one, and a walk run from inside
// another one's step, must each still reach every object once.
TEST(WalkOrder, WalksAfterAndInsideOthersReachEveryObjectOnce) {
  test::RegisterForTests();
  Graph big;
  CNode* root = WideNode(big);
  ASSERT_NE(root, nullptr);
  Graph small;
  auto* top = small.Add<CNode>("top");
  small.start = top;
  ASSERT_EQ(top->AddChild(small.Add<CNode>("a")), kOk);
  ASSERT_EQ(top->AddChild(small.Add<CNode>("b")), kOk);

  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    std::vector<CBase*> found;
    root->FindObjects(found, std::nullopt, nullptr, false);
    EXPECT_EQ(found.size(), 301u);
    EXPECT_EQ(Reached(top, kSearch), "top a b");

    // Every object of the big walk runs a whole small walk of its own.
    size_t outer = 0;
    std::string inner;
    ASSERT_EQ(Walk(root, kSearch,
                   [&](CBase*) {
                     ++outer;
                     inner = Reached(top, kSearch);
                     return inner == "top a b" ? WalkStep::kDescend : WalkStep::kStop;
                   }),
              kOk);
    EXPECT_EQ(outer, 301u);
    EXPECT_EQ(inner, "top a b");

    // A walk inside another one's step over the same objects leaves the outer walk's record of
    // what it reached alone.
    outer = 0;
    size_t again = 0;
    ASSERT_EQ(Walk(root, kSearch,
                   [&](CBase*) {
                     ++outer;
                     std::vector<CBase*> all;
                     root->FindObjects(all, std::nullopt, nullptr, false);
                     again = all.size();
                     return again == 301u ? WalkStep::kDescend : WalkStep::kStop;
                   }),
              kOk);
    EXPECT_EQ(outer, 301u);
    EXPECT_EQ(again, 301u);
  }
}

// Numbers for the objects of a pass, kept on the objects or, inside a walk, in a table: the same
// answers either way, and the walks before and after a numbered pass each reach every object.
TEST(WalkOrder, ObjectNumbersCountInMeetingOrderAndLeaveWalksWhole) {
  test::RegisterForTests();
  Graph big;
  CNode* root = WideNode(big);
  ASSERT_NE(root, nullptr);
  std::vector<CBase*> all;
  root->FindObjects(all, std::nullopt, nullptr, false);
  ASSERT_EQ(all.size(), 301u);

  auto numberTwice = [&]() -> std::string {
    CObjectNumbers numbers;
    for (size_t i = 0; i < all.size(); ++i) {
      const auto [number, added] = numbers.Insert(all[i]);
      if (number != i || !added) return "first meeting of " + std::to_string(i);
    }
    for (size_t i = all.size(); i-- > 0;) {
      const auto [number, added] = numbers.Insert(all[i]);
      if (number != i || added) return "second meeting of " + std::to_string(i);
    }
    return numbers.size() == all.size() ? "" : "size";
  };
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    EXPECT_EQ(numberTwice(), "");
    std::vector<CBase*> found;
    root->FindObjects(found, std::nullopt, nullptr, false);
    EXPECT_EQ(found.size(), 301u);
    // Inside a walk the marks are taken: the numbers go to a table, and the walk goes on whole.
    size_t outer = 0;
    std::string inner;
    ASSERT_EQ(Walk(root, kSearch,
                   [&](CBase*) {
                     ++outer;
                     if (outer == 1) inner = numberTwice();
                     return WalkStep::kDescend;
                   }),
              kOk);
    EXPECT_EQ(outer, 301u);
    EXPECT_EQ(inner, "");
  }
}

// Walks and numberings of one graph on several threads at once each reach every object once.
TEST(WalkOrder, WalksOnSeveralThreadsReachEveryObjectOnce) {
  test::RegisterForTests();
  Graph big;
  CNode* root = WideNode(big);
  ASSERT_NE(root, nullptr);
  std::atomic<int> wrong = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        std::vector<CBase*> found;
        root->FindObjects(found, std::nullopt, nullptr, false);
        if (found.size() != 301u) ++wrong;
        // Numbering the same objects meanwhile, on the objects or in a table.
        CObjectNumbers numbers;
        for (CBase* object : found)
          if (!numbers.Insert(object).second) ++wrong;
        for (size_t k = 0; k < found.size(); ++k)
          if (numbers.Insert(found[k]).first != k) ++wrong;
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace KX
