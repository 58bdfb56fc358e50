// The dialog as the X server shows it, compared with the pictures kept beside this file: the
// first state, the menu, the work in progress, every message box and question, the About box.
// A control that moves, grows or changes its text changes many pixels; antialiasing may change
// a few by a little. Run with KX_UPDATE_SCREENSHOTS=1 to write the pictures anew after a
// deliberate change, and look at them before committing.
#include <QAbstractButton>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QSettings>
#include <QTest>
#include <QToolButton>
#include <QWindow>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "app/gui/about_dlg.h"
#include "gui/dialog_fixtures.h"

namespace KX::gui {
namespace {

using namespace test;

// How far a pixel may stray (largest channel difference) before it counts, and how many may.
constexpr int kChannelTolerance = 24;
constexpr double kStrayShare = 0.002;

QString Reference(const QString& name) {
  return QStringLiteral(KX_SCREENSHOT_DIR "/") + name + QStringLiteral(".png");
}

QString Output(const QString& name, const char* kind) {
  QDir().mkpath(QStringLiteral(KX_SCREENSHOT_OUT));
  return QStringLiteral(KX_SCREENSHOT_OUT "/") + name + QLatin1Char('.') + QLatin1String(kind) +
         QStringLiteral(".png");
}

// What the X server shows of `window`, once it is on screen, active and painted.
QImage Grab(QWidget* window) {
  EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
  if (!window->isActiveWindow() && !qobject_cast<QMenu*>(window)) {
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window));
  }
  window->repaint();
  QTest::qWait(30);
  QScreen* screen = window->windowHandle()->screen();
  return screen->grabWindow(window->winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

// Compares `window` with its reference picture; a failure leaves the picture taken and the
// differences beside the build.
void Compare(QWidget* window, const QString& name) {
  SCOPED_TRACE(name.toStdString());
  const QImage shot = Grab(window);
  ASSERT_FALSE(shot.isNull());
  if (std::getenv("KX_UPDATE_SCREENSHOTS")) {
    EXPECT_TRUE(shot.save(Reference(name)));
    return;
  }
  QImage reference(Reference(name));
  if (reference.isNull()) {
    shot.save(Output(name, "actual"));
    FAIL() << "no reference picture " << Reference(name).toStdString()
           << "; the one taken is in " << Output(name, "actual").toStdString();
  }
  reference = reference.convertToFormat(QImage::Format_RGB32);
  if (reference.size() != shot.size()) {
    shot.save(Output(name, "actual"));
    FAIL() << "size " << shot.width() << "x" << shot.height() << ", expected "
           << reference.width() << "x" << reference.height() << "; see "
           << Output(name, "actual").toStdString();
  }
  QImage diff(shot.size(), QImage::Format_RGB32);
  qsizetype strays = 0;
  int worst = 0;
  for (int y = 0; y < shot.height(); ++y) {
    const auto* a = reinterpret_cast<const QRgb*>(shot.constScanLine(y));
    const auto* b = reinterpret_cast<const QRgb*>(reference.constScanLine(y));
    auto* d = reinterpret_cast<QRgb*>(diff.scanLine(y));
    for (int x = 0; x < shot.width(); ++x) {
      const int delta = std::max({std::abs(qRed(a[x]) - qRed(b[x])),
                                  std::abs(qGreen(a[x]) - qGreen(b[x])),
                                  std::abs(qBlue(a[x]) - qBlue(b[x]))});
      worst = std::max(worst, delta);
      if (delta > kChannelTolerance) ++strays;
      d[x] = delta > kChannelTolerance ? qRgb(255, 0, 0) : qRgb(qGray(a[x]), qGray(a[x]), qGray(a[x]));
    }
  }
  const qsizetype allowed = static_cast<qsizetype>(kStrayShare * shot.width() * shot.height());
  if (strays > allowed) {
    shot.save(Output(name, "actual"));
    diff.save(Output(name, "diff"));
    ADD_FAILURE() << strays << " pixels differ (at most " << allowed << " may; worst by " << worst
                  << "); see " << Output(name, "actual").toStdString() << " and "
                  << Output(name, "diff").toStdString();
  }
}

// Takes the picture of a modal window, then presses `press` (OK by default).
ModalScript::Handler Shoot(const QString& name, const QString& press = QStringLiteral("OK")) {
  return [=](QWidget* window) {
    Compare(window, name);
    auto* box = qobject_cast<QMessageBox*>(window);
    ASSERT_TRUE(box) << window->metaObject()->className();
    QAbstractButton* button = ButtonOf(*box, press);
    ASSERT_TRUE(button) << "no button " << press.toStdString();
    button->click();
  };
}

class Screenshots : public ::testing::Test {
 protected:
  Screenshots() {
    QSettings().clear();
    old = QString::fromStdString(WriteFile(dir, "scene.crv", OldScene()));
  }
  // The dialog with the built-in texts, on screen.
  std::unique_ptr<ScriptedDialog> Dialog(std::vector<std::optional<QString>> answers) {
    auto scripted = std::make_unique<ScriptedDialog>(answers, empty.path);
    scripted->dialog.show();
    return scripted;
  }

  KX::test::TempDir dir{"kx_shots"};
  KX::test::TempDir empty{"kx_shots_texts"};
  QString old;
};

TEST_F(Screenshots, TheDialogAtFirstItsMenuAndItsAboutBox) {
  auto scripted = Dialog({});
  CVetterDlg& dialog = scripted->dialog;
  Compare(&dialog, "dialog");

  auto* button = dialog.findChild<QToolButton*>("menuButton");
  QMenu* menu = button->menu();
  menu->popup(button->mapToGlobal(QPoint(0, button->height())));
  Compare(menu, "menu");
  menu->close();

  ModalScript script;
  script.Then("about", [](QWidget* window) {
    auto* about = qobject_cast<CAboutDlg*>(window);
    ASSERT_TRUE(about);
    // The picture is of the box's drawing; the version in it comes from the build and is checked
    // by the dialog's tests, so that a new version needs no new picture.
    about->findChild<QLabel*>("aboutName")->setText(QStringLiteral("Recaster, Version 1.0"));
    Compare(about, "about");
    about->accept();
  });
  dialog.OnCommand(CVetterDlg::kIdAbout);
}

TEST_F(Screenshots, EveryMessageOfTheCommand) {
  const QString garbage = QString::fromStdString(dir.File("garbage.crv", "not a scene"));
  const QString rootless = QString::fromStdString(WriteFile(dir, "rootless.crv", OldFileWithoutRoot()));
  CRefPtr<CNode> node(new CNode);
  CPersistContext document;
  ASSERT_EQ(AddRoot(document, node.get()), kOk);
  const std::string current = dir.Path("current.crv");
  ASSERT_EQ(SaveFile(0, document, current), kOk);
  const QString unwritable = QString::fromStdString(dir.Path(std::string(300, 'x') + ".fbprop"));
  const QString target = QString::fromStdString(dir.Path("scene.fbprop"));
  std::filesystem::create_symlink(dir.File("other.fbprop", "someone else's"), dir.Path("link.fbprop"));
  const QString link = QString::fromStdString(dir.Path("link.fbprop"));

  const struct {
    std::vector<std::optional<QString>> answers;
    std::vector<ModalScript::Handler> boxes;
  } runs[] = {
      {{garbage}, {Shoot("message_102")}},
      {{rootless}, {Shoot("message_103")}},
      {{QString::fromStdString(current)}, {Shoot("message_105")}},
      // 104, the refusals of the save dialog (the source, a link, a missing folder), 107 with its
      // choice, then 106.
      // The missing folder is named the same on every machine, so that its message is too.
      {{old, old, link, QStringLiteral("/kx-no-such-folder/scene.fbprop"), unwritable, target},
       {Shoot("message_104"), Shoot("refusal_source"), Shoot("refusal_link"),
        Shoot("refusal_folder"), Shoot("message_107", "Save Elsewhere..."),
        Shoot("message_106")}},
  };
  for (const auto& run : runs) {
    auto scripted = Dialog(run.answers);
    ModalScript script;
    for (const auto& box : run.boxes) script.Then("box", box);
    scripted->dialog.OnCommand(CVetterDlg::kIdStart);
  }
}

TEST_F(Screenshots, TheDialogAtWorkAndTheQuestionOnClosing) {
  auto scripted = Dialog({old});
  CVetterDlg& dialog = scripted->dialog;
  // The load waits at its first read until the pictures are taken, so that the bar stands still.
  std::mutex mutex;
  std::condition_variable released;
  bool go = false;
  dialog.SetStreamHook([&] {
    std::unique_lock lock(mutex);
    released.wait(lock, [&] { return go; });
  });
  QTimer::singleShot(0, [&] {
    auto* text = dialog.findChild<QLabel*>("progressText");
    EXPECT_TRUE(QTest::qWaitFor([&] { return text->isVisible(); }));
    Compare(&dialog, "dialog_loading");
    dialog.close();
  });
  ModalScript script;
  script.Then("stop?", [&](QWidget* window) {
    Compare(window, "stop_question");
    {
      std::lock_guard lock(mutex);
      go = true;
    }
    released.notify_all();
    ButtonOf(*qobject_cast<QMessageBox*>(window), "Stop")->click();
  });
  dialog.OnCommand(CVetterDlg::kIdStart);
  EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
}  // namespace KX::gui
