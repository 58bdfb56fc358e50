#pragma once
// Names and paths are UTF-16 in objects and files, UTF-8 for the file system and the terminal.
#include <string>
#include <string_view>

namespace KX {

// Lone surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view text);
// Bytes that are no valid UTF-8 become U+FFFD each.
std::u16string FromUtf8(std::string_view text);

}  // namespace KX
