#pragma once
// Everything the programs do with a graph once a load accepted it, and crafted graphs to do it
// on. Shared by the tests and the fuzz target: whatever loads must come through all of it.
#include <string>
#include <vector>

#include "app/converter_ui.h"
#include "object/base.h"
#include "object/container.h"

namespace KX::test {

// A converter front-end that is never asked anything and tells nobody.
class CSilentUi final : public IConverterUi {
 public:
  bool ChooseFile(FileDialog, std::string&) override { return false; }
  void ShowMessage(const std::string&, MessageType, const std::string&) override {}
  void BeginWaitCursor() override {}
  void EndWaitCursor() override {}
  std::string Text(unsigned) override { return {}; }
};

// What RunAfterLoad got to, for tests that want more than "it ended".
struct AfterLoadReport {
  int32_t kind = 0;                 // content kind of the classification
  Status converted = kOk;           // the conversion passes (kNothingDone: no node root)
  Status propSaved = kNothingDone;  // the prop saved to memory and loaded again
  size_t objectsFound = 0;          // FindObjects over every root
};

// Lists the document as `info --json`, `info --tree` and `info` print it, searches, collects,
// copies and remaps every root, classifies the document, converts it into a prop in place, and
// saves the prop as the converter would, then loads that again. The document is changed.
AfterLoadReport RunAfterLoad(CPersistContext& document);

// Points every plain reference in the graph below `root` at `target` where its class fits,
// else at the first object of the graph (in search order) that fits and can reach the holder,
// so that each one closes a cycle. Answers how many references were re-pointed.
size_t PointPlainReferencesBack(CBase* root, CBase* target);

// A scene root (CNode "SceneRoot") holding `object`: as a child when it is spatial, else as the
// attachment of a child node.
CRefPtr<CBase> InScene(CBase* object);

}  // namespace KX::test
