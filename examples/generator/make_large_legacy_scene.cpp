// Writes large old-layout scenes for measuring the converter, in three shapes:
//
//   make_large_legacy_scene OUT [MESHES=20] [VERTICES=100000]
//   make_large_legacy_scene --meshes OUT [MESHES=20] [VERTICES=100000]
//       MESHES meshes of VERTICES vertices and twice as many faces each: a few large arrays.
//   make_large_legacy_scene --objects OUT [NODES=20000]
//       NODES animated nodes, each with a keyframe controller and a one-triangle mesh below it:
//       many small objects (three per node).
//   make_large_legacy_scene --textures OUT [MESHES=30] [SIDE=1024]
//       MESHES meshes, each with a material of its own carrying an embedded SIDE x SIDE JPEG.
//
// Every shape hangs under one root without a marker name (so every transform is baked), and
// every mesh has a material, so that the whole scene survives the conversion.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "image/codec.h"
#include "image/pixel_buffer.h"
#include "support/legacy_scene.h"

using KX::test::LegacyKey;
using KX::test::LegacyMaterial;
using KX::test::LegacyMesh;
using KX::test::LegacyScene;

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: make_large_legacy_scene [--meshes] OUT [MESHES] [VERTICES]\n"
               "       make_large_legacy_scene --objects OUT [NODES]\n"
               "       make_large_legacy_scene --textures OUT [MESHES] [SIDE]\n");
  return 2;
}

int Count(int argc, char** argv, int index, int fallback) {
  return argc > index ? std::atoi(argv[index]) : fallback;
}

// A strip of triangles: vertex i with i+1 and i+2, twice (both windings). Every array the
// block can carry is filled, one entry per vertex or per face.
LegacyMesh Strip(uint32_t n) {
  LegacyMesh mesh;
  for (uint32_t i = 0; i < n; ++i) {
    const float x = static_cast<float>(i % 1000), y = static_cast<float>(i / 1000);
    mesh.positions.push_back({x, y, 0});
    mesh.normals.push_back({0, 0, 1});
    mesh.mapVertices.push_back({x / 1000, y / 1000, 0});
    mesh.vertexValues.push_back(0);
    mesh.indexList1.push_back(i);
    mesh.indexList2.push_back(i);
    mesh.indexList3.push_back(i);
  }
  mesh.faceCount = static_cast<int32_t>(2 * n);
  for (uint32_t f = 0; f < 2 * n; ++f) {
    const uint32_t a = f % (n - 2);
    const uint32_t tri[3] = {a, f < n ? a + 1 : a + 2, f < n ? a + 2 : a + 1};
    for (uint32_t v : tri) {
      mesh.facePositionIndices.push_back(v);
      mesh.faceNormalIndices.push_back(v);
      mesh.faceMapIndices.push_back(v);
      mesh.faceTriples4.push_back(v);
    }
    mesh.faceValues1.push_back(0);
    mesh.faceValues2.push_back(0);
  }
  return mesh;
}

std::string Meshes(LegacyScene& scene, int meshes, int vertices) {
  if (meshes <= 0 || vertices < 3) return {};
  const LegacyMesh mesh = Strip(static_cast<uint32_t>(vertices));
  const auto root = scene.Root(u"Props", KX::test::Translation({0, 1, 0}));
  const auto material = scene.Material({}, u"Material");
  for (int m = 0; m < meshes; ++m) {
    const auto object =
        scene.Mesh(u"Mesh", mesh, KX::test::Translation({static_cast<float>(m), 0, 0}));
    scene.SetMaterial(object, material);
    scene.AddChild(root, object);
  }
  return std::to_string(meshes) + " meshes, " + std::to_string(vertices) + " vertices and " +
         std::to_string(2 * vertices) + " faces each";
}

