#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <filesystem>
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
  EXPECT_EQ(dialog.parentWidget(), nullptr);
  EXPECT_EQ(dialog.font().pointSize(), 8);

  auto* start = dialog.findChild<QPushButton*>("startButton");
  auto* text = dialog.findChild<QLabel*>("displayText");
  ASSERT_TRUE(start && text);
  EXPECT_EQ(start->text(), "Start");
  EXPECT_EQ(text->text(), "");  // text 112 comes only from a resource module

  // 181 x 79 units; the controls at (60, 7, 54 x 13) and (7, 33, 167 x 39) in the same units.
  const QSize size = dialog.size();
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
  const double ux = size.width() / 181.0, uy = size.height() / 79.0;
  auto near = [&](const QRect& r, double x, double y, double w, double h) {
    EXPECT_NEAR(r.x(), x * ux, 1.5);
    EXPECT_NEAR(r.y(), y * uy, 1.5);
    EXPECT_NEAR(r.width(), w * ux, 1.5);
    EXPECT_NEAR(r.height(), h * uy, 1.5);
  };
  near(start->geometry(), 60, 7, 54, 13);
  near(text->geometry(), 7, 33, 167, 39);
  // Units follow the font: a line of text is eight vertical units, a character about four across.
  const QFontMetrics metrics(dialog.font());
  EXPECT_NEAR(uy * 8, metrics.height(), 1.0);
  EXPECT_NEAR(ux * 4, metrics.averageCharWidth(), metrics.averageCharWidth() / 2.0 + 1);

  // The commands of the menu and the About item, with their shortcuts.
  EXPECT_EQ(dialog.contextMenuPolicy(), Qt::ActionsContextMenu);
  QAction* validate = ActionOf(dialog, CVetterDlg::kIdValidate);
  QAction* exit = ActionOf(dialog, CVetterDlg::kIdExit);
  QAction* about = ActionOf(dialog, CVetterDlg::kIdAbout);
  ASSERT_TRUE(validate && exit && about);
  EXPECT_EQ(validate->text(), "Validate Fabler2.5 3D Scene...");
  EXPECT_EQ(validate->shortcut(), QKeySequence("Ctrl+O"));
  EXPECT_EQ(exit->text(), "Exit");
  EXPECT_EQ(exit->shortcut(), QKeySequence("Ctrl+Q"));
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
  ModalScript script;  // no window expected
  QTest::mouseClick(scripted.dialog.findChild<QPushButton*>("startButton"), Qt::LeftButton);
  ASSERT_EQ(scripted.requests.size(), 1u);
  const FileRequest& open = scripted.requests[0];
  EXPECT_EQ(open.mode, FileDialog::kOpen);
  EXPECT_EQ(open.nameFilter, "CRV Files (*.crv)");
  EXPECT_EQ(open.defaultSuffix, "crv");
  EXPECT_TRUE(open.fileMustExist);
  EXPECT_TRUE(open.initialName.isEmpty());
  EXPECT_EQ(scripted.dialog.lastOutcome(), CommandOutcome::kCancelled);
  QTest::qWait(50);  // room for a window that should not come
  EXPECT_EQ(script.handled(), 0);
}

