#include <gtest/gtest.h>

#include <cstring>
#include <span>

#include "control/mesh_deformers.h"
#include "object/container.h"
#include "object/custom_data.h"
#include "material/material.h"
#include "scene/particles.h"
#include "scene/tri_mesh.h"
#include "support/bytes.h"
#include "support/round_trip.h"
#include "support/temp_dir.h"
#include "support/test_classes.h"

namespace KX {
namespace {

using test::Bytes;
using V = CVector3<float>;

class Geometry : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }
};

// A mesh whose working buffers are sized, as after a load.
CRefPtr<CTriMesh> Mesh(std::vector<V> points, std::vector<uint32_t> faces,
                       std::vector<uint32_t> normalFaces = {}, size_t normalCount = 0) {
  CRefPtr<CTriMesh> mesh(new CTriMesh);
  mesh->positions.items.assign(points.begin(), points.end());
  mesh->faceCount = static_cast<int32_t>(faces.size() / 3);
  mesh->facePositionIndices.items.assign(faces.begin(), faces.end());
  mesh->faceNormalIndices.items.assign(normalFaces.begin(), normalFaces.end());
  mesh->normals.items.assign(normalCount, V{});
  EXPECT_TRUE(::KX::Succeeded(mesh->SizeWorkingBuffers()));
  return mesh;
}

// Data controller that stands for a deformer which leaves the positions in world space.
class CWorldDeformer : public CDataControl {
 public:
  static const CRuntimeClass classRecord;
  const CRuntimeClass* GetRuntimeClass() const override { return &classRecord; }
  float GetDuration() const override { return 0; }
  Status Update(float) override {
    auto* mesh = KindOf<CGeometry>(owner);
    for (auto& p : mesh->worldPositions) p += V{0, 0, 100};
    mesh->inWorldSpace = true;
    return kOk;
  }
  Status ApplyData() override { return kNothingDone; }
};
const CRuntimeClass CWorldDeformer::classRecord{"CWorldDeformer", &CDataControl::classRecord, 2, 0};

TEST(GeometryBuffers, ResizeCopyAndBits) {
  CIndexBuffer b;
  EXPECT_EQ(b.Resize(0), kErrBadArgument);
  const uint32_t src[] = {7, 8, 9};
  ASSERT_EQ(b.Resize(3, src), kOk);
  EXPECT_EQ(b.items, (std::vector<uint32_t>{7, 8, 9}));
  ASSERT_EQ(b.Resize(2), kOk);
  EXPECT_EQ(b.items, (std::vector<uint32_t>{0, 0}));
  CIndexBuffer copy(b);
  copy[0] = 5;
  EXPECT_EQ(b[0], 0u);  // deep
  EXPECT_EQ(copy.CopyFrom(CIndexBuffer{}), kOk);
  EXPECT_TRUE(copy.empty());

  CBitArray bits;
  ASSERT_EQ(bits.Resize(40), kOk);
  EXPECT_EQ(bits.wordCount(), 2);
  bits.Set(39);
  bits.Set(40);  // past the end: ignored
  bits.Set(-1);
  EXPECT_TRUE(bits.Test(39));
  EXPECT_FALSE(bits.Test(40));
  EXPECT_EQ(bits.CountSet(), 1);
  CWriter counter{CWriter::CountOnly{}};
  ASSERT_EQ(bits.Save(counter), kOk);
  EXPECT_EQ(counter.BytesWritten(), 20u);  // three words of header, two of bits
  EXPECT_EQ(bits.GetMemorySize(), 24);
  // A stored bit count larger than the stored words: the missing bits read as clear.
  const Bytes stored = Bytes().I32(1000).I32(1).I32(1).U32(0xFFFFFFFF);
  CMemoryIo io(stored.data);
  CReader in(io, 0, kCurrentStreamVersion);
  CBitArray loaded;
  ASSERT_EQ(loaded.Load(in), kOk);
  EXPECT_TRUE(loaded.Test(31));
  EXPECT_FALSE(loaded.Test(999));
  loaded.Set(999);
  EXPECT_EQ(loaded.CountSet(), 32);

  auto shared = CSharePointer<std::vector<uint32_t>>::Create();
  shared->push_back(3);
  {
    auto other = shared;
    EXPECT_EQ(shared.holders(), 2);
  }
  EXPECT_EQ(shared.holders(), 1);
}

