#pragma once
// Runs a command line through the shell, as a user would type it, and keeps what it printed.
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace KX::test {

struct ToolRun {
  int exitCode = -1;  // -1 when the command did not end by itself
  std::string out;    // standard output and error together
};

inline ToolRun RunCommand(const std::string& commandLine) {
  ToolRun run;
  std::FILE* pipe = ::popen((commandLine + " 2>&1").c_str(), "r");
  if (!pipe) return run;
  std::array<char, 4096> buffer;
  for (size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
    run.out.append(buffer.data(), n);
  const int status = ::pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace KX::test
