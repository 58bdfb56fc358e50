#include "environment/terrain.h"

#include <algorithm>

#include "core/persist.h"

namespace KX {

KX_DEFINE_CLASS(CQuadTree, CCorva, 2, 0)
KX_DEFINE_CLASS(CHeightData, CCorva, 2, 0)
KX_DEFINE_CLASS(CHeightMap, CCorva, 2, 0)

namespace {

// Origin, the two values, the four child references.
constexpr int64_t kQuadTreeFields = 8 + 4 + 4 + 4 * kIdSize;
constexpr int64_t kQuadTreeMemory = 32;
constexpr int64_t kHeightDataMemory = 36;
constexpr int64_t kHeightMapFields = kIdSize;

// The copy of an owned object, made through the map so that shared objects stay shared.
Status DuplicateInto(const CRefPtr<CBase>& original, CRefPtr<CBase>& slot, DuplicateMap& map) {
  CRefPtr<CBase> copy;
  KX_RETURN_IF_FAILED(original->Duplicate(copy, map));
  slot = copy;
  return kOk;
}

// Owned objects that are scene objects take part in name binding and remapping; other leaves
// hold no references to bind.
Status ResolveNamesIn(const CRefPtr<CBase>& object, CBase* root) {
  CCorva* corva = KindOf<CCorva>(object.get());
  return corva ? corva->ResolveNames(root) : kOk;
}
Status RemapIn(const CRefPtr<CBase>& object, DuplicateMap& map) {
  CCorva* corva = KindOf<CCorva>(object.get());
  return corva ? corva->RemapReferences(map) : kOk;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Quad-tree node

CQuadTree::CQuadTree(const CQuadTree& other)
    : CCorva(other), quadValue1(other.quadValue1), quadValue2(other.quadValue2) {
  std::copy(std::begin(other.origin), std::end(other.origin), origin);
}

CBase* CQuadTree::FindObject(NameFilter wanted, const CRuntimeClass* cls, bool kindOf) {
  if (CBase* hit = CCorva::FindObject(wanted, cls, kindOf)) return hit;
  for (const auto& child : children)
    if (child)
      if (CBase* hit = child->FindObject(wanted, cls, kindOf)) return hit;
  return nullptr;
}

void CQuadTree::FindObjects(std::vector<CBase*>& list, NameFilter wanted,
                            const CRuntimeClass* cls, bool kindOf) {
  CCorva::FindObjects(list, wanted, cls, kindOf);
  for (const auto& child : children)
    if (child) child->FindObjects(list, wanted, cls, kindOf);
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

Status CQuadTree::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CCorva::Load(in));
  in.Version(classRecord);
  in.Read(origin).Read(quadValue1).Read(quadValue2);
  in.Ref().Ref().Ref().Ref();
  return in.status();
}

Status CQuadTree::Link(CLinker& in) {
  KX_RETURN_IF_FAILED(CCorva::Link(in));
  for (auto& child : children) in.Resolve(child);
  return kOk;
}

Status CQuadTree::CollectForSave(CPersistContext& context) {
  const Status status = CCorva::CollectForSave(context);
  if (status != kOk) return status;
  for (const auto& child : children)
    if (child) KX_RETURN_IF_FAILED(child->CollectForSave(context));
  return kOk;
}

Status CQuadTree::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CCorva::Save(out));
  out.Version(classRecord).Field("origin", origin);
  out.Field("quadValue1", quadValue1).Field("quadValue2", quadValue2);
  {
    const auto list = out.List("children");
    for (const auto& child : children) out.Ref(nullptr, child.get());
  }
  return out.status();
}

int64_t CQuadTree::GetMemorySize() const { return CCorva::GetMemorySize() + kQuadTreeMemory; }

bool CQuadTree::HasAttachments() const {
  for (const auto& child : children)
    if (child) return true;
  return CCorva::HasAttachments();
}

void CQuadTree::VisitReferences(CReferenceVisitor& visit) {
  CCorva::VisitReferences(visit);
  for (auto& child : children) visit(child);
}

Status CQuadTree::ResolveNames(CBase* root) {
  KX_RETURN_IF_FAILED(CCorva::ResolveNames(root));
  for (const auto& child : children) KX_RETURN_IF_FAILED(ResolveNamesIn(child, root));
  return kOk;
}

Status CQuadTree::RemapReferences(DuplicateMap& map) {
  KX_RETURN_IF_FAILED(CCorva::RemapReferences(map));
  for (const auto& child : children) KX_RETURN_IF_FAILED(RemapIn(child, map));
  return kOk;
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

Status CHeightData::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CCorva::Load(in));
  in.Version(classRecord);
  return in.status();
}

Status CHeightData::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CCorva::Save(out));
  out.Version(classRecord);
  return out.status();
}

int64_t CHeightData::GetMemorySize() const {
  return CCorva::GetMemorySize() + kHeightDataMemory +
         static_cast<int64_t>(sizeof(float)) * static_cast<int64_t>(samples.size());
}

// ---------------------------------------------------------------------------------------------
// Height map

CBase* CHeightMap::FindObject(NameFilter wanted, const CRuntimeClass* cls, bool kindOf) {
  if (CBase* hit = CCorva::FindObject(wanted, cls, kindOf)) return hit;
  return source ? source->FindObject(wanted, cls, kindOf) : nullptr;
}

void CHeightMap::FindObjects(std::vector<CBase*>& list, NameFilter wanted,
                             const CRuntimeClass* cls, bool kindOf) {
  CCorva::FindObjects(list, wanted, cls, kindOf);
  if (source) source->FindObjects(list, wanted, cls, kindOf);
}

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

Status CHeightMap::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CCorva::Load(in));
  in.Version(classRecord);
  in.Ref();
  return in.status();
}

Status CHeightMap::Link(CLinker& in) {
  KX_RETURN_IF_FAILED(CCorva::Link(in));
  in.Resolve(source);
  return kOk;
}

Status CHeightMap::CollectForSave(CPersistContext& context) {
  const Status status = CCorva::CollectForSave(context);
  if (status != kOk) return status;
  return source ? source->CollectForSave(context) : kOk;
}

Status CHeightMap::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CCorva::Save(out));
  out.Version(classRecord).Ref("source", source.get());
  return out.status();
}

// The embedded block counts whole: it lives inside the map.
int64_t CHeightMap::GetMemorySize() const {
  return CCorva::GetMemorySize() + heightData.GetMemorySize();
}

bool CHeightMap::HasAttachments() const { return source || CCorva::HasAttachments(); }

void CHeightMap::VisitReferences(CReferenceVisitor& visit) {
  CCorva::VisitReferences(visit);
  visit(source);
  heightData.VisitReferences(visit);
}

Status CHeightMap::ResolveNames(CBase* root) {
  KX_RETURN_IF_FAILED(CCorva::ResolveNames(root));
  return ResolveNamesIn(source, root);
}

Status CHeightMap::RemapReferences(DuplicateMap& map) {
  KX_RETURN_IF_FAILED(CCorva::RemapReferences(map));
  return RemapIn(source, map);
}

}  // namespace KX
