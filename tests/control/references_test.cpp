#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include "control/flexi_control.h"
#include "control/keyframe_control.h"
#include "control/layer_control.h"
#include "control/link_control.h"
#include "control/look_at_control.h"
#include "control/mesh_deformers.h"
#include "control/share_control.h"
#include "scene/node.h"
#include "scene/tri_mesh.h"
#include "support/test_classes.h"

namespace KX {
namespace {

using test::CTestControl;

// One reference as a class states it: what it names, which walks follow it, whether it owns.
struct Stated {
  const CBase* target = nullptr;
  Walks walks = kNoWalk;
  bool owned = false;
  friend bool operator==(const Stated&, const Stated&) = default;
};

void PrintTo(const Stated& s, std::ostream* os) {
  *os << (s.target ? s.target->GetRuntimeClass()->className : "null") << " '"
      << std::string(s.target ? s.target->name.begin() : std::u16string::const_iterator{},
                     s.target ? s.target->name.end() : std::u16string::const_iterator{})
      << "' walks " << s.walks << (s.owned ? " owned" : " plain");
}

class CRecorder final : public CReferenceVisitor {
 public:
  std::vector<Stated> stated;
  void Owned(const CReference& ref) override { stated.push_back({ref.target, ref.walks, true}); }
  void Plain(const CReference& ref) override { stated.push_back({ref.target, ref.walks, false}); }
};

// The objects the controllers under test refer to, named so that a mismatch reads well.
struct Graph {
  CRefPtr<CTestControl> head = Named<CTestControl>(u"head");  // the controller's own chain
  CRefPtr<CTestControl> next = Named<CTestControl>(u"next");
  CRefPtr<CNode> owner = Named<CNode>(u"owner");
  CRefPtr<CRTSControl> sub1 = Named<CKeyframeControl>(u"sub1");
  CRefPtr<CRTSControl> sub2 = Named<CKeyframeControl>(u"sub2");
  CRefPtr<CTriMesh> a = Named<CTriMesh>(u"a");
  CRefPtr<CTriMesh> b = Named<CTriMesh>(u"b");
  CRefPtr<CConnectData> seam = Named<CConnectData>(u"seam");
  CRefPtr<CFlexiData> chain = Named<CFlexiData>(u"chain");
  CRefPtr<CFlexiControl> joint = Named<CFlexiControl>(u"joint");

