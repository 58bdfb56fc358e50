#include "control/mesh_deformers.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "control/control_archive.h"
#include "control/key_search.h"
#include "core/alloc.h"
#include "scene/tri_mesh.h"

namespace KX {

KX_DEFINE_CLASS(CBoneSkinControl, CDataControl, 2, 0)
KX_DEFINE_CLASS(CMorphControl, CDataControl, 2, 1)
KX_DEFINE_CLASS(CMeshSelControl, CDataControl, 2, 0)
KX_DEFINE_CLASS(CConnectControl, CDataControl, 2, 0)
KX_DEFINE_CLASS(CConnectData, CCorva, 2, 0)

namespace {

// Morph blocks stored at this version or older kept their weight times in scene time.
constexpr int32_t kLegacyMorphVersion = 200;
// A stored bone: its id, the bind matrix and the influence count, before the influences.
constexpr int64_t kStoredBoneSize = kIdSize + 64 + 4;

// The working positions a deformer may touch: never more than the mesh has vertices. Those of
// a loaded mesh not made yet count as made (a deformer makes them before it moves any).
size_t WorkingCount(const CGeometry& mesh) {
  return mesh.CurrentPositions().size();
}

// p * M as an affine product (the fourth column is not divided by).
inline CVector3<float> TransformAffine(const CVector3<float>& p, const CMatrix4& matrix) {
  const auto& m = matrix.m;
  return {p.x * m[0][0] + p.y * m[1][0] + p.z * m[2][0] + m[3][0],
          p.x * m[0][1] + p.y * m[1][1] + p.z * m[2][1] + m[3][1],
          p.x * m[0][2] + p.y * m[1][2] + p.z * m[2][2] + m[3][2]};
}

// acc += w * m, element by element.
inline void AddScaled(CMatrix4& acc, const CMatrix4& m, float w) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) acc.m[i][j] += w * m.m[i][j];
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Skinning

CBoneSkinControl::CBoneSkinControl(const CBoneSkinControl& other)
    : CDataControl(other), bones(other.bones) {
  // Tables depend on the owner, which a copy does not have yet; they are built when needed.
}

// Hand-written: the bones are stated one by one, their names are not stored, and the tables are
// rebuilt for the target.
Status CBoneSkinControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CDataControl::AssignTo(target, released));
  auto* skin = KindOf<CBoneSkinControl>(target);
  if (!skin) return kErrMalformed;
  if (skin == this) return kOk;
  KX_RETURN_IF_FAILED(TryAssign(skin->bones, bones));
  skin->modified = 1;
  return skin->RebuildTables();
}

Status CBoneSkinControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CDataControl::Persist(ar));
  ar.Version(classRecord);
  auto count = static_cast<uint32_t>(bones.size());
  ar.Count(count);
  if (ar.Loading()) {
    bones.clear();
    if (!ar.reader().CanHold(count, kStoredBoneSize)) return ar.status();
    KX_RETURN_IF_FAILED(TryResize(bones, count));
  }
  {
    const auto list = ListScope(ar, "bones");
    for (SkinBone& bone : bones) {
      const auto record = RecordScope(ar, nullptr);
      ar.Ref("bone", bone.bone)("bindMatrix", bone.bindMatrix);
      UintCounted(ar, "influences", bone.influences);
      if (ar.Loading() && !ar.ok()) break;
      // The name goes with the linked bone, for copies that find their bones by name.
      if (ar.Linking())
        KX_RETURN_IF_FAILED(
            TryAllocate([&] { bone.boneName = bone.bone ? bone.bone->name : std::u16string(); }));
    }
  }
  if (ar.Linking()) KX_RETURN_IF_FAILED(RebuildTables());
  return ar.status();
}

int64_t CBoneSkinControl::GetMemorySize() const {
  int64_t size = CDataControl::GetMemorySize() + 24;
  for (const SkinBone& bone : bones)
    size += 96 + 8 * static_cast<int64_t>(bone.influences.size());
  return size + 4 * static_cast<int64_t>(weightStart.size() + weightBones.size() + weights.size());
}

