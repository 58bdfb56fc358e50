#pragma once
// What the tests of the classifier, the conversion and the command share: loading a described
// old scene into a document, and a front-end double that answers the dialogs from a script and
// records everything the command shows.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/converter_ui.h"
#include "object/container.h"
#include "support/legacy_scene.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX::test {

inline std::unique_ptr<CPersistContext> LoadScene(const LegacyScene& scene) {
  auto document = std::make_unique<CPersistContext>();
  const Status status = LoadFromBytes(scene.Bytes(), *document);
  EXPECT_EQ(status, kOk) << document->diagnostics.Describe();
  return document;
}

// Texts come back as "#<id>", so that a test sees which message was shown.
class ScriptedUi final : public IConverterUi {
 public:
  struct Message {
    std::string text;
    MessageType type;
    std::string detail;
  };

  // One answer per file dialog, in order: a path, or nullopt for Cancel. Dialogs beyond the
  // script are cancelled.
  std::deque<std::optional<std::string>> answers;
  // What happened, in order: "open", "save", "#<id>" for a message.
  std::vector<std::string> events;
  std::vector<Message> messages;
  // The path each dialog was opened with.
  std::vector<std::string> initialPaths;
  int waitDepth = 0;
  // The wait cursor was on while each message was shown.
  std::vector<bool> waitingAtMessage;

  bool ChooseFile(FileDialog mode, std::string& path) override {
    events.push_back(mode == FileDialog::kOpen ? "open" : "save");
    initialPaths.push_back(path);
    if (answers.empty() || !answers.front()) {
      if (!answers.empty()) answers.pop_front();
      return false;
    }
    path = *answers.front();
    answers.pop_front();
    return true;
  }
  void ShowMessage(const std::string& text, MessageType type, const std::string& detail) override {
    events.push_back(text);
    messages.push_back({text, type, detail});
    waitingAtMessage.push_back(waitDepth > 0);
  }
  void BeginWaitCursor() override { ++waitDepth; }
  // Ending more often than begun is harmless, as with the platform's cursor.
  void EndWaitCursor() override {
    if (waitDepth > 0) --waitDepth;
  }
  std::string Text(unsigned id) override { return "#" + std::to_string(id); }
  // The conversion's warnings are kept; `acceptWarnings` answers them.
  std::vector<std::string> warnings;
  bool acceptWarnings = true;
  bool AcceptWarnings(const std::vector<std::string>& said) override {
    events.push_back("warnings");
    warnings.insert(warnings.end(), said.begin(), said.end());
    return acceptWarnings;
  }
};

}  // namespace KX::test
