#pragma once
// The program's texts: the built-in string table, overridden by the optional resource module
// "VetterResU.so" beside the executable. The module is a shared library exporting
//
//   extern "C" const char* VetterResString(unsigned id);
//
// which answers the UTF-8 text of a string id, or null when it has none. Text 112 (the dialog's
// static text) exists only in a module.
#include <string>

namespace KX {

enum TextId : unsigned {
  kTextAbout = 101,           // "&About Vetter..."
  kTextLoadFailed = 102,
  kTextNotAScene = 103,
  kTextWillConvert = 104,
  kTextAlreadyCompatible = 105,
  kTextFinished = 106,
  kTextSaveFailed = 107,
  kTextOpenFilter = 108,
  kTextOpenExtension = 109,
  kTextSaveFilter = 110,
  kTextSaveExtension = 111,
  kTextDialog = 112,
};

inline constexpr const char* kResourceModuleName = "VetterResU.so";
inline constexpr const char* kResourceSymbol = "VetterResString";

class CTextTable {
 public:
  // Built-in texts only.
  CTextTable() = default;
  // Looks for the resource module in `folder`; without it the built-in texts serve.
  explicit CTextTable(const std::string& folder);
  ~CTextTable();
  CTextTable(const CTextTable&) = delete;
  CTextTable& operator=(const CTextTable&) = delete;

  // The text of `id` (UTF-8); empty when neither the module nor the built-in table has it.
  std::string Text(unsigned id) const;
  bool HasModule() const { return lookup_ != nullptr; }

 private:
  void* module_ = nullptr;
  const char* (*lookup_)(unsigned) = nullptr;
};

// The built-in text of `id`, or null.
const char* BuiltInText(unsigned id);

// The folder holding the running executable (no trailing separator), or "" when unknown.
std::string ExecutableFolder();

}  // namespace KX