TEST_F(Geometry, NormalsOfFlatZeroAndDegenerateFaces) {
  // Two faces of a unit square in z = 0, seen from +z, and a collapsed face on vertex 4 alone.
  auto mesh = Mesh({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {5, 5, 5}, {6, 6, 6}},
                   {0, 1, 2, 0, 2, 3, 4, 4, 5}, {0, 1, 2, 0, 2, 3, 4, 4, 5}, 6);
  ASSERT_EQ(mesh->Update(0), kOk);
  EXPECT_TRUE(mesh->normalsValid);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(mesh->worldNormals[i], (V{0, 0, 1})) << i;
  EXPECT_EQ(mesh->worldNormals[4], V{});            // only in a degenerate face
  EXPECT_EQ(mesh->ComputeNormals(), kNothingDone);  // valid already

  // No faces: the normals stay zero.
  auto bare = Mesh({{0, 0, 0}, {1, 0, 0}}, {}, {}, 2);
  ASSERT_EQ(bare->Update(0), kOk);
  EXPECT_EQ(bare->worldNormals.items, (std::vector<V>{{}, {}}));
  // Without normals there is nothing to compute.
  auto none = Mesh({{0, 0, 0}}, {});
  none->normalsValid = false;
  EXPECT_EQ(none->ComputeNormals(), kNothingDone);
}

TEST_F(Geometry, IndicesPastTheBuffersAreSkippedAndCounted) {
  // Face 0 names a vertex that does not exist, face 1 a normal that does not; the count promises
  // a third face whose indices are missing.
  auto mesh = Mesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 7, 0, 1, 2}, {0, 1, 2, 0, 1, 9}, 3);
  mesh->faceCount = 3;
  ASSERT_EQ(mesh->Update(0), kOk);
  EXPECT_EQ(mesh->worldNormals[0], (V{0, 0, 1}));
  EXPECT_EQ(mesh->worldNormals[2], V{});
  EXPECT_EQ(mesh->skippedIndices, 3u + 1u + 3u);
  RayHit hit;
  EXPECT_TRUE(mesh->IntersectRay({0.2f, 0.2f, 1}, {0, 0, -1}, false, hit));
  EXPECT_EQ(hit.face, 1);
  // Bounds come from the stored vertices only.
  EXPECT_EQ(mesh->UpdateBound(), kOk);
  EXPECT_EQ(mesh->bound.get().boxMax, (V{1, 1, 0}));
}

TEST_F(Geometry, UpdateTransformsOnceAndDeformerInWorldSpaceIsNotMovedAgain) {
  auto mesh = Mesh({{1, 0, 0}}, {});
  mesh->transform = MatrixTranslation({10, 0, 0});
  ASSERT_EQ(mesh->Update(0), kOk);
  EXPECT_EQ(mesh->worldPositions[0], (V{11, 0, 0}));
  EXPECT_EQ(mesh->positions[0], (V{1, 0, 0}));  // rest positions untouched
  ASSERT_EQ(mesh->Update(0), kOk);              // every update starts from the rest copy
  EXPECT_EQ(mesh->worldPositions[0], (V{11, 0, 0}));

  EXPECT_TRUE(::KX::Succeeded(mesh->AttachController(new CWorldDeformer)));
  ASSERT_EQ(mesh->Update(0), kOk);
  EXPECT_EQ(mesh->worldPositions[0], (V{1, 0, 100}));
  EXPECT_TRUE(mesh->inWorldSpace);
}

