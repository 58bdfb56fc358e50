// Widgets need a QApplication before the first test builds one; the platform is the offscreen
// one unless the caller chose another.
#include <QApplication>
#include <cstdlib>

#include <gtest/gtest.h>

#include "app/class_registration.h"

namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "kx_gui_tests";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
    KX::RegisterAllClasses();
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
