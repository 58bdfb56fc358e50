#include "environment/grass.h"

#include <climits>

#include "core/alloc.h"
#include "object/persist.h"
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

Status CGrass::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CCorva::Load(in));
  in.Version(classRecord);
  in.Read(grassValue1).Read(grassValue2).Read(grassVector).Read(grassValue3).Read(grassValue4);
  in.Read(grassValue5).Read(grassValue6).Read(grassValue7);
  const int32_t layerCount = in.Get<int32_t>();
  if (!in.CanHold(layerCount, kLayerHeadSize)) return in.status();
  std::vector<CGrassLayer> loaded;
  KX_RETURN_IF_FAILED(TryResize(loaded, static_cast<size_t>(layerCount)));
  for (CGrassLayer& layer : loaded) {
    in.Read(layer.vector1).Read(layer.vector2).Read(layer.vector3).Read(layer.value);
    in.ReadCountedArray(layer.blades);
    if (!in.ok()) return in.status();
  }
  in.Read(area).Ref().Ref();
  if (!in.ok()) return in.status();
  layers = std::move(loaded);
  return kOk;
}

Status CGrass::Link(CLinker& in) {
  KX_RETURN_IF_FAILED(CCorva::Link(in));
  in.Resolve(grassObject1);
  in.Resolve(grassObject2);
  return kOk;
}

Status CGrass::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CCorva::Save(out));
  out.Version(classRecord).Field("grassValue1", grassValue1).Field("grassValue2", grassValue2);
  out.Field("grassVector", grassVector).Field("grassValue3", grassValue3);
  out.Field("grassValue4", grassValue4).Field("grassValue5", grassValue5);
  out.Field("grassValue6", grassValue6).Field("grassValue7", grassValue7);
  if (layers.size() > static_cast<size_t>(INT32_MAX)) {
    out.Fail(kErrBadArgument);
    return out.status();
  }
  out.Count(static_cast<int32_t>(layers.size()));
  {
    const auto list = out.List("layers");
    for (const CGrassLayer& layer : layers) {
      if (layer.blades.size() > static_cast<size_t>(INT32_MAX)) {
        out.Fail(kErrBadArgument);
        return out.status();
      }
      const auto record = out.Record(nullptr);
      out.Field("vector1", layer.vector1).Field("vector2", layer.vector2);
      out.Field("vector3", layer.vector3).Field("value", layer.value);
      out.Count(static_cast<int32_t>(layer.blades.size())).FieldArray("blades", layer.blades);
    }
  }
  {
    const auto record = out.Record("area");
    out.Field("center", area.center).Field("radius", area.radius);
    out.Field("boxMin", area.boxMin).Field("boxMax", area.boxMax);
  }
  out.Ref("grassObject1", grassObject1.get()).Ref("grassObject2", grassObject2.get());
  return out.status();
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
