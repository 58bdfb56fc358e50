// Round-trip samples of the meshes and the controllers that deform them.
#include "control/mesh_deformers.h"
#include "object/custom_data.h"
#include "scene/node.h"
#include "material/material.h"
#include "scene/tri_mesh.h"
#include "support/round_trip.h"

namespace KX::test {
namespace {

using V = CVector3<float>;

CRefPtr<CTriMesh> SampleMesh(const char16_t* name) {
  CRefPtr<CTriMesh> mesh(new CTriMesh);
  mesh->name = name;
  mesh->positions.items = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0.5f}};
  mesh->vertexValues.items = {1, 2, 3, 4};
  mesh->normals.items = {{0, 0, 1}, {0, 0.6f, 0.8f}};
  mesh->mapVertices.items = {{0, 0, 0}, {1, 1, 0}};
  mesh->indexList1.items = {5, 6};
  mesh->indexList2.items = {7, 8};
  mesh->faceCount = 2;
  mesh->facePositionIndices.items = {0, 1, 2, 1, 3, 2};
  mesh->faceNormalIndices.items = {0, 0, 0, 1, 1, 1};
  mesh->faceMapIndices.items = {0, 1, 0, 1, 1, 0};
  mesh->faceValues1.items = {10, 20};
  mesh->extraVectors = {{{1, 2, 3}}};
  mesh->geometryFlag = true;
  mesh->position = {2, 0, 0};
  EXPECT_TRUE(::KX::Succeeded(mesh->SizeWorkingBuffers()));
  return mesh;
}

CRefPtr<CUvwMap> SampleChannel() {
  CRefPtr<CUvwMap> channel(new CUvwMap);
  channel->name = u"channel";
  EXPECT_TRUE(::KX::Succeeded(channel->SetFaceCount(2)));
  channel->faceIndices.items = {0, 1, 2, 2, 1, 0};
  channel->mapVertices.items = {{0, 0, 0}, {0.5f, 1, 0}, {1, 0, 0}};
  channel->values.items = {9};
  return channel;
}

CRefPtr<CBase> MeshSample() {
  auto mesh = SampleMesh(u"mesh");
  mesh->mapChannels = {SampleChannel(), nullptr};
  mesh->material = new CStandardMaterial;
  return mesh;
}

CRefPtr<CBase> ChannelSample() {
  auto mesh = SampleMesh(u"");
  mesh->mapChannels = {SampleChannel()};
  return mesh;
}

// A node with a bone and a skinned, morphed, selected mesh.
CRefPtr<CBase> DeformedSample() {
  CRefPtr<CNode> root(new CNode);
  CRefPtr<CNode> bone(new CNode);
  bone->name = u"bone";
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(bone.get())));
  auto mesh = SampleMesh(u"skinned");
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(mesh.get())));
  CRefPtr<CBoneSkinControl> skin(new CBoneSkinControl);
  skin->name = u"skin";
  EXPECT_TRUE(::KX::Succeeded(mesh->AttachController(skin.get())));
  EXPECT_TRUE(::KX::Succeeded(skin->AddBone(bone.get(), MatrixTranslation({0, -1, 0}), {{0, 0.5f}, {3, 1.0f}})));
  CRefPtr<CMorphControl> morph(new CMorphControl);
  morph->deltas = {{0, 0, 1}, {0, 0, 2}};
  morph->weightKeys = {0, 0.5f, 1};
  morph->weightTimes = {0, 1, 3};
  morph->outOfRange = kOutOfRangeLoop;
  EXPECT_TRUE(::KX::Succeeded(mesh->AttachController(morph.get())));
  CRefPtr<CMeshSelControl> sel(new CMeshSelControl);
  EXPECT_TRUE(::KX::Succeeded(sel->selection.Resize(4)));
  sel->selection.Set(2);
  EXPECT_TRUE(::KX::Succeeded(mesh->AttachController(sel.get())));
  return root;
}

CRefPtr<CBase> ConnectSample() {
  CRefPtr<CNode> root(new CNode);
  auto a = SampleMesh(u"a");
  auto b = SampleMesh(u"b");
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(a.get())));
  EXPECT_TRUE(::KX::Succeeded(root->AddChild(b.get())));
  CRefPtr<CConnectData> seam(new CConnectData);
  seam->mesh1 = a.get();
  seam->mesh2 = b.get();
  seam->seamVertices1 = {1, 3};
  seam->seamVertices2 = {0, 2, 1, 3};
  seam->normalGroups1 = {{0}, {1}};
  seam->normalGroups2 = {{0, 1}, {}};
  for (CTriMesh* mesh : {a.get(), b.get()}) {
    CRefPtr<CConnectControl> control(new CConnectControl);
    control->connection = seam;
    EXPECT_TRUE(::KX::Succeeded(mesh->AttachController(control.get())));
  }
  return root;
}

const RoundTripRegistrar triMesh("CTriMesh", MeshSample);
const RoundTripRegistrar uvwMap("CUvwMap", ChannelSample);
const RoundTripRegistrar boneSkin("CBoneSkinControl", DeformedSample);
const RoundTripRegistrar morph("CMorphControl", DeformedSample);
const RoundTripRegistrar meshSel("CMeshSelControl", DeformedSample);
const RoundTripRegistrar connectControl("CConnectControl", ConnectSample);
const RoundTripRegistrar connectData("CConnectData", ConnectSample);

}  // namespace
}  // namespace KX::test