void CBoneSkinControl::VisitReferences(CReferenceVisitor& visit) {
  CDataControl::VisitReferences(visit);
  // A copy's bones that were not copied along are found again by name.
  for (SkinBone& bone : bones) visit(bone.bone, kRetarget);
}

Status CBoneSkinControl::AddBone(CSpatial* bone, const CMatrix4& bindMatrix,
                                 std::vector<BoneInfluence> influences) {
  KX_RETURN_IF_FAILED(TryAllocate([&] {
    bones.push_back({bone, bone ? bone->name : std::u16string(), bindMatrix, std::move(influences)});
  }));
  modified = 1;
  return RebuildTables();
}

Status CBoneSkinControl::RebuildTables() {
  if (const auto* mesh = KindOf<CGeometry>(owner)) return RebuildTables(WorkingCount(*mesh));
  // Without a mesh there is no vertex count to build for; the first update builds them.
  tablesBuilt_ = false;
  vertexGroups.clear();
  weightStart.clear();
  weightBones.clear();
  weights.clear();
  return kOk;
}

Status CBoneSkinControl::RebuildTables(size_t vertexCount) {
  tablesBuilt_ = false;
  skippedIndices = 0;
  try {
    weightStart.assign(vertexCount + 1, 0u);
    for (const SkinBone& bone : bones) {
      if (!bone.bone) continue;  // a bone that is gone (or not found by name) moves nothing
      for (const BoneInfluence& influence : bone.influences) {
        if (influence.vertex < vertexCount)
          ++weightStart[influence.vertex + 1];
        else
          ++skippedIndices;
      }
    }
    for (size_t v = 0; v < vertexCount; ++v) weightStart[v + 1] += weightStart[v];
    weightBones.resize(weightStart[vertexCount]);
    weights.resize(weightStart[vertexCount]);
    std::vector<uint32_t> fill(weightStart.begin(), weightStart.end() - 1);
    for (size_t b = 0; b < bones.size(); ++b) {
      if (!bones[b].bone) continue;
      for (const BoneInfluence& influence : bones[b].influences) {
        if (influence.vertex >= vertexCount) continue;
        const uint32_t slot = fill[influence.vertex]++;
        weightBones[slot] = static_cast<uint32_t>(b);
        weights[slot] = influence.weight;
      }
    }
    vertexGroups.assign(2, {});
    for (uint32_t v = 0; v < vertexCount; ++v)
      vertexGroups[weightStart[v] == weightStart[v + 1] ? 0 : 1].push_back(v);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  KX_RETURN_IF_FAILED(TryResize(builtBones_, bones.size()));
  for (size_t b = 0; b < bones.size(); ++b) builtBones_[b] = bones[b].bone;
  tableVertices_ = vertexCount;
  tablesBuilt_ = true;
  return kOk;
}

Status CBoneSkinControl::Update(float) {
  if (const Status s = IsDisabled(); s != kOk) return s;
  auto* mesh = KindOf<CGeometry>(owner);
  if (!mesh) return kErrBadArgument;
  KX_RETURN_IF_FAILED(mesh->PrepareWorkingBuffers());
  const size_t n = WorkingCount(*mesh);
  // The tables name bones by their place; a bone set or cleared since they were built (the
  // loader drops references to objects nothing keeps, after Link built them) means new tables.
  bool stale = !tablesBuilt_ || tableVertices_ != n || builtBones_.size() != bones.size();
  for (size_t b = 0; !stale && b < bones.size(); ++b) stale = builtBones_[b] != bones[b].bone;
  if (stale) KX_RETURN_IF_FAILED(RebuildTables(n));

  // Positions that another deformer already put into world space are taken back to the mesh's
  // own space before the bones move them, and the part of a vertex that no bone claims stays
  // where it is instead of being transformed a second time.
  const CMatrix4& ownerTransform = mesh->transform;
  CMatrix4 toLocal;  // identity
  CMatrix4 rigid = ownerTransform;
  if (mesh->inWorldSpace) {
    MatrixInverse(toLocal, ownerTransform);
    rigid = CMatrix4{};
  }
  KX_RETURN_IF_FAILED(TryResize(skin_, bones.size()));
  for (size_t b = 0; b < bones.size(); ++b) {
    if (!bones[b].bone) continue;  // not in the tables
    skin_[b] = bones[b].bindMatrix * bones[b].bone->transform;
    if (mesh->inWorldSpace) skin_[b] = toLocal * skin_[b];
  }

  CVector3<float>* p = mesh->worldPositions.data();
  if (rigid != CMatrix4{})
    for (uint32_t v : vertexGroups[0]) p[v] = TransformCoord(p[v], rigid);
  const uint32_t* start = weightStart.data();
  for (uint32_t v : vertexGroups[1]) {
    CMatrix4 m;
    for (auto& row : m.m)
      for (float& e : row) e = 0.0f;
    float total = 0.0f;
    for (uint32_t j = start[v]; j < start[v + 1]; ++j) {
      AddScaled(m, skin_[weightBones[j]], weights[j]);
      total += weights[j];
    }
    // Weights are used as stored: a shortfall is made up by the mesh's own transform, a total
    // above 1 is not scaled back.
    if (total < 1.0f) AddScaled(m, rigid, 1.0f - total);
    p[v] = TransformAffine(p[v], m);
  }
  mesh->inWorldSpace = true;
  return kOk;
}

Status CBoneSkinControl::ResolveOwnNames(CBase* root) {
  for (SkinBone& bone : bones) {
    if (bone.boneName.empty()) continue;
    bone.bone = KindOf<CSpatial>(
        root->FindObject(std::u16string_view(bone.boneName), &CSpatial::classRecord, true));
  }
  return RebuildTables();
}

Status CBoneSkinControl::RemapOwnReferences(DuplicateMap&) {
  return RebuildTables();
}

// ---------------------------------------------------------------------------------------------
// Morphing

Status CMorphControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CDataControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  if (target == this) return kOk;
  // New keys: the search starts over, and the mesh takes the new offsets.
  auto* morph = static_cast<CMorphControl*>(target);
  morph->cursor = 0;
  morph->modified = 1;
  return kOk;
}

