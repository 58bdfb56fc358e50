#include "app/gui/vetter_dlg.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <exception>

#include "app/gui/about_dlg.h"
#include "app/gui/dialog_units.h"

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

  start_->setFocus();
}

void CVetterDlg::BuildCommands() {
  // There is no system menu every platform lets us extend, so the window's context menu carries
  // the commands, with shortcuts for the keyboard.
  setContextMenuPolicy(Qt::ActionsContextMenu);
  auto add = [this](const QString& text, int id, const QKeySequence& shortcut) {
    auto* action = new QAction(text, this);
    action->setData(id);
    action->setShortcut(shortcut);
    action->setShortcutContext(Qt::WindowShortcut);
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
}

void CVetterDlg::OnCommand(int id) {
  switch (id) {
    case kIdAbout: ShowAbout(); break;
    case kIdExit: accept(); break;
    case kIdValidate:
    case kIdStart: RunValidate(); break;
    default: break;
  }
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
  try {
    lastOutcome_ = OnValidate(*this);
  } catch (const std::exception& e) {
    // Nothing may leave a slot by an exception; the user learns that the command stopped.
    DropWaitCursors();
    ShowMessage("The command stopped unexpectedly.", kMessageError, e.what());
    lastOutcome_.reset();
  }
  // The command balances its wait cursors; this only guards against one left on for good.
  DropWaitCursors();
  running_ = false;
}

bool CVetterDlg::ChooseFile(FileDialog mode, std::string& path) {
  const FileRequest request = MakeFileRequest(mode, *this);
  const std::optional<QString> chosen = chooser_ ? chooser_(request) : ShowFileDialog(request);
  if (!chosen || chosen->isEmpty()) return false;
  // The library opens files by their name in the file system's encoding.
  path = QFile::encodeName(*chosen).toStdString();
  return true;
}

std::optional<QString> CVetterDlg::ShowFileDialog(const FileRequest& request) {
  const bool open = request.mode == FileDialog::kOpen;
  QFileDialog dialog(this, open ? QStringLiteral("Open") : QStringLiteral("Save As"));
  dialog.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  dialog.setFileMode(request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  if (!request.nameFilter.isEmpty()) dialog.setNameFilter(request.nameFilter);
  dialog.setDefaultSuffix(request.defaultSuffix);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
  dialog.selectFile(request.initialName);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  return files.front();
}

void CVetterDlg::ShowMessage(const std::string& text, MessageType type, const std::string& detail) {
  QMessageBox box(IconOf(type), kCaption, QString::fromStdString(text), QMessageBox::Ok, this);
  // The texts are shown as they are, whatever they look like.
  box.setTextFormat(Qt::PlainText);
  // The detail goes apart so that the main text stays exactly the program's text.
  if (!detail.empty()) box.setDetailedText(QString::fromStdString(detail));
  box.exec();
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
