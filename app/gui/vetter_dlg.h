#pragma once
// The converter's main dialog: a "Start" button, a line of text and the conversion command behind
// the button, a menu button, shortcuts and the window's context menu. It is the desktop front-end
// of the command flow: file dialogs, message boxes and the wait cursor. The command itself runs
// on a thread of its own, so that the window keeps painting and shows its progress.
#include <QDialog>
#include <QIcon>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/command_flow.h"
#include "app/converter_ui.h"
#include "app/gui/command_runner.h"
#include "app/gui/file_request.h"
#include "app/texts.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QToolButton;

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
  // Runs the conversion command on `file` as if the user had pressed Start and chosen it: the
  // open dialog is skipped, everything after it (messages, save dialog) is as usual.
  void ConvertFile(const QString& file);

  void SetFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
  // Called on the command's thread before every read and write of a load or save.
  void SetStreamHook(std::function<void()> hook) { streamHook_ = std::move(hook); }

  // How the last conversion command ended; nothing before the first one.
  std::optional<CommandOutcome> lastOutcome() const { return lastOutcome_; }
  // Wait cursors shown by the running command and not yet taken back.
  int waitCursorCount() const { return waitCount_; }
  bool running() const { return running_; }

  // IConverterUi, on the user-interface thread.
  bool ChooseFile(FileDialog mode, std::string& path) override;
  void ShowMessage(const std::string& text, MessageType type, const std::string& detail) override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;
  std::string Text(unsigned id) override { return texts_.Text(id); }
  bool SaveFailed(const std::string& text, const std::string& detail) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void BuildCommands();
  void RunValidate();
  void ShowAbout();
  std::optional<QString> ShowFileDialog(const FileRequest& request);
  void DropWaitCursors();
  void SetWorking(bool working);
  void ShowProgress();
  bool AskToStop();

  CTextTable texts_;
  FileChooser chooser_;
  QString givenFile_;  // answers the next open dialog instead of the user (ConvertFile)
  std::function<void()> streamHook_;
  QPushButton* start_ = nullptr;
  QToolButton* menuButton_ = nullptr;
  QLabel* displayText_ = nullptr;
  QLabel* progressText_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QTimer progressTimer_;
  std::optional<CommandOutcome> lastOutcome_;
  QString source_;  // the scene of the running command
  QString target_;  // where its prop is being saved
  int waitCount_ = 0;
  bool running_ = false;
  bool closeWhenDone_ = false;
  std::unique_ptr<CWorkControl> control_;
  CCommandRunner* runner_ = nullptr;
};

}  // namespace KX::gui
