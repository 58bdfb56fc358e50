#pragma once
// A private temporary folder for a test, removed with everything in it when it goes away.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace KX::test {

class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "kx_test") {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "_XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string Path(const std::string& name) const { return path + "/" + name; }
  // Writes `content` to a file in the folder and answers its path.
  std::string File(const std::string& name, const std::string& content) const {
    const std::string p = Path(name);
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }

  std::string path;
};

// A temporary folder that also becomes TMPDIR, so that code placing its own temporary files there
// (the mapped storage) works in it. Made as a global of the test program, it outlives the
// process-wide storage systems, which are built later and so destroyed earlier.
class PrivateTmpDir : public TempDir {
 public:
  explicit PrivateTmpDir(const std::string& prefix) : TempDir(prefix) {
    ::setenv("TMPDIR", path.c_str(), 1);
  }
};

}  // namespace KX::test
