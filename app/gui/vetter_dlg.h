#pragma once
// The converter's main dialog: a "Start" button, a line of text and the conversion command behind
// the button, a shortcut and the window's context menu. It is the desktop front-end of the command
// flow: file dialogs, message boxes and the wait cursor.
#include <QDialog>
#include <QIcon>
#include <functional>
#include <optional>
#include <string>

#include "app/command_flow.h"
#include "app/converter_ui.h"
#include "app/gui/file_request.h"
#include "app/texts.h"

class QLabel;
class QPushButton;

namespace KX::gui {

// The program's icon, drawn so that no image file has to travel with the program.
QIcon ProgramIcon();

class CVetterDlg : public QDialog, public IConverterUi {
  Q_OBJECT

 public:
  // Command ids of the menu, the About item and the button; control id of the static text.
  enum CommandId : int {
    kIdAbout = 0x10,
    kIdStart = 1001,
    kIdDisplayText = 1002,
    kIdExit = 32771,
    kIdValidate = 32774,
  };

  // Answers the file the user chose, or nothing when the dialog was cancelled. Replaces the
  // file dialogs where nobody can click (tests, scripted runs).
  using FileChooser = std::function<std::optional<QString>(const FileRequest&)>;

  // Texts from the resource module beside the program, else the built-in ones.
  explicit CVetterDlg(QWidget* parent = nullptr);
  // Texts from the resource module in `resourceFolder`, else the built-in ones.
  explicit CVetterDlg(const std::string& resourceFolder, QWidget* parent = nullptr);
  ~CVetterDlg() override;

  // Runs a command as its menu item, shortcut or button does; unknown ids do nothing.
  void OnCommand(int id);

  void SetFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

  // How the last conversion command ended; nothing before the first one.
  std::optional<CommandOutcome> lastOutcome() const { return lastOutcome_; }
  // Wait cursors shown by the running command and not yet taken back.
  int waitCursorCount() const { return waitCount_; }

  // IConverterUi
  bool ChooseFile(FileDialog mode, std::string& path) override;
  void ShowMessage(const std::string& text, MessageType type, const std::string& detail) override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;
  std::string Text(unsigned id) override { return texts_.Text(id); }

 private:
  void BuildControls();
  void BuildCommands();
  void RunValidate();
  void ShowAbout();
  std::optional<QString> ShowFileDialog(const FileRequest& request);
  void DropWaitCursors();

  CTextTable texts_;
  FileChooser chooser_;
  QPushButton* start_ = nullptr;
  QLabel* displayText_ = nullptr;
  std::optional<CommandOutcome> lastOutcome_;
  int waitCount_ = 0;
  bool running_ = false;
};

}  // namespace KX::gui
