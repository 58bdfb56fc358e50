#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <vector>

#include <gtest/gtest.h>

#include "app/gui/about_dlg.h"
#include "app/gui/vetter_dlg.h"
#include "gui/modal_script.h"
#include "support/bytes.h"
#include "support/temp_dir.h"

namespace KX::gui {
namespace {

using test::ModalScript;

// Checks a message box against the text, icon and whether a detail came with it, then closes it.
// `waitCursor` says whether the command's wait cursor is on while the box is up.
ModalScript::Handler Expect(const std::string& text, QMessageBox::Icon icon, bool detail,
                            bool waitCursor) {
  return [=](QWidget* window) {
    auto* box = qobject_cast<QMessageBox*>(window);
    ASSERT_TRUE(box) << window->metaObject()->className();
    EXPECT_EQ(box->text().toStdString(), text);
    EXPECT_EQ(box->windowTitle(), "Recaster");
    EXPECT_EQ(box->icon(), icon);
    EXPECT_EQ(!box->detailedText().isEmpty(), detail) << box->detailedText().toStdString();
    const QCursor* cursor = QApplication::overrideCursor();
    EXPECT_EQ(cursor && cursor->shape() == Qt::WaitCursor, waitCursor);
    box->button(QMessageBox::Ok)->click();
  };
}

// The dialog with scripted file choices: each request is recorded and answered in turn.
struct ScriptedDialog {
  explicit ScriptedDialog(std::vector<std::optional<QString>> answers, std::string folder = "")
      : dialog(folder) {
    dialog.SetFileChooser([this, answers = std::move(answers)](const FileRequest& request) {
      requests.push_back(request);
      const size_t i = requests.size() - 1;
      return i < answers.size() ? answers[i] : std::nullopt;
    });
  }
  CVetterDlg dialog;
  std::vector<FileRequest> requests;
};

QAction* ActionOf(QWidget& widget, int id) {
  for (QAction* action : widget.actions())
    if (!action->isSeparator() && action->data().toInt() == id) return action;
  return nullptr;
}

std::string WriteFile(const test::TempDir& dir, const std::string& name, const test::Bytes& b) {
  return dir.File(name, std::string(b.data.begin(), b.data.end()));
}

// An old scene: a "Scene Root" node with one child node, which is a scene of a single object.
test::Bytes OldSingleObjectScene() {
  auto spatial = [](test::Bytes& b, int32_t id, const char* name) {
    b.I32(id).A(name).I32(0).I32(0).I32(0);  // CBase, CCorva
    for (int i = 0; i < 16; ++i) b.F32(i % 5 == 0 ? 1.0f : 0.0f);
    b.U8(1);
  };
  test::Bytes file = test::OldHeader("1.50").Append(test::OldEmptyThumbnail());
  file.A("_CorvaRoot").A("CNode");
  spatial(file, 1, "Scene Root");
  file.I32(0).U32(0).U8(0).U8(1).I32(1).I32(2);  // no unused ids; tag, options; child 2
  file.A("CNode");
  spatial(file, 2, "Box");
  file.I32(0).U32(0).U8(0).U8(1).I32(0);
  return file;
}

TEST(VetterDialog, StartsWithCaptionControlsAndLayout) {
  test::TempDir empty("kx_gui");
  CVetterDlg dialog(empty.path);
  EXPECT_EQ(dialog.windowTitle(), "Recaster");
  EXPECT_EQ(dialog.windowType(), Qt::Window);  // a task bar entry of its own
  EXPECT_EQ(dialog.font().pointSize(), 8);
  auto* start = dialog.findChild<QPushButton*>("startButton");
  auto* text = dialog.findChild<QLabel*>("displayText");
  ASSERT_TRUE(start && text);
  EXPECT_EQ(start->text(), "Start");
  EXPECT_EQ(text->text(), "");  // text 112 comes only from a resource module

  // 181 x 79 units; the controls at (60, 7, 54 x 13) and (7, 33, 167 x 39) in the same units,
  // a vertical unit being an eighth of a line of the dialog font.
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
  const double ux = dialog.width() / 181.0, uy = dialog.height() / 79.0;
  EXPECT_NEAR(uy * 8, QFontMetrics(dialog.font()).height(), 1.0);
  auto expectAt = [&](const QRect& r, double x, double y, double w, double h) {
    EXPECT_NEAR(r.x(), x * ux, 1.5);
    EXPECT_NEAR(r.y(), y * uy, 1.5);
    EXPECT_NEAR(r.width(), w * ux, 1.5);
    EXPECT_NEAR(r.height(), h * uy, 1.5);
  };
  expectAt(start->geometry(), 60, 7, 54, 13);
  expectAt(text->geometry(), 7, 33, 167, 39);

  EXPECT_EQ(dialog.contextMenuPolicy(), Qt::ActionsContextMenu);
  QAction* validate = ActionOf(dialog, CVetterDlg::kIdValidate);
  QAction* exit = ActionOf(dialog, CVetterDlg::kIdExit);
  QAction* about = ActionOf(dialog, CVetterDlg::kIdAbout);
  ASSERT_TRUE(validate && exit && about);
  EXPECT_EQ(validate->text(), "Validate Fabler2.5 3D Scene...");
  EXPECT_EQ(exit->text(), "Exit");
  EXPECT_EQ(about->text(), "&About Vetter...");
}

TEST(VetterDialog, TextsOfAResourceModuleAndSurvivingABrokenOne) {
  CVetterDlg withModule(KX_TEST_RESOURCE_DIR);
  EXPECT_EQ(withModule.findChild<QLabel*>("displayText")->text(), "Converts old scenes into props.");
  test::TempDir broken("kx_gui");
  broken.File(kResourceModuleName, "\x7f" "ELF but not really");
  CVetterDlg withoutModule(broken.path);
  EXPECT_EQ(withoutModule.findChild<QLabel*>("displayText")->text(), "");
  EXPECT_EQ(withoutModule.Text(kTextLoadFailed), "Error when loading file.");
}

TEST(VetterDialog, CancellingTheOpenDialogShowsNothing) {
  ScriptedDialog scripted({std::nullopt});
  {
    ModalScript script;  // no window expected
    QTest::mouseClick(scripted.dialog.findChild<QPushButton*>("startButton"), Qt::LeftButton);
    QTest::qWait(50);  // room for a window that should not come
  }
  ASSERT_EQ(scripted.requests.size(), 1u);
  const FileRequest& open = scripted.requests[0];
  EXPECT_EQ(open.mode, FileDialog::kOpen);
  EXPECT_EQ(open.nameFilter, "CRV Files (*.crv)");
  EXPECT_EQ(open.defaultSuffix, "crv");
  EXPECT_TRUE(open.fileMustExist);
  EXPECT_EQ(scripted.dialog.lastOutcome(), CommandOutcome::kCancelled);

  // The real file dialog, set up from the same request.
  CVetterDlg dialog;
  ModalScript script;
  script.Then("open dialog", [](QWidget* window) {
    auto* files = qobject_cast<QFileDialog*>(window);
    ASSERT_TRUE(files) << window->metaObject()->className();
    EXPECT_EQ(files->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(files->fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(files->nameFilters(), QStringList{"CRV Files (*.crv)"});
    EXPECT_EQ(files->defaultSuffix(), "crv");
    files->reject();
  });
  dialog.OnCommand(CVetterDlg::kIdValidate);
  EXPECT_EQ(dialog.lastOutcome(), CommandOutcome::kCancelled);
}

TEST(VetterDialog, EachOutcomeShowsItsMessage) {
  test::TempDir dir("kx_gui");
  const QString garbage = QString::fromStdString(dir.File("garbage.crv", "not a scene at all"));
  const QString old = QString::fromStdString(WriteFile(dir, "old.crv", OldSingleObjectScene()));
  CRefPtr<CNode> node(new CNode);
  CPersistContext document;
  EXPECT_TRUE(::KX::Succeeded(AddRoot(document, node.get())));
  const std::string currentPath = dir.Path("current.crv");
  ASSERT_EQ(SaveFile(0, document, currentPath), kOk);
  const QString current = QString::fromStdString(currentPath);
  const std::string target = dir.Path("out.fbprop");

  // The check's messages come while the wait cursor is still on, the others after it.
  const auto loadFailed = Expect("Error when loading file.", QMessageBox::Critical, true, false);
  const auto compatible = Expect(
      "This file is already compatible with Fabler3. There is no need to process it.",
      QMessageBox::Warning, false, true);
  const auto converted = Expect(
      "Fabler 3D Scene will be converted to 3D Prop and become compatible with Fabler3.",
      QMessageBox::Information, false, true);
  const auto saveFailed = Expect("Error when saving file.", QMessageBox::Critical, true, false);
  const auto finished = Expect("Process is finished. Please reload the props to your Fabler3.",
                               QMessageBox::Warning, false, false);
  const struct {
    const char* what;
    std::vector<std::optional<QString>> answers;
    std::vector<ModalScript::Handler> boxes;
    CommandOutcome outcome;
  } cases[] = {
      {"garbage", {garbage}, {loadFailed}, CommandOutcome::kLoadFailed},
      {"current layout", {current}, {compatible}, CommandOutcome::kAlreadyCompatible},
      {"save cancelled", {old, std::nullopt}, {converted}, CommandOutcome::kSaveCancelled},
      {"no such folder", {old, QString::fromStdString(dir.Path("missing/out.fbprop"))},
       {converted, saveFailed}, CommandOutcome::kSaveFailed},
      {"saved", {old, QString::fromStdString(target)}, {converted, finished},
       CommandOutcome::kSaved},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedDialog scripted(c.answers);
    {
      ModalScript script;
      for (const auto& box : c.boxes) script.Then(c.what, box);
      scripted.dialog.OnCommand(CVetterDlg::kIdStart);
    }
    EXPECT_EQ(scripted.dialog.lastOutcome(), c.outcome);
    EXPECT_EQ(scripted.requests.size(), c.answers.size());  // no save dialog before 104
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    if (scripted.requests.size() < 2) continue;
    const FileRequest& save = scripted.requests[1];
    EXPECT_EQ(save.mode, FileDialog::kSave);
    EXPECT_EQ(save.nameFilter, "Fabler Prop Files (*.fbprop *.crv)");
    EXPECT_EQ(save.defaultSuffix, "fbprop");
    EXPECT_TRUE(save.initialName.isEmpty());  // even though the source is known
    EXPECT_TRUE(save.confirmOverwrite);
    EXPECT_FALSE(save.fileMustExist);  // a new target has to be possible
  }
  CPersistContext written;
  ASSERT_EQ(LoadFile(0, written, target), kOk);
  ASSERT_EQ(written.roots.size(), 1u);
  EXPECT_TRUE(KindOf<CNode>(written.roots[0].get()));
}

TEST(VetterDialog, AboutBoxShortcutsAndExitWhileRunningModally) {
  ScriptedDialog scripted({std::nullopt});
  bool aboutShown = false;
  ModalScript script;
  script.Then("main dialog", [&](QWidget* window) {
    ASSERT_EQ(window, &scripted.dialog);
    QMetaObject::invokeMethod(
        window, [&] { ActionOf(scripted.dialog, CVetterDlg::kIdAbout)->trigger(); },
        Qt::QueuedConnection);
  });
  script.Then("about box", [&](QWidget* window) {
    auto* about = qobject_cast<CAboutDlg*>(window);
    ASSERT_TRUE(about) << window->metaObject()->className();
    aboutShown = true;
    EXPECT_TRUE(about->isModal());
    about->findChild<QPushButton*>("aboutOk")->click();
    // Back in the main dialog: Ctrl+O asks for a file (cancelled), Ctrl+Q closes as with OK.
    QMetaObject::invokeMethod(
        &scripted.dialog,
        [&] {
          // Shortcuts of a window reach it only while it is the active one.
          scripted.dialog.activateWindow();
          EXPECT_TRUE(QTest::qWaitForWindowActive(&scripted.dialog));
          QTest::keyClick(&scripted.dialog, Qt::Key_O, Qt::ControlModifier);
          QTest::keyClick(&scripted.dialog, Qt::Key_Q, Qt::ControlModifier);
        },
        Qt::QueuedConnection);
  });
  EXPECT_EQ(scripted.dialog.exec(), QDialog::Accepted);
  EXPECT_TRUE(aboutShown);
  EXPECT_EQ(scripted.requests.size(), 1u);
  EXPECT_FALSE(scripted.dialog.isVisible());
}

}  // namespace
}  // namespace KX::gui
