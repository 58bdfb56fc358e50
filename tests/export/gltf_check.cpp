#include "gltf_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <unordered_set>

#include "core/math/transform.h"
#include "scene/node.h"
#include "scene/tri_mesh.h"

namespace KX::test {

namespace {

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A column-major 4x4 of glTF, as rows of our row-vector matrices: the same 16 numbers.
CMatrix4 LocalMatrix(const nlohmann::json& node) {
  CMatrix4 m;
  if (node.contains("matrix")) {
    for (int i = 0; i < 16; ++i) m.m[i / 4][i % 4] = node["matrix"][i].get<float>();
    return m;
  }
  CVector3<float> t, s{1, 1, 1};
  CQuaternion r;
  if (node.contains("translation")) {
    const auto& v = node["translation"];
    t = {v[0].get<float>(), v[1].get<float>(), v[2].get<float>()};
  }
  if (node.contains("scale")) {
    const auto& v = node["scale"];
    s = {v[0].get<float>(), v[1].get<float>(), v[2].get<float>()};
  }
  if (node.contains("rotation")) {
    const auto& v = node["rotation"];
    r = {v[3].get<float>(), v[0].get<float>(), v[1].get<float>(), v[2].get<float>()};
  }
  return ComposeMatrix(s, r, t);
}

template <class T>
T Element(const Glb& glb, const nlohmann::json& accessor, size_t i, size_t component) {
  const auto& view = glb.json["bufferViews"][accessor["bufferView"].get<size_t>()];
  const size_t width = accessor["type"] == "VEC3" ? 3 : accessor["type"] == "VEC2" ? 2 : 1;
  const size_t offset = view.value("byteOffset", size_t{0}) +
                        accessor.value("byteOffset", size_t{0}) +
                        (i * width + component) * sizeof(T);
  T value{};
  if (offset + sizeof(T) <= glb.binary.size()) std::memcpy(&value, &glb.binary[offset], sizeof(T));
  return value;
}

}  // namespace

bool ValidatorDeliberatelyAbsent() {
  return std::getenv("KX_NO_GLTF_VALIDATOR") != nullptr;
}

std::map<std::string, nlohmann::json> ValidateGltf(const std::vector<std::string>& files) {
  std::map<std::string, nlohmann::json> reports;
  std::string command =
      Quote(KX_NODE_PATH) + " " + Quote(KX_VALIDATE_SCRIPT) + " " + Quote(KX_NODE_TOOLS);
  for (const auto& file : files) command += " " + Quote(file);
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) {
    ADD_FAILURE() << "the glTF validator could not be started: " << command;
    return reports;
  }
  std::string text;
  char buffer[65536];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  const int status = ::pclose(pipe);
  if (status != 0) {
    ADD_FAILURE() << "the glTF validator failed (status " << status << "; is node at "
                  << KX_NODE_PATH << " and the package under " << KX_NODE_TOOLS
                  << "? scripts/bootstrap.sh installs it) on " << files.size() << " file(s)";
    return reports;
  }
  const auto all = nlohmann::json::parse(text, nullptr, false);
  if (!all.is_object()) {
    ADD_FAILURE() << "the validator's report is no JSON object";
    return reports;
  }
  for (const auto& [file, report] : all.items()) reports[file] = report;
  return reports;
}

