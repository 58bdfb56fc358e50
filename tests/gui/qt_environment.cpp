// Widgets need a QApplication before the first test builds one; the platform is the offscreen
// one unless the caller chose another. The dialog's remembered folders go to a settings store of
// the test's own, never to the user's.
#include <QApplication>
#include <QSettings>
#include <cstdlib>

#include <gtest/gtest.h>

#include "app/class_registration.h"
#include "support/temp_dir.h"

namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "kx_gui_tests";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("RecasterTests"));
    QApplication::setApplicationName(QStringLiteral("Recaster"));
    settings_ = std::make_unique<KX::test::TempDir>("kx_gui_settings");
    QSettings::setDefaultFormat(QSettings::IniFormat);
    for (const auto format : {QSettings::NativeFormat, QSettings::IniFormat})
      QSettings::setPath(format, QSettings::UserScope, QString::fromStdString(settings_->path));
    KX::RegisterAllClasses();
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
    settings_.reset();
  }

 private:
  QApplication* app_ = nullptr;
  std::unique_ptr<KX::test::TempDir> settings_;
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
