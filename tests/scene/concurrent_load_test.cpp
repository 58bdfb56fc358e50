// Loads that run at the same time, each with its own jobs: large arrays read beside the load and
// pictures checked beside it.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/io_buffer.h"
#include "object/container.h"
#include "support/jpeg_pictures.h"
#include "support/legacy_scene.h"
#include "support/round_trip.h"
#include "support/temp_dir.h"
#include "support/test_classes.h"

namespace KX {
namespace {

using test::LegacyMesh;

// A strip of triangles with every array the block can carry, one entry per vertex or per face:
// arrays of 64 KiB and more, read aside from a file.
LegacyMesh Strip(uint32_t n) {
  LegacyMesh mesh;
  for (uint32_t i = 0; i < n; ++i) {
    const float x = static_cast<float>(i % 1000), y = static_cast<float>(i / 1000);
    mesh.positions.push_back({x, y, 0});
    mesh.normals.push_back({0, 0, 1});
    mesh.mapVertices.push_back({x / 1000, y / 1000, 0});
    mesh.indexList1.push_back(i);
  }
  mesh.faceCount = static_cast<int32_t>(n - 2);
  for (uint32_t f = 0; f + 2 < n; ++f)
    for (uint32_t v : {f, f + 1, f + 2}) {
      mesh.facePositionIndices.push_back(v);
      mesh.faceNormalIndices.push_back(v);
      mesh.faceMapIndices.push_back(v);
    }
  return mesh;
}

// Meshes with large arrays, each with a material whose texture is an embedded JPEG picture.
std::vector<uint8_t> SceneFile() {
  test::LegacyScene scene("1.50");
  const auto root = scene.Root(u"Props");
  for (int m = 0; m < 4; ++m) {
    test::JpegShape shape;
    shape.width = 96 + 16 * m;
    shape.height = 64;
    test::LegacyMaterial material;
    material.channels[1] = scene.TextureMap(scene.Image(u"photo.jpg", test::EncodeJpeg(shape)));
    const auto mesh = scene.Mesh(u"Strip", Strip(12'000 + 1'000 * static_cast<uint32_t>(m)),
                                 test::Translation({static_cast<float>(m), 0, 0}));
    scene.SetMaterial(mesh, scene.Material(material));
    scene.AddChild(root, mesh);
  }
  return scene.Bytes();
}

struct Outcome {
  Status status = kOk;
  std::string diagnostics;
  std::vector<uint8_t> saved;  // the objects loaded, saved again

  bool operator==(const Outcome&) const = default;
};

Outcome Load(const std::string& path) {
  Outcome outcome;
  CPersistContext context;
  outcome.status = LoadFile(0, context, path);
  outcome.diagnostics = context.diagnostics.Describe();
  if (Succeeded(outcome.status)) outcome.saved = test::SaveToBytes(context);
  return outcome;
}

// Four loads of one file at once end as one load on its own does: with the same objects, or, for
// a file cut short, failing at the same place with the same words.
TEST(ConcurrentLoads, FourLoadsOfOneFileEndAlike) {
  test::RegisterForTests();
  const std::vector<uint8_t> bytes = SceneFile();
  test::TempDir dir;
  const std::string whole = dir.Path("whole.crv"), cut = dir.Path("cut.crv");
  std::ofstream(whole, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
  std::ofstream(cut, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<std::streamsize>(bytes.size() * 2 / 3));
  for (const std::string& path : {whole, cut}) {
    const Outcome alone = Load(path);
    EXPECT_EQ(Succeeded(alone.status), path == whole) << alone.diagnostics;
    std::array<Outcome, 4> together;
    std::vector<std::thread> threads;
    for (Outcome& outcome : together) threads.emplace_back([&] { outcome = Load(path); });
    for (std::thread& thread : threads) thread.join();
    for (const Outcome& outcome : together) {
      EXPECT_EQ(outcome.status, alone.status) << path;
      EXPECT_EQ(outcome.diagnostics, alone.diagnostics) << path;
      EXPECT_TRUE(outcome.saved == alone.saved) << path;
    }
  }
}

}  // namespace
}  // namespace KX
