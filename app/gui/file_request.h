#pragma once
// What a file dialog of the conversion command asks for, in the toolkit's terms.
#include <QString>
#include <string>

#include "app/converter_ui.h"

namespace KX::gui {

struct FileRequest {
  FileDialog mode = FileDialog::kOpen;
  QString nameFilter;     // in the toolkit's form: "Description (*.a *.b);;..."
  QString defaultSuffix;  // without the dot
  QString initialName;    // the dialog starts with it; always empty
  bool fileMustExist = false;
  bool confirmOverwrite = false;
};

// Turns our filter form, description and pattern each closed by a vertical bar
// ("CRV Files (*.crv)|*.crv|"), into the toolkit's ("CRV Files (*.crv)"). The toolkit reads the
// patterns from the parentheses of each entry, so the entry is rebuilt from the pattern half.
// Pairs without a pattern are dropped; a filter with no usable pair gives "" (every file).
QString NameFilterFrom(const std::string& filter);

// The request of `mode` with the filter and default extension from the texts.
FileRequest MakeFileRequest(FileDialog mode, IConverterUi& texts);

}  // namespace KX::gui
