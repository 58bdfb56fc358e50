#include "app/convert.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "app/classify.h"
#include "app/texts.h"
#include "content/content_data.h"
#include "control/keyframe_control.h"
#include "control/link_control.h"
#include "core/address_table.h"
#include "core/alloc.h"
#include "core/math/matrix.h"
#include "core/math/quaternion.h"
#include "core/math/transform.h"
#include "core/prefetch.h"
#include "core/text.h"
#include "object/walker.h"
#include "image/image.h"
#include "material/material.h"
#include "material/texture.h"
#include "scene/billboard.h"
#include "scene/camera.h"
#include "scene/tri_mesh.h"

namespace KX {

namespace {

// Channels of a standard material with rules of their own.
constexpr int32_t kBumpChannel = 8;
constexpr int32_t kBlendChannel = 9;
constexpr int32_t kUntouchedChannel = 10;

// Kinds the check after the clean-up refuses.
constexpr int32_t kRefusedKinds[] = {kKindCamera, kKindReserved, kKindLowerTorso, kKindMotion,
                                     kKindFace,   kKindGesture,  kKindProject,    kKindUnknown};

// Root names that keep their transforms: the tree is not baked when the name contains one.
constexpr std::u16string_view kNoBakeMarkers[] = {u"AccRoot", u"CrvRoot", u"Scene Root",
                                                  u"3DBackgroundRoot"};

// Every object of class T in `root`'s tree, each once in first-found order. Collected before any
// pass acts, so that the tree may change while it acts.
template <class T>
std::vector<T*> Collect(CNode& root, bool kindOf) {
  std::vector<CBase*> found;
  root.FindObjects(found, std::nullopt, &T::classRecord, kindOf);
  std::vector<T*> objects;
  objects.reserve(found.size());
  CAddressTable<uint8_t> seen(found.size());
  for (CBase* object : found)
    if (seen.Insert(object).second)
      if (T* typed = KindOf<T>(object)) objects.push_back(typed);
  return objects;
}

// Every object of `root`'s tree once, in first-found order: what Collect<T> filters, taken once
// for the passes that run one after another on a tree none of them changes in shape.
// Each object's class is taken once, so that picking the objects of a class touches none of them.
class CTreeObjects {
 public:
  // Every object the root reaches in search order, as FindObjects collects them, each with its
  // class read at the same visit. A search that ran out of memory keeps what it found.
  explicit CTreeObjects(CNode& root) {
    const Status walked = Walk(&root, kSearch, [&](CBase* object) {
      all_.push_back(object);
      classes_.push_back(object->GetRuntimeClass());
      return WalkStep::kDescend;
    });
    all_.resize(classes_.size());  // an object whose class could not be kept is not kept
    complete_ = Succeeded(walked);
    TakeDistinctClasses();
  }
  // What a classification collected of the same tree, unchanged since.
  explicit CTreeObjects(CSearchedTree&& searched)
      : all_(std::move(searched.objects)),
        classes_(std::move(searched.classes)),
        complete_(searched.complete) {
    TakeDistinctClasses();
  }
  // What Collect<T>(root, kindOf) would answer on the same tree.
  template <class T>
  std::vector<T*> Of(bool kindOf) const {
    std::vector<T*> objects;
    for (size_t i = 0; i < all_.size(); ++i) {
      const CRuntimeClass* cls = classes_[i];
      if (kindOf ? cls->IsDerivedFrom(&T::classRecord) : cls == &T::classRecord)
        objects.push_back(static_cast<T*>(all_[i]));
    }
    return objects;
  }

  // False when the search was complete and met no object of class `cls` (with `kindOf`, of a
  // class derived from it either): no search from any object of the tree can meet one then, and
  // a pass that only acts on such objects has nothing to do.
  bool MayHold(const CRuntimeClass& cls, bool kindOf) const {
    if (!complete_) return true;
    return std::any_of(distinct_.begin(), distinct_.end(), [&](const CRuntimeClass* c) {
      return kindOf ? c->IsDerivedFrom(&cls) : c == &cls;
    });
  }

