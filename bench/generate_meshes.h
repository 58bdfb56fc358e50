#pragma once
// Generators of mesh-heavy scenes for benchmarks.
#include <cstdint>

#include "object/container.h"
#include "scene/node.h"
#include "scene/tri_mesh.h"

namespace KX::bench {

// A grid mesh of about `vertices` vertices (a square grid, rounded down) with two faces per grid
// cell, one normal and one map vertex per vertex, and position, normal and map indices per face.
CRefPtr<CTriMesh> GenerateGridMesh(int32_t vertices);

// A root node with `meshes` grid meshes of `verticesPerMesh` vertices each.
void GenerateMeshScene(CPersistContext& context, int32_t meshes, int32_t verticesPerMesh);

// A root node holding `bones` bone nodes (their transforms set, as after the transform pass)
// and a grid mesh of `vertices` vertices skinned by them, each vertex moved by two to four
// bones. Answers the mesh.
CTriMesh* GenerateSkinnedScene(CRefPtr<CNode>& root, int32_t vertices, int32_t bones);

}  // namespace KX::bench
