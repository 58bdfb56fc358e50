#include "cli/recorded_tool.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "support/temp_dir.h"

namespace KX::test {

namespace {

TempDir& Folder() {
  static TempDir folder("kx_cli_runs");
  return folder;
}

// The command is the first word that is no option, and for report the word after it. The
// report is the value of --report, or of -o for report merge; a copy is kept when it was written.
constexpr char kScript[] = R"sh(#!/bin/sh
"$KX_TOOL" "$@"
code=$?
command= report= previous=
for word do
  case $previous in --report) report=$word ;; -o|--output) [ "$command" = "report merge" ] && report=$word ;; esac
  case $word in --report=*) report=${word#--report=} ;; esac
  previous=$word
  case $word in -*) continue ;; esac
  if [ -z "$command" ]; then command=$word
  elif [ "$command" = report ]; then command="report $word"
  fi
done
echo "$code $command" >> "$KX_LOG" 2>/dev/null
if [ -n "$report" ] && [ -f "$report" ]; then
  cp "$report" "$(mktemp "$KX_REPORTS/report-XXXXXX")" 2>/dev/null
fi
exit $code
)sh";

}  // namespace

std::string ExitLogPath() { return Folder().Path("exits.log"); }
std::string KeptReportsFolder() { return Folder().Path("reports"); }

const std::string& RecordedRecaster() {
  static const std::string script = [] {
    std::filesystem::create_directories(KeptReportsFolder());
    const std::string path = Folder().Path("recaster");
    std::ofstream(path) << "#!/bin/sh\n"
                        << "KX_TOOL='" << KX_RECASTER_PATH << "' KX_LOG='" << ExitLogPath()
                        << "' KX_REPORTS='" << KeptReportsFolder() << "'\n"
                        << (kScript + sizeof "#!/bin/sh");
    ::chmod(path.c_str(), 0755);
    return path;
  }();
  return script;
}

}  // namespace KX::test
