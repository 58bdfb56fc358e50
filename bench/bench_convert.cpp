// Load, conversion and save of a scene of a million spatial objects, each phase timed on its
// own: the conversion passes should cost less than the load.
//
//   build/bench/bench_convert [GROUPS=1000] [PER_GROUP=999]
//
// The scene: a root, GROUPS group nodes, each with PER_GROUP children that alternate between
// nodes and one-triangle meshes; every object carries a two-key keyframe controller and the
// meshes of a group share one standard material.
#include "bench/require.h"
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

#include "app/class_registration.h"
#include "app/command_flow.h"
#include "app/convert.h"
#include "control/keyframe_control.h"
#include "material/material.h"
#include "scene/tri_mesh.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

class CSilentUi final : public KX::IConverterUi {
 public:
  bool ChooseFile(KX::FileDialog, std::string&) override { return false; }
  void ShowMessage(const std::string& text, KX::MessageType, const std::string& detail) override {
    std::fprintf(stderr, "message: %s %s\n", text.c_str(), detail.c_str());
  }
  void BeginWaitCursor() override {}
  void EndWaitCursor() override {}
  std::string Text(unsigned id) override { return std::to_string(id); }
};

void Animate(KX::CSpatial& object, float offset) {
  KX::CRefPtr<KX::CKeyframeControl> keys(new KX::CKeyframeControl);
  keys->keyTimes = {0.0f, 1.0f};
  keys->rotationKeys = {KX::CQuaternion{}, KX::CQuaternion{}};
  keys->positionKeys = {{offset, 0, 0}, {offset, 1, 0}};
  keys->scaleKeys = {{1, 1, 1}, {1, 1, 1}};
  keys->RebuildTransitions();
  Require(object.AttachController(keys.get()));
}

KX::CRefPtr<KX::CTriMesh> Triangle(KX::CMaterialBase* material) {
  KX::CRefPtr<KX::CTriMesh> mesh(new KX::CTriMesh);
  mesh->positions.items = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  mesh->normals.items = {{0, 0, 1}};
  mesh->indexList1.items = {0};
  mesh->indexList2.items = {0};
  mesh->indexList3.items = {0};
  mesh->faceCount = 1;
  mesh->facePositionIndices.items = {0, 1, 2};
  mesh->faceNormalIndices.items = {0, 0, 0};
  mesh->faceTriples4.items = {0, 1, 2};
  mesh->faceValues1.items = {0};
  mesh->material = material;
  return mesh;
}

}  // namespace

int main(int argc, char** argv) {
  const int groups = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int perGroup = argc > 2 ? std::atoi(argv[2]) : 999;
  KX::RegisterAllClasses();
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("kx-convert-" + std::to_string(::getpid()) + ".crv")).string();
  const std::string out = path + ".fbprop";

  auto start = Clock::now();
  {
    KX::CPersistContext context;
    KX::CRefPtr<KX::CNode> root(new KX::CNode);
    root->name = u"Props";
    for (int g = 0; g < groups; ++g) {
      KX::CRefPtr<KX::CNode> group(new KX::CNode);
      group->position = {static_cast<float>(g), 0, 0};
      Animate(*group, 0);
      KX::CRefPtr<KX::CStandardMaterial> material(new KX::CStandardMaterial);
      for (int i = 0; i < perGroup; ++i) {
        KX::CRefPtr<KX::CSpatial> child;
        if (i % 2)
          child = Triangle(material.get());
        else
          child = new KX::CNode;
        child->position = {0, static_cast<float>(i), 0};
        Animate(*child, static_cast<float>(i));
        Require(group->AddChild(child.get()));
      }
      Require(root->AddChild(group.get()));
    }
    Require(KX::AddRoot(context, root.get()));
    if (KX::Failed(KX::SaveFile(0, context, path))) return 1;
  }
  const double generated = Seconds(start);
  const auto size = std::filesystem::file_size(path);
  const long objects = 1L + groups + static_cast<long>(groups) * perGroup;

  KX::CPersistContext document;
  start = Clock::now();
  if (KX::Failed(KX::LoadFile(0, document, path))) return 1;
  const double load = Seconds(start);

  CSilentUi ui;
  start = Clock::now();
  const KX::Status converted = KX::ConvertSceneToProp(document, ui);
  const double convert = Seconds(start);
  if (converted != KX::kOk) return 1;

  start = Clock::now();
  auto* root = KX::KindOf<KX::CNode>(document.roots.front().get());
  const KX::Status saved = KX::SaveProp(root, out, nullptr, nullptr);
  const double save = Seconds(start);

  std::printf("scene: %ld spatial objects, %.1f MB (generated and written in %.2f s)\n", objects,
              static_cast<double>(size) / 1e6, generated);
  std::printf("load     %8.2f s\nconvert  %8.2f s  (%.0f%% of the load)\nsave     %8.2f s  %s\n", load,
              convert, 100.0 * convert / load, save, KX::Succeeded(saved) ? "" : "(failed)");
  std::filesystem::remove(path);
  std::filesystem::remove(out);
  return KX::Succeeded(saved) ? 0 : 1;
}
