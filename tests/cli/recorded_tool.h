#pragma once
// The tool as the command-line tests run it: through a small script that notes each run's
// command and the exit code it ended with, and keeps a copy of each report a batch or a merge
// wrote, so that at the end of the tests every code seen can be held against the codes that
// command's help lists, and every report against the report's schema.
#include <string>

namespace KX::test {

// The script that runs the tool and notes what it did; made on first use.
const std::string& RecordedRecaster();

// "CODE COMMAND" for each run so far ("report merge" for the command of a command).
std::string ExitLogPath();
// The folder that holds the copies of the reports written so far.
std::string KeptReportsFolder();

}  // namespace KX::test