TEST_F(Geometry, RayHitsFrontFacesTheNearestAndNotEdges) {
  // Two triangles facing +z, at z = 0 and z = 1.
  auto mesh =
      Mesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {0, 1, 1}}, {0, 1, 2, 3, 4, 5});
  ASSERT_EQ(mesh->Update(0), kOk);
  RayHit hit;
  ASSERT_TRUE(mesh->IntersectRay({0.25f, 0.25f, 5}, {0, 0, -1}, false, hit));
  EXPECT_EQ(hit.face, 1);
  EXPECT_FLOAT_EQ(hit.distance, 4);
  EXPECT_EQ(hit.point, (V{0.25f, 0.25f, 1}));
  EXPECT_EQ(hit.normal, (V{0, 0, 1}));

  // From below the faces are back faces: only a two-sided query sees them, nearest first.
  EXPECT_FALSE(mesh->IntersectRay({0.25f, 0.25f, -5}, {0, 0, 1}, false, hit));
  EXPECT_EQ(hit.face, 0);
  EXPECT_EQ(hit.distance, std::numeric_limits<float>::max());
  ASSERT_TRUE(mesh->IntersectRay({0.25f, 0.25f, -5}, {0, 0, 1}, true, hit));
  EXPECT_EQ(hit.face, 0);
  EXPECT_FLOAT_EQ(hit.distance, 5);

  // Through an edge, along a plane, pointing away.
  EXPECT_FALSE(mesh->IntersectRay({0.5f, 0, 5}, {0, 0, -1}, true, hit));
  EXPECT_FALSE(mesh->IntersectRay({-1, 0.25f, 0}, {1, 0, 0}, true, hit));
  EXPECT_FALSE(mesh->IntersectRay({0.25f, 0.25f, 5}, {0, 0, 1}, true, hit));
}

// Current-layout blocks, from the fields of the objects.
Bytes BaseBlocks(int32_t id, const std::u16string& name, int32_t controller = 0) {
  return Bytes().Version(2, 0).I32(id).W(name).Version(2, 0).I32(controller).I32(0).I32(0);
}

Bytes SpatialBlock(const CSpatial& s) {
  Bytes b;
  b.Version(2, 2);
  for (const auto& row : s.rotation.m)
    for (float v : row) b.F32(v);
  for (const V& v : {s.position, s.scale}) b.F32(v.x).F32(v.y).F32(v.z);
  return b.U32(s.flags).I32(0).I32(0).U8(s.visible).U8(s.frozen);
}

Bytes Vectors(std::span<const V> vs) {
  Bytes b;
  for (const V& v : vs) b.F32(v.x).F32(v.y).F32(v.z);
  return b;
}

Bytes Indices(std::span<const uint32_t> is) {
  Bytes b;
  for (uint32_t i : is) b.U32(i);
  return b;
}

// The geometry and mesh blocks; `old` leaves out the version pairs and stores the extra leading
// channel entry.
Bytes GeometryBlock(const CTriMesh& m, int32_t materialId, bool old) {
  Bytes b;
  if (!old) b.Version(2, 0);
  b.I32(m.positions.count()).Append(Vectors(m.positions.items));
  b.I32(m.vertexValues.empty() ? 0 : 1).Append(Indices(m.vertexValues.items));
  b.I32(m.normals.count()).I32(m.normals.empty() ? 0 : 1).Append(Vectors(m.normals.items));
  b.I32(m.mapVertices.count())
      .I32(m.mapVertices.empty() ? 0 : 1)
      .Append(Vectors(m.mapVertices.items));
  b.I32(m.indexList1.count());
  for (const auto* list : {&m.indexList1, &m.indexList2, &m.indexList3})
    b.I32(list->empty() ? 0 : 1).Append(Indices(list->items));
  return b.I32(materialId).U8(m.geometryFlag);
}

Bytes TriMeshBlock(const CTriMesh& m, std::vector<int32_t> channelIds, bool old) {
  Bytes b;
  if (!old) b.Version(2, 0);
  b.I32(m.faceCount);
  for (const auto* list : {&m.facePositionIndices, &m.faceNormalIndices, &m.faceMapIndices,
                           &m.faceTriples4, &m.faceValues1, &m.faceValues2})
    b.I32(list->empty() ? 0 : 1).Append(Indices(list->items));
  if (old) channelIds.insert(channelIds.begin(), 99);
  b.I32(static_cast<int32_t>(channelIds.size()));
  for (int32_t id : channelIds) b.I32(id);
  b.I32(static_cast<int32_t>(m.extraVectors.size()));
  for (const auto& e : m.extraVectors) b.U32(e.v[0]).U32(e.v[1]).U32(e.v[2]);
  return b;
}

Bytes MeshBlocks(const CTriMesh& m, int32_t materialId, std::vector<int32_t> channelIds, bool old) {
  return GeometryBlock(m, materialId, old).Append(TriMeshBlock(m, std::move(channelIds), old));
}

