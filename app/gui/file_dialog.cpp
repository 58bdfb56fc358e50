#include "app/gui/file_dialog.h"

#include <QAbstractItemView>
#include <QDateTime>
#include <QHeaderView>
#include <QLayout>
#include <QLocale>
#include <QScrollBar>
#include <QStyle>
#include <QTreeView>
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
  FitColumns();
}

void CFileDialog::FitColumns() {
  // The toolkit sizes the columns of the detailed list by the font, but keeps the window's fixed
  // default size, which left the size and the date outside the list. The columns are sized for
  // what they show here (the date as this locale writes it) and the window grows to hold them.
  auto* tree = findChild<QTreeView*>(QStringLiteral("treeView"));
  if (!tree || !layout()) return;
  QHeaderView* header = tree->header();
  if (header->count() < 4) return;
  const QFontMetrics metrics(tree->font());
  const int padding = 2 * metrics.averageCharWidth() +
                      2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
  const QString date = QLocale().toString(QDateTime(QDate(2000, 12, 28), QTime(23, 59)),
                                          QLocale::ShortFormat);
  const QString widest[] = {QString(30, QLatin1Char('w')), QStringLiteral("999.9 MiB"),
                            QStringLiteral("fbprop File"), date};
  for (int i = 0; i < 4; ++i)
    header->resizeSection(
        i, std::max(header->sectionSizeHint(i), metrics.horizontalAdvance(widest[i]) + padding));
  resize(width(), std::max(height(), 24 * metrics.height()));
}

void CFileDialog::showEvent(QShowEvent* event) {
  QFileDialog::showEvent(event);
  auto* tree = findChild<QTreeView*>(QStringLiteral("treeView"));
  if (fitted_ || !tree || !layout()) return;
  fitted_ = true;
  // Only a shown window has its layout: what it gives the list besides the columns (the side
  // bar, the margins, the frame and a scroll bar) is known now.
  layout()->activate();
  const QHeaderView* header = tree->header();
  int columns = 0;
  for (int i = 0; i < header->count(); ++i)
    if (!header->isSectionHidden(i)) columns += header->sectionSize(i);
  const int around = width() - tree->width() + 2 * tree->frameWidth() +
                     style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, tree) +
                     QFontMetrics(tree->font()).averageCharWidth();
  if (columns + around > width()) resize(columns + around, height());
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
