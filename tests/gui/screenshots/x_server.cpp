// The screenshot tests draw on an X server of their own with one font, one style and one
// resolution, so that the same build draws the same pixels on every machine: Xvfb at 96 dots per
// inch, DejaVu Sans through a font configuration that knows no other font, the toolkit's own
// style with its own colours, and no desktop settings or services of the user.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCursor>
#include <QFont>
#include <QSettings>
#include <QStyle>
#include <QStyleFactory>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "app/class_registration.h"
#include "support/temp_dir.h"

namespace {

const char* const kFontFolder = "/usr/share/fonts/truetype/dejavu";
const char* const kFonts[] = {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf"};

class XServerEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    home_ = std::make_unique<KX::test::TempDir>("kx_gui_screen");
    ASSERT_NO_FATAL_FAILURE(UseOnlyOurFont());
    ASSERT_NO_FATAL_FAILURE(StartServer());
    for (const char* name : {"QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "QT_SCALE_FACTOR",
                             "QT_SCREEN_SCALE_FACTORS", "QT_AUTO_SCREEN_SCALE_FACTOR",
                             "QT_SCALE_FACTOR_ROUNDING_POLICY", "XDG_CURRENT_DESKTOP",
                             "XDG_SESSION_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                             "GNOME_DESKTOP_SESSION_ID", "QT_FONT_DPI", "XCURSOR_THEME",
                             "AT_SPI_BUS_ADDRESS", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON"})
      ::unsetenv(name);
    // No desktop service answers (a settings portal could change colours or fonts), and none is
    // started on the test's server.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + home_->Path("no-bus")).c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::setenv("QT_ENABLE_HIGHDPI_SCALING", "0", 1);
    ::setenv("QT_XCB_GL_INTEGRATION", "none", 1);
    ::setenv("XDG_RUNTIME_DIR", home_->path.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", home_->Path("config").c_str(), 1);

    static int argc = 1;
    static char name[] = "kx_gui_screenshots_tests";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("RecasterTests"));
    QApplication::setApplicationName(QStringLiteral("Recaster"));
    for (const auto format : {QSettings::NativeFormat, QSettings::IniFormat})
      QSettings::setPath(format, QSettings::UserScope, QString::fromStdString(home_->Path("config")));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(QApplication::style()->standardPalette());
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    QApplication::setCursorFlashTime(0);
    // The pointer stays in a corner no window reaches, so that nothing is drawn hovered.
    QCursor::setPos(0, 0);
    KX::RegisterAllClasses();
  }

  void TearDown() override {
    delete app_;
    app_ = nullptr;
    if (server_ > 0) {
      ::kill(server_, SIGTERM);
      int status = 0;
      ::waitpid(server_, &status, 0);
      server_ = -1;
    }
    home_.reset();
  }

 private:
  void UseOnlyOurFont() {
    const std::string fonts = home_->Path("fonts");
    std::filesystem::create_directories(fonts);
    for (const char* font : kFonts) {
      const std::string file = std::string(kFontFolder) + "/" + font;
      ASSERT_TRUE(std::filesystem::exists(file))
          << file << " is missing: scripts/bootstrap.sh installs fonts-dejavu-core";
      std::filesystem::create_symlink(file, fonts + "/" + font);
    }
    const std::string config = home_->Path("fonts.conf");
    std::ofstream(config) << R"(<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <dir>)" << fonts << R"(</dir>
  <cachedir>)" << home_->Path("fontcache") << R"(</cachedir>
  <match target="pattern">
    <edit name="family" mode="assign" binding="strong"><string>DejaVu Sans</string></edit>
  </match>
  <match target="font">
    <edit name="antialias" mode="assign"><bool>true</bool></edit>
    <edit name="hinting" mode="assign"><bool>true</bool></edit>
    <edit name="hintstyle" mode="assign"><const>hintslight</const></edit>
    <edit name="autohint" mode="assign"><bool>false</bool></edit>
    <edit name="rgba" mode="assign"><const>none</const></edit>
    <edit name="lcdfilter" mode="assign"><const>lcddefault</const></edit>
    <edit name="embeddedbitmap" mode="assign"><bool>false</bool></edit>
  </match>
</fontconfig>
)";
    ::setenv("FONTCONFIG_FILE", config.c_str(), 1);
    ::unsetenv("FONTCONFIG_PATH");
  }

  void StartServer() {
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const std::string log = home_->Path("xvfb.log");
    server_ = ::fork();
    ASSERT_GE(server_, 0);
    if (server_ == 0) {
      ::close(pipe[0]);
      const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out >= 0) {
        ::dup2(out, 1);
        ::dup2(out, 2);
      }
      const std::string fd = std::to_string(pipe[1]);
      ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-dpi",
               "96", "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(pipe[1]);
    // The server writes its display number once it accepts clients.
    std::string display;
    pollfd wait{pipe[0], POLLIN, 0};
    char c;
    while (::poll(&wait, 1, 20000) > 0 && ::read(pipe[0], &c, 1) == 1 && c != '\n') display += c;
    ::close(pipe[0]);
    if (display.empty()) {
      std::ifstream in(log);
      const std::string said((std::istreambuf_iterator<char>(in)), {});
      FAIL() << "Xvfb did not start (scripts/bootstrap.sh installs xvfb): " << said;
    }
    ::setenv("DISPLAY", (":" + display).c_str(), 1);
  }

  std::unique_ptr<KX::test::TempDir> home_;
  pid_t server_ = -1;
  QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const kXServer =
    ::testing::AddGlobalTestEnvironment(new XServerEnvironment);

}  // namespace