Bytes Record(const std::string& cls, const Bytes& body) {
  return Bytes().A(cls).I32(static_cast<int32_t>(body.size())).Append(body);
}

CRefPtr<CTriMesh> FullMesh() {
  auto mesh = Mesh({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {0, 1, 2}, {2, 1, 0}, 2);
  mesh->name = u"mesh";
  mesh->normals.items = {{0, 0, 1}, {0, 1, 0}};
  mesh->vertexValues.items = {11, 12, 13};
  mesh->mapVertices.items = {{0.5f, 0.25f, 0}};
  mesh->indexList1.items = {1, 2};
  mesh->indexList3.items = {3, 4};
  mesh->faceMapIndices.items = {0, 0, 0};
  mesh->faceTriples4.items = {9, 8, 7};
  mesh->faceValues2.items = {42};
  mesh->extraVectors = {{{1, 2, 3}}, {{4, 5, 6}}};
  mesh->geometryFlag = true;
  mesh->position = {1, 1, 1};
  EXPECT_TRUE(::KX::Succeeded(mesh->SizeWorkingBuffers()));
  return mesh;
}

TEST_F(Geometry, CurrentLayoutIsByteExact) {
  auto mesh = FullMesh();
  CRefPtr<CUvwMap> channel(new CUvwMap);
  EXPECT_TRUE(::KX::Succeeded(channel->SetFaceCount(1)));
  channel->faceIndices.items = {0, 1, 0};
  channel->mapVertices.items = {{1, 0, 0}, {0, 1, 0}};
  mesh->mapChannels = {channel, nullptr};
  mesh->material = new CStandardMaterial;

  const Bytes meshBody = BaseBlocks(1, u"mesh")
                             .Append(SpatialBlock(*mesh))
                             .Append(MeshBlocks(*mesh, 2, {3, 0}, false));
  const Bytes channelBody = BaseBlocks(3, u"")
                                .Version(2, 0)
                                .I32(2)
                                .I32(1)
                                .Append(Vectors(channel->mapVertices.items))
                                .I32(1)
                                .I32(1)
                                .Append(Indices(std::vector<uint32_t>{0, 1, 0}))
                                .I32(0)
                                .I32(0);
  const Bytes meshRecord = Record("CTriMesh", meshBody);
  const auto saved = test::SaveRootToBytes(mesh.get());
  // Header, the root mark and the mesh record; then the material and the channel.
  const Bytes head = test::NewHeader().I32(0).I32(0).A("_Root").Append(meshRecord);
  ASSERT_GT(saved.size(), head.size());
  EXPECT_TRUE(std::equal(head.data.begin(), head.data.end(), saved.begin()));
  const Bytes channelRecord = Record("CUvwMap", channelBody);
  EXPECT_TRUE(std::equal(channelRecord.data.rbegin(), channelRecord.data.rend(), saved.rbegin()));
  EXPECT_EQ(mesh->GetSaveSize(), static_cast<int64_t>(meshRecord.size()));
  EXPECT_EQ(channel->GetSaveSize(), static_cast<int64_t>(channelRecord.size()));

  // And back: every field, the null channel kept in its place.
  CPersistContext context;
  ASSERT_EQ(test::LoadFromBytes(saved, context), kOk) << context.diagnostics.Describe();
  auto* loaded = KindOf<CTriMesh>(context.roots.at(0).get());
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->positions, mesh->positions);
  EXPECT_EQ(loaded->indexList2.size(), 0u);
  EXPECT_EQ(loaded->indexList3, mesh->indexList3);
  EXPECT_EQ(loaded->faceValues2, mesh->faceValues2);
  EXPECT_EQ(loaded->extraVectors, mesh->extraVectors);
  EXPECT_TRUE(loaded->geometryFlag);
  ASSERT_EQ(loaded->mapChannels.size(), 2u);
  EXPECT_EQ(loaded->mapChannels[0]->faceIndices, channel->faceIndices);
  EXPECT_FALSE(loaded->mapChannels[1]);
  EXPECT_TRUE(loaded->material);
}