Status CMorphControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CDataControl::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  ar.Counted("deltas", deltas);
  UintCounted(ar, "weightKeys", weightKeys);
  UintCounted(ar, "weightTimes", weightTimes);
  if (!ar.Loading()) return ar.status();
  cursor = 0;
  if (!ar.ok()) return ar.status();
  // Old blocks kept their weight times in scene time; they become relative to the controller.
  if (version <= kLegacyMorphVersion)
    if (const float start = LegacyStartTime(ar.reader()); start != 0.0f)
      for (float& t : weightTimes) t -= start;
  return kOk;
}

int64_t CMorphControl::GetMemorySize() const {
  return CDataControl::GetMemorySize() + 40 + 12 * static_cast<int64_t>(deltas.size()) +
         4 * static_cast<int64_t>(weightKeys.size() + weightTimes.size());
}

bool CMorphControl::WeightAt(float t, float& weight) {
  const KeySegment segment = FindKeySegment(t, weightTimes, cursor);
  if (segment.code == kKeyNone) return false;
  // A file may carry fewer weights than times; the times without a weight have no value.
  const auto a = static_cast<size_t>(segment.a), b = static_cast<size_t>(segment.b);
  if (a >= weightKeys.size() || b >= weightKeys.size()) return false;
  weight = weightKeys[a] + segment.t * (weightKeys[b] - weightKeys[a]);
  return true;
}

Status CMorphControl::Update(float time) {
  if (const Status s = IsDisabled(); s != kOk) return s;
  auto* mesh = KindOf<CGeometry>(owner);
  if (!mesh) return kErrBadArgument;
  if (weightTimes.empty()) return kOk;
  float w = 0.0f;
  if (!WeightAt(MapTime(time), w) || w == 0.0f) return kNothingDone;
  KX_RETURN_IF_FAILED(mesh->PrepareWorkingBuffers());

  const size_t n = std::min(deltas.size(), WorkingCount(*mesh));
  // Deltas for vertices the mesh does not have are left out.
  skippedIndices += deltas.size() - n;
  CVector3<float>* p = mesh->worldPositions.data();
  if (mesh->inWorldSpace) {
    // An offset turns with the mesh but does not move with it: only the 3x3 part applies.
    const CMatrix3 turn = UpperMatrix3(mesh->transform);
    for (size_t i = 0; i < n; ++i) p[i] += w * TransformVector(deltas[i], turn);
  } else {
    for (size_t i = 0; i < n; ++i) p[i] += w * deltas[i];
  }
  return kOk;
}

