#include "app/gui/vetter_dlg.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <exception>
#include <utility>

#include "app/gui/about_dlg.h"
#include "app/gui/dialog_units.h"
#include "app/gui/file_dialog.h"

namespace KX::gui {

namespace {

const QString kCaption = QStringLiteral("Recaster");

QMessageBox::Icon IconOf(MessageType type) {
  switch (type) {
    case kMessageError: return QMessageBox::Critical;
    case kMessageWarning: return QMessageBox::Warning;
    case kMessageInformation: return QMessageBox::Information;
  }
  return QMessageBox::NoIcon;
}

QPixmap DrawIcon(int side) {
  QPixmap pixmap(side, side);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x1F, 0x6F, 0x8B));
  painter.drawRoundedRect(QRectF(0, 0, side, side), side / 6.0, side / 6.0);
  QFont font = painter.font();
  font.setBold(true);
  font.setPixelSize(side * 2 / 3);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(QRect(0, 0, side, side), Qt::AlignCenter, QStringLiteral("R"));
  return pixmap;
}

// Three bars, the usual sign of a menu, in the button text's colour.
QIcon MenuIcon(const QColor& color) {
  QIcon icon;
  for (const int side : {16, 32}) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    const int bar = std::max(2, side / 8);
    for (int i = 0; i < 3; ++i)
      painter.fillRect(QRect(side / 8, side / 4 + i * (side / 4) - bar / 2, side * 3 / 4, bar), color);
    icon.addPixmap(pixmap);
  }
  return icon;
}

QString FileNameOf(const std::string& path) {
  return QFileInfo(QFile::decodeName(QByteArray::fromStdString(path))).fileName();
}

}  // namespace

QIcon ProgramIcon() {
  QIcon icon;
  for (const int side : {16, 32, 48}) icon.addPixmap(DrawIcon(side));
  return icon;
}

CVetterDlg::CVetterDlg(QWidget* parent) : CVetterDlg(ExecutableFolder(), parent) {}

CVetterDlg::CVetterDlg(const std::string& resourceFolder, QWidget* parent)
    : QDialog(parent), texts_(resourceFolder) {
  setObjectName(QStringLiteral("vetterDialog"));
  // A window of its own, so that it has a task bar entry even though it is a dialog.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowTitle(kCaption);
  setWindowIcon(ProgramIcon());
  setFont(DialogFont());
  BuildControls();
  BuildCommands();
  progressTimer_.setInterval(50);
  connect(&progressTimer_, &QTimer::timeout, this, [this] { ShowProgress(); });
}

CVetterDlg::~CVetterDlg() { DropWaitCursors(); }

void CVetterDlg::BuildControls() {
  const CDialogUnits units(font());
  setFixedSize(units.Size(181, 79));

  start_ = new QPushButton(QStringLiteral("Start"), this);
  start_->setObjectName(QStringLiteral("startButton"));
  start_->setGeometry(units.Rect(60, 7, 54, 13));
  connect(start_, &QPushButton::clicked, this, [this] { OnCommand(kIdStart); });

  // Text 112 exists only in a resource module; without one the control stays empty.
  displayText_ = new QLabel(QString::fromStdString(texts_.Text(kTextDialog)), this);
  displayText_->setObjectName(QStringLiteral("displayText"));
  displayText_->setTextFormat(Qt::PlainText);
  displayText_->setWordWrap(true);
  displayText_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  displayText_->setGeometry(units.Rect(7, 33, 167, 39));

  // While a command works, its progress takes the place of the text: what it does to which file,
  // and how far it has come where the size is known.
  progressText_ = new QLabel(this);
  progressText_->setObjectName(QStringLiteral("progressText"));
  progressText_->setTextFormat(Qt::PlainText);
  progressText_->setGeometry(units.Rect(7, 33, 167, 10));
  progressText_->hide();
  progressBar_ = new QProgressBar(this);
  progressBar_->setObjectName(QStringLiteral("progressBar"));
  progressBar_->setTextVisible(false);
  progressBar_->setGeometry(units.Rect(7, 45, 167, 9));
  progressBar_->hide();

  start_->setFocus();
}