TEST_F(Geometry, MeshWithoutNormalsOrVerticesRoundTrips) {
  auto mesh = Mesh({{1, 2, 3}}, {0, 0, 0});
  const auto bytes = test::SaveRootToBytes(mesh.get());
  const Bytes expected = test::NewHeader().I32(0).I32(0).A("_Root").Append(Record(
      "CTriMesh",
      BaseBlocks(1, u"").Append(SpatialBlock(*mesh)).Append(MeshBlocks(*mesh, 0, {}, false))));
  EXPECT_EQ(bytes, expected.data);
  const CRefPtr<CBase> loaded = test::ExpectRoundTrip(mesh.get());
  auto* m = KindOf<CTriMesh>(loaded.get());
  ASSERT_TRUE(m);
  EXPECT_TRUE(m->normals.empty());
  EXPECT_TRUE(m->worldNormals.empty());
  EXPECT_TRUE(m->vertexValues.empty());

  CRefPtr<CTriMesh> empty(new CTriMesh);
  test::ExpectRoundTrip(empty.get());
}

// A load leaves the working buffers to be made when first needed; everything that reads or
// changes them answers as if the load had made them, also after the rest positions were edited.
TEST_F(Geometry, LoadedMeshesMakeTheirWorkingBuffersWhenFirstNeeded) {
  // Two faces at z = 0 and z = 1, one normal per vertex, and a morph that lifts vertex 0.
  auto mesh = Mesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {0, 1, 1}},
                   {0, 1, 2, 3, 4, 5}, {0, 1, 2, 3, 4, 5}, 6);
  CRefPtr<CMorphControl> morph(new CMorphControl);
  morph->deltas = {{0, 0, 2}};
  morph->weightKeys = {1, 1};
  morph->weightTimes = {0, 1};
  ASSERT_EQ(mesh->AttachController(morph.get()), kOk);
  const auto saved = test::SaveRootToBytes(mesh.get());

  // `lazy` as loaded; `made` with its buffers made right after the load, as loads did before.
  CPersistContext lazyContext, madeContext;
  ASSERT_EQ(test::LoadFromBytes(saved, lazyContext), kOk);
  ASSERT_EQ(test::LoadFromBytes(saved, madeContext), kOk);
  auto* lazy = KindOf<CTriMesh>(lazyContext.roots.at(0).get());
  auto* made = KindOf<CTriMesh>(madeContext.roots.at(0).get());
  ASSERT_TRUE(lazy && made);
  ASSERT_EQ(made->SizeWorkingBuffers(), kOk);
  EXPECT_TRUE(lazy->worldPositions.empty());
  EXPECT_TRUE(lazy->worldNormals.empty());
  EXPECT_EQ(lazy->GetMemorySize(), made->GetMemorySize());

  // Readers before the first update see the rest positions, without making anything.
  auto same = [&](CTriMesh* a, CTriMesh* b, const char* when) {
    SCOPED_TRACE(when);
    ASSERT_EQ(a->UpdateBound(), kOk);
    ASSERT_EQ(b->UpdateBound(), kOk);
    EXPECT_EQ(a->bound.get().boxMin, b->bound.get().boxMin);
    EXPECT_EQ(a->bound.get().boxMax, b->bound.get().boxMax);
    RayHit hitA, hitB;
    EXPECT_EQ(a->IntersectRay({0.2f, 0.2f, 9}, {0, 0, -1}, false, hitA),
              b->IntersectRay({0.2f, 0.2f, 9}, {0, 0, -1}, false, hitB));
    EXPECT_EQ(hitA.face, hitB.face);
    EXPECT_EQ(hitA.point, hitB.point);
  };
  same(lazy, made, "loaded");
  EXPECT_EQ(lazy->bound.get().boxMax, (V{1, 1, 1}));
  EXPECT_TRUE(lazy->worldPositions.empty());

  // A copy of a mesh whose buffers are not made yet makes its own, from its own positions.
  CRefPtr<CBase> cloned;
  ASSERT_EQ(lazy->Clone(cloned), kOk);
  auto* clone = KindOf<CTriMesh>(cloned.get());
  CRefPtr<CTriMesh> assigned(new CTriMesh);
  ReleasedList released;
  ASSERT_EQ(lazy->AssignTo(assigned.get(), released), kOk);
  same(clone, made, "cloned");
  same(assigned.get(), made, "assigned");
  EXPECT_EQ(clone->GetMemorySize(), made->GetMemorySize());

  // Normals and the move to world space make them.
  ASSERT_EQ(clone->ComputeNormals(), kOk);
  ASSERT_EQ(made->ComputeNormals(), kOk);
  EXPECT_EQ(clone->worldNormals, made->worldNormals);
  EXPECT_EQ(clone->worldPositions, made->worldPositions);
  ASSERT_EQ(assigned->TransformToWorld(), kOk);
  EXPECT_EQ(assigned->worldPositions, made->worldPositions);

  // A deformer run on its own makes them too.
  auto* lazyMorph = KindOf<CMorphControl>(lazy->GetController());
  ASSERT_TRUE(lazyMorph);
  ASSERT_EQ(lazyMorph->Update(0.5f), kOk);
  EXPECT_EQ(lazy->worldPositions[0], (V{0, 0, 2}));
  EXPECT_EQ(lazy->worldPositions[1], (V{1, 0, 0}));

  // Rest positions edited after the load, then updated: the same world positions either way.
  CPersistContext editedContext;
  ASSERT_EQ(test::LoadFromBytes(saved, editedContext), kOk);
  auto* edited = KindOf<CTriMesh>(editedContext.roots.at(0).get());
  ASSERT_TRUE(edited);
  for (auto* m : {edited, made}) {
    m->positions[1] = {3, 0, 0};
    m->transform = MatrixTranslation({0, 0, 5});
  }
  ASSERT_EQ(edited->Update(1), kOk);
  ASSERT_EQ(made->Update(1), kOk);
  EXPECT_EQ(edited->worldPositions, made->worldPositions);
  EXPECT_EQ(edited->worldNormals, made->worldNormals);
  EXPECT_EQ(edited->worldPositions[0], (V{0, 0, 7}));
  EXPECT_EQ(edited->worldPositions[1], (V{3, 0, 5}));
  same(edited, made, "updated");
}

