#include "app/classify.h"

#include <algorithm>
#include <iterator>

#include "control/keyframe_control.h"
#include "control/mesh_deformers.h"
#include "object/walker.h"
#include "scene/tri_mesh.h"

namespace KX {

namespace {

constexpr std::u16string_view kSkeleton[] = {
    u"LowerTorso", u"UpperTorso", u"LCollar", u"RCollar", u"LUpArm",  u"RUpArm",
    u"LLowArm",    u"RLowArm",    u"Neck",    u"Head",    u"LPelvis", u"RPelvis",
    u"LThigh",     u"RThigh",     u"LLowLeg", u"RLowLeg", u"LFoot",   u"RFoot",
    u"LToe0",      u"RToe0",      u"LHand",   u"RHand"};

bool Named(const CBase* object, std::u16string_view name) { return object && object->name == name; }

CNode* ChildNode(const CNode& node, size_t index) {
  return index < node.children.size() ? KindOf<CNode>(node.children[index].get()) : nullptr;
}

// True when the object's controller chain holds a controller of exactly class `cls`.
bool ChainHolds(const CCorva& object, const CRuntimeClass& cls) {
  return object.controllers && object.controllers->FindObject(std::nullopt, &cls, false);
}

int32_t SingleChild(const CNode& root, const CNode* c0) {
  if (Named(c0, u"LowerTorso")) {
    // A lone lower torso is a body part unless its own first child continues the group.
    const CNode* group = ChildNode(*c0, 0);
    if (!group || group->name.find(u"LowerTorso") == std::u16string::npos) return kKindLowerTorso;
  } else if (Named(c0, u"AccRoot")) {
    return kKindScene;
  }
  return ChainHolds(root, CKeyframeControl::classRecord) ? kKindScene : kKindSingleObjectScene;
}

int32_t TwoChildren(CNode& root, const CNode* c0, const CNode* c1) {
  if (Named(c0, u"Normal Teeth_up") || Named(c0, u"Normal Teeth_dw")) return kKindTeeth;
  if (Named(c0, u"eye_L") || Named(c0, u"eye_R")) return kKindEyes;
  struct Pair {
    std::u16string_view partner;
    int32_t kind;
  };
  static constexpr Pair kPairs[] = {{u"Upper", kKindUpper},
                                    {u"Lower", kKindLower},
                                    {u"Shoes", kKindShoes},
                                    {u"Hands", kKindHands},
                                    {u"Hair", kKindHair}};
  for (const Pair& pair : kPairs) {
    if (Named(c0, u"LowerTorso") && Named(c1, pair.partner)) return pair.kind;
    if (Named(c0, pair.partner) && Named(c1, u"LowerTorso")) return pair.kind;
  }
  return HasMeshWithFaces(root) ? kKindScene : kKindUnknown;
}

int32_t SceneRoot(CNode& root) {
  const size_t n = root.children.size();
  const CNode* c0 = ChildNode(root, 0);
  const CNode* c1 = ChildNode(root, 1);
  if (n == 1) return SingleChild(root, c0);
  if (n == 2) return TwoChildren(root, c0, c1);
  if (n == 3)
    return FindChild(root, u"LowerTorso", &CNode::classRecord, false) ? kKindBody : kKindScene;
  const CSpatial* normal = FindChild(root, u"Normal", &CNode::classRecord, false);
  const CSpatial* cavity = FindChild(root, u"Normal Cavity", &CNode::classRecord, false);
  if (normal && cavity &&
      (ChainHolds(*normal, CMorphControl::classRecord) || ChainHolds(*cavity, CMorphControl::classRecord)))
    return kKindFace;
  return kKindScene;
}

// True when every bone of the skeleton is a CNode somewhere in the tree.
bool HasSkeleton(CNode& root, CSearchedTree* searched) {
  if (!searched) {
    for (std::u16string_view bone : kSkeleton)
      if (!root.FindObject(bone, &CNode::classRecord, false)) return false;
    return true;
  }
  // One search of the whole tree answers for every bone, looked for as each node is met, and the
  // conversion reuses it.
  *searched = {};
  bool found[std::size(kSkeleton)] = {};
  const Status walked = Walk(&root, kSearch, [&](CBase* object) {
    const CRuntimeClass* cls = object->GetRuntimeClass();
    searched->objects.push_back(object);
    searched->classes.push_back(cls);
    if (cls == &CNode::classRecord)
      for (size_t i = 0; i < std::size(kSkeleton); ++i)
        if (object->name == kSkeleton[i]) found[i] = true;
    return WalkStep::kDescend;
  });
  // A search that ran out of memory or depth has found nothing it could answer, as FindObject.
  if (Failed(walked)) {
    *searched = {};
    return false;
  }
  searched->complete = true;
  return std::all_of(std::begin(found), std::end(found), [](bool f) { return f; });
}

int32_t OtherRoot(const CPersistContext& document, CNode& root, CSearchedTree* searched) {
  if (Named(&root, u"GestureRoot")) return kKindGesture;
  if (Named(&root, u"LightRoot")) return kKindLight;
  if (Named(&root, u"CameraRoot")) return kKindCamera;
  if (Named(&root, u"ParticleEmitter_Root")) return kKindParticles;
  if (Named(&root, u"3DBackgroundRoot")) return kKindScene;
  if (HasSkeleton(root, searched)) return kKindCharacter;
  if (!Named(&root, u"RHand") && !Named(&root, u"LHand")) {
    if (FindRawData(document, u"V16FogSettings")) return kKindFog;
    if (FindRawData(document, u"MotionInfo")) return kKindMotion;
  }
  return HasMeshWithFaces(root) ? kKindScene : kKindUnknown;
}

}  // namespace

CRawData* FindRawData(const CPersistContext& document, std::u16string_view name) {
  if (document.roots.size() < 2) return nullptr;
  return FindRawData(KindOf<CCustomData>(document.roots[1].get()), name);
}

CSpatial* FindChild(const CNode& node, NameFilter name, const CRuntimeClass* cls, bool kindOf) {
  for (const auto& child : node.children)
    if (child && child->Matches(name, cls, kindOf)) return child.get();
  return nullptr;
}

bool HasMeshWithFaces(CNode& node) {
  // The search stops at the first such mesh; scenes with many objects usually have one early.
  bool found = false;
  (void)Walk(&node, kSearch, [&](CBase* object) {
    found = object->Matches(std::nullopt, &CTriMesh::classRecord, false) &&
            static_cast<CTriMesh*>(object)->faceCount > 0;
    return found ? WalkStep::kStop : WalkStep::kDescend;
  });
  return found;
}

int32_t ClassifyContent(const CPersistContext& document, CSearchedTree* searched) {
  if (searched) *searched = {};
  if (FindRawData(document, u"ProjectState")) return kKindProject;
  CNode* root = document.roots.empty() ? nullptr : KindOf<CNode>(document.roots[0].get());
  if (!root) return kKindUnknown;  // callers check this first; answer something safe anyway
  return Named(root, u"Scene Root") ? SceneRoot(*root) : OtherRoot(document, *root, searched);
}

const char* ContentKindName(int32_t kind) {
  switch (kind) {
    case kKindCharacter: return "character";
    case kKindScene: return "plain 3D scene";
    case kKindSingleObjectScene: return "3D scene with a single object";
    case kKindFog: return "fog settings";
    case kKindParticles: return "particle emitter";
    case kKindLight: return "light";
    case kKindCamera: return "camera";
    case kKindLowerTorso: return "lower torso";
    case kKindTeeth: return "teeth";
    case kKindEyes: return "eyes";
    case kKindHair: return "hair";
    case kKindBody: return "body";
    case kKindHands: return "hands";
    case kKindLower: return "lower clothing";
    case kKindUpper: return "upper clothing";
    case kKindShoes: return "shoes";
    case kKindMotion: return "motion";
    case kKindFace: return "face";
    case kKindGesture: return "gesture";
    case kKindProject: return "project";
    case kKindUnknown: return "nothing recognised";
    default: return "unknown kind";
  }
}

}  // namespace KX
