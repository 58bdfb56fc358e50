#pragma once
// What a file dialog of the conversion command asks for, in the toolkit's terms, what a chosen
// target must satisfy, and the folders the dialogs start in.
#include <QString>
#include <QStringList>
#include <string>

#include "app/converter_ui.h"

namespace KX::gui {

struct FileRequest {
  FileDialog mode = FileDialog::kOpen;
  QString nameFilter;        // in the toolkit's form: "Description (*.a *.b);;..."
  QStringList filterLabels;  // what the filter list shows for each entry: our descriptions
  QString defaultSuffix;     // without the dot
  QString initialName;       // the dialog starts with it; always empty
  QString startFolder;       // the folder the dialog starts in; empty: the current folder
  QString source;            // saving: the scene being converted, which must not be replaced
  bool fileMustExist = false;
  bool confirmOverwrite = false;
};

// Turns our filter form, description and pattern each closed by a vertical bar
// ("CRV Files (*.crv)|*.crv|"), into the toolkit's ("CRV Files (*.crv)"). The toolkit reads the
// patterns from the parentheses of each entry, separated by spaces, so the entry is rebuilt from
// the pattern half. Pairs without a pattern are dropped; a filter with no usable pair gives ""
// (every file).
QString NameFilterFrom(const std::string& filter);
// The descriptions of the entries NameFilterFrom keeps, as written in the text: the filter list
// shows them, while the toolkit's entries do the filtering.
QStringList NameFilterLabels(const std::string& filter);

// The request of `mode` with the filter and default extension from the texts.
FileRequest MakeFileRequest(FileDialog mode, IConverterUi& texts);

// Why `target` cannot take the prop converted from `source`, for the user; empty when it can.
// Refused: a target whose folder does not exist, one that is not a plain file (a folder, a pipe,
// a device), and the source itself under any name (a link, another spelling of the path).
QString SaveTargetProblem(const QString& target, const QString& source);

// The folders the file dialogs start in, kept in the user's settings across runs. Opening starts
// in the folder the last scene came from. Saving starts in the source's folder, unless the last
// prop converted from a scene of that folder went elsewhere: then there again (remembered for
// each of the last 50 source folders). RememberSaved is for a prop that was saved.
QString OpenStartFolder();
QString SaveStartFolder(const QString& source);
void RememberOpened(const QString& source);
void RememberSaved(const QString& source, const QString& target);

}  // namespace KX::gui
