#include <sys/resource.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QDateTime>
#include <QLocale>
#include <QTimer>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QTreeView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QToolButton>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "app/gui/about_dlg.h"
#include "app/gui/file_dialog.h"
#include "gui/dialog_fixtures.h"
#include "support/legacy_scene.h"

namespace KX::gui {
namespace {

using namespace test;

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

  // The same commands behind a menu button a new user can see, with their shortcuts shown.
  auto* menuButton = dialog.findChild<QToolButton*>("menuButton");
  ASSERT_TRUE(menuButton && menuButton->menu());
  EXPECT_FALSE(menuButton->isHidden());
  EXPECT_FALSE(menuButton->toolTip().isEmpty());
  EXPECT_EQ(menuButton->menu()->actions(), dialog.actions());
  EXPECT_TRUE(validate->isShortcutVisibleInContextMenu());
  EXPECT_EQ(validate->shortcut(), QKeySequence("Ctrl+O"));
  EXPECT_EQ(exit->shortcut(), QKeySequence("Ctrl+Q"));
  EXPECT_TRUE(dialog.rect().contains(menuButton->geometry()));
  EXPECT_FALSE(menuButton->geometry().intersects(start->geometry()));
  // The progress shows only while a command works.
  EXPECT_TRUE(dialog.findChild<QProgressBar*>("progressBar")->isHidden());
  EXPECT_TRUE(dialog.findChild<QLabel*>("progressText")->isHidden());
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
  const QString old = QString::fromStdString(WriteFile(dir, "old.crv", OldScene()));
  const QString rootless = QString::fromStdString(WriteFile(dir, "rootless.crv", OldFileWithoutRoot()));
  CRefPtr<CNode> node(new CNode);
  CPersistContext document;
  EXPECT_TRUE(::KX::Succeeded(AddRoot(document, node.get())));
  const std::string currentPath = dir.Path("current.crv");
  ASSERT_EQ(SaveFile(0, document, currentPath), kOk);
  const QString current = QString::fromStdString(currentPath);
  const std::string target = dir.Path("out.fbprop");
  // A name the file system cannot take: the save itself fails.
  const QString unwritable = QString::fromStdString(dir.Path(std::string(300, 'x') + ".fbprop"));

