// Running the program without a terminal, as scripts run --list, --dry-run
// and --yes, and reading their JSON with python3's json module.
#pragma once

#include <string>

#include "support/support.h"

namespace testsupport {

struct ModeRun {
  int code = -1;    // the exit code; -1 when it did not exit
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs dunmore with these arguments (each quoted for the shell) in dir,
// standard input /dev/null, standard output and error files; environment
// ("NAME=value ...") is set for it alone.
ModeRun RunDunmore(const TempDir& dir, const std::string& arguments,
                   const std::string& environment = "");

// What the python3 expression prints for the JSON document: the document
// is `d`, json is imported; a parse error fails the test.
std::string FromJson(const TempDir& dir, const std::string& json, const std::string& program);

}  // namespace testsupport
