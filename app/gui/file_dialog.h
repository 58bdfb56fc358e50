#pragma once
// The file dialog of the conversion command: the toolkit's own dialog rather than the desktop's,
// so that it looks and behaves the same everywhere and can refuse a save target while it is still
// open, instead of after the user has left it.
#include <QFileDialog>

#include "app/gui/file_request.h"

namespace KX::gui {

class CFileDialog : public QFileDialog {
 public:
  CFileDialog(const FileRequest& request, QWidget* parent);

  // Saving: a target SaveTargetProblem refuses is explained and the dialog stays open; this
  // comes before the toolkit's question about replacing an existing file.
  void accept() override;

 protected:
  // Widens the window, on its first showing, until the list's columns fit.
  void showEvent(QShowEvent* event) override;

 private:
  // After a refusal: the next name typed is the one taken.
  void TypeAgain();
  // Sizes the detailed list's columns for what they show.
  void FitColumns();

  FileRequest request_;
  bool fitted_ = false;
};

// A warning from the converter about something the user chose, over `parent`.
void ShowRefusal(QWidget* parent, const QString& text);

}  // namespace KX::gui