  // The check's messages come while the wait cursor is still on, the others after it.
  const auto loadFailed = Expect("Error when loading file.", QMessageBox::Critical, true, false);
  const auto compatible = Expect(
      "This file is already compatible with Fabler3. There is no need to process it.",
      QMessageBox::Warning, false, true);
  const auto notAScene = Expect(kNotAScene, QMessageBox::Critical, true, true);
  const auto converted = Expect(kWillConvert, QMessageBox::Information, false, true);
  const auto saveFailed = Expect(kSaveFailed, QMessageBox::Critical, true, false, "Discard");
  const auto finished = Expect(kFinished, QMessageBox::Warning, false, false);
  const struct {
    const char* what;
    std::vector<std::optional<QString>> answers;
    std::vector<ModalScript::Handler> boxes;
    CommandOutcome outcome;
  } cases[] = {
      {"garbage", {garbage}, {loadFailed}, CommandOutcome::kLoadFailed},
      {"current layout", {current}, {compatible}, CommandOutcome::kAlreadyCompatible},
      {"no root", {rootless}, {notAScene}, CommandOutcome::kNotAScene},
      {"save cancelled", {old, std::nullopt}, {converted}, CommandOutcome::kSaveCancelled},
      {"save failed, discarded", {old, unwritable}, {converted, saveFailed},
       CommandOutcome::kSaveFailed},
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
    EXPECT_TRUE(scripted.dialog.findChild<QLabel*>("displayText")->isVisibleTo(&scripted.dialog));
    if (scripted.requests.size() < 2) continue;
    const FileRequest& save = scripted.requests[1];
    EXPECT_EQ(save.mode, FileDialog::kSave);
    EXPECT_EQ(save.nameFilter, "Fabler Prop Files (*.fbprop *.crv)");
    EXPECT_EQ(save.filterLabels, QStringList{"Fabler Prop Files (*.fbprop;*.crv)"});
    EXPECT_EQ(save.defaultSuffix, "fbprop");
    EXPECT_TRUE(save.initialName.isEmpty());  // even though the source is known
    EXPECT_EQ(save.source, old);
    EXPECT_TRUE(save.confirmOverwrite);
    EXPECT_FALSE(save.fileMustExist);  // a new target has to be possible
  }
  CPersistContext written;
  ASSERT_EQ(LoadFile(0, written, target), kOk);
  ASSERT_EQ(written.roots.size(), 1u);
  EXPECT_TRUE(KindOf<CNode>(written.roots[0].get()));
  // Nothing of the failed save is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 5);
}

// What the load dropped comes with the message that tells whether the scene converts.
TEST(VetterDialog, LoadWarningsComeWithTheVerdict) {
  test::TempDir dir("kx_gui");
  KX::test::LegacyScene scene("1.50");
  const auto root = scene.Root(u"Props");
  const auto mesh = scene.Mesh(u"Tri", KX::test::LegacyMesh::Triangle());
  scene.SetMaterial(mesh, scene.Material({}));
  scene.AddChild(root, mesh);
  scene.AddChild(root, scene.Material({}, u"Stray"));
  const std::vector<uint8_t> bytes = scene.Bytes();
  const QString warned = QString::fromStdString(
      dir.File("warned.crv", std::string(bytes.begin(), bytes.end())));
  std::string detail;
  ScriptedDialog scripted({warned, std::nullopt});
  {
    ModalScript script;
    script.Then("verdict", Expect(kWillConvert, QMessageBox::Information, true, true,
                                  QStringLiteral("OK"), &detail));
    scripted.dialog.OnCommand(CVetterDlg::kIdStart);
  }
  EXPECT_EQ(scripted.dialog.lastOutcome(), CommandOutcome::kSaveCancelled);
  EXPECT_TRUE(detail.starts_with("warning: a CNode record at offset ")) << detail;
  EXPECT_NE(detail.find("refers to a CStandardMaterial where a CSpatial belongs"),
            std::string::npos);
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A scene given on the command line (a desktop opening a .crv file) skips the open dialog only;
// the messages and the save dialog come as after Start, and Start asks again afterwards.
TEST(VetterDialog, AGivenSceneIsConvertedWithoutTheOpenDialog) {
  test::TempDir dir("kx_gui");
  const QString old = QString::fromStdString(WriteFile(dir, "old.crv", OldScene()));
  const QString target = QString::fromStdString(dir.Path("given.fbprop"));
  ScriptedDialog scripted({target, std::nullopt});
  {
    ModalScript script;
    script.Then("converted", Expect(kWillConvert, QMessageBox::Information, false, true));
    script.Then("finished", Expect(kFinished, QMessageBox::Warning, false, false));
    scripted.dialog.ConvertFile(old);
  }
  EXPECT_EQ(scripted.dialog.lastOutcome(), CommandOutcome::kSaved);
  ASSERT_EQ(scripted.requests.size(), 1u);
  EXPECT_EQ(scripted.requests[0].mode, FileDialog::kSave);
  EXPECT_EQ(scripted.requests[0].source, old);
  EXPECT_TRUE(QFileInfo::exists(target));

  scripted.dialog.OnCommand(CVetterDlg::kIdStart);
  ASSERT_EQ(scripted.requests.size(), 2u);
  EXPECT_EQ(scripted.requests[1].mode, FileDialog::kOpen);
  EXPECT_EQ(scripted.dialog.lastOutcome(), CommandOutcome::kCancelled);

  // A file that is not there is told like any file that cannot be loaded.
  ScriptedDialog missing({});
  {
    ModalScript script;
    script.Then("load failed", Expect("Error when loading file.", QMessageBox::Critical, true, false));
    missing.dialog.ConvertFile(QString::fromStdString(dir.Path("nothing.crv")));
  }
  EXPECT_EQ(missing.dialog.lastOutcome(), CommandOutcome::kLoadFailed);
  EXPECT_TRUE(missing.requests.empty());
  QSettings().clear();
}

TEST(VetterDialog, ARefusedOrFailedSaveBringsTheSaveDialogBackWithTheConversionKept) {
  test::TempDir dir("kx_gui");
  const std::string source = WriteFile(dir, "old.crv", OldScene());
  const std::string original = Contents(source);
  const QString old = QString::fromStdString(source);
  const QString target = QString::fromStdString(dir.Path("out.fbprop"));
  const QString unwritable = QString::fromStdString(dir.Path(std::string(300, 'x') + ".fbprop"));
  ASSERT_EQ(::symlink(source.c_str(), dir.Path("link.crv").c_str()), 0);

  ScriptedDialog scripted({old, old, QString::fromStdString(dir.path + "/link.crv"),
                           QString::fromStdString(dir.Path("missing/out.fbprop")), unwritable,
                           target});
  std::string detail;
  {
    ModalScript script;
    script.Then("104", Expect(kWillConvert, QMessageBox::Information, false, true))
        .Then("the source itself", ExpectRefusal("\u201Cold.crv\u201D is the scene being converted"))
        .Then("a link to the source", ExpectRefusal("is the scene being converted"))
        .Then("a missing folder", ExpectRefusal(QString::fromStdString(dir.path + "/missing")))
        .Then("a failed save", Expect(kSaveFailed, QMessageBox::Critical, true, false,
                                      "Save Elsewhere...", &detail))
        .Then("106", Expect(kFinished, QMessageBox::Warning, false, false));
    scripted.dialog.OnCommand(CVetterDlg::kIdStart);
  }
  EXPECT_EQ(scripted.dialog.lastOutcome(), CommandOutcome::kSaved);
  ASSERT_EQ(scripted.requests.size(), 6u);
  for (size_t i = 1; i < 6; ++i) {
    EXPECT_EQ(scripted.requests[i].mode, FileDialog::kSave);
    EXPECT_TRUE(scripted.requests[i].initialName.isEmpty());
  }
  // The detail says what the system said, not only that writing failed.
  EXPECT_NE(detail.find("File name too long"), std::string::npos) << detail;
  EXPECT_EQ(Contents(source), original);
  CPersistContext written;
  ASSERT_EQ(LoadFile(0, written, target.toStdString()), kOk);
  EXPECT_EQ(written.roots.size(), 1u);
}

// Puts `name` into the file name box, as pasting does, and presses Return.
void TypeAndPressReturn(QFileDialog& files, const QString& name) {
  auto* edit = files.findChild<QLineEdit*>("fileNameEdit");
  edit->setText(name);
  QTest::keyClick(edit, Qt::Key_Return);
}

// Answers the real file dialog: checks where it starts, then types `name` and presses Return.
// That is queued: a refusal opens from inside it.
ModalScript::Handler TypeInFileDialog(QString folder, QString name,
                                      std::function<void(QFileDialog&)> check = {}) {
  return [=](QWidget* window) {
    auto* files = qobject_cast<QFileDialog*>(window);
    ASSERT_TRUE(files) << window->metaObject()->className();
    EXPECT_EQ(files->directory().absolutePath(), folder);
    if (check) check(*files);
    QMetaObject::invokeMethod(
        files,
        [files, name] {
          TypeAndPressReturn(*files, name);
        },
        Qt::QueuedConnection);
  };
}

// After a refusal over the still open file dialog: gives another name and presses Return again.
// The refused file, chosen in the list when it was typed, must not be taken again.
ModalScript::Handler RefusedThenType(const QString& words, QString name) {
  return [=](QWidget* window) {
    auto* files = qobject_cast<QFileDialog*>(window->parentWidget());
    ASSERT_TRUE(files) << "the refusal is not over the file dialog";
    EXPECT_TRUE(files->isVisible());
    ExpectRefusal(words)(window);
    QMetaObject::invokeMethod(
        files,
        [files, name] {
          // Where the focus lands after the refusal is the window system's choice; in the
          // list, the toolkit keeps the refused file chosen unless the dialog unchose it.
          files->findChild<QAbstractItemView*>("listView")->setFocus();
          TypeAndPressReturn(*files, name);
        },
        Qt::QueuedConnection);
  };
}

TEST(VetterDialog, TheRealFileDialogsStartWhereTheyShouldAndRefuseBeforeClosing) {
  QSettings().clear();
  test::TempDir scenes("kx_gui_scenes"), props("kx_gui_props");
  const QString scenesFolder = QString::fromStdString(scenes.path);
  const QString propsFolder = QString::fromStdString(props.path);
  const std::string source = WriteFile(scenes, "old.crv", OldScene());
  const std::string original = Contents(source);
  test::TempDir empty("kx_gui");
  {
    CVetterDlg dialog(empty.path);
    ModalScript script;
    script.Then("open", TypeInFileDialog(QDir::currentPath(), QString::fromStdString(source)))
        .Then("104", Expect(kWillConvert, QMessageBox::Information, false, true))
        .Then("save", TypeInFileDialog(scenesFolder, "old.crv", [](QFileDialog& files) {
          // The list shows the filter as written; behind it both patterns filter.
          auto* types = files.findChild<QComboBox*>("fileTypeCombo");
          ASSERT_TRUE(types);
          EXPECT_EQ(types->currentText(), "Fabler Prop Files (*.fbprop;*.crv)");
          auto* model = files.findChild<QFileSystemModel*>();
          ASSERT_TRUE(model);
          EXPECT_EQ(model->nameFilters(), (QStringList{"*.fbprop", "*.crv"}));
        }))
        .Then("the source", RefusedThenType("is the scene being converted", "missing/out.fbprop"))
        .Then("a missing folder", RefusedThenType(scenesFolder + "/missing", propsFolder + "/old.fbprop"))
        .Then("106", Expect(kFinished, QMessageBox::Warning, false, false));
    dialog.OnCommand(CVetterDlg::kIdStart);
    EXPECT_EQ(dialog.lastOutcome(), CommandOutcome::kSaved);
  }
  EXPECT_EQ(Contents(source), original);
  EXPECT_TRUE(std::filesystem::exists(props.Path("old.fbprop")));

  // The next run, as the next start of the program: opening starts where the scene came from,
  // saving where the last prop of that folder went.
  const std::string second = WriteFile(scenes, "second.crv", OldScene());
  CVetterDlg dialog(empty.path);
  ModalScript script;
  script.Then("open", TypeInFileDialog(scenesFolder, "second.crv"))
      .Then("104", Expect(kWillConvert, QMessageBox::Information, false, true))
      .Then("save", [&](QWidget* window) {
        auto* files = qobject_cast<QFileDialog*>(window);
        ASSERT_TRUE(files);
        EXPECT_EQ(files->directory().absolutePath(), propsFolder);
        files->reject();
      });
  dialog.OnCommand(CVetterDlg::kIdStart);
  EXPECT_EQ(dialog.lastOutcome(), CommandOutcome::kSaveCancelled);
  QSettings().clear();
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
    EXPECT_EQ(about->findChild<QLabel*>("aboutName")->text(), "Recaster, Version " KX_RECASTER_VERSION);
    about->findChild<QPushButton*>("aboutOk")->click();
    // Back in the main dialog: Escape leaves it open, Ctrl+O asks for a file (cancelled),
    // Ctrl+Q closes as with OK.
    QMetaObject::invokeMethod(
        &scripted.dialog,
        [&] {
          // Shortcuts of a window reach it only while it is the active one.
          scripted.dialog.activateWindow();
          EXPECT_TRUE(QTest::qWaitForWindowActive(&scripted.dialog));
          QTest::keyClick(scripted.dialog.findChild<QPushButton*>("startButton"), Qt::Key_Escape);
          QTest::keyClick(&scripted.dialog, Qt::Key_Escape);
          EXPECT_TRUE(scripted.dialog.isVisible()) << "Escape closed the window";
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

// While it lives, files of this process may grow to 64 bytes, which no prop fits in: writing
// one fails with the system's "File too large".
class TinyFiles {
 public:
  TinyFiles() {
    ::getrlimit(RLIMIT_FSIZE, &before_);
    struct rlimit small = before_;
    small.rlim_cur = 64;
    handler_ = ::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
  }
  ~TinyFiles() {
    ::setrlimit(RLIMIT_FSIZE, &before_);
    ::signal(SIGXFSZ, handler_);
  }

 private:
  struct rlimit before_ {};
  sighandler_t handler_;
};

// A link typed as the name is refused at once, not after the user agreed to replace it; a save
// that fails leaves the folder the next save starts in as it was.
TEST(VetterDialog, ALinkIsRefusedBeforeTheReplaceQuestionAndOnlyASavedPropIsRemembered) {
  QSettings().clear();
  test::TempDir scenes("kx_gui_scenes"), props("kx_gui_props");
  const QString scenesFolder = QString::fromStdString(scenes.path);
  const std::string source = WriteFile(scenes, "old.crv", OldScene());
  const std::string other = props.File("other.fbprop", "someone else's");
  ASSERT_EQ(::symlink(other.c_str(), scenes.Path("link.fbprop").c_str()), 0);
  test::TempDir empty("kx_gui");
  {
    CVetterDlg dialog(empty.path);
    ModalScript script;
    script.Then("104", Expect(kWillConvert, QMessageBox::Information, false, true))
        .Then("save", TypeInFileDialog(scenesFolder, "link.fbprop"))
        .Then("the link", RefusedThenType("is a link", QString::fromStdString(props.Path("new"))))
        .Then("107", Expect(kSaveFailed, QMessageBox::Critical, true, false, "Discard"));
    const TinyFiles tiny;
    dialog.ConvertFile(QString::fromStdString(source));
    EXPECT_EQ(dialog.lastOutcome(), CommandOutcome::kSaveFailed);
  }
  EXPECT_EQ(Contents(other), "someone else's");
  EXPECT_TRUE(std::filesystem::is_symlink(scenes.Path("link.fbprop")));
  EXPECT_EQ(SaveStartFolder(QString::fromStdString(source)), scenesFolder);
  QSettings().clear();
}

// Enter on the menu button opens the menu, as a click does, and starts nothing.
TEST(VetterDialog, EnterOnTheMenuButtonOpensTheMenu) {
  ScriptedDialog scripted({std::nullopt});
  CVetterDlg& dialog = scripted.dialog;
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  auto* button = dialog.findChild<QToolButton*>("menuButton");
  for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
    button->setFocus();
    bool opened = false;
    QTimer::singleShot(50, [&] {
      opened = QApplication::activePopupWidget() == button->menu();
      button->menu()->close();
    });
    QTest::keyClick(button, key);
    QTest::qWait(100);  // the check has run, whatever the key did
    EXPECT_TRUE(opened) << key;
  }
  EXPECT_TRUE(scripted.requests.empty());
  EXPECT_FALSE(dialog.lastOutcome().has_value());
  dialog.close();
}

// A write that fails says why in the system's words, first and alone, not behind the status
// the failed write answered.
TEST(VetterDialog, AFailedWriteLeadsWithItsTrueReason) {
  test::TempDir dir("kx_gui");
  const QString old = QString::fromStdString(WriteFile(dir, "old.crv", OldScene()));
  const std::string target = dir.Path("out.fbprop");
  ScriptedDialog scripted({old, QString::fromStdString(target)});
  std::string detail;
  {
    ModalScript script;
    script.Then("104", Expect(kWillConvert, QMessageBox::Information, false, true))
        .Then("107", Expect(kSaveFailed, QMessageBox::Critical, true, false, "Discard", &detail));
    const TinyFiles tiny;
    scripted.dialog.OnCommand(CVetterDlg::kIdStart);
  }
  EXPECT_EQ(detail, "writing " + target + " failed: " + std::strerror(EFBIG));
  EXPECT_FALSE(std::filesystem::exists(target));
}

// The save dialog opens wide enough for every column of its detailed list, the date as this
// locale writes it included, in the dialog's font and in one twice its size.
TEST(VetterDialog, TheFileDialogShowsEveryColumnWhole) {
  test::TempDir dir("kx_gui_columns");
  dir.File("a scene with a rather long name of its own.crv", "x");
  test::TempDir empty("kx_gui");
  for (const int scale : {1, 2}) {
    CVetterDlg dialog(empty.path);
    QFont font = dialog.font();
    font.setPointSizeF(font.pointSizeF() * scale);
    dialog.setFont(font);
    FileRequest request = MakeFileRequest(FileDialog::kSave, dialog);
    request.startFolder = QString::fromStdString(dir.path);
    CFileDialog files(request, &dialog);
    files.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&files));
    auto* tree = files.findChild<QTreeView*>("treeView");
    ASSERT_TRUE(tree);
    if (!tree->isVisible()) files.setViewMode(QFileDialog::Detail);
    QTest::qWait(20);
    const QHeaderView* header = tree->header();
    const QString date = QLocale().toString(QDateTime(QDate(2000, 12, 28), QTime(23, 59)),
                                            QLocale::ShortFormat);
    for (int i = 0; i < header->count(); ++i) {
      if (header->isSectionHidden(i)) continue;
      EXPECT_LE(header->sectionViewportPosition(i) + header->sectionSize(i),
                tree->viewport()->width())
          << "column " << i << " cut off at " << scale << "x";
    }
    EXPECT_GE(header->sectionSize(3), QFontMetrics(tree->font()).horizontalAdvance(date))
        << scale << "x";
    files.close();
  }
}

}  // namespace
}  // namespace KX::gui
