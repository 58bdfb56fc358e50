#include "environment/tree.h"

#include <cfloat>
#include <climits>

#include "core/alloc.h"
#include "object/container.h"
#include "core/math/transform.h"
#include "content/archive_shapes.h"
#include "environment/runtime_block.h"
#include "object/archive.h"

namespace KX {

KX_DEFINE_CLASS(CTree, CCorva, 2, 0)
KX_DEFINE_CLASS(CTreeInstance, CSpatial, 2, 0)

namespace {

// What a tree or an instance states about the objects it carries: searched and saved with it;
// name binding and remapping stay with the object's own chains.
constexpr Walks kCarried = kSearch | kCollect;

// The status old files answered for a tree the runtime would not take (a damaged description,
// or one it cannot grow).
constexpr Status kTreeRefused = kErrOpen;

constexpr int64_t kTreeMemory = 88;
constexpr int64_t kTreeMemoryPerCorner = 12;
constexpr int64_t kTreeInstanceMemory = 284;

// Says in the load's diagnostics why the record failed, for the front-ends to show.
void Explain(CReader& in, const char* why) {
  if (in.recordOrNull() && in.context().diagnostics.message.empty())
    in.context().diagnostics.message = why;
}

// Hands a tree block a load read to the runtime, made first when the tree has none. An empty
// block leaves the runtime as it is.
Status TakeTreeBlock(CReader& in, std::unique_ptr<CTreeRuntime>& runtime,
                     const std::vector<uint8_t>& block) {
  if (!runtime)
    KX_RETURN_IF_FAILED(TryAllocate([&] { runtime = std::make_unique<CTreeRuntime>(); }));
  if (block.empty()) return kOk;
  CTreeRuntime::SetVerifyChecksums(true);
  runtime->SetNumWindMatrices(CTree::kWindMatrices);
  const Status loaded = runtime->LoadTree(block.data(), block.size());
  if (loaded == kErrOutOfMemory) return loaded;
  if (Failed(loaded)) {
    Explain(in, "the tree's description block is damaged");
    return kTreeRefused;
  }
  return kOk;
}

// Moves the slot's old object to `released` and shares `mine` in its place.
template <class T>
Status Share(CRefPtr<T>& theirs, const CRefPtr<T>& mine, ReleasedList& released) {
  if (theirs) KX_RETURN_IF_FAILED(TryAppend(released, CRefPtr<CBase>(theirs.get())));
  theirs = mine;
  return kOk;
}

// The copy of `original` made through the map, or null for none.
Status DuplicateOf(const CBase* original, DuplicateMap& map, CRefPtr<CBase>& copy) {
  copy = nullptr;
  return original ? original->Duplicate(copy, map) : kOk;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Tree

CTree::CTree() : runtime(std::make_unique<CTreeRuntime>()) {}

CTree::CTree(const CTree& other)
    : CCorva(other),
      seed(other.seed),
      treeSize(other.treeSize),
      sizeVariance(other.sizeVariance),
      corners(other.corners),
      parts(other.parts) {}

CTree::~CTree() = default;

Status CTree::ComputeTree() {
  corners.clear();
  if (!runtime) return kNothingDone;
  CTreeRuntime& r = *runtime;
  // Bounds and ray queries need the shape only: static lighting, no wind. The methods are ones
  // the runtime always takes.
  r.SetBranchLightingMethod(CTreeRuntime::kLightingStatic);
  r.SetLeafLightingMethod(CTreeRuntime::kLightingStatic);
  r.SetFrondLightingMethod(CTreeRuntime::kLightingStatic);
  r.SetBranchWindMethod(CTreeRuntime::kWindNone);
  r.SetLeafWindMethod(CTreeRuntime::kWindNone);
  r.SetFrondWindMethod(CTreeRuntime::kWindNone);
  if (treeSize >= 0.0f && sizeVariance >= 0.0f)
    r.SetTreeSize(treeSize, sizeVariance);
  else
    r.ResetTreeSize();  // a size set before and given up since must not stay in force
  const Status status = r.Compute(nullptr, seed, true);
  if (status == kErrOutOfMemory) return status;
  if (Failed(status)) return kTreeRefused;
  r.SetTightBounds(true);
  CTreeRuntime::SetVerifyChecksums(true);
  CVector3<float> min, max;
  // A tree kept in another runtime's form has nothing grown, hence no corners.
  if (!r.GetBoundingBox(min, max)) return kOk;
  KX_RETURN_IF_FAILED(TryResize(corners, 8));
  for (size_t i = 0; i < 8; ++i)
    corners[i] = {(i & 1) ? max.x : min.x, (i & 2) ? max.y : min.y, (i & 4) ? max.z : min.z};
  return kOk;
}

Status CTree::Clone(CRefPtr<CBase>& out) const {
  CRefPtr<CTree> copy;
  KX_RETURN_IF_FAILED(TryAllocate([&] { copy = new CTree(*this); }));
  if (runtime) {
    if (Failed(runtime->Clone(copy->runtime))) return kErrOutOfMemory;
    KX_RETURN_IF_FAILED(copy->ComputeTree());
  }
  out = copy;
  return kOk;
}

Status CTree::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CCorva::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = static_cast<CTree*>(out.get());
  for (size_t i = 0; i < kPartCount; ++i) {
    if (!parts[i]) continue;
    KX_RETURN_IF_FAILED(DuplicateOf(parts[i].get(), map, copy->parts[i]));
    copy->modified = 1;
  }
  return kOk;
}

Status CTree::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  auto* tree = KindOf<CTree>(target);
  if (!tree) return kErrMalformed;
  if (tree == this) return kOk;
  // Everything that may fail first, so that a failure leaves the target as it was.
  std::unique_ptr<CTreeRuntime> copied;
  if (runtime && Failed(runtime->Clone(copied))) return kErrOutOfMemory;
  std::vector<CVector3<float>> cornersCopy;
  KX_RETURN_IF_FAILED(TryAssign(cornersCopy, corners));
  KX_RETURN_IF_FAILED(TryAllocate([&] { released.reserve(released.size() + kPartCount); }));