std::string Objects(LegacyScene& scene, int nodes) {
  if (nodes <= 0) return {};
  const auto root = scene.Root(u"Props", KX::test::Translation({0, 1, 0}));
  const auto material = scene.Material({}, u"Material");
  const LegacyMesh triangle = LegacyMesh::Triangle(0.5f);
  for (int n = 0; n < nodes; ++n) {
    const float x = static_cast<float>(n % 200), z = static_cast<float>(n / 200);
    const auto node = scene.Node(u"Node", KX::test::Translation({x, 0, z}));
    scene.AddChild(root, node);
    LegacyKey first, last;
    first.position = {x, 0, z};
    last.time = 1.0f;
    last.position = {x, 1, z};
    scene.KeyframeController(node, {first, last});
    const auto mesh = scene.Mesh(u"Leaf", triangle, KX::test::Translation({0, 0.5f, 0}));
    scene.SetMaterial(mesh, material);
    scene.AddChild(node, mesh);
  }
  return std::to_string(nodes) + " animated nodes, each with a one-triangle mesh";
}

// JPEG quality of the pictures: 30 of 1024 x 1024 come to about 12 MB, close to the 10 MB of the
// texture-heavy scenes the converter is measured on (quality 100 gives 16 MB, 98 gives 8 MB).
constexpr int32_t kPhotoQuality = 99;

// A picture that compresses like a photograph: smooth gradients with a little noise, different
// for every seed.
bool Photo(int32_t side, uint32_t seed, std::vector<uint8_t>& encoded) {
  KX::CPixelBuffer picture;
  if (KX::Failed(picture.Create(side, side, KX::kPixelBGR, 0))) return false;
  {
    KX::CPixelLock lock(picture);
    if (!lock.get()) return false;
    uint32_t state = seed * 2654435761u + 1;
    for (int32_t y = 0; y < side; ++y) {
      uint8_t* row = lock.get() + static_cast<int64_t>(y) * picture.stride;
      for (int32_t x = 0; x < side; ++x) {
        state = state * 1664525u + 1013904223u;
        const int noise = static_cast<int>((state >> 24) & 255) < 64 ? 1 : 0;
        row[x * 3 + 0] = static_cast<uint8_t>(((x + seed * 37) & 255) / 2 + 40 + noise);
        row[x * 3 + 1] = static_cast<uint8_t>(((y + seed * 11) & 255) / 2 + 40 + noise);
        row[x * 3 + 2] = static_cast<uint8_t>(((x + y) / 8 + seed * 5) % 128 + 40 + noise);
      }
    }
  }
  return KX::Succeeded(KX::EncodeBlob(picture, KX::kCodecJPEG, encoded, kPhotoQuality));
}

std::string Textures(LegacyScene& scene, int meshes, int side) {
  if (meshes <= 0 || side <= 0) return {};
  const auto root = scene.Root(u"Props", KX::test::Translation({0, 1, 0}));
  const LegacyMesh quad = LegacyMesh::Quad(1.0f);
  for (int m = 0; m < meshes; ++m) {
    std::vector<uint8_t> encoded;
    if (!Photo(side, static_cast<uint32_t>(m), encoded)) return {};
    LegacyMaterial material;
    material.channels[1] = scene.TextureMap(scene.Image(u"photo.jpg", encoded), 0, u"Photo");
    const auto object =
        scene.Mesh(u"Panel", quad, KX::test::Translation({static_cast<float>(m), 0, 0}));
    scene.SetMaterial(object, scene.Material(material, u"Material"));
    scene.AddChild(root, object);
  }
  return std::to_string(meshes) + " meshes, each with an embedded " + std::to_string(side) + "x" +
         std::to_string(side) + " JPEG";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string shape = "--meshes";
  int first = 1;
  if (std::strncmp(argv[1], "--", 2) == 0) {
    shape = argv[1];
    first = 2;
    if (argc < 3) return Usage();
  }
  const char* out = argv[first];
  LegacyScene scene("1.50");
  std::string what;
  if (shape == "--meshes")
    what = Meshes(scene, Count(argc, argv, first + 1, 20), Count(argc, argv, first + 2, 100000));
  else if (shape == "--objects")
    what = Objects(scene, Count(argc, argv, first + 1, 20000));
  else if (shape == "--textures")
    what = Textures(scene, Count(argc, argv, first + 1, 30), Count(argc, argv, first + 2, 1024));
  else
    return Usage();
  if (what.empty()) return Usage();

  const std::vector<uint8_t> bytes = scene.Bytes();
  std::ofstream file(out, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!file.good()) return 1;
  std::printf("%s: %s, %zu bytes\n", out, what.c_str(), bytes.size());
  return 0;
}
