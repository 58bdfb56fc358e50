#pragma once
// What the conversion command needs from a front-end: file choice, messages, the wait cursor
// and the texts. The desktop dialog and the command-line tool implement it; tests script it.
#include <string>

namespace KX {

enum MessageType : int {
  kMessageError = 16,
  kMessageWarning = 48,
  kMessageInformation = 64,
};

enum class FileDialog { kSave = 0, kOpen = 1 };

class IConverterUi {
 public:
  virtual ~IConverterUi() = default;
  // Asks for a file; answers false when the user cancelled (`path` is then left as it was).
  virtual bool ChooseFile(FileDialog mode, std::string& path) = 0;
  // Shows one of the program's messages; `detail` (may be empty) says what exactly went wrong and
  // is shown apart from the text, which stays exact.
  virtual void ShowMessage(const std::string& text, MessageType type, const std::string& detail) = 0;
  virtual void BeginWaitCursor() = 0;
  virtual void EndWaitCursor() = 0;
  // The text of a string id (see app/texts.h).
  virtual std::string Text(unsigned id) = 0;
};

}  // namespace KX
