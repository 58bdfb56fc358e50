// recaster-gui: the converter's desktop dialog. The process lives as long as the dialog.
#include <QApplication>

#include "app/class_registration.h"
#include "app/gui/vetter_dlg.h"
#include "core/atomic_file.h"


int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
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
  dialog.exec();
  return 0;
}
