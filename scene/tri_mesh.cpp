#include "scene/tri_mesh.h"

#include <algorithm>
#include <cstring>

#include "core/alloc.h"
#include "core/math/matrix.h"
#include "object/archive.h"
#include "scene/scene_archive.h"

namespace KX {

KX_DEFINE_CLASS(CUvwMap, CCorva, 2, 0)
KX_DEFINE_CLASS(CTriMesh, CGeometry, 2, 0)

namespace {

// Stored versions below this keep one more map-channel entry than the mesh has, in front.
constexpr int32_t kCurrentChannelsVersion = 200;
// What an estimate of a map channel's memory adds to the base part, besides its arrays.
constexpr int64_t kUvwMapMemorySize = 52;

// Rejects negative counts as a read past the end, like every other count that cannot fit.
bool ValidCount(CReader& in, int32_t count) { return in.CanHold(count, 0); }

}  // namespace

// ---------------------------------------------------------------------------------------------

CUvwMap::CUvwMap(const CUvwMap& other)
    : CCorva(other),
      faceCount(other.faceCount),
      mapVertices(other.mapVertices),
      values(other.values),
      faceIndices(other.faceIndices) {}

Status CUvwMap::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  auto* map = KindOf<CUvwMap>(target);
  if (!map) return kErrMalformed;
  if (map == this) return kOk;
  map->faceCount = faceCount;
  KX_RETURN_IF_FAILED(map->mapVertices.CopyFrom(mapVertices));
  KX_RETURN_IF_FAILED(map->values.CopyFrom(values));
  KX_RETURN_IF_FAILED(map->faceIndices.CopyFrom(faceIndices));
  map->modified = 1;
  return kOk;
}

Status CUvwMap::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  ar.Version(classRecord);
  int32_t vertexCount = mapVertices.count();
  ar.Count(vertexCount);
  PresentArray(ar, "mapVertices", mapVertices, vertexCount);
  int32_t faces = faceCount;
  ar("faceCount", faces);
  if (ar.Loading()) {
    if (!ValidCount(ar.reader(), faces)) return ar.status();
    faceCount = faces;
  }
  PresentArray(ar, "faceIndices", faceIndices, 3 * static_cast<int64_t>(std::max(faces, 0)));
  int32_t valueCount = values.count();
  ar.Count(valueCount);
  PresentArray(ar, "values", values, valueCount);
  return ar.status();
}

int64_t CUvwMap::GetMemorySize() const {
  return CCorva::GetMemorySize() + kUvwMapMemorySize +
         4 * (3 * static_cast<int64_t>(mapVertices.size()) +
              static_cast<int64_t>(faceIndices.size() + values.size()));
}

Status CUvwMap::SetFaceCount(int32_t n) {
  faceCount = std::max(n, 0);
  modified = 1;
  if (n <= 0) {
    faceIndices.Free();
    return kOk;
  }
  return faceIndices.Resize(3 * static_cast<int64_t>(n));
}

Status CUvwMap::SetValueCount(int32_t n) {
  modified = 1;
  if (n <= 0) {
    values.Free();
    return kOk;
  }
  return values.Resize(n);
}

Status CUvwMap::SetMapVertexCount(int32_t n) {
  modified = 1;
  if (n <= 0) {
    mapVertices.Free();
    return kOk;
  }
  return mapVertices.Resize(n);
}

// ---------------------------------------------------------------------------------------------

CTriMesh::CTriMesh(const CTriMesh& other)
    : CGeometry(other),
      faceCount(other.faceCount),
      facePositionIndices(other.facePositionIndices),
      faceNormalIndices(other.faceNormalIndices),
      faceMapIndices(other.faceMapIndices),
      faceTriples4(other.faceTriples4),
      faceValues1(other.faceValues1),
      faceValues2(other.faceValues2),
      mapChannels(other.mapChannels),
      extraVectors(other.extraVectors) {}

