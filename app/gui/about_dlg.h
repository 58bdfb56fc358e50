#pragma once
// The About box: the program's icon, name and purpose, and an OK button.
#include <QDialog>

namespace KX::gui {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace KX::gui
