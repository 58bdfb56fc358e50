#pragma once
// The dialog's command line: `recaster-gui [FILE]`, where FILE is a scene to convert at once (a
// desktop opens scenes this way), and --help and --version, which need no display.
#include <QString>
#include <QStringList>
#include <string>

namespace KX::gui {

// What --help or --version among the arguments (before any "--") asks to print, else nothing.
// Asked before the toolkit starts, so that they answer without a display.
std::string ImmediateAnswer(int argc, const char* const* argv);

struct GuiArguments {
  QString file;   // empty: none given
  QString error;  // a usage error, for standard error
};

// Reads the arguments after the program's name, once the toolkit has taken its own options
// (-platform, -display, ...) out of them. A lone "-" is refused: the dialog needs a file name.
GuiArguments ParseGuiArguments(const QStringList& arguments);

}  // namespace KX::gui
