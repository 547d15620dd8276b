#include "tool/mode_run.h"

#include <gtest/gtest.h>

namespace testsupport {

ModeRun RunDunmore(const TempDir& dir, const std::string& arguments,
                   const std::string& environment) {
  ModeRun run;
  std::string out = dir.File("mode.out");
  std::string err = dir.File("mode.err");
  std::string output;
  // RunCommand sends the command's standard error to its own output: the
  // run's redirections stand inside the group that receives that.
  run.code = RunCommand("{ cd '" + dir.path() + "' && env " + environment + " '" DUNMORE_EXE "' " +
                            arguments + " </dev/null >'" + out + "' 2>'" + err + "'; }",
                        &output);
  run.out = ReadFile(out);
  run.err = ReadFile(err);
  return run;
}

std::string FromJson(const TempDir& dir, const std::string& json, const std::string& program) {
  std::string document = dir.File("document.json");
  std::string script = dir.File("query.py");
  WriteFile(document, json);
  WriteFile(script, "import json, sys\nd = json.load(open(sys.argv[1]))\n" + program + "\n");
  std::string output;
  int status = RunCommand("python3 '" + script + "' '" + document + "'", &output);
  EXPECT_EQ(0, status) << output << "\n" << json;
  return output;
}

}  // namespace testsupport