 private:
  void TakeDistinctClasses() {
    // A scene holds a few dozen classes, mostly in runs of the same one.
    const CRuntimeClass* last = nullptr;
    for (const CRuntimeClass* cls : classes_) {
      if (cls == last) continue;
      last = cls;
      if (std::find(distinct_.begin(), distinct_.end(), cls) == distinct_.end())
        distinct_.push_back(cls);
    }
  }
  std::vector<CBase*> all_;
  std::vector<const CRuntimeClass*> classes_;
  std::vector<const CRuntimeClass*> distinct_;
  bool complete_ = false;
};

bool HasUsablePicture(const CBase* image) {
  if (const auto* still = KindOf<CImage>(image))
    return still->picture.width != 0 && still->picture.height != 0 && still->picture.HasPixels();
  if (const auto* animated = KindOf<CAnmImage>(image))
    return !animated->frames.empty() && HasUsablePicture(animated->frames.front().image.get());
  return false;
}

// True for a texture map without a usable picture; an unusable image is taken off it.
bool IsEmptyTextureMap(CBase* texture, RemovedObjects& removed) {
  auto* map = KindOf<CTextureMap>(texture);
  if (!map) return false;
  if (map->image && !HasUsablePicture(map->image.get())) {
    removed.emplace_back(map->image.get());
    map->image = nullptr;
    map->modified = 1;
  }
  return !map->image;
}

template <class T>
void Drop(CRefPtr<T>& slot, RemovedObjects& removed) {
  removed.emplace_back(slot.get());
  slot = nullptr;
}

void CleanUpChannels(CStandardMaterial& material, RemovedObjects& removed) {
  for (int32_t k = 0; k < CStandardMaterial::kChannels; ++k) {
    auto& slot = material.channelTexture[static_cast<size_t>(k)];
    if (k == kUntouchedChannel || !slot) continue;
    if (IsEmptyTextureMap(slot.get(), removed)) {
      Drop(slot, removed);
      material.modified = 1;
      continue;
    }
    if (k == kBumpChannel) {
      if (auto* bump = KindOf<CNormalBumpTex>(slot.get())) {
        if (bump->map1 && IsEmptyTextureMap(bump->map1.get(), removed)) Drop(bump->map1, removed);
        if (!bump->map1) {
          Drop(slot, removed);
          material.modified = 1;
        }
      }
    } else if (k == kBlendChannel) {
      if (auto* blend = KindOf<CBlendTex>(slot.get())) {
        if (blend->texture1 && IsEmptyTextureMap(blend->texture1.get(), removed))
          Drop(blend->texture1, removed);
        if (blend->texture2 && IsEmptyTextureMap(blend->texture2.get(), removed))
          Drop(blend->texture2, removed);
        if (blend->texture1 && blend->texture2) continue;
        // One texture left takes the blend's place with its weight; none leaves the channel empty.
        const CRefPtr<CBlendTex> keep(blend);
        CTexture* survivor =
            KindOf<CTexture>(blend->texture1 ? blend->texture1.get() : blend->texture2.get());
        if (survivor)
          material.channelAmount[kBlendChannel] = blend->texture1 ? blend->weight1 : blend->weight2;
        removed.emplace_back(blend);
        slot = survivor;
        material.modified = 1;
      }
    }
  }
}

// The texture map whose coordinate channel a material's bump channel uses, if any.
CTextureMap* BumpMap(CStandardMaterial& material) {
  CTexture* bump = material.channelTexture[kBumpChannel].get();
  if (auto* normalBump = KindOf<CNormalBumpTex>(bump))
    return KindOf<CTextureMap>(normalBump->map1.get());
  return KindOf<CTextureMap>(bump);
}

// The material ids a geometry holds: per-vertex values (as many as there are positions) and,
// for a mesh, per-face values (as many as there are faces).
size_t VertexValueCount(const CGeometry& geometry) {
  return std::min<size_t>(geometry.vertexValues.items.size(), geometry.positions.items.size());
}
size_t FaceValueCount(const CTriMesh* mesh) {
  return mesh ? std::min<size_t>(mesh->faceValues1.items.size(),
                                 static_cast<size_t>(std::max(mesh->faceCount, 0)))
              : 0;
}

// Drops the sub-materials that are neither standard materials nor used, and renumbers the ids of
// every geometry that uses the multi-material with one table: the ids used by any of them count
// as used, so that geometries sharing the list keep their faces on the same materials.
Status CompactMultiMaterial(std::span<CGeometry* const> users, CMultiMaterial& multi) {
  auto& subs = multi.subMaterials;
  const size_t n = subs.size();
  // Without sub-materials no value can name one; there is nothing to compact or remap.
  if (n == 0) return kOk;

  std::unordered_set<uint32_t> used;
  for (const CGeometry* geometry : users) {
    const auto* mesh = KindOf<CTriMesh>(geometry);
    for (size_t i = 0; i < VertexValueCount(*geometry); ++i)
      used.insert(geometry->vertexValues.items[i]);
    for (size_t i = 0; i < FaceValueCount(mesh); ++i) used.insert(mesh->faceValues1.items[i]);
  }

  std::vector<int32_t> newIndex(n, -1);
  std::vector<CRefPtr<CMaterialBase>> kept;
  for (size_t i = 0; i < n; ++i) {
    CMaterialBase* material = KindOf<CStandardMaterial>(subs[i].get());
    if (!material) {
      if (!used.contains(static_cast<uint32_t>(i))) continue;
      // A used slot without a standard material gets a default one.
      KX_RETURN_IF_FAILED(TryNew<CStandardMaterial>(subs[i]));
      material = subs[i].get();
      multi.modified = 1;
    }
    newIndex[i] = static_cast<int32_t>(kept.size());
    kept.emplace_back(material);
  }
  if (kept.size() < n) {
    subs = kept;
    multi.modified = 1;
  }

  auto remap = [&](uint32_t& value) {
    const int32_t index = newIndex[value % n];
    if (index < 0) return false;
    value = static_cast<uint32_t>(index);
    return true;
  };
  for (CGeometry* geometry : users) {
    for (size_t i = 0; i < VertexValueCount(*geometry); ++i)
      if (!remap(geometry->vertexValues.items[i])) return kErrMalformed;
    if (auto* mesh = KindOf<CTriMesh>(geometry)) {
      for (size_t i = 0; i < FaceValueCount(mesh); ++i)
        if (!remap(mesh->faceValues1.items[i])) return kErrMalformed;
      for (auto& extra : mesh->extraVectors)
        if (!remap(extra.v[0])) return kErrMalformed;
    }
  }

  // Every bump map after the first uses the first one's coordinate channel.
  const CTextureMap* first = nullptr;
  for (const auto& sub : subs) {
    auto* standard = KindOf<CStandardMaterial>(sub.get());
    CTextureMap* map = standard ? BumpMap(*standard) : nullptr;
    if (!map) continue;
    if (!first)
      first = map;
    else if (map->channel != first->channel) {
      map->channel = first->channel;
      map->modified = 1;
    }
  }
  return kOk;
}

Status RemoveFromParent(CSpatial& object, RemovedObjects& removed) {
  KX_RETURN_IF_FAILED(TryAppend(removed, CRefPtr<CBase>(&object)));
  return object.parent ? object.parent->RemoveChild(&object) : kOk;
}

bool NameHasMarker(const std::u16string& name) {
  for (std::u16string_view marker : kNoBakeMarkers)
    if (name.find(marker) != std::u16string::npos) return true;
  return false;
}

}  // namespace

namespace {

// Takes the first link controller off each of `objects`; `detached` tells whether any was.
Status RemoveLinkControllersOf(const std::vector<CSpatial*>& objects, bool& detached) {
  detached = false;
  for (CSpatial* object : CPrefetching(objects)) {
    if (!object->controllers) continue;
    auto* link = KindOf<CLinkControl>(
        object->controllers->FindObject(std::nullopt, &CLinkControl::classRecord, false));
    if (!link) continue;
    KX_RETURN_IF_FAILED(object->DetachController(link));
    detached = true;
  }
  return kOk;
}

}  // namespace

Status RemoveLinkControllers(CNode& root) {
  return Guarded([&]() -> Status {
    bool detached = false;
    return RemoveLinkControllersOf(Collect<CSpatial>(root, true), detached);
  });
}

Status CleanUpMaterials(CGeometry& geometry, RemovedObjects& removed,
                        const MultiMaterialUsers* users, std::unordered_set<const CBase*>* clean) {
  return Guarded([&]() -> Status {
    if (!geometry.material) return kOk;
    // Every change the channels' clean-up makes adds to `removed`; a material it left as it was
    // would be left so again, whatever the geometries before this one changed.
    if (!clean || !clean->contains(geometry.material.get())) {
      const size_t removedBefore = removed.size();
      std::vector<CBase*> found;
      geometry.material->FindObjects(found, std::nullopt, &CStandardMaterial::classRecord, false);
      CAddressTable<uint8_t> seen(found.size());
      for (CBase* object : found)
        if (seen.Insert(object).second)
          if (auto* standard = KindOf<CStandardMaterial>(object))
            CleanUpChannels(*standard, removed);
      if (clean && removed.size() == removedBefore) clean->insert(geometry.material.get());
    }
    auto* multi = KindOf<CMultiMaterial>(geometry.material.get());
    if (!multi) return kOk;
    CGeometry* alone[] = {&geometry};
    const auto shared = users ? users->find(multi) : MultiMaterialUsers::const_iterator{};
    if (!users || shared == users->end()) return CompactMultiMaterial(alone, *multi);
    // Compacted once, with the first geometry that uses it, for all of them.
    if (shared->second.front() != &geometry) return kOk;
    return CompactMultiMaterial(shared->second, *multi);
  });
}

namespace {

// `objects` are Collect<CSpatial>(root, true) of the tree as it stands. `reshaped`, when given,
// tells whether any reference of the tree changed: an object taken out, a sub-material dropped
// or put in. Everything else the clean-up does (ids renumbered, coordinate channels, modified
// flags) leaves every name, child, controller and face count where it was. Without
// `mayHoldMultiMaterials` the tree is known to hold no multi-material: none is looked for.
Status CleanUpGeometryOf(const std::vector<CSpatial*>& objects, bool* reshaped = nullptr,
                         bool mayHoldMultiMaterials = true) {
  return Guarded([&]() -> Status {
    RemovedObjects removed;
    MultiMaterialUsers users;
    std::unordered_set<const CBase*> clean;
    if (mayHoldMultiMaterials)
      for (CSpatial* object : CPrefetching(objects))
        if (auto* geometry = KindOf<CGeometry>(object))
          if (const auto* multi = KindOf<CMultiMaterial>(geometry->material.get()))
            users[multi].push_back(geometry);
    // The sub-materials of each multi-material as they were: compaction changes them in place.
    std::vector<std::pair<const CMultiMaterial*, std::vector<const CBase*>>> subsBefore;
    if (reshaped)
      for (const auto& [multi, geometries] : users) {
        std::vector<const CBase*> subs;
        for (const auto& sub : multi->subMaterials) subs.push_back(sub.get());
        subsBefore.emplace_back(multi, std::move(subs));
      }
    for (CSpatial* object : CPrefetching(objects)) {
      // Only the last keyframe controller of the chain stays.
      std::vector<CControl*> keyframes;
      for (CControl* c = object->controllers.get(); c; c = c->next.get())
        if (KindOf<CKeyframeControl>(c)) keyframes.push_back(c);
      for (size_t i = 0; i + 1 < keyframes.size(); ++i) {
        removed.emplace_back(keyframes[i]);
        KX_RETURN_IF_FAILED(object->DetachController(keyframes[i]));
      }

      auto* geometry = KindOf<CGeometry>(object);
      if (!geometry) continue;
      KX_RETURN_IF_FAILED(CleanUpMaterials(*geometry, removed, &users, &clean));
      const bool hasPositions = !geometry->positions.empty();
      if (hasPositions && geometry->material) {
        if (auto* mesh = KindOf<CTriMesh>(geometry);
            mesh && (mesh->normals.empty() || mesh->indexList1.empty() ||
                     mesh->indexList2.empty() || mesh->faceTriples4.empty()))
          KX_RETURN_IF_FAILED(RemoveFromParent(*geometry, removed));
      } else {
        KX_RETURN_IF_FAILED(RemoveFromParent(*geometry, removed));
      }
    }
    if (reshaped) {
      *reshaped = !removed.empty();
      for (const auto& [multi, subs] : subsBefore)
        if (!std::equal(subs.begin(), subs.end(), multi->subMaterials.begin(),
                        multi->subMaterials.end(),
                        [](const CBase* a, const auto& b) { return a == b.get(); }))
          *reshaped = true;
    }
    return kOk;
  });
}

}  // namespace

Status CleanUpGeometry(CNode& root) {
  return Guarded([&]() -> Status { return CleanUpGeometryOf(Collect<CSpatial>(root, true)); });
}

namespace {

void Tag(CNode& node, int32_t tag) {
  node.tag = tag;
  node.modified = 1;
}

Status TagNodesOf(const CTreeObjects& tree, int32_t tag) {
  return Guarded([&]() -> Status {
    const std::vector<CNode*> nodes = tree.Of<CNode>(false);
    for (CNode* node : CPrefetching(nodes)) Tag(*node, tag);
    return kOk;
  });
}

Status StripControllersOf(const CTreeObjects& tree) {
  return Guarded([&]() -> Status {
    const std::vector<CSpatial*> objects = tree.Of<CSpatial>(true);
    for (CSpatial* object : CPrefetching(objects)) object->DetachAllControllers();
    return kOk;
  });
}

// TagNodesOf, then StripControllersOf, in one visit of each object. The strip lets go of
// controllers, which own nothing but controllers and their data: every object of the tree, node
// or not, is still there when its turn comes. Neither pass reads what the other writes.
Status TagNodesAndStripControllersOf(const CTreeObjects& tree, int32_t tag) {
  return Guarded([&]() -> Status {
    const std::vector<CSpatial*> objects = tree.Of<CSpatial>(true);
    for (CSpatial* object : CPrefetching(objects)) {
      if (object->GetRuntimeClass() == &CNode::classRecord) Tag(*static_cast<CNode*>(object), tag);
      object->DetachAllControllers();
    }
    return kOk;
  });
}

}  // namespace

Status TagNodes(CNode& root, int32_t tag) {
  return Guarded([&]() -> Status { return TagNodesOf(CTreeObjects(root), tag); });
}

Status StripControllers(CNode& root) {
  return Guarded([&]() -> Status { return StripControllersOf(CTreeObjects(root)); });
}

namespace {

// Moves the points of meshes and billboards into scene space. Billboards are moved into world
// space at their update exactly like meshes: with every transform reset afterwards, a billboard
// whose positions kept its transforms out would end up somewhere else. Particle positions are
// written in world space by their controllers and are not baked.
//
// Normals turn with their surface (see TransformNormals), so that a baked prop is lit as the
// scene was. Points that are not finite after the bake, or were not before it, are told in
// `warnings`, one line per geometry.
bool IsBaked(const CGeometry& geometry) {
  return geometry.GetRuntimeClass() == &CTriMesh::classRecord || KindOf<CBillboard>(&geometry);
}

size_t CountNotFinite(std::span<const CVector3<float>> points) {
  size_t count = 0;
  for (const auto& p : points)
    count += !(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));
  return count;
}

void WarnNotFinite(const CGeometry& geometry, size_t count, const char* when,
                   std::vector<std::string>* warnings) {
  if (!count || !warnings) return;
  warnings->push_back(std::string(geometry.GetRuntimeClass()->className) + " '" +
                      ToUtf8(geometry.name) + "': " + std::to_string(count) + " of " +
                      std::to_string(geometry.positions.size()) + " positions are not finite " +
                      when);
}

void BakePointsOf(const CTreeObjects& tree, std::vector<std::string>* warnings) {
  const std::vector<CGeometry*> geometries = tree.Of<CGeometry>(true);
  for (CGeometry* geometry : CPrefetching(geometries)) {
    if (!IsBaked(*geometry)) continue;
    // The geometry's own local matrix, then each ancestor's up to the top, as one matrix: row
    // vectors, so the nearest transform comes first.
    CMatrix4 toScene = geometry->GetLocalMatrix();
    for (const CNode* up = geometry->parent; up; up = up->parent) {
      CMatrix4 next;
      MatrixMultiply(next, toScene, up->GetLocalMatrix());
      toScene = next;
    }
    // Counted a piece at a time, while the piece just moved is still at hand.
    constexpr size_t kPiece = 4096;
    const std::span points(geometry->positions.data(), geometry->positions.size());
    size_t notFinite = 0;
    for (size_t at = 0; at < points.size(); at += kPiece) {
      const auto piece = points.subspan(at, std::min(kPiece, points.size() - at));
      TransformCoords(piece, toScene);
      notFinite += CountNotFinite(piece);
    }
    WarnNotFinite(*geometry, notFinite, "after the bake", warnings);
    TransformNormals(std::span(geometry->normals.data(), geometry->normals.size()), toScene);
    geometry->modified = 1;
  }
}

// For a tree that is not baked: the points that were not finite in the scene.
void WarnNotFiniteOf(const CTreeObjects& tree, std::vector<std::string>* warnings) {
  if (!warnings) return;
  for (CGeometry* geometry : tree.Of<CGeometry>(true))
    if (IsBaked(*geometry))
      WarnNotFinite(*geometry,
                    CountNotFinite({geometry->positions.data(), geometry->positions.size()}),
                    "in the scene", warnings);
}

// The transform every object has after the bake: the identity matrix taken apart, once for all
// of them (what CSpatial::SetFromMatrix does for each).
struct CBakedTransform {
  CVector3<float> scale, position;
  CMatrix3 rotation;
  CBakedTransform() { DecomposeMatrix(MatrixIdentity(), scale, rotation, position); }
  void SetOn(CSpatial& object) const {
    object.scale = scale;
    object.rotation = rotation;
    object.position = position;
    object.modified = 1;
  }
};

Status BakeTransformsOf(const CTreeObjects& tree, std::vector<std::string>* warnings) {
  return Guarded([&]() -> Status {
    BakePointsOf(tree, warnings);
    // Moving points changes no reference: the tree is the one collected.
    const CBakedTransform baked;
    const std::vector<CSpatial*> objects = tree.Of<CSpatial>(true);
    for (CSpatial* object : CPrefetching(objects)) baked.SetOn(*object);
    return kOk;
  });
}

// Gives `object` a controller that holds its transform as it stands as a single key; `rotation`
// is QuaternionFromRotation(object.rotation).
Status AddRestKey(CSpatial& object, const CQuaternion& rotation) {
  CRefPtr<CKeyframeControl> key(new CKeyframeControl);
  key->timeScale = 1.0f;
  key->legacyValue = 0.0f;
  key->keyTimes = {0.0f};
  key->rotationKeys = {rotation};
  key->positionKeys = {object.position};
  key->scaleKeys = {object.scale};
  key->transition = {std::numeric_limits<float>::max()};
  key->type = {0};
  return object.AttachController(key.get());
}

Status AddRestKeysOf(const CTreeObjects& tree) {
  return Guarded([&]() -> Status {
    const std::vector<CSpatial*> objects = tree.Of<CSpatial>(true);
    for (CSpatial* object : CPrefetching(objects))
      KX_RETURN_IF_FAILED(AddRestKey(*object, QuaternionFromRotation(object->rotation)));
    return kOk;
  });
}

// BakeTransformsOf, then AddRestKeysOf on the same tree, with each object's transform reset and
// its rest key made in one visit: the key is made from the transform just reset, the same for
// every object.
Status BakeTransformsAndAddRestKeysOf(const CTreeObjects& tree,
                                      std::vector<std::string>* warnings) {
  return Guarded([&]() -> Status {
    BakePointsOf(tree, warnings);
    const CBakedTransform baked;
    const CQuaternion rotation = QuaternionFromRotation(baked.rotation);
    const std::vector<CSpatial*> objects = tree.Of<CSpatial>(true);
    for (CSpatial* object : CPrefetching(objects)) {
      baked.SetOn(*object);
      KX_RETURN_IF_FAILED(AddRestKey(*object, rotation));
    }
    return kOk;
  });
}

// The root's first child, when it is a node.
CNode* FirstNodeBelow(const CNode& root) {
  return root.children.empty() ? nullptr : KindOf<CNode>(root.children.front().get());
}

// False when RestructureRootOf would find nothing to take out or move in `tree`.
bool RootMayReshape(const CNode& root, const CTreeObjects& tree) {
  if (root.tag != kPropTag) return false;
  const CNode* first = FirstNodeBelow(root);
  return tree.MayHold(CCamera::classRecord, false) ||
         tree.MayHold(CCameraTarget::classRecord, false) || (first && first->name == u"AccRoot");
}

// A prop whose first node below the root was "SceneRoot" takes that name for its root.
void NameAfter(CNode& root, const CNode* first) {
  if (first && first->name == u"SceneRoot") {
    root.name = u"SceneRoot";
    root.modified = 1;
  }
}

// Takes the cameras out of a prop's tree, and its accessory level; `reshaped` tells whether
// either was there. `tree` is the tree as it stands when the pass starts.
Status ReshapeRootOf(CNode& root, const CTreeObjects& tree, bool& reshaped) {
  reshaped = false;
  if (root.tag != kPropTag) return kOk;
  std::vector<CSpatial*> cameras;
  for (CCamera* camera : tree.Of<CCamera>(false)) cameras.push_back(camera);
  for (CCameraTarget* target : tree.Of<CCameraTarget>(false)) cameras.push_back(target);
  reshaped = !cameras.empty();
  std::vector<CRefPtr<CBase>> released;  // alive until the pass is over
  for (CSpatial* object : cameras) {
    CNode* holder = object->parent;
    if (!holder) continue;
    released.emplace_back(holder);
    released.emplace_back(object);
    // A camera in a group takes the group with it; one right below the root leaves alone.
    if (CNode* above = holder->parent)
      KX_RETURN_IF_FAILED(above->RemoveChild(holder));
    else
      KX_RETURN_IF_FAILED(holder->RemoveChild(object));
  }

  CRefPtr<CNode> first(FirstNodeBelow(root));
  if (first && first->name == u"AccRoot") {
    // The accessory level goes; its first child takes its place at the end of the root.
    // A step that fails fails the conversion: nothing may be dropped from the tree unnoticed.
    KX_RETURN_IF_FAILED(root.RemoveChild(first.get()));
    reshaped = true;
    CRefPtr<CNode> inner(FirstNodeBelow(*first));
    if (inner) {
      KX_RETURN_IF_FAILED(first->RemoveChild(inner.get()));
      KX_RETURN_IF_FAILED(root.AddChild(inner.get()));
    }
  }
  NameAfter(root, first.get());
  return kOk;
}

// `tree` is the tree as it stands when the pass starts.
Status RestructureRootOf(CNode& root, const CTreeObjects& tree) {
  return Guarded([&]() -> Status {
    bool reshaped = false;
    KX_RETURN_IF_FAILED(ReshapeRootOf(root, tree, reshaped));
    if (!reshaped) return AddRestKeysOf(tree);
    const CTreeObjects now(root);
    return AddRestKeysOf(now);
  });
}

}  // namespace

