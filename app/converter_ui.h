#pragma once
// What the conversion command needs from a front-end: file choice, messages, the wait cursor,
// the texts, and the reading and writing of the two files. The desktop dialog and the
// command-line tool implement it; tests script it.
#include <string>
#include <vector>

#include "core/status.h"

namespace KX {

class CPersistContext;

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

  // Reads the chosen scene into `document` and writes the prop document to the chosen target, as
  // LoadFile and SaveFile do (by default, they do it). A front-end that shows progress or lets the
  // user stop a long load or save reads and writes through its own stream, with their
  // guarantees: a failed or stopped save leaves the target as it was and no file beside it.
  virtual Status LoadDocument(CPersistContext& document, const std::string& path);
  virtual Status SaveDocument(CPersistContext& document, const std::string& path);
  // Tells that the save failed: `text` is message 107, `detail` what went wrong. Answers true when
  // the user wants to save the converted scene somewhere else; the command then asks for another
  // target. By default the message is shown as any other and the command ends.
  virtual bool SaveFailed(const std::string& text, const std::string& detail);
  // Tells what the user should know about a scene that converted all the same (geometry whose
  // positions are not finite), a line each, before the prop is saved. Answers false when the
  // command must end there, nothing written (the scene then counts as not convertible). By
  // default nothing is shown and the command goes on.
  virtual bool AcceptWarnings(const std::vector<std::string>& warnings);
};

}  // namespace KX
