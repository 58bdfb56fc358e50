// The dialog while its command works on a thread of its own: it keeps painting and shows what it
// does, and closing it asks whether to stop; a stopped command writes nothing.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "gui/dialog_fixtures.h"

namespace KX::gui {
namespace {

using namespace test;
using namespace std::chrono_literals;

// Counts the paint events of a window and its controls.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget& window) : window_(window) { qApp->installEventFilter(this); }
  ~PaintCounter() override { qApp->removeEventFilter(this); }
  int count() const { return count_.load(); }

  bool eventFilter(QObject* object, QEvent* event) override {
    auto* widget = qobject_cast<QWidget*>(object);
    if (event->type() == QEvent::Paint && widget && widget->window() == &window_) ++count_;
    return false;
  }

 private:
  QWidget& window_;
  std::atomic<int> count_{0};
};

// What the window shows while its command works, sampled as a user would see it.
struct ProgressSamples {
  explicit ProgressSamples(CVetterDlg& dialog) {
    timer.setInterval(15);
    QObject::connect(&timer, &QTimer::timeout, [this, &dialog] {
      auto* text = dialog.findChild<QLabel*>("progressText");
      auto* bar = dialog.findChild<QProgressBar*>("progressBar");
      if (!text->isVisible()) return;
      texts << text->text();
      if (bar->maximum() > 0) values << bar->value();
    });
    timer.start();
  }
  QTimer timer;
  QStringList texts;
  QList<int> values;  // of the bar while it measured
};

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(DialogAtWork, KeepsPaintingAndShowsProgressWhileALongLoadRuns) {
  KX::test::TempDir dir("kx_gui");
  const QString old = QString::fromStdString(WriteFile(dir, "old.crv", OldScene(40)));
  ScriptedDialog scripted({old, std::nullopt});
  CVetterDlg& dialog = scripted.dialog;
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

  PaintCounter paints(dialog);
  std::atomic<int> reads{0}, paintsAtFirstRead{0}, paintsAtLastRead{0};
  std::atomic<bool> onOwnThread{false};
  const std::thread::id uiThread = std::this_thread::get_id();
  // A slow disk: the load takes a good half second.
  dialog.SetStreamHook([&] {
    if (reads++ == 0) {
      paintsAtFirstRead = paints.count();
      onOwnThread = std::this_thread::get_id() != uiThread;
    }
    std::this_thread::sleep_for(1ms);
    paintsAtLastRead = paints.count();
  });
  ProgressSamples samples(dialog);
  {
    ModalScript script;
    script.Then("104", Expect(kWillConvert, QMessageBox::Information, false, true));
    dialog.OnCommand(CVetterDlg::kIdStart);
  }
  EXPECT_EQ(dialog.lastOutcome(), CommandOutcome::kSaveCancelled);
  EXPECT_TRUE(onOwnThread);
  ASSERT_GT(reads.load(), 300);
  // The window was repainted again and again while the load went on.
  EXPECT_GE(paintsAtLastRead - paintsAtFirstRead, 5)
      << paintsAtLastRead << " - " << paintsAtFirstRead << " paints in " << reads << " reads";
  ASSERT_FALSE(samples.texts.isEmpty());
  EXPECT_EQ(samples.texts.front(), QStringLiteral("Loading old.crv\u2026"));
  // The bar measured the load and went forward.
  ASSERT_GE(samples.values.size(), 3);
  EXPECT_LT(samples.values.front(), samples.values.back());
  EXPECT_TRUE(std::is_sorted(samples.values.begin(), samples.values.end()));
  // Work done, the text is back and the button usable again.
  EXPECT_TRUE(dialog.findChild<QProgressBar*>("progressBar")->isHidden());
  EXPECT_FALSE(dialog.findChild<QLabel*>("displayText")->isHidden());
  EXPECT_TRUE(dialog.findChild<QPushButton*>("startButton")->isEnabled());
  dialog.hide();
}

// Answers the question whether to stop: checks it names `file`, that nothing moves while it is
// up, and presses `press`.
ModalScript::Handler AskedToStop(CVetterDlg& dialog, QString file, QString press) {
  return [&dialog, file, press](QWidget* window) {
    auto* box = qobject_cast<QMessageBox*>(window);
    ASSERT_TRUE(box) << window->metaObject()->className();
    EXPECT_EQ(box->objectName(), "stopQuestion");
    EXPECT_TRUE(box->text().contains(QStringLiteral("\u201C%1\u201D").arg(file))) << box->text().toStdString();
    auto* bar = dialog.findChild<QProgressBar*>("progressBar");
    QTest::qWait(80);  // the display catches up with the work done before the question
    const int before = bar->value();
    QTest::qWait(120);
    EXPECT_EQ(bar->value(), before) << "the work went on while the user was asked";
    ButtonOf(*box, press)->click();
  };
}

TEST(DialogAtWork, ClosingItAsksAndAStopLeavesNoFileBehind) {
  const struct {
    const char* what;
    const char* closeWhile;  // the progress text that closing waits for
    bool stop;
    CommandOutcome outcome;
  } cases[] = {
      {"stop while loading", "Loading", true, CommandOutcome::kLoadFailed},
      {"stop while saving", "Saving", true, CommandOutcome::kSaveFailed},
      {"go on saving", "Saving", false, CommandOutcome::kSaved},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    KX::test::TempDir dir("kx_gui");
    const QString old = QString::fromStdString(WriteFile(dir, "old.crv", OldScene(15)));
    const std::string target = dir.File("out.fbprop", "the prop saved yesterday");
    ScriptedDialog scripted({old, QString::fromStdString(target)});
    CVetterDlg& dialog = scripted.dialog;
    std::atomic<bool> closed = false;
    const bool whileSaving = c.closeWhile == std::string("Saving");
    dialog.SetStreamHook([&] {
      std::this_thread::sleep_for(1ms);
      // A small prop is saved in a write or two, sooner than the window can be closed: once the
      // save's temporary file is there, the save waits (for a while at most) for the close.
      if (!whileSaving) return;
      const auto until = std::chrono::steady_clock::now() + 10s;
      while (!closed && std::chrono::steady_clock::now() < until &&
             std::distance(std::filesystem::directory_iterator(dir.path), {}) > 2)
        std::this_thread::sleep_for(1ms);
    });
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
      if (closed || !dialog.findChild<QLabel*>("progressText")->text().startsWith(c.closeWhile))
        return;
      closed = true;
      dialog.close();
    });
    closer.start();
    {
      ModalScript script;
      if (c.closeWhile == std::string("Saving"))
        script.Then("104", Expect(kWillConvert, QMessageBox::Information, false, true));
      script.Then("stop?", AskedToStop(dialog, c.closeWhile == std::string("Saving") ? "out.fbprop" : "old.crv",
                                       c.stop ? "Stop" : "Continue"));
      // Stopped, the command says nothing more; gone on, it ends as ever.
      if (!c.stop) script.Then("106", Expect(kFinished, QMessageBox::Warning, false, false));
      dialog.OnCommand(CVetterDlg::kIdStart);
    }
    EXPECT_TRUE(closed);
    EXPECT_EQ(dialog.lastOutcome(), c.outcome);
    EXPECT_EQ(dialog.isVisible(), !c.stop) << "the window closes once the work has stopped";
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    const auto files = std::distance(std::filesystem::directory_iterator(dir.path), {});
    EXPECT_EQ(files, 2) << "a partial file was left";
    if (c.stop) {
      EXPECT_EQ(Contents(target), "the prop saved yesterday");
    } else {
      CPersistContext written;
      EXPECT_EQ(LoadFile(0, written, target), kOk);
      // Not working any more, the window closes when asked.
      dialog.close();
      EXPECT_FALSE(dialog.isVisible());
    }
  }
}

}  // namespace
}  // namespace KX::gui
