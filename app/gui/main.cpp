// recaster-gui: the converter's desktop dialog. The process lives as long as the dialog.
#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "app/class_registration.h"
#include "app/gui/command_line.h"
#include "app/gui/vetter_dlg.h"
#include "core/atomic_file.h"


int main(int argc, char* argv[]) {
  if (const std::string answer = KX::gui::ImmediateAnswer(argc, argv); !answer.empty()) {
    std::fputs(answer.c_str(), stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 6;
  }
  QApplication app(argc, argv);
  // What is left once the toolkit took its own options: at most the scene to convert.
  const KX::gui::GuiArguments arguments = KX::gui::ParseGuiArguments(app.arguments().mid(1));
  if (!arguments.error.isEmpty()) {
    std::fprintf(stderr, "recaster-gui: %s\n", arguments.error.toLocal8Bit().constData());
    return 2;
  }
  // The settings (the folders the file dialogs start in) are kept under this name.
  QApplication::setOrganizationName(QStringLiteral("Recaster"));
  QApplication::setApplicationName(QStringLiteral("Recaster"));
  QApplication::setWindowIcon(KX::gui::ProgramIcon());
  // The loader creates objects by the class names stored in a file, so every class has to be
  // known before the dialog can open one.
  KX::RegisterAllClasses();
  // A save cut short by a stop signal leaves no temporary file behind.
  KX::RemoveTemporariesOnSignals();
  KX::gui::CVetterDlg dialog;
  // A scene given on the command line is converted once the window is up, as if chosen after
  // Start; the dialog stays open afterwards.
  if (!arguments.file.isEmpty())
    QTimer::singleShot(0, &dialog, [&dialog, &arguments] { dialog.ConvertFile(arguments.file); });
  dialog.exec();
  return 0;
}
