#include "app/gui/command_line.h"

#include <string_view>

namespace KX::gui {

namespace {

const char kUsage[] = R"(Usage: recaster-gui [OPTIONS] [FILE]
Converts an old 3D Scene file (.crv) into a static 3D Prop (.fbprop) in a small dialog.

Positionals:
  FILE          Scene file to convert at once, as if chosen after Start

Options:
  -h,--help     Print this help message and exit
  --version     Display program version information and exit

The toolkit's own options (-platform, -display, -style, ...) are accepted as well.
)";

}  // namespace

std::string ImmediateAnswer(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--") break;
    if (argument == "-h" || argument == "--help") return kUsage;
    if (argument == "--version") return std::string("recaster-gui ") + KX_RECASTER_VERSION + "\n";
  }
  return {};
}

GuiArguments ParseGuiArguments(const QStringList& arguments) {
  const auto refused = [](const QString& error) { return GuiArguments{QString(), error}; };
  GuiArguments parsed;
  bool optionsDone = false;
  for (const QString& argument : arguments) {
    if (!optionsDone && argument == QStringLiteral("--")) {
      optionsDone = true;
    } else if (argument.isEmpty()) {
      return refused(QStringLiteral("an empty file name"));
    } else if (!optionsDone && argument.startsWith(QLatin1Char('-'))) {
      return refused(
          QStringLiteral("unknown option '%1' (recaster-gui --help tells more)").arg(argument));
    } else if (!parsed.file.isEmpty()) {
      return refused(
          QStringLiteral("one scene at a time: '%1' came after '%2'").arg(argument, parsed.file));
    } else {
      parsed.file = argument;
    }
  }
  return parsed;
}

}  // namespace KX::gui