Bytes OldMeshFile(const CTriMesh& mesh, std::vector<int32_t> channelIds) {
  Bytes file = test::OldHeader("1.50").Append(test::OldEmptyThumbnail());
  file.A("_CorvaRoot").A("CTriMesh").I32(1).A("old").I32(0).I32(0).I32(0);
  const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  for (float v : identity) file.F32(v);
  file.U8(1).I32(0);
  return file.Append(MeshBlocks(mesh, 0, std::move(channelIds), true));
}

TEST_F(Geometry, OldLayoutDropsTheLeadingChannelEntry) {
  auto mesh = FullMesh();
  {
    // One stored entry: the mesh has no channels.
    CPersistContext context;
    ASSERT_EQ(test::LoadFromBytes(OldMeshFile(*mesh, {}).data, context), kOk)
        << context.diagnostics.Describe();
    auto* loaded = KindOf<CTriMesh>(context.roots.at(0).get());
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(loaded->mapChannels.empty());
    EXPECT_EQ(loaded->name, u"old");
    EXPECT_EQ(loaded->positions, mesh->positions);
    EXPECT_EQ(loaded->faceTriples4, mesh->faceTriples4);
    EXPECT_EQ(loaded->extraVectors, mesh->extraVectors);
    test::ExpectRoundTrip(loaded);
  }
  {
    // Entries 99 (dropped) and 0 (an empty channel).
    CPersistContext context;
    ASSERT_EQ(test::LoadFromBytes(OldMeshFile(*mesh, {0}).data, context), kOk);
    auto* loaded = KindOf<CTriMesh>(context.roots.at(0).get());
    ASSERT_EQ(loaded->mapChannels.size(), 1u);
    EXPECT_FALSE(loaded->mapChannels[0]);
  }
  {
    // A stored count of 0 in an old file: nothing to drop.
    Bytes file = OldMeshFile(*mesh, {});
    const size_t at = file.size() - 4 - 12 * mesh->extraVectors.size() - 8;
    std::memcpy(file.data.data() + at, "\0\0\0\0", 4);
    file.data.erase(file.data.begin() + static_cast<long>(at) + 4,
                    file.data.begin() + static_cast<long>(at) + 8);
    CPersistContext context;
    ASSERT_EQ(test::LoadFromBytes(file.data, context), kOk) << context.diagnostics.Describe();
    EXPECT_TRUE(KindOf<CTriMesh>(context.roots.at(0).get())->mapChannels.empty());
  }
}

