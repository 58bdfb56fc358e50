#include "scene/bounding_objects.h"

#include <new>
#include <unordered_set>

#include "core/alloc.h"
#include "object/archive.h"
#include "scene/spatial.h"

namespace KX {

KX_DEFINE_CLASS(CBoundingBox, CCorva, 2, 0)
KX_DEFINE_CLASS(CBoundingMesh, CCorva, 2, 1)

namespace {

// Hull blocks from this version on end with hullFlag2.
constexpr int32_t kHullFlagVersion = 201;

constexpr int64_t kHullMemory = 76;

// Faces a hull stores: a negative count stands for none.
int64_t StoredFaces(int32_t faceCount) { return faceCount > 0 ? faceCount : 0; }

bool IsCopyIn(const DuplicateMap& map, const CBase* object) {
  for (const auto& entry : map)
    if (entry.second.get() == object) return true;
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Box

Status CBoundingBox::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  auto* box = KindOf<CBoundingBox>(target);
  if (!box) return kErrMalformed;
  box->corners = corners;
  return kOk;
}

Status CBoundingBox::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  ar.Version(classRecord);
  // The corners are one fixed record in the file and a list of eight in the listing.
  if (ar.Loading())
    ar.reader().Read(corners);
  else if (ar.Saving())
    ar.writer().FieldArray("corners", std::span<const CVector3<float>>(corners));
  return ar.status();
}

// ---------------------------------------------------------------------------------------------
// Hull

CBoundingMesh::CBoundingMesh(const CBoundingMesh& other)
    : CChainLink(other),
      node(other.node),
      faceCount(other.faceCount),
      faceIndices(other.faceIndices),
      vertices(other.vertices),
      worldVertices(other.worldVertices),
      scale(other.scale),
      hullFlag1(other.hullFlag1),
      hullFlag2(other.hullFlag2) {}

Status CBoundingMesh::Clone(CRefPtr<CBase>& out) const { return CloneByCopy(*this, out); }

Status CBoundingMesh::AssignTo(CBase* target, ReleasedList& released) const {
  auto* hull = KindOf<CBoundingMesh>(target);
  // A target further down this chain would end up as its own successor.
  if (hull && hull != this)
    for (const CBoundingMesh* m = next.get(); m; m = m->next.get())
      if (m == hull) return kErrBadArgument;
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  if (!hull) return kErrMalformed;
  if (hull == this) return kOk;
  hull->node = node;
  hull->faceCount = faceCount;
  KX_RETURN_IF_FAILED(hull->faceIndices.CopyFrom(faceIndices));
  KX_RETURN_IF_FAILED(hull->vertices.CopyFrom(vertices));
  KX_RETURN_IF_FAILED(hull->worldVertices.CopyFrom(worldVertices));
  hull->scale = scale;
  ShareNextWith(*hull, released);
  return kOk;
}

Status CBoundingMesh::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  ar.Ref("node", node).Ref("next", next)("faceCount", faceCount);
  if (ar.Loading()) {
    faceIndices.Free();
    vertices.Free();
    worldVertices.Free();
    if (!ar.ok()) return ar.status();
    if (faceCount < 0) faceCount = 0;
  }
  // Exactly three indices per face follow the count, whatever the buffer holds, so that the
  // record always reads back with the count it states.
  const int64_t faces = StoredFaces(faceCount);
  if (ar.Loading()) {
    if (faces > 0) ar.Array("faceIndices", faceIndices.items, 3 * faces);
  } else if (ar.Saving()) {
    if (faces > 0)
      WriteExactly(ar.writer(), "faceIndices", faceIndices.items, 3 * faces);
    else
      ar.writer().Absent("faceIndices");
  }
  int32_t vertexCount = vertices.count();
  ar.Count(vertexCount);
  // A count below one stores no vertices.
  if (ar.Saving() || vertexCount > 0) ar.Array("vertices", vertices.items, vertexCount);
  if (version >= kHullFlagVersion) ar("hullFlag2", hullFlag2);
  if (ar.Loading()) {
    if (!ar.ok()) return ar.status();
    // The moved vertices are not stored; until the first update they are the local ones.
    if (worldVertices.CopyFrom(vertices) != kOk) return ar.Fail(kErrOutOfMemory);
  }
  return ar.status();
}

int64_t CBoundingMesh::GetMemorySize() const { return CCorva::GetMemorySize() + kHullMemory; }

bool CBoundingMesh::HasAttachments() const { return node || CChainLink::HasAttachments(); }

void CBoundingMesh::VisitReferences(CReferenceVisitor& visit) {
  CCorva::VisitReferences(visit);
  visit(node);
  VisitNext(visit);
}

Status CBoundingMesh::Update(float time) {
  // Along the chain in a loop: a long chain does not deepen the stack.
  for (CBoundingMesh* hull = this; hull; hull = hull->next.get()) {
    KX_RETURN_IF_FAILED(hull->CCorva::Update(time));
    if (hull->worldVertices.size() != hull->vertices.size() &&
        hull->worldVertices.CopyFrom(hull->vertices) != kOk)
      return kErrOutOfMemory;
    const CSpatial* moved = hull->node;
    for (size_t i = 0; i < hull->vertices.size(); ++i)
      hull->worldVertices[i] =
          moved ? TransformCoord(hull->vertices[i], moved->transform) : hull->vertices[i];
  }
  return kOk;
}

Status CBoundingMesh::ResolveOwnNames(CBase* root) {
  if (!node) return kOk;
  if (!root) return kErrNodeNotFound;
  // The name is taken before the lookup replaces the node it belongs to.
  std::u16string wanted;
  KX_RETURN_IF_FAILED(TryAssign(wanted, node->name));
  node = KindOf<CSpatial>(
      root->FindObject(std::u16string_view(wanted), &CSpatial::classRecord, true));
  return node ? kOk : kErrNodeNotFound;
}

Status CBoundingMesh::RemapOwnReferences(DuplicateMap& map) {
  if (!node) return kOk;
  if (const auto it = map.find(node); it != map.end()) {
    CSpatial* copy = KindOf<CSpatial>(it->second.get());
    if (!copy) return kErrNodeNotFound;
    node = copy;
    return kOk;
  }
  // A node that already is a copy was reached before through a chain two copies share.
  return IsCopyIn(map, node) ? kOk : kErrNodeNotFound;
}

Status CBoundingMesh::AppendBounding(CBoundingMesh* object) {
  if (!object) return kErrBadArgument;
  // Appending a hull of this chain, or one whose tail leads back into it, would close a loop
  // that every walk along the chain would follow for ever.
  try {
    std::unordered_set<const CBoundingMesh*> chain;
    for (const CBoundingMesh* m = this; m; m = m->next.get()) chain.insert(m);
    for (const CBoundingMesh* m = object; m; m = m->next.get())
      if (chain.contains(m)) return kErrBadArgument;
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  CBoundingMesh* last = this;
  for (;; last = last->next.get()) {
    last->modified = 1;
    if (!last->next) break;
  }
  last->next = object;
  return kOk;
}

Status CBoundingMesh::SetVertexCount(int32_t n) {
  if (n <= 0) return kErrBadArgument;
  KX_RETURN_IF_FAILED(vertices.Resize(n));
  return worldVertices.Resize(n);
}

}  // namespace KX