Status BakeTransforms(CNode& root) {
  return Guarded([&]() -> Status { return BakeTransformsOf(CTreeObjects(root), nullptr); });
}

Status AddRestKeys(CNode& root) {
  return Guarded([&]() -> Status { return AddRestKeysOf(CTreeObjects(root)); });
}

Status RestructureRoot(CNode& root) {
  return Guarded([&]() -> Status { return RestructureRootOf(root, CTreeObjects(root)); });
}

namespace {

Status ConvertWithKnownKind(CPersistContext& document, IConverterUi& ui, const int32_t* kindBefore,
                            CSearchedTree* searched, CConvertedTree* converted) {
  return Guarded([&]() -> Status {
    CRefPtr<CNode> root(document.roots.empty() ? nullptr
                                               : KindOf<CNode>(document.roots.front().get()));
    if (!root) return kErrMalformed;
    // One collection of the tree as loaded serves the clean-up and, where the clean-up changed
    // no reference, the tagging and stripping after it as well.
    std::optional<CTreeObjects> loaded;
    if (searched && searched->complete)
      loaded.emplace(std::move(*searched));
    else
      loaded.emplace(*root);
    if (searched) *searched = {};
    bool reshaped = false;
    {
      std::vector<CSpatial*> objects = loaded->Of<CSpatial>(true);
      bool detached = false;
      // Passes with nothing to look for in the tree are left out. Taking objects off only makes
      // the tree smaller: what the collection did not hold, the clean-up does not meet.
      if (loaded->MayHold(CLinkControl::classRecord, false))
        KX_RETURN_IF_FAILED(RemoveLinkControllersOf(objects, detached));
      if (detached) objects = Collect<CSpatial>(*root, true);
      KX_RETURN_IF_FAILED(CleanUpGeometryOf(objects, &reshaped,
                                            loaded->MayHold(CMultiMaterial::classRecord, true)));
      reshaped = reshaped || detached;
    }
    // The kind answers from names, children, controllers and face counts reached from the roots;
    // a clean-up that changed no reference changed none of them, and the kind stays as it was.
    const int32_t kind = kindBefore && !reshaped ? *kindBefore : ClassifyContent(document);
    for (int32_t refused : kRefusedKinds)
      if (kind == refused) {
        ui.ShowMessage(ui.Text(kTextNotAScene), kMessageError,
                       "after the clean-up the content is of kind " + std::to_string(kind) + " (" +
                           ContentKindName(kind) + ")");
        return kErrMalformed;
      }
    {
      // Tagging changes no reference: both passes act on the tree collected once.
      if (reshaped) loaded.emplace(*root);
      KX_RETURN_IF_FAILED(TagNodesAndStripControllersOf(*loaded, kPropTag));
      loaded.reset();
    }
    // From here on no pass changes the tree's shape until the cameras go: one collection serves.
    const CTreeObjects tree(*root);
    // The passes left take objects out, move them, or add rest controllers: a summary record the
    // tree does not hold now, it never will.
    if (converted) converted->mayHoldSummaries = tree.MayHold(CRoseData::classRecord, false);
    const bool bake = !NameHasMarker(root->name);
    std::vector<std::string>* warnings = converted ? &converted->warnings : nullptr;
    if (bake && !RootMayReshape(*root, tree)) {
      // The root keeps its shape, so the rest keys go to the tree the bake acts on, each
      // object's made in the same visit that resets its transform. All the restructuring has
      // left to do is a new name for the root.
      KX_RETURN_IF_FAILED(BakeTransformsAndAddRestKeysOf(tree, warnings));
      if (root->tag == kPropTag) NameAfter(*root, FirstNodeBelow(*root));
      return kOk;
    }
    if (bake)
      KX_RETURN_IF_FAILED(BakeTransformsOf(tree, warnings));
    else
      WarnNotFiniteOf(tree, warnings);
    return RestructureRootOf(*root, tree);
  });
}

}  // namespace

Status ConvertSceneToProp(CPersistContext& document, IConverterUi& ui) {
  return ConvertWithKnownKind(document, ui, nullptr, nullptr, nullptr);
}

Status ConvertSceneToProp(CPersistContext& document, IConverterUi& ui, int32_t kindBefore,
                          CSearchedTree* searched, CConvertedTree* converted) {
  return ConvertWithKnownKind(document, ui, &kindBefore, searched, converted);
}

}  // namespace KX
