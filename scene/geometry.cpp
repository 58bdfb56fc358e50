#include "scene/geometry.h"

#include "core/alloc.h"
#include "core/math/matrix.h"
#include "object/archive.h"
#include "scene/scene_archive.h"

namespace KX {

KX_DEFINE_CLASS(CGeometry, CSpatial, 2, 0)

namespace {

// What an estimate of a geometry's memory adds to the spatial part, besides its arrays.
constexpr int64_t kGeometryMemorySize = 156;

}  // namespace

CGeometry::CGeometry(const CGeometry& other)
    : CSpatial(other),
      positions(other.positions),
      worldPositions(other.worldPositions),
      vertexValues(other.vertexValues),
      normals(other.normals),
      worldNormals(other.worldNormals),
      mapVertices(other.mapVertices),
      indexList1(other.indexList1),
      indexList2(other.indexList2),
      indexList3(other.indexList3),
      geometryFlag(other.geometryFlag),
      normalsValid(other.normalsValid),
      inWorldSpace(other.inWorldSpace),
      autoNormals(other.autoNormals),
      workingPending_(other.workingPending_) {}

Status CGeometry::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CSpatial::Duplicate(out, map);
  if (status != kOk) return status;
  if (material) {
    auto* copy = static_cast<CGeometry*>(out.get());
    CRefPtr<CBase> materialCopy;
    KX_RETURN_IF_FAILED(material->Duplicate(materialCopy, map));
    copy->material = KindOf<CMaterialBase>(materialCopy.get());
    copy->modified = 1;
  }
  return kOk;
}

Status CGeometry::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CSpatial::AssignTo(target, released));
  auto* geometry = KindOf<CGeometry>(target);
  if (!geometry) return kErrMalformed;
  if (geometry == this) return kOk;
  KX_RETURN_IF_FAILED(geometry->positions.CopyFrom(positions));
  KX_RETURN_IF_FAILED(geometry->worldPositions.CopyFrom(worldPositions));
  KX_RETURN_IF_FAILED(geometry->vertexValues.CopyFrom(vertexValues));
  KX_RETURN_IF_FAILED(geometry->normals.CopyFrom(normals));
  KX_RETURN_IF_FAILED(geometry->worldNormals.CopyFrom(worldNormals));
  KX_RETURN_IF_FAILED(geometry->mapVertices.CopyFrom(mapVertices));
  KX_RETURN_IF_FAILED(geometry->indexList1.CopyFrom(indexList1));
  KX_RETURN_IF_FAILED(geometry->indexList2.CopyFrom(indexList2));
  KX_RETURN_IF_FAILED(geometry->indexList3.CopyFrom(indexList3));
  geometry->geometryFlag = geometryFlag;
  geometry->normalsValid = normalsValid;
  geometry->inWorldSpace = inWorldSpace;
  geometry->autoNormals = autoNormals;
  geometry->workingPending_ = workingPending_;
  if (geometry->material)
    KX_RETURN_IF_FAILED(TryAppend(released, CRefPtr<CBase>(geometry->material.get())));
  geometry->material = material;
  geometry->modified = 1;
  return kOk;
}

Status CGeometry::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CSpatial::Persist(ar));
  ar.Version(classRecord);
  int32_t n = positions.count();
  ar.Count(n);
  // Positions have no presence word: they are always there when there are vertices.
  if (ar.Loading()) positions.Free();
  if (ar.Saving() || n != 0) ar.ArrayAside("positions", positions.items, n);
  PresentArray(ar, "vertexValues", vertexValues, n);
  int32_t normalCount = normals.count();
  ar.Count(normalCount);
  PresentArray(ar, "normals", normals, normalCount);
  int32_t mapCount = mapVertices.count();
  ar.Count(mapCount);
  PresentArray(ar, "mapVertices", mapVertices, mapCount);
  int32_t k = static_cast<int32_t>(IndexListCount());
  ar.Count(k);
  PresentArray(ar, "indexList1", indexList1, k);
  PresentArray(ar, "indexList2", indexList2, k);
  PresentArray(ar, "indexList3", indexList3, k);
  ar.Ref("material", material)("geometryFlag", geometryFlag);
  if (ar.Loading() && ar.ok()) {
    normalsValid = false;
    inWorldSpace = false;
    // Made when first needed (PrepareWorkingBuffers); until then they stand for what a load
    // made before: a copy of the rest positions, zero normals. Copies left from before go.
    worldPositions.Free();
    worldNormals.Free();
    workingPending_ = true;
  }
  return ar.status();
}

int64_t CGeometry::IndexListCount() const {
  return static_cast<int64_t>(std::max({indexList1.size(), indexList2.size(), indexList3.size()}));
}

int64_t CGeometry::GetMemorySize() const {
  // Working buffers not made yet count as they will be made.
  const size_t working = workingPending_ ? positions.size() + normals.size()
                                         : worldPositions.size() + worldNormals.size();
  const auto vectors = positions.size() + normals.size() + working + mapVertices.size();
  const auto indices =
      vertexValues.size() + indexList1.size() + indexList2.size() + indexList3.size();
  return CSpatial::GetMemorySize() + kGeometryMemorySize + 12 * static_cast<int64_t>(vectors) +
         4 * static_cast<int64_t>(indices);
}

bool CGeometry::HasAttachments() const {
  return material || CSpatial::HasAttachments();
}

void CGeometry::VisitReferences(CReferenceVisitor& visit) {
  CSpatial::VisitReferences(visit);
  visit(material);
}

Status CGeometry::Update(float time) {
  KX_RETURN_IF_FAILED(CSpatial::Update(time));
  return material ? material->Update(time) : kOk;
}

Status CGeometry::UpdateBound() {
  bound.Mutable().EnclosePoints(CurrentPositions());
  return kOk;
}

std::span<const CVector3<float>> CGeometry::CurrentPositions() const {
  if (workingPending_) return positions.span();
  return {worldPositions.data(), std::min(positions.size(), worldPositions.size())};
}

void CGeometry::TransformWorldPositions() {
  const size_t n = std::min(positions.size(), worldPositions.size());
  CVector3<float>* p = worldPositions.data();
  const auto& m = transform.get().m;
  if (m[0][3] == 0.0f && m[1][3] == 0.0f && m[2][3] == 0.0f && m[3][3] == 1.0f) {
    // Affine: w is exactly 1, so the divide by w would change nothing.
    for (size_t i = 0; i < n; ++i) {
      const CVector3<float> v = p[i];
      p[i] = {v.x * m[0][0] + v.y * m[1][0] + v.z * m[2][0] + m[3][0],
              v.x * m[0][1] + v.y * m[1][1] + v.z * m[2][1] + m[3][1],
              v.x * m[0][2] + v.y * m[1][2] + v.z * m[2][2] + m[3][2]};
    }
  } else {
    for (size_t i = 0; i < n; ++i) p[i] = TransformCoord(p[i], transform);
  }
  inWorldSpace = true;
}

Status CGeometry::SizeWorkingBuffers() {
  try {
    // Until the first update the working copy holds the rest positions, so that bounds and ray
    // queries before it see the mesh where it rests.
    if (worldPositions.size() != positions.size()) worldPositions.items = positions.items;
    if (worldNormals.size() != normals.size()) worldNormals.items.resize(normals.size());
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  workingPending_ = false;
  return kOk;
}

}  // namespace KX
