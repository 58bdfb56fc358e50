// Writes the example scene examples/sample_scene.crv: an old-layout "3D Scene" as the older
// authoring tool saved them, small enough to keep in the repository. It holds groups with
// transforms, meshes with faces, a standard material with an embedded picture, a camera, keyframe
// animation, a custom-data chain with a summary record and a thumbnail, so that converting it
// exercises every pass.
//
//   make_legacy_scene [OUTPUT]   (default: examples/sample_scene.crv)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "image/codec.h"
#include "image/pixel_buffer.h"
#include "support/legacy_scene.h"

namespace {

using KX::CVector3;
using KX::test::LegacyKey;
using KX::test::LegacyMesh;
using KX::test::LegacyScene;
using V = CVector3<float>;

// A checkerboard of two wood tones, BGRA rows.
std::vector<uint8_t> Checkerboard(int32_t size, int32_t cell) {
  std::vector<uint8_t> rows(static_cast<size_t>(size * size * 4));
  for (int32_t y = 0; y < size; ++y)
    for (int32_t x = 0; x < size; ++x) {
      const bool dark = ((x / cell) + (y / cell)) % 2 == 1;
      uint8_t* p = &rows[static_cast<size_t>((y * size + x) * 4)];
      p[0] = dark ? 0x20 : 0x50;  // blue
      p[1] = dark ? 0x45 : 0x90;  // green
      p[2] = dark ? 0x70 : 0xC8;  // red
      p[3] = 0xFF;
    }
  return rows;
}

// A box of 8 corners and 12 triangles, with one normal and one map vertex per corner.
LegacyMesh Box(float half) {
  LegacyMesh mesh;
  for (int i = 0; i < 8; ++i) {
    const V corner{(i & 1) ? half : -half, (i & 2) ? half : -half, (i & 4) ? half : -half};
    mesh.positions.push_back(corner);
    const float length = std::sqrt(3.0f) * half;
    mesh.normals.push_back({corner.x / length, corner.y / length, corner.z / length});
    mesh.mapVertices.push_back({(i & 1) ? 1.0f : 0.0f, (i & 2) ? 1.0f : 0.0f, 0.0f});
    mesh.indexList1.push_back(static_cast<uint32_t>(i));
    mesh.indexList2.push_back(static_cast<uint32_t>(i));
    mesh.indexList3.push_back(static_cast<uint32_t>(i));
  }
  const uint32_t faces[12][3] = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                                 {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
  mesh.faceCount = 12;
  for (const auto& face : faces)
    for (uint32_t corner : face) mesh.facePositionIndices.push_back(corner);
  mesh.faceNormalIndices = mesh.facePositionIndices;
  mesh.faceMapIndices = mesh.facePositionIndices;
  mesh.faceTriples4 = mesh.facePositionIndices;
  mesh.faceValues1.assign(12, 0);
  mesh.faceValues2.assign(12, 0);
  return mesh;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string output = argc > 1 ? argv[1] : "examples/sample_scene.crv";

  // The embedded texture, as old tools kept it: the encoded picture file.
  KX::CPixelBuffer texture;
  std::vector<uint8_t> encoded;
  if (KX::Failed(texture.Create(16, 16, KX::kPixelBGRA, 0))) {
    std::fprintf(stderr, "make_legacy_scene: no memory for the texture\n");
    return 1;
  }
  {
    const std::vector<uint8_t> rows = Checkerboard(16, 4);
    KX::CPixelLock lock(texture);
    if (!lock.get()) return 1;
    for (int32_t y = 0; y < 16; ++y)
      std::copy_n(&rows[static_cast<size_t>(y * 16 * 4)], 16 * 4, lock.get() + y * texture.stride);
  }
  if (KX::Failed(KX::EncodeBlob(texture, KX::kCodecPNG, encoded))) {
    std::fprintf(stderr, "make_legacy_scene: the texture could not be encoded\n");
    return 1;
  }

  LegacyScene scene("1.50");
  // A room's furniture: no root marker in the name, so the converter bakes every transform.
  const auto root = scene.Root(u"Living Room", KX::test::Translation({0, 0, 0}));
  const auto table = scene.Node(u"Table", KX::test::Transform({0, 0.75f, 0}, {0, 0.3f, 0}));
  const auto chairs = scene.Node(u"Chairs", KX::test::Translation({0, 0, 1.2f}));
  scene.AddChild(root, table);
  scene.AddChild(root, chairs);

  KX::test::LegacyMaterial wood;
  wood.diffuse = {0.8f, 0.6f, 0.4f};
  wood.channels[1] = scene.TextureMap(scene.Image(u"oak.png", encoded), 0, u"Oak");
  const auto woodMaterial = scene.Material(wood, u"Wood");
  KX::test::LegacyMaterial fabric;
  fabric.diffuse = {0.2f, 0.3f, 0.7f};
  const auto fabricMaterial = scene.Material(fabric, u"Fabric");

  const auto top = scene.Mesh(u"Table Top", Box(0.5f), KX::test::Transform({0, 0, 0}, {}, {2, 0.1f, 1}));
  scene.SetMaterial(top, woodMaterial);
  scene.AddChild(table, top);
  for (int i = 0; i < 2; ++i) {
    const float side = i == 0 ? -0.6f : 0.6f;
    const auto chair = scene.Node(i == 0 ? u"Left Chair" : u"Right Chair",
                                  KX::test::Transform({side, 0.45f, 0}, {0, i == 0 ? 0.2f : -0.2f, 0}));
    scene.AddChild(chairs, chair);
    const auto seat = scene.Mesh(u"Seat", Box(0.5f), KX::test::Transform({0, 0, 0}, {}, {0.5f, 0.08f, 0.5f}));
    scene.SetMaterial(seat, fabricMaterial);
    scene.AddChild(chair, seat);
    // The chairs rock back and forth; the prop keeps their rest pose.
    scene.KeyframeController(chair, {{0.0f, {side, 0.45f, 0}},
                                     {1.0f, {side, 0.45f, 0.1f}},
                                     {2.0f, {side, 0.45f, 0}}});
  }
  scene.KeyframeController(table, {{0.0f, {0, 0.75f, 0}}, {2.0f, {0, 0.8f, 0}}});

  // The camera the scene was framed with, in a rig of its own; props have no cameras.
  const auto rig = scene.Node(u"Camera Rig", KX::test::Translation({0, 1.6f, 4}));
  const auto target = scene.CameraTarget(u"Camera Target", KX::test::Translation({0, -0.8f, -4}));
  scene.AddChild(rig, scene.Camera(u"Camera", KX::test::Translation({0, 0, 0}), target));
  scene.AddChild(rig, target);
  scene.AddChild(root, rig);

  // What the authoring tool knew about the scene: a summary record on the root, and the
  // custom-data chain of the second root.
  KX::test::LegacyRose rose;
  rose.name = u"Living Room";
  rose.key = u"furniture";
  rose.block1 = {1, 0, 0, 0, 2, 0, 0, 0, 3};
  scene.RoseData(root, rose);
  scene.RawDataChain({{u"AuthorNotes", {'o', 'a', 'k'}, u"notes"}, {u"LayoutHints", {1, 2, 3, 4}, u""}});

  scene.Thumbnail(32, 32, Checkerboard(32, 8));

  const std::vector<uint8_t> bytes = scene.Bytes();
  std::ofstream out(output, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "make_legacy_scene: %s cannot be written\n", output.c_str());
    return 1;
  }
  std::printf("%s: %zu bytes\n", output.c_str(), bytes.size());
  return 0;
}