// A channel entry that names an object of another class stays empty, with a warning; the ids
// after it still reach their own objects.
TEST_F(Geometry, AChannelOfAnotherClassLeavesItsEntryEmptyAndTheRestInPlace) {
  auto mesh = FullMesh();
  mesh->material = new CStandardMaterial;
  CRefPtr<CUvwMap> second(new CUvwMap);
  second->name = u"second";
  mesh->mapChannels = {new CUvwMap, second};
  Bytes file{test::SaveRootToBytes(mesh.get())};
  // The mesh record comes first; its two channel ids end where its extra vectors begin. The
  // material has id 2.
  const size_t meshEnd = test::NewHeader().I32(0).I32(0).A("_Root").size() +
                         static_cast<size_t>(mesh->GetSaveSize());
  const size_t firstChannel = meshEnd - 4 - 12 * mesh->extraVectors.size() - 2 * 4;
  const int32_t materialId = 2;
  std::memcpy(file.data.data() + firstChannel, &materialId, 4);

  CPersistContext context;
  ASSERT_EQ(test::LoadFromBytes(file.data, context), kOk) << context.diagnostics.Describe();
  auto* loaded = KindOf<CTriMesh>(context.roots.at(0).get());
  ASSERT_TRUE(loaded);
  EXPECT_FALSE(context.diagnostics.warnings.empty());
  ASSERT_EQ(loaded->mapChannels.size(), 2u);
  EXPECT_FALSE(loaded->mapChannels[0]);
  ASSERT_TRUE(loaded->mapChannels[1]);
  EXPECT_EQ(loaded->mapChannels[1]->name, u"second");
  EXPECT_TRUE(KindOf<CStandardMaterial>(loaded->material.get()));
}