  tree->seed = seed;
  tree->treeSize = treeSize;
  tree->sizeVariance = sizeVariance;
  tree->corners = std::move(cornersCopy);
  tree->runtime = std::move(copied);
  for (size_t i = 0; i < kPartCount; ++i)
    KX_RETURN_IF_FAILED(Share(tree->parts[i], parts[i], released));
  // The target's saved form described its old runtime.
  tree->treeBlock = {};
  return tree->runtime ? tree->ComputeTree() : kOk;
}

Status CTree::PrepareSave(CPersistContext&) {
  return PrepareRuntimeBlock(runtime.get(), treeBlock,
                             [&](std::vector<uint8_t>& block) { return runtime->SaveTree(block); });
}

Status CTree::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  ar.Version(classRecord);
  std::vector<uint8_t> block;  // what a load read, for the runtime
  KX_RETURN_IF_FAILED(
      PersistRuntimeBlock(ar, "treeBlock", runtime.get(), treeBlock, block,
                          [&](std::vector<uint8_t>& made) { return runtime->SaveTree(made); }));
  if (ar.Loading()) KX_RETURN_IF_FAILED(TakeTreeBlock(ar.reader(), runtime, block));
  ar("seed", seed)("treeSize", treeSize)("sizeVariance", sizeVariance);
  RefSlots(ar, "parts", parts);
  if (!ar.Loading() || !ar.ok()) return ar.status();
  const Status grown = ComputeTree();
  if (grown == kTreeRefused) Explain(ar.reader(), "the tree cannot be grown at its stored size");
  return grown;
}

int64_t CTree::GetMemorySize() const {
  return CCorva::GetMemorySize() + kTreeMemory +
         kTreeMemoryPerCorner * static_cast<int64_t>(corners.size());
}

bool CTree::HasAttachments() const {
  for (const auto& part : parts)
    if (part) return true;
  return CCorva::HasAttachments();
}

void CTree::VisitReferences(CReferenceVisitor& visit) {
  CCorva::VisitReferences(visit);
  for (auto& part : parts) visit(part, kCarried);
}

// ---------------------------------------------------------------------------------------------
// Tree instance

Status CTreeInstance::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CSpatial::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = static_cast<CTreeInstance*>(out.get());
  KX_RETURN_IF_FAILED(DuplicateOf(instanceObject.get(), map, copy->instanceObject));
  CRefPtr<CBase> treeCopy;
  KX_RETURN_IF_FAILED(DuplicateOf(tree.get(), map, treeCopy));
  copy->tree = KindOf<CTree>(treeCopy.get());
  return kOk;
}

