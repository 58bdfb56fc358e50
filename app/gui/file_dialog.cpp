#include "app/gui/file_dialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QFileInfo>
#include <QMessageBox>

namespace KX::gui {

CFileDialog::CFileDialog(const FileRequest& request, QWidget* parent)
    : QFileDialog(parent), request_(request) {
  const bool open = request.mode == FileDialog::kOpen;
  setObjectName(open ? QStringLiteral("openDialog") : QStringLiteral("saveDialog"));
  setWindowTitle(open ? QStringLiteral("Open") : QStringLiteral("Save As"));
  setOption(QFileDialog::DontUseNativeDialog, true);
  setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  setFileMode(request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
  if (!request.startFolder.isEmpty()) setDirectory(request.startFolder);
  if (!request.nameFilter.isEmpty()) {
    setNameFilter(request.nameFilter);
    // The toolkit takes the patterns of an entry from its text, separated by spaces; the list
    // shows our descriptions as written ("*.fbprop;*.crv") while the entries behind them filter.
    // The toolkit picks the entry by its position, never by the text shown.
    auto* types = findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    if (types && types->count() == request.filterLabels.size())
      for (int i = 0; i < types->count(); ++i) types->setItemText(i, request.filterLabels[i]);
  }
  setDefaultSuffix(request.defaultSuffix);
  selectFile(request.initialName);
}

void CFileDialog::accept() {
  if (acceptMode() == QFileDialog::AcceptSave) {
    const QStringList files = selectedFiles();
    // A folder typed as the name is opened by the toolkit, not saved to.
    if (!files.isEmpty() && !QFileInfo(files.front()).isDir()) {
      const QString problem = SaveTargetProblem(files.front(), request_.source);
      if (!problem.isEmpty()) {
        ShowRefusal(this, problem);
        TypeAgain();
        return;
      }
    }
  }
  QFileDialog::accept();
}

void CFileDialog::TypeAgain() {
  // The toolkit takes a file selected in the list before the name typed, and it unselects the
  // list only while the name box has the focus; after the refusal the refused file would
  // otherwise stay chosen whatever the user types next.
  if (auto* list = findChild<QAbstractItemView*>(QStringLiteral("listView")))
    if (list->selectionModel()) list->selectionModel()->clearSelection();
  if (auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
    name->setFocus();
    name->selectAll();
  }
}

void ShowRefusal(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Recaster"), text, QMessageBox::Ok, parent);
  box.setObjectName(QStringLiteral("refusal"));
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

}  // namespace KX::gui