// ---------------------------------------------------------------------------------------------
// Vertex selection

Status CMeshSelControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CDataControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  if (target == this) return kOk;
  // The selection reads and writes its own stored form, out of a copy's reach.
  auto* sel = static_cast<CMeshSelControl*>(target);
  KX_RETURN_IF_FAILED(TryAssign(sel->selection, selection));
  sel->modified = 1;
  return kOk;
}

Status CMeshSelControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CDataControl::Persist(ar));
  ar.Version(classRecord);
  if (!ar.ok()) return ar.status();
  // The selection states its own stored form.
  const auto record = RecordScope(ar, "selection");
  return selection.Persist(ar);
}

int64_t CMeshSelControl::GetMemorySize() const {
  return CDataControl::GetMemorySize() + selection.GetMemorySize();
}

// ---------------------------------------------------------------------------------------------
// Seams

CConnectData::CConnectData()
    : time1(std::numeric_limits<float>::quiet_NaN()),
      time2(std::numeric_limits<float>::quiet_NaN()) {}

CConnectData::CConnectData(const CConnectData& other)
    : CCorva(other),
      mesh1(other.mesh1),
      mesh2(other.mesh2),
      seamVertices1(other.seamVertices1),
      seamVertices2(other.seamVertices2),
      time1(std::numeric_limits<float>::quiet_NaN()),
      time2(std::numeric_limits<float>::quiet_NaN()),
      normalGroups1(other.normalGroups1),
      normalGroups2(other.normalGroups2) {}

Status CConnectData::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  if (target == this) return kOk;
  // The normal groups are stated group by group, out of a copy's reach.
  auto* data = static_cast<CConnectData*>(target);
  KX_RETURN_IF_FAILED(TryAllocate([&] {
    data->normalGroups1 = normalGroups1;
    data->normalGroups2 = normalGroups2;
  }));
  data->modified = 1;
  return kOk;
}

Status CConnectData::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  ar.Version(classRecord);
  ar.Ref("mesh1", mesh1).Ref("mesh2", mesh2);
  UintCounted(ar, "seamVertices1", seamVertices1);
  UintCounted(ar, "seamVertices2", seamVertices2);
  ListOfLists<uint32_t>(ar, "normalGroups1", normalGroups1);
  ListOfLists<uint32_t>(ar, "normalGroups2", normalGroups2);
  return ar.status();
}

namespace {

int64_t GroupsSize(const std::vector<std::vector<uint32_t>>& groups) {
  int64_t size = 4;
  for (const auto& group : groups) size += 4 + 4 * static_cast<int64_t>(group.size());
  return size;
}

}  // namespace

int64_t CConnectData::GetMemorySize() const {
  int64_t size = CCorva::GetMemorySize() + 72 +
                 4 * static_cast<int64_t>(seamVertices1.size() + seamVertices2.size());
  return size + GroupsSize(normalGroups1) + GroupsSize(normalGroups2);
}

void CConnectData::VisitReferences(CReferenceVisitor& visit) {
  CCorva::VisitReferences(visit);
  visit(mesh1, kRetarget);
  visit(mesh2, kRetarget);
}