TEST(VetterDialog, TheRealOpenDialogAsksForAnExistingSceneAndCanBeCancelled) {
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

TEST(VetterDialog, UnreadableAndAlreadyCompatibleFilesGetTheirMessages) {
  test::TempDir dir("kx_gui");
  const QString garbage = QString::fromStdString(dir.File("garbage.crv", "not a scene at all"));
  CRefPtr<CNode> node(new CNode);
  CPersistContext current;
  AddRoot(current, node.get());
  const std::string currentPath = dir.Path("current.crv");
  ASSERT_EQ(SaveFile(0, current, currentPath), kOk);

  ScriptedDialog scripted({garbage});
  {
    ModalScript script;
    // The wait cursor is gone before the load failure is told.
    script.Then("102", Expect("Error when loading file.", QMessageBox::Critical, true, false));
    scripted.dialog.OnCommand(CVetterDlg::kIdStart);
  }
  EXPECT_EQ(scripted.dialog.lastOutcome(), CommandOutcome::kLoadFailed);

  ScriptedDialog second({QString::fromStdString(currentPath)});
  {
    ModalScript script;
    // The check's messages come while the wait cursor is still on.
    script.Then("105", Expect("This file is already compatible with Fabler3. There is no need to "
                              "process it.",
                              QMessageBox::Warning, false, true));
    second.dialog.OnCommand(CVetterDlg::kIdValidate);
  }
  EXPECT_EQ(second.dialog.lastOutcome(), CommandOutcome::kAlreadyCompatible);
  EXPECT_EQ(second.requests.size(), 1u);  // no save dialog
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(second.dialog.waitCursorCount(), 0);
}

TEST(VetterDialog, AnOldFileWithoutASceneIsRejected) {
  test::TempDir dir("kx_gui");
  const std::string path =
      WriteFile(dir, "empty.crv", test::OldHeader("1.50").Append(test::OldEmptyThumbnail()));
  ScriptedDialog scripted({QString::fromStdString(path)});
  ModalScript script;
  script.Then("103", Expect("This is not a valid Fabler 3D Scene file.", QMessageBox::Critical,
                            true, true));
  scripted.dialog.OnCommand(CVetterDlg::kIdStart);
  EXPECT_EQ(scripted.dialog.lastOutcome(), CommandOutcome::kNotAScene);
  EXPECT_EQ(scripted.requests.size(), 1u);
}

TEST(VetterDialog, AnOldSceneIsConvertedAndSaved) {
  test::TempDir dir("kx_gui");
  const std::string source = WriteFile(dir, "scene.crv", OldSingleObjectScene());
  const std::string target = dir.Path("scene.fbprop");
  ScriptedDialog scripted({QString::fromStdString(source), QString::fromStdString(target)});
  {
    ModalScript script;
    script.Then("104", Expect("Fabler 3D Scene will be converted to 3D Prop and become compatible "
                              "with Fabler3.",
                              QMessageBox::Information, false, true));
    script.Then("106", Expect("Process is finished. Please reload the props to your Fabler3.",
                              QMessageBox::Warning, false, false));
    scripted.dialog.OnCommand(CVetterDlg::kIdStart);
  }
  EXPECT_EQ(scripted.dialog.lastOutcome(), CommandOutcome::kSaved);
  ASSERT_EQ(scripted.requests.size(), 2u);
  const FileRequest& save = scripted.requests[1];
  EXPECT_EQ(save.mode, FileDialog::kSave);
  EXPECT_EQ(save.nameFilter, "Fabler Prop Files (*.fbprop *.crv)");
  EXPECT_EQ(save.defaultSuffix, "fbprop");
  EXPECT_TRUE(save.initialName.isEmpty());  // even though the source is known
  EXPECT_TRUE(save.confirmOverwrite);
  EXPECT_FALSE(save.fileMustExist);  // a new target has to be possible

  CPersistContext written;
  ASSERT_EQ(LoadFile(0, written, target), kOk);
  EXPECT_GE(written.version, kFirstNewLayoutVersion);
  ASSERT_EQ(written.roots.size(), 1u);
  EXPECT_TRUE(KindOf<CNode>(written.roots[0].get()));
}

TEST(VetterDialog, AFailedSaveIsToldWithItsDetailAndACancelledOneSilently) {
  test::TempDir dir("kx_gui");
  const QString source = QString::fromStdString(WriteFile(dir, "scene.crv", OldSingleObjectScene()));
  const QString nowhere = QString::fromStdString(dir.Path("missing/folder/out.fbprop"));
  const auto info = Expect("Fabler 3D Scene will be converted to 3D Prop and become compatible "
                           "with Fabler3.",
                           QMessageBox::Information, false, true);

  ScriptedDialog failing({source, nowhere});
  {
    ModalScript script;
    script.Then("104", info);
    script.Then("107", Expect("Error when saving file.", QMessageBox::Critical, true, false));
    failing.dialog.OnCommand(CVetterDlg::kIdStart);
  }
  EXPECT_EQ(failing.dialog.lastOutcome(), CommandOutcome::kSaveFailed);

  ScriptedDialog cancelled({source, std::nullopt});
  {
    ModalScript script;
    script.Then("104", info);
    cancelled.dialog.OnCommand(CVetterDlg::kIdStart);
  }
  EXPECT_EQ(cancelled.dialog.lastOutcome(), CommandOutcome::kSaveCancelled);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path),
                          std::filesystem::directory_iterator()),
            1);  // only the source
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
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
