#pragma once
// `recaster extract`: writes every picture and sound a scene file embeds into a folder, one file
// per object, named after the object.
#include <string>
#include <string_view>

namespace KX::cli {

// Loads `file` and writes its embedded pictures (the stored encoded bytes, or a PNG of the
// pixels) and sounds (wave files) into `folder`, which is made when it does not exist. Files that
// exist are only replaced with `force`, and never when they are not plain files. Answers the
// exit code (see docs/user-guide.md).
int RunExtract(const std::string& file, const std::string& folder, bool force);

// A file name made from an object's name: no path separators, control characters or characters
// other systems refuse, no leading dots or spaces, at most 100 bytes of UTF-8; `fallback` when
// nothing is left.
std::string SafeFileStem(std::u16string_view name, std::string_view fallback);

}  // namespace KX::cli
