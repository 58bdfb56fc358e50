#include "app/texts.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace KX {

const char* BuiltInText(unsigned id) {
  switch (id) {
    case kTextAbout: return "&About Vetter...";
    case kTextLoadFailed: return "Error when loading file.";
    case kTextNotAScene: return "This is not a valid Fabler 3D Scene file.";
    case kTextWillConvert:
      return "Fabler 3D Scene will be converted to 3D Prop and become compatible with Fabler3.";
    case kTextAlreadyCompatible:
      return "This file is already compatible with Fabler3. There is no need to process it.";
    case kTextFinished: return "Process is finished. Please reload the props to your Fabler3.";
    case kTextSaveFailed: return "Error when saving file.";
    case kTextOpenFilter: return "CRV Files (*.crv)|*.crv|";
    case kTextOpenExtension: return "crv";
    case kTextSaveFilter: return "Fabler Prop Files (*.fbprop;*.crv)|*.fbprop;*.crv|";
    case kTextSaveExtension: return "fbprop";
    default: return nullptr;
  }
}

CTextTable::CTextTable(const std::string& folder) {
  if (folder.empty()) return;
  const std::string path = folder + "/" + kResourceModuleName;
  module_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module_) return;
  lookup_ = reinterpret_cast<const char* (*)(unsigned)>(::dlsym(module_, kResourceSymbol));
  if (!lookup_) {
    // A library of that name without our lookup is no resource module of ours.
    ::dlclose(module_);
    module_ = nullptr;
  }
}

CTextTable::~CTextTable() {
  if (module_) ::dlclose(module_);
}

std::string CTextTable::Text(unsigned id) const {
  if (lookup_)
    if (const char* text = lookup_(id)) return text;
  const char* builtIn = BuiltInText(id);
  return builtIn ? builtIn : "";
}

std::string ExecutableFolder() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  std::string path(buffer, static_cast<size_t>(n));
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace KX