void CVetterDlg::BuildCommands() {
  // There is no system menu every platform lets us extend, so the commands live in a menu of the
  // window: behind the menu button, where a new user sees them, and on a right click.
  setContextMenuPolicy(Qt::ActionsContextMenu);
  auto add = [this](const QString& text, int id, const QKeySequence& shortcut) {
    auto* action = new QAction(text, this);
    action->setData(id);
    action->setShortcut(shortcut);
    action->setShortcutContext(Qt::WindowShortcut);
    // The menu is where the user learns the shortcuts.
    action->setShortcutVisibleInContextMenu(true);
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    addAction(action);
    return action;
  };
  add(QStringLiteral("Validate Fabler2.5 3D Scene..."), kIdValidate, QKeySequence(Qt::CTRL | Qt::Key_O));
  add(QStringLiteral("Exit"), kIdExit, QKeySequence(Qt::CTRL | Qt::Key_Q));
  const QString about = QString::fromStdString(texts_.Text(kTextAbout));
  if (!about.isEmpty()) {
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    addAction(separator);
    add(about, kIdAbout, QKeySequence());
  }

  auto* menu = new QMenu(this);
  menu->setObjectName(QStringLiteral("commandMenu"));
  menu->addActions(actions());
  const CDialogUnits units(font());
  menuButton_ = new QToolButton(this);
  menuButton_->setObjectName(QStringLiteral("menuButton"));
  menuButton_->setIcon(MenuIcon(palette().color(QPalette::ButtonText)));
  menuButton_->setAccessibleName(QStringLiteral("Menu"));
  menuButton_->setToolTip(QStringLiteral(
      "Menu: Validate (Ctrl+O), About, Exit (Ctrl+Q).\nA right click on the window opens it too."));
  menuButton_->setPopupMode(QToolButton::InstantPopup);
  menuButton_->setMenu(menu);
  menuButton_->setGeometry(units.Rect(160, 7, 14, 13));
  // The menu's arrow would crowd the small button; the bars say it all.
  menuButton_->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0; }"));
}

void CVetterDlg::OnCommand(int id) {
  switch (id) {
    case kIdAbout:
      if (!running_) ShowAbout();
      break;
    case kIdExit:
      // While a command works, leaving asks first, as closing the window does.
      if (running_) close();
      else accept();
      break;
    case kIdValidate:
    case kIdStart: RunValidate(); break;
    default: break;
  }
}

void CVetterDlg::ConvertFile(const QString& file) {
  if (running_ || file.isEmpty()) return;
  givenFile_ = file;
  RunValidate();
  givenFile_.clear();
}

void CVetterDlg::keyPressEvent(QKeyEvent* event) {
  // Escape would close the dialog, and with it the program, at a single stray key; the window
  // closes only when asked to (Exit, Ctrl+Q, the close button).
  if (event->matches(QKeySequence::Cancel)) {
    event->accept();
    return;
  }
  // The menu button does not take Enter itself; the dialog would press its default button, Start,
  // instead of opening the menu the focus is on.
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && menuButton_ &&
      menuButton_->hasFocus()) {
    event->accept();
    menuButton_->showMenu();
    return;
  }
  QDialog::keyPressEvent(event);
}

void CVetterDlg::closeEvent(QCloseEvent* event) {
  if (!running_) {
    QDialog::closeEvent(event);
    return;
  }
  // The command cannot be left behind: asked to stop, it ends at its next read or write, and the
  // window closes once it has.
  event->ignore();
  if (!closeWhenDone_ && runner_ && AskToStop()) closeWhenDone_ = true;
}

bool CVetterDlg::AskToStop() {
  // Nothing else opens and nothing more is read or written while the user decides.
  runner_->Hold(true);
  const CWorkControl::Snapshot now = control_->Current();
  const bool saving = now.phase == CWorkControl::Phase::kSaving;
  const QString name = now.file.empty() ? QFileInfo(source_).fileName() : FileNameOf(now.file);
  QMessageBox box(QMessageBox::Question, kCaption,
                  (saving ? QStringLiteral("Stop saving \u201C%1\u201D and close Recaster?")
                          : QStringLiteral("Stop converting \u201C%1\u201D and close Recaster?"))
                      .arg(name),
                  QMessageBox::NoButton, this);
  box.setObjectName(QStringLiteral("stopQuestion"));
  box.setTextFormat(Qt::PlainText);
  box.setInformativeText(saving ? QStringLiteral("The prop will not be written; a file already "
                                                 "there keeps its content.")
                                : QStringLiteral("Nothing will be written."));
  QPushButton* stop = box.addButton(QStringLiteral("Stop"), QMessageBox::DestructiveRole);
  QPushButton* keepOn = box.addButton(QStringLiteral("Continue"), QMessageBox::RejectRole);
  box.setDefaultButton(keepOn);
  box.setEscapeButton(keepOn);
  box.exec();
  const bool stopping = box.clickedButton() == stop;
  if (stopping) control_->Stop();
  runner_->Hold(false);
  return stopping;
}

void CVetterDlg::ShowAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CVetterDlg::RunValidate() {
  // A shortcut pressed while a message box of the running command is up must not start a second
  // command inside the first.
  if (running_) return;
  running_ = true;
  control_ = std::make_unique<CWorkControl>();
  control_->SetStreamHook(streamHook_);
  SetWorking(true);
  try {
    CCommandRunner runner(*this, *control_);
    runner_ = &runner;
    target_.clear();
    lastOutcome_ = runner.Run();
    if (lastOutcome_ == CommandOutcome::kSaved && !target_.isEmpty()) RememberSaved(source_, target_);
  } catch (const std::exception& e) {
    // Nothing may leave a slot by an exception; the user learns that the command stopped.
    runner_ = nullptr;
    DropWaitCursors();
    ShowMessage("The command stopped unexpectedly.", kMessageError, e.what());
    lastOutcome_.reset();
  }
  runner_ = nullptr;
  SetWorking(false);
  control_.reset();
  // The command balances its wait cursors; this only guards against one left on for good.
  DropWaitCursors();
  running_ = false;
  if (closeWhenDone_) {
    closeWhenDone_ = false;
    reject();
  }
}

