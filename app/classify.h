#pragma once
// What kind of content a loaded scene holds, worked out from the shape of its tree: the names of
// the first root and its children, named raw-data records of the second root, controllers of
// given classes, a complete character skeleton and meshes with faces. Only plain 3D scenes (32
// and 34) may become props. The values are part of the interface: the conversion refers to them.
#include <cstdint>
#include <string_view>
#include <vector>

#include "object/container.h"
#include "object/custom_data.h"
#include "scene/node.h"

namespace KX {

enum ContentKind : int32_t {
  kKindCharacter = 16,            // not "Scene Root", the whole skeleton present
  kKindScene = 32,                // a plain scene
  kKindSingleObjectScene = 34,    // "Scene Root" with one child, not animated by keyframes
  kKindFog = 52,                  // "V16FogSettings" record
  kKindParticles = 64,            // "ParticleEmitter_Root"
  kKindLight = 96,                // "LightRoot"
  kKindCamera = 144,              // "CameraRoot"
  kKindReserved = 160,            // refused by the conversion, never produced here
  kKindLowerTorso = 176,          // a lone "LowerTorso" without its group
  kKindTeeth = 192,
  kKindEyes = 193,
  kKindHair = 208,
  kKindBody = 209,                // three children, one of them "LowerTorso"
  kKindHands = 210,
  kKindLower = 211,
  kKindUpper = 212,
  kKindShoes = 213,
  kKindMotion = 224,              // "MotionInfo" record
  kKindFace = 225,                // "Normal" and "Normal Cavity" with a morph controller
  kKindGesture = 226,             // "GestureRoot"
  kKindProject = 4096,            // "ProjectState" record
  kKindUnknown = 65535,           // nothing recognised and no mesh with faces
};

// Every object the first root reaches in search order, each once, as a classification that had
// to search the whole tree collected it: the conversion that follows starts from it instead of
// searching again. Empty when the classification needed no such search or it did not complete.
struct CSearchedTree {
  std::vector<CBase*> objects;
  std::vector<const CRuntimeClass*> classes;  // of each object
  bool complete = false;
};

// The kind of the document; its first root must be a CNode. With `searched`, a search of the
// whole tree the answer needs is kept there.
int32_t ClassifyContent(const CPersistContext& document, CSearchedTree* searched = nullptr);
// A readable name of a kind ("plain scene", "camera", ...).
const char* ContentKindName(int32_t kind);

// The raw-data record called `name` in the custom-data chain that starts at the document's second
// root, or null.
CRawData* FindRawData(const CPersistContext& document, std::u16string_view name);
// The first direct child of `node` that passes the name and class test, or null.
CSpatial* FindChild(const CNode& node, NameFilter name, const CRuntimeClass* cls, bool kindOf);
// True when a mesh of exact class CTriMesh with at least one face is in `node`'s tree.
bool HasMeshWithFaces(CNode& node);

}  // namespace KX
