#pragma once
// What the export tests share: running the glTF validator over written files, reading a .glb
// back, and the positions of a document's meshes in world space, on both sides of an export.
#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "scene/spatial.h"

namespace KX::test {

// True when the validator was deliberately left out (KX_NO_GLTF_VALIDATOR is set): the tests
// that need it skip. Anywhere else a missing validator fails them.
bool ValidatorDeliberatelyAbsent();

// The validator's report of each file, by path; adds a failure when it cannot be run.
std::map<std::string, nlohmann::json> ValidateGltf(const std::vector<std::string>& files);

// Adds a failure for every error, and every warning but the accepted ones, of `report`.
void ExpectValid(const std::string& file, const nlohmann::json& report);

struct Glb {
  nlohmann::json json;
  std::vector<uint8_t> binary;
};
// Reads a .glb file's two chunks; adds a failure when its layout is wrong.
Glb ReadGlb(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// Where each node of the document is in world space.
std::vector<CMatrix4> GlbWorldMatrices(const Glb& glb);

using Triangle = std::array<float, 9>;
// Every triangle of every mesh of the document in world space, by the pre-order index
// of the node that shows it.
std::map<int, std::vector<Triangle>> GlbWorldTriangles(const Glb& glb);
// The same of a tree: the faces of each mesh that name stored positions, through the rest
// transforms of the mesh and its ancestors.
std::map<int, std::vector<Triangle>> TreeWorldTriangles(CSpatial& root);

// Adds a failure where the two disagree by more than `tolerance` in any coordinate.
void ExpectSameTriangles(const std::map<int, std::vector<Triangle>>& expected,
                         const std::map<int, std::vector<Triangle>>& actual, float tolerance);

}  // namespace KX::test
