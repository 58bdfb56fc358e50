// Round-trip samples of the bounding objects and the scene-level objects.
#include "scene/bounding.h"
#include "scene/node.h"
#include "support/round_trip.h"

namespace KX::test {
namespace {

CRefPtr<CBase> BoundingBoxSample() {
  CRefPtr<CBoundingBox> box(new CBoundingBox);
  box->name = u"box";
  for (int i = 0; i < 8; ++i)
    box->corners[i] = {i & 1 ? 1.0f : -1.0f, i & 2 ? 2.0f : -2.0f, i & 4 ? 0.5f : -0.5f};
  return box;
}

// A node carrying two hulls: one moved by the node itself, one by its child.
CRefPtr<CBase> BoundingMeshSample() {
  CRefPtr<CNode> root(new CNode);
  CRefPtr<CNode> child(new CNode);
  root->AddChild(child.get());
  CRefPtr<CBoundingMesh> body(new CBoundingMesh);
  body->node = root.get();
  body->faceCount = 1;
  body->faceIndices.items = {0, 1, 2};
  body->vertices.items = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  body->hullFlag2 = false;
  CRefPtr<CBoundingMesh> limb(new CBoundingMesh);
  limb->name = u"limb";
  limb->node = child.get();
  limb->vertices.items = {{0, 0, 2}};
  root->AddBounding(body.get());
  root->AddBounding(limb.get());
  return root;
}

const RoundTripRegistrar boundingBox("CBoundingBox", BoundingBoxSample);
const RoundTripRegistrar boundingMesh("CBoundingMesh", BoundingMeshSample);

}  // namespace
}  // namespace KX::test