  template <class T>
  static CRefPtr<T> Named(const char16_t* name) {
    CRefPtr<T> object(new T);
    object->name = name;
    return object;
  }
  // A controller of class T with its own chain, a successor and an owner.
  template <class T>
  CRefPtr<T> Chained() {
    CRefPtr<T> control(new T);
    control->controllers = head;
    control->next = next;
    control->owner = owner.get();
    return control;
  }
  Stated Head() const { return {head.get(), kFollowAll, true}; }
  Stated Next() const { return {next.get(), kFollowAll, true}; }
  Stated Owner() const { return {owner.get(), kNoWalk, false}; }
  static Stated Copied(const CBase* target) { return {target, kRetarget, false}; }
};

struct Case {
  const char* name;
  std::function<CRefPtr<CBase>(Graph&)> make;
  std::function<std::vector<Stated>(const Graph&)> expected;
};

template <class T, class Part>
Case Composite(const char* name, Part T::*part) {
  return {name,
          [part](Graph& g) {
            auto c = g.Chained<T>();
            ((*c).*part).subControllers = {g.sub1, nullptr, g.sub2};
            return CRefPtr<CBase>(c.get());
          },
          [](const Graph& g) {
            // The sub-controllers, in list order, come before the rest of the chain.
            return std::vector<Stated>{g.Head(),
                                       {g.sub1.get(), kFollowAll, true},
                                       {g.sub2.get(), kFollowAll, true},
                                       g.Next(),
                                       g.Owner()};
          }};
}

// Which references each controller class states, in which order, for which walks. Every walk
// (search, collection for saving, name binding, remapping after a copy) follows these.
TEST(ControllerReferences, EachClassStatesItsReferencesInWalkOrder) {
  const std::vector<Case> cases = {
      {"keyframe", [](Graph& g) { return CRefPtr<CBase>(g.Chained<CKeyframeControl>().get()); },
       [](const Graph& g) {
         return std::vector<Stated>{g.Head(), g.Next(), g.Owner()};
       }},
      Composite("clip", &CRTSClipControl::clip),
      Composite("layer", &CRTSLayerControl::layer),
      Composite("selector", &CRTSSelectorControl::layer),
      {"connect",
       [](Graph& g) {
         auto c = g.Chained<CConnectControl>();
         c->connection = g.seam;
         return CRefPtr<CBase>(c.get());
       },
       [](const Graph& g) {
         // The connection is searched, collected, bound and remapped before the rest of the chain.
         return std::vector<Stated>{
             g.Head(), {g.seam.get(), kFollowAll, true}, g.Next(), g.Owner()};
       }},
      {"seam",
       [](Graph& g) {
         g.seam->controllers = g.head;
         g.seam->mesh1 = g.a.get();
         g.seam->mesh2 = g.b.get();
         return CRefPtr<CBase>(g.seam.get());
       },
       [](const Graph& g) {
         return std::vector<Stated>{g.Head(), Graph::Copied(g.a.get()), Graph::Copied(g.b.get())};
       }},
      {"skin",
       [](Graph& g) {
         auto c = g.Chained<CBoneSkinControl>();
         c->bones = {{g.a.get(), u"a", {}, {}}, {g.b.get(), u"b", {}, {}}};
         return CRefPtr<CBase>(c.get());
       },
       [](const Graph& g) {
         return std::vector<Stated>{g.Head(), g.Next(), g.Owner(), Graph::Copied(g.a.get()),
                                    Graph::Copied(g.b.get())};
       }},
      {"flexi",
       [](Graph& g) {
         auto c = g.Chained<CFlexiControl>();
         c->SetData(g.chain.get());
         return CRefPtr<CBase>(c.get());
       },
       [](const Graph& g) {
         // The shared chain binds no names: name binding does not go there.
         return std::vector<Stated>{
             g.Head(), g.Next(), g.Owner(), {g.chain.get(), kSearch | kCollect | kRemap, true}};
       }},
      {"flexi data",
       [](Graph& g) {
         g.chain->controllers = g.head;
         g.chain->flexiObjects = {g.a.get()};
         g.chain->points = {{g.joint.get(), {}, {}, {}}};
         return CRefPtr<CBase>(g.chain.get());
       },
       [](const Graph& g) {
         return std::vector<Stated>{
             g.Head(), Graph::Copied(g.a.get()), {g.joint.get(), kNoWalk, false}};
       }},
      {"look-at",
       [](Graph& g) {
         auto c = g.Chained<CLookAtControl>();
         c->targets = {g.a.get(), nullptr};
         c->upObjects = {nullptr, g.b.get()};
         return CRefPtr<CBase>(c.get());
       },
       [](const Graph& g) {
         return std::vector<Stated>{g.Head(), g.Next(), g.Owner(), Graph::Copied(g.a.get()),
                                    Graph::Copied(g.b.get())};
       }},
      {"link",
       [](Graph& g) {
         auto c = g.Chained<CLinkControl>();
         c->linkParents = {g.a.get()};
         c->currentParent = g.b.get();
         return CRefPtr<CBase>(c.get());
       },
       [](const Graph& g) {
         return std::vector<Stated>{
             g.Head(), g.Next(), g.Owner(), Graph::Copied(g.a.get()), {g.b.get(), kNoWalk, false}};
       }},
      {"share",
       [](Graph& g) {
         auto c = g.Chained<CShareControl>();
         c->sources = {nullptr, g.a.get()};
         return CRefPtr<CBase>(c.get());
       },
       [](const Graph& g) {
         return std::vector<Stated>{g.Head(), g.Next(), g.Owner(), Graph::Copied(g.a.get())};
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Graph g;
    CRefPtr<CBase> object = c.make(g);
    CRecorder recorder;
    object->VisitReferences(recorder);
    EXPECT_EQ(recorder.stated, c.expected(g));
    // The flexible chain keeps its controllers as plain points; let them go before the graph.
    g.chain->points.clear();
  }
}

}  // namespace
}  // namespace KX
