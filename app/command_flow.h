#pragma once
// The one command of the converter: choose a scene, load it, check it, convert it into a prop in
// memory, choose where to save it, save it; every outcome is told through the front-end.
#include <string>

#include "app/convert.h"
#include "app/converter_ui.h"
#include "object/container.h"
#include "image/thumbnail.h"
#include "scene/node.h"

namespace KX {

// How a command ended, for front-ends that report more than messages (exit codes).
enum class CommandOutcome {
  kCancelled,          // the open dialog was cancelled
  kLoadFailed,         // message 102
  kAlreadyCompatible,  // message 105
  kNotAScene,          // message 103
  kSaveCancelled,      // converted in memory, then the save dialog was cancelled
  kSaveFailed,         // message 107
  kSaved,              // message 106
};

// Runs the whole command. Both documents and every reference are released before it returns.
CommandOutcome OnValidate(IConverterUi& ui);
// From now on OnValidate leaves the scenes it loaded for the end of the process to take back,
// instead of freeing them object by object: for a tool that exits right after one command.
void KeepScenesUntilExit();

// Answers 0 when the document's first root was converted in memory (message 104 shown), 1 when
// the document is already compatible (message 105), 0x80000005 when it is no convertible scene
// (message 103). `root` receives the document's first root when it is a node; `converted`, when
// given, what the conversion found out about the tree it left.
Status CheckCompatibility(CPersistContext& document, CRefPtr<CNode>& root, IConverterUi& ui,
                          CConvertedTree* converted = nullptr);

// Writes `root` as a prop to `path` with `thumbnail` (may be null) and the summary record of the
// tree's CRoseData records. Answers the save status; `detail` receives what went wrong.
Status SaveProp(CNode* root, const std::string& path, CThumbnail* thumbnail, std::string* detail);
// What SaveProp writes: the converted root, the source thumbnail and the summary record. Without
// `mayHoldSummaries` the tree is known to hold no CRoseData record, and none is looked for.
Status PreparePropDocument(CNode* root, CThumbnail* thumbnail, CPersistContext& target,
                           std::string* detail, bool mayHoldSummaries = true);

}  // namespace KX