void CVetterDlg::SetWorking(bool working) {
  start_->setEnabled(!working);
  for (QAction* action : actions()) {
    const int id = action->data().toInt();
    if (id == kIdValidate || id == kIdAbout) action->setEnabled(!working);
  }
  if (working) {
    progressTimer_.start();
  } else {
    progressTimer_.stop();
    start_->setFocus();
  }
  ShowProgress();
}

void CVetterDlg::ShowProgress() {
  const CWorkControl::Snapshot now = control_ ? control_->Current() : CWorkControl::Snapshot{};
  const bool busy = now.phase != CWorkControl::Phase::kIdle;
  if (busy) {
    const char* doing = now.phase == CWorkControl::Phase::kLoading   ? "Loading"
                        : now.phase == CWorkControl::Phase::kSaving ? "Saving"
                                                                    : "Converting";
    const QString text = QStringLiteral("%1 %2\u2026").arg(QLatin1String(doing), FileNameOf(now.file));
    progressText_->setText(progressText_->fontMetrics().elidedText(text, Qt::ElideMiddle,
                                                                   progressText_->width()));
    // The conversion has no measure; a load and a save are measured in bytes once the size is
    // known (a save knows it after collecting what it writes).
    if (now.phase == CWorkControl::Phase::kChecking || now.total == 0) {
      progressBar_->setRange(0, 0);
    } else {
      progressBar_->setRange(0, 1000);
      progressBar_->setValue(static_cast<int>(std::min<uint64_t>(now.done, now.total) * 1000 / now.total));
    }
  }
  progressText_->setVisible(busy);
  progressBar_->setVisible(busy);
  displayText_->setVisible(!busy);
}

bool CVetterDlg::ChooseFile(FileDialog mode, std::string& path) {
  ShowProgress();
  const bool open = mode == FileDialog::kOpen;
  FileRequest request = MakeFileRequest(mode, *this);
  request.source = source_;
  request.startFolder = open ? OpenStartFolder() : SaveStartFolder(source_);
  for (;;) {
    std::optional<QString> chosen;
    if (open && !givenFile_.isEmpty())
      chosen = std::exchange(givenFile_, QString());
    else
      chosen = chooser_ ? chooser_(request) : ShowFileDialog(request);
    if (!chosen || chosen->isEmpty()) return false;
    const QString file = QFileInfo(*chosen).absoluteFilePath();
    if (open) {
      source_ = file;
      RememberOpened(file);
    } else {
      // Our own dialog refuses these before it closes; a chooser of another kind might not. The
      // dialog comes back and the converted scene is kept.
      const QString problem = SaveTargetProblem(file, source_);
      if (!problem.isEmpty()) {
        ShowRefusal(this, problem);
        continue;
      }
      // Remembered once the prop is saved there: a failed or cancelled save leaves the folder
      // the next save of this scene's folder starts in as it was.
      target_ = file;
    }
    // The library opens files by their name in the file system's encoding.
    path = QFile::encodeName(file).toStdString();
    return true;
  }
}

std::optional<QString> CVetterDlg::ShowFileDialog(const FileRequest& request) {
  CFileDialog dialog(request, this);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  return files.front();
}

void CVetterDlg::ShowMessage(const std::string& text, MessageType type, const std::string& detail) {
  ShowProgress();
  QMessageBox box(IconOf(type), kCaption, QString::fromStdString(text), QMessageBox::Ok, this);
  // The texts are shown as they are, whatever they look like.
  box.setTextFormat(Qt::PlainText);
  // The detail goes apart so that the main text stays exactly the program's text.
  if (!detail.empty()) box.setDetailedText(QString::fromStdString(detail));
  box.exec();
}

bool CVetterDlg::SaveFailed(const std::string& text, const std::string& detail) {
  ShowProgress();
  QMessageBox box(QMessageBox::Critical, kCaption, QString::fromStdString(text),
                  QMessageBox::NoButton, this);
  box.setObjectName(QStringLiteral("saveFailed"));
  box.setTextFormat(Qt::PlainText);
  box.setInformativeText(QStringLiteral("The converted scene is kept until you save it elsewhere "
                                        "or discard it."));
  if (!detail.empty()) box.setDetailedText(QString::fromStdString(detail));
  QPushButton* elsewhere = box.addButton(QStringLiteral("Save Elsewhere..."), QMessageBox::AcceptRole);
  QPushButton* discard = box.addButton(QStringLiteral("Discard"), QMessageBox::RejectRole);
  box.setDefaultButton(elsewhere);
  box.setEscapeButton(discard);
  box.exec();
  return box.clickedButton() == elsewhere;
}

void CVetterDlg::BeginWaitCursor() {
  QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  ++waitCount_;
}

void CVetterDlg::EndWaitCursor() {
  if (waitCount_ == 0) return;
  --waitCount_;
  QApplication::restoreOverrideCursor();
}

void CVetterDlg::DropWaitCursors() {
  while (waitCount_ > 0) EndWaitCursor();
}

}  // namespace KX::gui
