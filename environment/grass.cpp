#include "environment/grass.h"

#include <climits>

#include "content/archive_shapes.h"
#include "core/alloc.h"
#include "object/archive.h"
#include "scene/node.h"

namespace KX {

// The record's base is CCorva: a grass object is not a spatial object to the class tests, and
// its record has no spatial block.
KX_DEFINE_CLASS(CGrass, CCorva, 2, 0)

namespace {

// A layer's fixed part: three vectors, the value and the blade count.
constexpr size_t kLayerHeadSize = 3 * 12 + 4 + 4;

constexpr int64_t kGrassMemory = 300;
constexpr int64_t kGrassMemoryPerLayer = 44;
constexpr int64_t kGrassMemoryPerBlade = 60;

}  // namespace

Status CGrass::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CSpatial::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = static_cast<CGrass*>(out.get());
  for (auto [mine, theirs] : {std::pair{&grassObject1, &copy->grassObject1},
                              std::pair{&grassObject2, &copy->grassObject2}}) {
    if (!*mine) continue;
    CRefPtr<CBase> duplicate;
    KX_RETURN_IF_FAILED((*mine)->Duplicate(duplicate, map));
    *theirs = duplicate;
  }
  return kOk;
}

Status CGrass::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  auto* grass = KindOf<CGrass>(target);
  if (!grass) return kErrMalformed;
  if (grass == this) return kOk;
  std::vector<CGrassLayer> layersCopy;
  KX_RETURN_IF_FAILED(TryAssign(layersCopy, layers));
  KX_RETURN_IF_FAILED(TryAllocate([&] { released.reserve(released.size() + 2); }));
  grass->flags = flags;
  grass->position = position;
  grass->scale = scale;
  grass->rotation = rotation;
  grass->transform = transform;
  grass->visible = visible;
  grass->frozen = frozen;
  grass->auxFlag = auxFlag;
  grass->auxMode = auxMode;
  grass->grassValue1 = grassValue1;
  grass->grassValue2 = grassValue2;
  grass->grassVector = grassVector;
  grass->grassValue3 = grassValue3;
  grass->grassValue4 = grassValue4;
  grass->grassValue5 = grassValue5;
  grass->grassValue6 = grassValue6;
  grass->grassValue7 = grassValue7;
  grass->layers = std::move(layersCopy);
  grass->area = area;
  for (auto [mine, theirs] : {std::pair{&grassObject1, &grass->grassObject1},
                              std::pair{&grassObject2, &grass->grassObject2}}) {
    if (*theirs) released.emplace_back(theirs->get());
    *theirs = *mine;
  }
  return kOk;
}

Status CGrass::Persist(CArchive& ar) {
  // The record has no spatial block: the level below this one is the scene object's.
  KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  ar.Version(classRecord);
  ar("grassValue1", grassValue1)("grassValue2", grassValue2)("grassVector", grassVector);
  ar("grassValue3", grassValue3)("grassValue4", grassValue4)("grassValue5", grassValue5);
  ar("grassValue6", grassValue6)("grassValue7", grassValue7);
  if (ar.Saving() && layers.size() > static_cast<size_t>(INT32_MAX))
    return ar.Fail(kErrBadArgument);
  auto layerCount = static_cast<int32_t>(layers.size());
  ar.Count(layerCount);
  // A load reads the layers aside and keeps them only when the whole record was read.
  std::vector<CGrassLayer> loaded;
  if (ar.Loading()) {
    if (!ar.reader().CanHold(layerCount, kLayerHeadSize)) return ar.status();
    KX_RETURN_IF_FAILED(TryResize(loaded, static_cast<size_t>(layerCount)));
  }
  {
    const auto list = ListScope(ar, "layers");
    for (CGrassLayer& layer : ar.Loading() ? loaded : layers) {
      if (ar.Saving() && layer.blades.size() > static_cast<size_t>(INT32_MAX))
        return ar.Fail(kErrBadArgument);
      const auto record = RecordScope(ar, nullptr);
      ar("vector1", layer.vector1)("vector2", layer.vector2)("vector3", layer.vector3);
      ar("value", layer.value).Counted("blades", layer.blades);
      if (!ar.ok()) return ar.status();
    }
  }
  {
    const auto record = RecordScope(ar, "area");
    ar("center", area.center)("radius", area.radius)("boxMin", area.boxMin)("boxMax", area.boxMax);
  }
  ar.Ref("grassObject1", grassObject1).Ref("grassObject2", grassObject2);
  if (ar.Loading() && ar.ok()) layers = std::move(loaded);
  return ar.status();
}

int64_t CGrass::GetMemorySize() const {
  int64_t blades = 0;
  for (const CGrassLayer& layer : layers) blades += static_cast<int64_t>(layer.blades.size());
  return CCorva::GetMemorySize() + kGrassMemory +
         kGrassMemoryPerLayer * static_cast<int64_t>(layers.size()) + kGrassMemoryPerBlade * blades;
}

bool CGrass::HasAttachments() const {
  return grassObject1 || grassObject2 || CCorva::HasAttachments();
}

void CGrass::VisitReferences(CReferenceVisitor& visit) {
  CCorva::VisitReferences(visit);
  visit(attachment, kNoWalk);
  visit(bounding, kResolve | kRemap);
  visit(parent);
  visit(grassObject1, kSearch | kCollect);
  visit(grassObject2, kSearch | kCollect);
}

}  // namespace KX
