#pragma once
// Turns the scene tree of an old scene file into the tree of a static prop, in place: link
// controllers go, duplicated keyframe controllers, textures without pictures and broken meshes
// are pruned, multi-materials compacted, the kind checked again, nodes tagged, all animation
// stripped, free-standing meshes baked into their vertices, cameras removed, an accessory root
// flattened, and every spatial object gets one key holding its rest pose.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "app/classify.h"
#include "app/converter_ui.h"
#include "object/container.h"
#include "material/material.h"
#include "scene/geometry.h"
#include "scene/node.h"

namespace KX {

// The tag every node of a prop carries.
inline constexpr int32_t kPropTag = 32;

// Objects a pass takes out of the tree or out of a material, kept alive until the pass ends.
using RemovedObjects = std::vector<CRefPtr<CBase>>;

// 0 when the document's first root was converted; 0x80000005 when it is missing or no node, or
// when the kind checked again after the clean-up is refused (message 103 shown through `ui`);
// any failure of a pass.
Status ConvertSceneToProp(CPersistContext& document, IConverterUi& ui);
// What a conversion found out about the tree it leaves, for the steps after it.
struct CConvertedTree {
  // False when the converted tree is known to hold no summary record (CRoseData): a search for
  // one would find none.
  bool mayHoldSummaries = true;
  // What the user should know about the prop although it converted: geometry whose positions
  // are not finite, one line each.
  std::vector<std::string> warnings;
};

// The same, for a document that ClassifyContent answered `kindBefore` for as it stands: where the
// clean-up changes no reference the kind cannot change, and it is not worked out again. What the
// classification collected in `searched`, when given, serves instead of a search of its own; it is
// used up. `converted`, when given, receives what the conversion found out.
Status ConvertSceneToProp(CPersistContext& document, IConverterUi& ui, int32_t kindBefore,
                          CSearchedTree* searched = nullptr, CConvertedTree* converted = nullptr);

Status RemoveLinkControllers(CNode& root);
Status CleanUpGeometry(CNode& root);
// Geometries of a tree by the multi-material they use, in the order the tree is searched.
using MultiMaterialUsers = std::unordered_map<const CMultiMaterial*, std::vector<CGeometry*>>;
// Cleans the channels of every standard material the geometry uses and compacts its
// multi-material: for all of `users` of it at once when given, else for this geometry alone.
// `clean`, when given, holds the materials (as geometries name them) whose channels were found
// with nothing to clean: they are not searched again, since another look would change nothing.
Status CleanUpMaterials(CGeometry& geometry, RemovedObjects& removed,
                        const MultiMaterialUsers* users = nullptr,
                        std::unordered_set<const CBase*>* clean = nullptr);
Status TagNodes(CNode& root, int32_t tag);
Status StripControllers(CNode& root);
Status BakeTransforms(CNode& root);
Status RestructureRoot(CNode& root);
Status AddRestKeys(CNode& root);

}  // namespace KX