Status CTreeInstance::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CSpatial::AssignTo(target, released));
  auto* instance = KindOf<CTreeInstance>(target);
  if (!instance) return kErrMalformed;
  if (instance == this) return kOk;
  KX_RETURN_IF_FAILED(TryAssign(instance->worldCorners, worldCorners));
  KX_RETURN_IF_FAILED(Share(instance->tree, tree, released));
  KX_RETURN_IF_FAILED(Share(instance->instanceObject, instanceObject, released));
  instance->instanceValue = instanceValue;
  instance->worldPosition = worldPosition;
  instance->worldScale = worldScale;
  instance->worldRotation = worldRotation;
  instance->instanceBlock = instanceBlock;
  instance->instanceRecords = instanceRecords;
  return kOk;
}

Status CTreeInstance::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CSpatial::Persist(ar));
  ar.Version(classRecord);
  ar.Ref("tree", tree).Ref("instanceObject", instanceObject)("instanceValue", instanceValue);
  FixedArray(ar, "instanceBlock", instanceBlock);
  FixedArray(ar, "instanceRecords", instanceRecords);
  return ar.status();
}

int64_t CTreeInstance::GetMemorySize() const {
  return CSpatial::GetMemorySize() + kTreeInstanceMemory;
}

bool CTreeInstance::HasAttachments() const {
  return tree || instanceObject || CSpatial::HasAttachments();
}

void CTreeInstance::VisitReferences(CReferenceVisitor& visit) {
  CSpatial::VisitReferences(visit);
  visit(tree, kCarried);
  visit(instanceObject, kCarried);
}

Status CTreeInstance::EvaluateTransform(float time) {
  KX_RETURN_IF_FAILED(CSpatial::EvaluateTransform(time));
  DecomposeMatrix(transform, worldScale, worldRotation, worldPosition);
  return kOk;
}

Status CTreeInstance::UpdateBound() {
  if (!tree) return kOk;
  KX_RETURN_IF_FAILED(TryResize(worldCorners, tree->corners.size()));
  for (size_t i = 0; i < worldCorners.size(); ++i)
    worldCorners[i] = TransformCoord(tree->corners[i], transform);
  // A tree with nothing grown encloses nothing; a bound left from before would be stale.
  if (worldCorners.empty())
    bound = Bound();
  else
    bound.Mutable().EncloseBox(worldCorners);
  return kOk;
}

bool CTreeInstance::IntersectRay(const CVector3<float>& origin, const CVector3<float>& direction,
                                 int32_t& index, float& distance, CVector3<float>& point) const {
  if (!tree || !tree->runtime) return false;
  const auto& lods = tree->runtime->GetBranchGeometry().lods;
  if (lods.empty()) return false;
  using V = CVector3<float>;
  float nearest = FLT_MAX;
  bool found = false;
  int64_t position = 0;  // strip position across the level's strips (one with composite strips)
  for (const CTreeStrip& strip : lods.back()) {
    const auto& s = strip.positions;
    if (s.size() < 3) continue;
    // The three corners of the current triangle through the transform, moved along the strip.
    V window[3] = {TransformCoord(s[0], transform), TransformCoord(s[1], transform), {}};
    for (size_t i = 0; i + 2 < s.size(); ++i, ++position) {
      window[2] = TransformCoord(s[i + 2], transform);
      // Even positions wind the other way round: their first two corners swap.
      const V u = (i % 2 == 0) ? window[1] : window[0];
      const V v = (i % 2 == 0) ? window[0] : window[1];
      const V w = window[2];
      const V normal = Normalised(Cross(v - u, w - u));
      const float facing = Dot(direction, normal);
      window[0] = window[1];
      window[1] = window[2];
      if (!(facing < 0.0f)) continue;  // back faces, faces along the ray, collapsed triangles
      const float t = -(Dot(normal, origin) - Dot(normal, u)) / facing;
      if (!(t >= 0.0f)) continue;
      const V p = origin + t * direction;
      // A point on an edge counts as inside: a ray that grazes a branch hits it.
      if (!(Dot(normal, Cross(v - u, p - u)) >= 0.0f) ||
          !(Dot(normal, Cross(w - v, p - v)) >= 0.0f) ||
          !(Dot(normal, Cross(u - w, p - w)) >= 0.0f))
        continue;
      const float d = Length(p - origin);
      if (d < nearest) {
        nearest = d;
        found = true;
        index = static_cast<int32_t>(position);
        point = p;
      }
    }
  }
  if (found) distance = nearest;
  return found;
}

}  // namespace KX