// A load from a file reads large arrays on other threads while it goes on with the records
// after them (in pieces, for the largest). What it ends with is what a load from memory, which
// reads everything in place, ends with; particles, whose Load uses their positions, too.
TEST_F(Geometry, ArraysReadBesideTheLoadArriveWhole) {
  std::vector<V> points(450'001);
  for (size_t i = 0; i < points.size(); ++i) points[i] = {float(i), -float(i), 0.5f * float(i)};
  std::vector<uint32_t> faces(3 * 30'001);
  for (size_t i = 0; i < faces.size(); ++i) faces[i] = static_cast<uint32_t>((7 * i) % points.size());
  auto large = Mesh(points, faces, faces, points.size());
  auto small = Mesh({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {0, 1, 2});
  CRefPtr<CParticles> particles(new CParticles);
  ASSERT_EQ(particles->SetCapacity(20'000), kOk);
  CPersistContext out;
  for (CBase* root : {static_cast<CBase*>(large.get()), static_cast<CBase*>(particles.get()),
                      static_cast<CBase*>(small.get())})
    ASSERT_EQ(AddRoot(out, root), kOk);
  test::TempDir dir;
  const std::string path = dir.Path("large.crv");
  ASSERT_EQ(SaveFile(0, out, path), kOk);

  CPersistContext fromFile, fromMemory;
  ASSERT_EQ(LoadFile(0, fromFile, path), kOk) << fromFile.diagnostics.Describe();
  std::vector<uint8_t> bytes;
  ASSERT_EQ(ReadWholeFile(path, bytes), kOk);
  ASSERT_EQ(test::LoadFromBytes(bytes, fromMemory), kOk);
  auto* loaded = KindOf<CTriMesh>(fromFile.roots.at(0).get());
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->positions, large->positions);
  EXPECT_EQ(loaded->facePositionIndices, large->facePositionIndices);
  EXPECT_EQ(loaded->normals, large->normals);
  EXPECT_TRUE(test::SaveToBytes(fromFile) == test::SaveToBytes(fromMemory));
}

TEST_F(Geometry, CountsBeyondTheFileAreStreamErrors) {
  auto mesh = FullMesh();
  const Bytes good = test::NewHeader().I32(0).I32(0).A("_Root").Append(Record(
      "CTriMesh",
      BaseBlocks(1, u"mesh").Append(SpatialBlock(*mesh)).Append(MeshBlocks(*mesh, 0, {}, false))));
  // Offsets into the geometry block: the vertex count, the normal count, the face count.
  const size_t geometry = good.size() - MeshBlocks(*mesh, 0, {}, false).size() + 8;
  const size_t normalCount = geometry + 4 + 36 + 4 + 12;
  const size_t faceCount = geometry - 8 + GeometryBlock(*mesh, 0, false).size() + 8;
  int32_t checkFaces = 0;
  std::memcpy(&checkFaces, good.data.data() + faceCount, 4);
  ASSERT_EQ(checkFaces, 1);
  for (const auto& [offset, value] : {std::pair{geometry, 0x7FFFFFFF}, std::pair{geometry, -3},
                                      std::pair{normalCount, 0x40000000},
                                      std::pair{faceCount, 0x7FFFFFFF}, std::pair{faceCount, -1}}) {
    Bytes bad = good;
    std::memcpy(bad.data.data() + offset, &value, 4);
    CPersistContext context;
    EXPECT_EQ(test::LoadFromBytes(bad.data, context), kErrStream) << offset << " " << value;
  }
}

TEST_F(Geometry, CloneDuplicateAndAssign) {
  auto mesh = FullMesh();
  CRefPtr<CUvwMap> channel(new CUvwMap);
  EXPECT_TRUE(::KX::Succeeded(channel->SetMapVertexCount(2)));
  mesh->mapChannels = {channel};
  mesh->material = new CStandardMaterial;

  CRefPtr<CBase> cloned;
  ASSERT_EQ(mesh->Clone(cloned), kOk);
  auto* clone = KindOf<CTriMesh>(cloned.get());
  EXPECT_EQ(clone->mapChannels[0], channel);  // shared
  EXPECT_FALSE(clone->material);              // links are not copied
  clone->positions[0] = {};
  EXPECT_EQ(mesh->positions[0], (V{1, 2, 3}));  // deep

  DuplicateMap map;
  CRefPtr<CBase> duplicated;
  ASSERT_EQ(mesh->Duplicate(duplicated, map), kOk);
  auto* dup = KindOf<CTriMesh>(duplicated.get());
  ASSERT_TRUE(dup->mapChannels[0] && dup->material);
  EXPECT_NE(dup->mapChannels[0], channel);
  EXPECT_EQ(dup->mapChannels[0]->mapVertices.size(), 2u);
  EXPECT_NE(dup->material.get(), mesh->material.get());

  CRefPtr<CTriMesh> target(new CTriMesh);
  CRefPtr<CUvwMap> old(new CUvwMap);
  target->mapChannels = {old, old};
  target->normals.items = {{1, 1, 1}};
  ReleasedList released;
  ASSERT_EQ(mesh->AssignTo(target.get(), released), kOk);
  EXPECT_EQ(released.size(), 2u);
  EXPECT_EQ(target->mapChannels, mesh->mapChannels);
  EXPECT_EQ(target->normals, mesh->normals);
  EXPECT_EQ(target->faceTriples4, mesh->faceTriples4);
  EXPECT_EQ(target->material, mesh->material);
  EXPECT_EQ(target->extraVectors, mesh->extraVectors);
  CRefPtr<CUvwMap> notMesh(new CUvwMap);
  EXPECT_EQ(mesh->AssignTo(notMesh.get(), released), kErrMalformed);
  EXPECT_EQ(mesh->AssignTo(nullptr, released), kErrBadArgument);
  EXPECT_EQ(channel->AssignTo(mesh.get(), released), kErrMalformed);
}

TEST_F(Geometry, BoneMeshNamesAndTheOldChannelNameCreateTheCurrentClasses) {
  for (const char* name : {"CBoneMesh", "CBoneNodeMesh", "CBoneShapeMesh", "CTriMesh"}) {
    CRefPtr<CBase> object;
    ASSERT_EQ(CreateObject(name, object), kOk);
    EXPECT_EQ(object->GetRuntimeClass(), &CTriMesh::classRecord) << name;
  }
  CRefPtr<CBase> map;
  ASSERT_EQ(CreateObject("CTriMeshUVWMap", map), kOk);
  EXPECT_EQ(map->GetRuntimeClass(), &CUvwMap::classRecord);
  EXPECT_EQ(CreateObject("CGeometry", map), kErrUnknownClass);
}

}  // namespace
}  // namespace KX
