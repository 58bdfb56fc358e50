// The dialog's command line: the scene to convert at once, and what is refused.
#include "app/gui/command_line.h"

#include <gtest/gtest.h>

namespace KX::gui {
namespace {

TEST(GuiCommandLine, TakesOneSceneAndRefusesTheRest) {
  const struct {
    QStringList arguments;
    const char* file;
    const char* error;  // a part of it; empty: none
  } cases[] = {
      {{}, "", ""},
      {{"scene.crv"}, "scene.crv", ""},
      {{"--", "-odd.crv"}, "-odd.crv", ""},
      {{"a.crv", "b.crv"}, "", "one scene at a time"},
      {{"--frobnicate"}, "", "unknown option '--frobnicate'"},
      {{"-"}, "", "unknown option '-'"},
      {{""}, "", "an empty file name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.join(' ').toStdString());
    const GuiArguments parsed = ParseGuiArguments(c.arguments);
    EXPECT_EQ(parsed.file.toStdString(), c.file);
    if (*c.error == '\0')
      EXPECT_TRUE(parsed.error.isEmpty()) << parsed.error.toStdString();
    else
      EXPECT_TRUE(parsed.error.contains(QLatin1String(c.error))) << parsed.error.toStdString();
  }
}

TEST(GuiCommandLine, HelpAndVersionAnswerBeforeAnythingElse) {
  const char* help[] = {"recaster-gui", "-platform", "xcb", "--help"};
  EXPECT_NE(ImmediateAnswer(4, help).find("Usage: recaster-gui"), std::string::npos);
  const char* version[] = {"recaster-gui", "scene.crv", "--version"};
  EXPECT_EQ(ImmediateAnswer(3, version), std::string("recaster-gui ") + KX_RECASTER_VERSION + "\n");
  // After "--" they are file names.
  const char* file[] = {"recaster-gui", "--", "--help"};
  EXPECT_EQ(ImmediateAnswer(3, file), "");
}

}  // namespace
}  // namespace KX::gui
