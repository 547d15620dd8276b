// The system's own run with its keys answered by the tool, for --dry-run and
// --yes: no terminal is needed. The line console (host/console/
// line_console.h) shows each key wait's screen to the answerer here, which
// types what a user would: "1" and Enter at the menu; for --dry-run the
// plan is then printed and Esc ends the run before anything is written; for
// --yes "2" and Enter, "Y" and Enter at the warning, Esc at every "Press Esc"
// prompt. What the system shows outside its main screen is printed as
// lines.
#pragma once

#include "tool/run/tool_run.h"

namespace tool {

// The whole run: the machine booted, the system's run, the outcome. Its
// exit code: the system's for --yes (0 written or nothing to write, 1
// refused, 3 write failed, ...); for --dry-run 0 once the plan is printed,
// else the system's.
int RunAnswered(ToolRun* run);

}  // namespace tool