Status CTriMesh::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CGeometry::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = static_cast<CTriMesh*>(out.get());
  for (size_t i = 0; i < mapChannels.size() && i < copy->mapChannels.size(); ++i) {
    if (!mapChannels[i]) continue;
    CRefPtr<CBase> channelCopy;
    KX_RETURN_IF_FAILED(mapChannels[i]->Duplicate(channelCopy, map));
    copy->mapChannels[i] = KindOf<CUvwMap>(channelCopy.get());
  }
  return kOk;
}

Status CTriMesh::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CGeometry::AssignTo(target, released));
  auto* mesh = KindOf<CTriMesh>(target);
  if (!mesh) return kErrMalformed;
  if (mesh == this) return kOk;
  try {
    for (const auto& old : mesh->mapChannels)
      if (old) released.emplace_back(old.get());
    mesh->mapChannels = mapChannels;
    mesh->extraVectors = extraVectors;
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  mesh->faceCount = faceCount;
  KX_RETURN_IF_FAILED(mesh->facePositionIndices.CopyFrom(facePositionIndices));
  KX_RETURN_IF_FAILED(mesh->faceNormalIndices.CopyFrom(faceNormalIndices));
  KX_RETURN_IF_FAILED(mesh->faceMapIndices.CopyFrom(faceMapIndices));
  KX_RETURN_IF_FAILED(mesh->faceTriples4.CopyFrom(faceTriples4));
  KX_RETURN_IF_FAILED(mesh->faceValues1.CopyFrom(faceValues1));
  KX_RETURN_IF_FAILED(mesh->faceValues2.CopyFrom(faceValues2));
  return kOk;
}

Status CTriMesh::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CGeometry::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  int32_t faces = faceCount;
  ar("faceCount", faces);
  if (ar.Loading()) {
    if (!ValidCount(ar.reader(), faces)) return ar.status();
    faceCount = faces;
  }
  const int64_t stored = std::max(faces, 0);
  PresentArray(ar, "facePositionIndices", facePositionIndices, 3 * stored);
  PresentArray(ar, "faceNormalIndices", faceNormalIndices, 3 * stored);
  PresentArray(ar, "faceMapIndices", faceMapIndices, 3 * stored);
  PresentArray(ar, "faceTriples4", faceTriples4, 3 * stored);
  PresentArray(ar, "faceValues1", faceValues1, stored);
  PresentArray(ar, "faceValues2", faceValues2, stored);
  // Old files lead the channel list with an entry that no mesh kept.
  HeldRefList(ar, "mapChannels", mapChannels, version < kCurrentChannelsVersion);
  if (ar.Loading()) extraVectors.clear();
  ar.Counted("extraVectors", extraVectors);
  return ar.status();
}

int64_t CTriMesh::GetMemorySize() const {
  const auto indices = facePositionIndices.size() + faceNormalIndices.size() +
                       faceMapIndices.size() + faceTriples4.size() + faceValues1.size() +
                       faceValues2.size() + mapChannels.size();
  return CGeometry::GetMemorySize() + 4 * static_cast<int64_t>(indices) +
         12 * static_cast<int64_t>(extraVectors.size());
}

bool CTriMesh::HasAttachments() const {
  for (const auto& channel : mapChannels)
    if (channel) return true;
  return CGeometry::HasAttachments();
}

void CTriMesh::VisitReferences(CReferenceVisitor& visit) {
  CGeometry::VisitReferences(visit);
  visit.Each(mapChannels);
}

Status CTriMesh::Update(float time) {
  // The working buffers match the rest buffers already unless someone replaced those since.
  KX_RETURN_IF_FAILED(SizeWorkingBuffers());
  if (!positions.empty())
    std::memcpy(worldPositions.data(), positions.data(), positions.size() * sizeof(positions[0]));
  normalsValid = false;
  inWorldSpace = false;
  KX_RETURN_IF_FAILED(CGeometry::Update(time));
  if (!inWorldSpace) KX_RETURN_IF_FAILED(TransformToWorld());
  if (autoNormals && !normalsValid) KX_RETURN_IF_FAILED(ComputeNormals());
  for (const auto& channel : mapChannels)
    if (channel) KX_RETURN_IF_FAILED(channel->Update(time));
  return kOk;
}

