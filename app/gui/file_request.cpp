#include "app/gui/file_request.h"

#include <QStringList>

#include "app/texts.h"

namespace KX::gui {

QString NameFilterFrom(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList entries;
  // A trailing bar leaves an empty last part; an odd part left over has no pattern.
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i].trimmed();
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& pattern : patterns) pattern = pattern.trimmed();
    patterns.removeAll(QString());
    if (patterns.isEmpty()) continue;
    // The description usually names its patterns already; they are replaced by the real ones,
    // separated the way the toolkit expects.
    if (description.endsWith(QLatin1Char(')'))) {
      const qsizetype open = description.lastIndexOf(QLatin1Char('('));
      if (open >= 0) description = description.left(open).trimmed();
    }
    const QString list = patterns.join(QLatin1Char(' '));
    entries << (description.isEmpty() ? list : description + QStringLiteral(" (") + list +
                                                   QLatin1Char(')'));
  }
  return entries.join(QStringLiteral(";;"));
}

FileRequest MakeFileRequest(FileDialog mode, IConverterUi& texts) {
  const bool open = mode == FileDialog::kOpen;
  FileRequest request;
  request.mode = mode;
  request.nameFilter = NameFilterFrom(texts.Text(open ? kTextOpenFilter : kTextSaveFilter));
  QString suffix = QString::fromStdString(texts.Text(open ? kTextOpenExtension : kTextSaveExtension));
  while (suffix.startsWith(QLatin1Char('.'))) suffix.remove(0, 1);
  request.defaultSuffix = suffix;
  request.fileMustExist = open;
  // A new target file must be possible, so saving asks before replacing instead of demanding an
  // existing file.
  request.confirmOverwrite = !open;
  return request;
}

}  // namespace KX::gui
