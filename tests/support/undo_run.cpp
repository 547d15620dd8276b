#include "support/undo_run.h"

#include <algorithm>
#include <filesystem>

#include "support/program_run.h"

namespace testsupport {

std::vector<std::string> DefaultUndoFiles(const std::string& dir) {
  std::vector<std::string> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir + "/state/dunmore", error)) {
    files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string UndoFileNamed(const std::string& output) {
  const std::string mark = "was kept before it in ";
  size_t at = output.find(mark);
  if (at == std::string::npos) return std::string();
  at += mark.size();
  size_t end = output.find(';', at);
  return output.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

RestoreRun RunRestore(const std::string& dir, const std::string& machine, const std::string& file,
                      const std::vector<std::string>& arguments, const std::string& answer) {
  RunOptions options;
  options.arguments = {"--restore", file};
  options.arguments.insert(options.arguments.end(), arguments.begin(), arguments.end());
  ProgramRun run(dir, machine, {}, options);
  RestoreRun result;
  result.exitCode = run.TypeAndWaitExit(answer, 120000);
  result.output = run.TerminalOutput();
  return result;
}

}  // namespace testsupport