int64_t CTriMesh::StoredFaces(const CIndexBuffer& indices) const {
  return std::min<int64_t>(std::max(faceCount, 0), static_cast<int64_t>(indices.size() / 3));
}

Status CTriMesh::TransformToWorld() {
  KX_RETURN_IF_FAILED(PrepareWorkingBuffers());
  TransformWorldPositions();
  return kOk;
}

Status CTriMesh::ComputeNormals() {
  KX_RETURN_IF_FAILED(PrepareWorkingBuffers());
  if (worldNormals.empty() || normalsValid) return kNothingDone;
  if (!inWorldSpace) KX_RETURN_IF_FAILED(TransformToWorld());
  std::fill(worldNormals.begin(), worldNormals.end(), CVector3<float>{});
  const size_t positionCount = std::min(positions.size(), worldPositions.size());
  const size_t normalCount = worldNormals.size();
  const int64_t faces = std::min(StoredFaces(facePositionIndices), StoredFaces(faceNormalIndices));
  // Faces the count promises but whose indices the buffers do not hold.
  skippedIndices += 3 * static_cast<uint64_t>(std::max(faceCount, 0) - faces);
  const uint32_t* pi = facePositionIndices.data();
  const uint32_t* ni = faceNormalIndices.data();
  const CVector3<float>* p = worldPositions.data();
  CVector3<float>* out = worldNormals.data();
  for (int64_t f = 0; f < faces; ++f, pi += 3, ni += 3) {
    if (pi[0] >= positionCount || pi[1] >= positionCount || pi[2] >= positionCount) {
      skippedIndices += 3;
      continue;
    }
    const CVector3<float> u = p[pi[0]];
    const CVector3<float> faceNormal = Cross(p[pi[1]] - u, p[pi[2]] - u);
    for (int corner = 0; corner < 3; ++corner) {
      if (ni[corner] < normalCount)
        out[ni[corner]] += faceNormal;
      else
        ++skippedIndices;
    }
  }
  for (auto& normal : worldNormals) normal = Normalised(normal);
  normalsValid = true;
  return kOk;
}

bool CTriMesh::IntersectRay(const CVector3<float>& origin, const CVector3<float>& direction,
                            bool twoSided, RayHit& hit) {
  hit = RayHit{};
  bool found = false;
  const std::span<const CVector3<float>> current = CurrentPositions();
  const size_t positionCount = current.size();
  const int64_t faces = StoredFaces(facePositionIndices);
  const uint32_t* pi = facePositionIndices.data();
  const CVector3<float>* p = current.data();
  for (int64_t f = 0; f < faces; ++f, pi += 3) {
    if (pi[0] >= positionCount || pi[1] >= positionCount || pi[2] >= positionCount) {
      skippedIndices += 3;
      continue;
    }
    const CVector3<float> u = p[pi[0]], v = p[pi[1]], w = p[pi[2]];
    const CVector3<float> normal = Normalised(Cross(v - u, w - u));
    const float facing = Dot(direction, normal);
    // Back faces and faces along the ray are culled; a ray along a face never crosses its plane.
    if (!twoSided && !(facing < 0.0f)) continue;
    if (facing == 0.0f) continue;
    const float t = -(Dot(normal, origin) - Dot(normal, u)) / facing;
    if (!(t >= 0.0f)) continue;
    const CVector3<float> point = origin + t * direction;
    // Strictly inside every edge: a point on an edge belongs to neither face that shares it.
    if (!(Dot(normal, Cross(v - u, point - u)) > 0.0f) ||
        !(Dot(normal, Cross(w - v, point - v)) > 0.0f) ||
        !(Dot(normal, Cross(u - w, point - w)) > 0.0f))
      continue;
    const float distance = Length(point - origin);
    if (distance < hit.distance) {
      hit = {static_cast<int32_t>(f), distance, point, normal};
      found = true;
    }
  }
  return found;
}

}  // namespace KX
