#include "app/gui/file_request.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <filesystem>
#include <utility>
#include <vector>

#include "app/texts.h"

namespace KX::gui {

namespace {

struct FilterEntry {
  QString label;    // the description as written
  QString toolkit;  // "Description (*.a *.b)"
};

std::vector<FilterEntry> ParseFilter(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  std::vector<FilterEntry> entries;
  // A trailing bar leaves an empty last part; an odd part left over has no pattern.
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString label = parts[i].trimmed();
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& pattern : patterns) pattern = pattern.trimmed();
    patterns.removeAll(QString());
    if (patterns.isEmpty()) continue;
    // The description usually names its patterns already; they are replaced by the real ones,
    // separated the way the toolkit expects.
    QString description = label;
    if (description.endsWith(QLatin1Char(')'))) {
      const qsizetype open = description.lastIndexOf(QLatin1Char('('));
      if (open >= 0) description = description.left(open).trimmed();
    }
    const QString list = patterns.join(QLatin1Char(' '));
    QString toolkit = description.isEmpty()
                          ? list
                          : description + QStringLiteral(" (") + list + QLatin1Char(')');
    entries.push_back({label.isEmpty() ? toolkit : label, std::move(toolkit)});
  }
  return entries;
}

const QString kOpenFolderKey = QStringLiteral("folders/open");
// Where the props of each source folder went last: source and target folder in turn, the most
// recent first. Older versions kept one pair under the two keys after it.
const QString kSavePairsKey = QStringLiteral("folders/savePairs");
const QString kSaveFolderKey = QStringLiteral("folders/save");
const QString kSaveFromKey = QStringLiteral("folders/saveFrom");
constexpr qsizetype kRememberedPairs = 50;

QString FolderOf(const QString& file) { return QFileInfo(file).absolutePath(); }

// `folder` when it still exists, else "" (the dialog then starts in the current folder).
QString Existing(const QString& folder) {
  return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QString();
}

}  // namespace

QString NameFilterFrom(const std::string& filter) {
  QStringList list;
  for (const FilterEntry& entry : ParseFilter(filter)) list << entry.toolkit;
  return list.join(QStringLiteral(";;"));
}

QStringList NameFilterLabels(const std::string& filter) {
  QStringList list;
  for (const FilterEntry& entry : ParseFilter(filter)) list << entry.label;
  return list;
}

FileRequest MakeFileRequest(FileDialog mode, IConverterUi& texts) {
  const bool open = mode == FileDialog::kOpen;
  FileRequest request;
  request.mode = mode;
  const std::string filter = texts.Text(open ? kTextOpenFilter : kTextSaveFilter);
  request.nameFilter = NameFilterFrom(filter);
  request.filterLabels = NameFilterLabels(filter);
  QString suffix = QString::fromStdString(texts.Text(open ? kTextOpenExtension : kTextSaveExtension));
  while (suffix.startsWith(QLatin1Char('.'))) suffix.remove(0, 1);
  request.defaultSuffix = suffix;
  request.fileMustExist = open;
  // A new target file must be possible, so saving asks before replacing instead of demanding an
  // existing file.
  request.confirmOverwrite = !open;
  return request;
}

QString SaveTargetProblem(const QString& target, const QString& source) {
  const QFileInfo info(target);
  const QString folder = QDir::toNativeSeparators(info.absolutePath());
  if (!QFileInfo(info.absolutePath()).isDir())
    return QStringLiteral("The folder \u201C%1\u201D does not exist.\nChoose a folder that exists.")
        .arg(folder);
  const std::filesystem::path targetPath(QFile::encodeName(info.absoluteFilePath()).toStdString());
  std::error_code ec;
  const bool link = std::filesystem::is_symlink(std::filesystem::symlink_status(targetPath, ec));
  const auto status = std::filesystem::status(targetPath, ec);
  const bool exists = !ec && std::filesystem::exists(status);
  if (!exists && !link) return {};
  if (exists && !std::filesystem::is_regular_file(status))
    return QStringLiteral("\u201C%1\u201D is not a file.\nChoose a file name to save the prop under.")
        .arg(QDir::toNativeSeparators(info.absoluteFilePath()));
  // Hard links and links to the source are the source as well.
  if (!source.isEmpty() &&
      std::filesystem::equivalent(targetPath, QFile::encodeName(source).toStdString(), ec))
    return QStringLiteral(
               "\u201C%1\u201D is the scene being converted.\nSaving over it would lose the "
               "original; choose another name or folder.")
        .arg(info.fileName());
  // The save never replaces a link (it would either lose the link or write where it leads), so
  // the user hears it now rather than after agreeing to replace the file.
  if (link)
    return QStringLiteral(
               "\u201C%1\u201D is a link to another file; Recaster does not save over links.\n"
               "Choose another name.")
        .arg(info.fileName());
  return {};
}

QString OpenStartFolder() { return Existing(QSettings().value(kOpenFolderKey).toString()); }

QString SaveStartFolder(const QString& source) {
  const QSettings settings;
  const QString from = FolderOf(source);
  QString remembered;
  const QStringList pairs = settings.value(kSavePairsKey).toStringList();
  for (qsizetype i = 0; i + 1 < pairs.size(); i += 2)
    if (pairs[i] == from) {
      remembered = pairs[i + 1];
      break;
    }
  if (remembered.isEmpty() && settings.value(kSaveFromKey).toString() == from)
    remembered = settings.value(kSaveFolderKey).toString();
  if (!Existing(remembered).isEmpty()) return remembered;
  return Existing(from);
}

void RememberOpened(const QString& source) { QSettings().setValue(kOpenFolderKey, FolderOf(source)); }

void RememberSaved(const QString& source, const QString& target) {
  QSettings settings;
  const QString from = FolderOf(source);
  QStringList pairs{from, FolderOf(target)};
  const QStringList old = settings.value(kSavePairsKey).toStringList();
  for (qsizetype i = 0; i + 1 < old.size() && pairs.size() < 2 * kRememberedPairs; i += 2)
    if (old[i] != from) pairs << old[i] << old[i + 1];
  settings.setValue(kSavePairsKey, pairs);
  settings.remove(kSaveFromKey);
  settings.remove(kSaveFolderKey);
}

}  // namespace KX::gui