Status CConnectData::Update(float time) {
  // Both meshes must have reached this time: welding one fresh mesh to a stale one would pull
  // the seam towards where the other mesh was.
  if (!(time1 == time && time2 == time)) return kNothingDone;
  if (!mesh1 || !mesh2 || seamVertices1.empty()) return kOk;
  KX_RETURN_IF_FAILED(mesh1->PrepareWorkingBuffers());
  KX_RETURN_IF_FAILED(mesh2->PrepareWorkingBuffers());

  CVector3<float>* p1 = mesh1->worldPositions.data();
  CVector3<float>* p2 = mesh2->worldPositions.data();
  const size_t n1 = WorkingCount(*mesh1), n2 = WorkingCount(*mesh2);
  const size_t seams = seamVertices1.size();
  const size_t k = seamVertices2.size() / seams;
  for (size_t i = 0; i < seams; ++i) {
    const uint32_t v = seamVertices1[i];
    if (v >= n1) {
      ++skippedIndices;
      continue;
    }
    CVector3<float> sum = p1[v];
    float count = 1.0f;
    for (size_t j = 0; j < k; ++j) {
      const uint32_t partner = seamVertices2[i * k + j];
      if (partner >= n2) {
        ++skippedIndices;
        continue;
      }
      sum += p2[partner];
      count += 1.0f;
    }
    const CVector3<float> middle = sum / count;
    p1[v] = middle;
    for (size_t j = 0; j < k; ++j)
      if (const uint32_t partner = seamVertices2[i * k + j]; partner < n2) p2[partner] = middle;
  }

  // One normal for each seam vertex, half from each side whatever the number of normals there.
  auto& normals1 = mesh1->worldNormals.items;
  auto& normals2 = mesh2->worldNormals.items;
  static const std::vector<uint32_t> kNone;
  auto sideSum = [&](const std::vector<uint32_t>& group, std::span<const CVector3<float>> n) {
    CVector3<float> sum;
    for (uint32_t index : group) {
      if (index < n.size())
        sum += n[index];
      else
        ++skippedIndices;
    }
    return Normalised(sum);
  };
  for (size_t i = 0; i < seams; ++i) {
    const auto& group1 = i < normalGroups1.size() ? normalGroups1[i] : kNone;
    const auto& group2 = i < normalGroups2.size() ? normalGroups2[i] : kNone;
    if (group1.empty() && group2.empty()) continue;
    const CVector3<float> joined = Normalised(sideSum(group1, normals1) + sideSum(group2, normals2));
    for (uint32_t index : group1)
      if (index < normals1.size()) normals1[index] = joined;
    for (uint32_t index : group2)
      if (index < normals2.size()) normals2[index] = joined;
  }
  return kOk;
}

CConnectControl::CConnectControl(const CConnectControl& other)
    : CDataControl(other), connection(other.connection) {}

Status CConnectControl::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CDataControl::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = static_cast<CConnectControl*>(out.get());
  copy->connection = nullptr;
  if (connection) {
    CRefPtr<CBase> dataCopy;
    KX_RETURN_IF_FAILED(connection->Duplicate(dataCopy, map));
    copy->connection = KindOf<CConnectData>(dataCopy.get());
  }
  return kOk;
}

Status CConnectControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CDataControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  if (target == this) return kOk;
  target->modified = 1;
  return kOk;
}

Status CConnectControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CDataControl::Persist(ar));
  ar.Version(classRecord);
  ar.Ref("connection", connection);
  return ar.status();
}

int64_t CConnectControl::GetMemorySize() const { return CDataControl::GetMemorySize() + 4; }

bool CConnectControl::HasAttachments() const {
  return connection || CDataControl::HasAttachments();
}

void CConnectControl::VisitReferences(CReferenceVisitor& visit) {
  // The connection comes before the rest of the chain, as an object's own parts come before
  // what follows it; CDataControl states nothing of its own.
  CCorva::VisitReferences(visit);
  visit(connection);
  VisitChainLinks(visit);
}

Status CConnectControl::Update(float time) {
  if (const Status s = IsDisabled(); s != kOk) return s;
  auto* mesh = KindOf<CTriMesh>(owner);
  if (!mesh) return kErrBadArgument;
  if (!connection) return kOk;
  if (mesh == connection->mesh1) connection->time1 = time;
  if (mesh == connection->mesh2) connection->time2 = time;
  if (mesh->autoNormals && !mesh->normalsValid) KX_RETURN_IF_FAILED(mesh->ComputeNormals());
  return connection->Update(time);
}

}  // namespace KX
