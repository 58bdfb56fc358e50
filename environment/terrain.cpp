#include "environment/terrain.h"

#include <algorithm>

#include "content/archive_shapes.h"
#include "object/archive.h"

namespace KX {

KX_DEFINE_CLASS(CQuadTree, CCorva, 2, 0)
KX_DEFINE_CLASS(CHeightData, CCorva, 2, 0)
KX_DEFINE_CLASS(CHeightMap, CCorva, 2, 0)

namespace {

constexpr int64_t kQuadTreeMemory = 32;
constexpr int64_t kHeightDataMemory = 36;

// What a node or a map owns is searched and saved with it, and remapped after a copy (the copy
// made by Duplicate must not keep plain references into the originals); name binding stops at
// the node or map itself.
constexpr Walks kTerrainPart = kFollowAll & ~kResolve;

// The copy of an owned object, made through the map so that shared objects stay shared.
Status DuplicateInto(const CRefPtr<CBase>& original, CRefPtr<CBase>& slot, DuplicateMap& map) {
  CRefPtr<CBase> copy;
  KX_RETURN_IF_FAILED(original->Duplicate(copy, map));
  slot = copy;
  return kOk;
}

// Passes the references of an embedded object on with no walk following them: they belong to
// the object that embeds it, and no walk goes into it.
class CUnwalked final : public CReferenceVisitor {
 public:
  explicit CUnwalked(CReferenceVisitor& inner) : inner_(inner) {}
  void Owned(const CReference& ref) override { inner_.Owned(Unwalked(ref)); }
  void Plain(const CReference& ref) override { inner_.Plain(Unwalked(ref)); }

 private:
  static CReference Unwalked(CReference ref) {
    ref.walks = kNoWalk;
    return ref;
  }
  CReferenceVisitor& inner_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Quad-tree node

CQuadTree::CQuadTree(const CQuadTree& other)
    : CCorva(other), quadValue1(other.quadValue1), quadValue2(other.quadValue2) {
  std::copy(std::begin(other.origin), std::end(other.origin), origin);
}

Status CQuadTree::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CCorva::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = static_cast<CQuadTree*>(out.get());
  for (size_t i = 0; i < children.size(); ++i) {
    if (!children[i]) continue;
    KX_RETURN_IF_FAILED(DuplicateInto(children[i], copy->children[i], map));
    copy->modified = 1;
  }
  return kOk;
}

Status CQuadTree::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  return KindOf<CQuadTree>(target) ? kOk : kErrMalformed;
}

Status CQuadTree::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  ar.Version(classRecord);
  ar("origin", origin)("quadValue1", quadValue1)("quadValue2", quadValue2);
  RefSlots(ar, "children", children);
  return ar.status();
}

int64_t CQuadTree::GetMemorySize() const { return CCorva::GetMemorySize() + kQuadTreeMemory; }

bool CQuadTree::HasAttachments() const {
  for (const auto& child : children)
    if (child) return true;
  return CCorva::HasAttachments();
}

void CQuadTree::VisitReferences(CReferenceVisitor& visit) {
  CCorva::VisitReferences(visit);
  for (auto& child : children) visit(child, kTerrainPart);
}

// ---------------------------------------------------------------------------------------------
// Height-field block

CHeightData::CHeightData(const CHeightData& other)
    : CCorva(other), heightValue1(other.heightValue1), heightValue2(other.heightValue2) {
  std::copy(std::begin(other.range1), std::end(other.range1), range1);
  std::copy(std::begin(other.range2), std::end(other.range2), range2);
}

Status CHeightData::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  return KindOf<CHeightData>(target) ? kOk : kErrMalformed;
}

Status CHeightData::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  ar.Version(classRecord);
  return ar.status();
}

int64_t CHeightData::GetMemorySize() const {
  return CCorva::GetMemorySize() + kHeightDataMemory +
         static_cast<int64_t>(sizeof(float)) * static_cast<int64_t>(samples.size());
}

// ---------------------------------------------------------------------------------------------
// Height map

Status CHeightMap::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CCorva::Duplicate(out, map);
  if (status != kOk || !source) return status;
  auto* copy = static_cast<CHeightMap*>(out.get());
  KX_RETURN_IF_FAILED(DuplicateInto(source, copy->source, map));
  copy->modified = 1;
  return kOk;
}

Status CHeightMap::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  return KindOf<CHeightMap>(target) ? kOk : kErrMalformed;
}

Status CHeightMap::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  ar.Version(classRecord);
  ar.Ref("source", source);
  return ar.status();
}

// The embedded block counts whole: it lives inside the map.
int64_t CHeightMap::GetMemorySize() const {
  return CCorva::GetMemorySize() + heightData.GetMemorySize();
}

bool CHeightMap::HasAttachments() const { return source || CCorva::HasAttachments(); }

void CHeightMap::VisitReferences(CReferenceVisitor& visit) {
  CCorva::VisitReferences(visit);
  visit(source, kTerrainPart);
  // The embedded block is never stored, copied or searched; what its chains hold is stated so
  // that it is known, and no walk follows it.
  CUnwalked unwalked(visit);
  heightData.VisitReferences(unwalked);
}

}  // namespace KX