void ExpectValid(const std::string& file, const nlohmann::json& report) {
  // No warning is accepted so far: the exporter writes none that the validator knows.
  static const std::unordered_set<std::string> kAcceptedWarnings;
  ASSERT_TRUE(report.contains("issues")) << file;
  for (const auto& message : report["issues"]["messages"]) {
    const int severity = message["severity"].get<int>();
    const std::string code = message["code"].get<std::string>();
    if (severity == 0 || (severity == 1 && !kAcceptedWarnings.contains(code)))
      ADD_FAILURE() << file << ": " << code << " at " << message.value("pointer", "") << ": "
                    << message["message"].get<std::string>();
  }
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Glb ReadGlb(const std::vector<uint8_t>& bytes) {
  Glb glb;
  auto u32 = [&](size_t at) {
    uint32_t v = 0;
    if (at + 4 <= bytes.size()) std::memcpy(&v, &bytes[at], 4);
    return v;
  };
  EXPECT_EQ(u32(0), 0x46546C67u);
  EXPECT_EQ(u32(4), 2u);
  EXPECT_EQ(u32(8), bytes.size());
  const uint32_t jsonLength = u32(12);
  EXPECT_EQ(u32(16), 0x4E4F534Au);
  EXPECT_EQ(jsonLength % 4, 0u);
  if (20 + static_cast<size_t>(jsonLength) > bytes.size()) {
    ADD_FAILURE() << "the JSON chunk runs past the file";
    return glb;
  }
  glb.json = nlohmann::json::parse(bytes.begin() + 20, bytes.begin() + 20 + jsonLength);
  const size_t bin = 20 + jsonLength;
  if (bin < bytes.size()) {
    const uint32_t binLength = u32(bin);
    EXPECT_EQ(u32(bin + 4), 0x004E4942u);
    EXPECT_EQ(bin + 8 + binLength, bytes.size());
    glb.binary.assign(bytes.begin() + static_cast<std::ptrdiff_t>(bin + 8), bytes.end());
  }
  return glb;
}

std::vector<CMatrix4> GlbWorldMatrices(const Glb& glb) {
  const auto& nodes = glb.json["nodes"];
  std::vector<CMatrix4> world(nodes.size());
  std::vector<std::pair<int, CMatrix4>> stack{{0, MatrixIdentity()}};
  while (!stack.empty()) {
    auto [index, parent] = stack.back();
    stack.pop_back();
    world[index] = LocalMatrix(nodes[index]) * parent;
    for (const auto& child : nodes[index].value("children", nlohmann::json::array()))
      stack.emplace_back(child.get<int>(), world[index]);
  }
  return world;
}

std::map<int, std::vector<Triangle>> GlbWorldTriangles(const Glb& glb) {
  std::map<int, std::vector<Triangle>> result;
  const auto& nodes = glb.json["nodes"];
  const std::vector<CMatrix4> world = GlbWorldMatrices(glb);
  for (size_t index = 0; index < nodes.size(); ++index) {
    const auto& node = nodes[index];
    if (!node.contains("mesh")) continue;
    std::vector<Triangle>& triangles = result[static_cast<int>(index)];
    for (const auto& primitive : glb.json["meshes"][node["mesh"].get<size_t>()]["primitives"]) {
      const auto& positions =
          glb.json["accessors"][primitive["attributes"]["POSITION"].get<size_t>()];
      const auto& indices = glb.json["accessors"][primitive["indices"].get<size_t>()];
      const bool narrow = indices["componentType"] == 5123;
      for (size_t i = 0; i + 2 < indices["count"].get<size_t>(); i += 3) {
        Triangle t;
        for (size_t c = 0; c < 3; ++c) {
          const uint32_t v = narrow ? Element<uint16_t>(glb, indices, i + c, 0)
                                    : Element<uint32_t>(glb, indices, i + c, 0);
          const CVector3<float> p = TransformCoord(
              {Element<float>(glb, positions, v, 0), Element<float>(glb, positions, v, 1),
               Element<float>(glb, positions, v, 2)},
              world[index]);
          t[3 * c] = p.x, t[3 * c + 1] = p.y, t[3 * c + 2] = p.z;
        }
        triangles.push_back(t);
      }
    }
  }
  return result;
}

std::map<int, std::vector<Triangle>> TreeWorldTriangles(CSpatial& root) {
  std::map<int, std::vector<Triangle>> result;
  int next = 0;
  std::vector<std::pair<CSpatial*, CMatrix4>> stack{{&root, MatrixIdentity()}};
  while (!stack.empty()) {
    auto [spatial, parent] = stack.back();
    stack.pop_back();
    const int index = next++;
    const CMatrix4 world = spatial->GetLocalMatrix() * parent;
    if (auto* node = KindOf<CNode>(spatial))
      for (auto child = node->children.rbegin(); child != node->children.rend(); ++child)
        if (*child) stack.emplace_back(child->get(), world);
    auto* mesh = KindOf<CTriMesh>(spatial);
    if (!mesh) continue;
    std::vector<Triangle> triangles;
    for (size_t f = 0;
         f < static_cast<size_t>(mesh->faceCount) && 3 * f + 2 < mesh->facePositionIndices.size();
         ++f) {
      Triangle t;
      bool stored = true;
      for (size_t c = 0; c < 3; ++c) {
        const uint32_t v = mesh->facePositionIndices[3 * f + c];
        if (v >= mesh->positions.size()) {
          stored = false;
          break;
        }
        const CVector3<float> p = TransformCoord(mesh->positions[v], world);
        t[3 * c] = p.x, t[3 * c + 1] = p.y, t[3 * c + 2] = p.z;
      }
      if (stored) triangles.push_back(t);
    }
    if (!triangles.empty()) result[index] = std::move(triangles);
  }
  return result;
}

void ExpectSameTriangles(const std::map<int, std::vector<Triangle>>& expected,
                         const std::map<int, std::vector<Triangle>>& actual, float tolerance) {
  ASSERT_EQ(expected.size(), actual.size());
  for (const auto& [node, triangles] : expected) {
    SCOPED_TRACE("node " + std::to_string(node));
    ASSERT_TRUE(actual.contains(node));
    const auto& other = actual.at(node);
    ASSERT_EQ(triangles.size(), other.size());
    // Each face against the closest one not matched yet: the export may order them its own way.
    std::vector<bool> taken(other.size(), false);
    float worst = 0;
    for (const Triangle& t : triangles) {
      size_t best = other.size();
      float bestDistance = INFINITY;
      for (size_t i = 0; i < other.size(); ++i) {
        if (taken[i]) continue;
        float distance = 0;
        for (size_t k = 0; k < 9; ++k) distance = std::max(distance, std::fabs(t[k] - other[i][k]));
        if (distance < bestDistance) best = i, bestDistance = distance;
      }
      ASSERT_LT(best, other.size());
      taken[best] = true;
      worst = std::max(worst, bestDistance);
    }
    EXPECT_LE(worst, tolerance);
  }
}

}  // namespace KX::test
