// Undo files in tests: where a run left them, and the program run again to
// restore one.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// The undo files a run in dir made in the default folder (ProgramRun sets
// XDG_STATE_HOME to dir/state), sorted by name.
std::vector<std::string> DefaultUndoFiles(const std::string& dir);

// The path after "was kept before it in " in the program's output, or empty.
std::string UndoFileNamed(const std::string& output);

struct RestoreRun {
  int exitCode = -1;
  std::string output;  // what the program sent to its terminal
};

// Runs dunmore --restore file with the extra arguments (CARD, --force, ...)
// in dir on the machine (empty: the default machine), answering answer to
// its question.
RestoreRun RunRestore(const std::string& dir, const std::string& machine, const std::string& file,
                      const std::vector<std::string>& arguments = {},
                      const std::string& answer = "y\r");

}  // namespace testsupport
