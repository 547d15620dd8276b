// dunmore --make-bootable [--bios ...] CARD: the finishing step alone, on a
// card prepared before, after asking (--yes answers, --dry-run lists what
// it would write).
#pragma once

#include "tool/run/tool_run.h"

namespace tool {

// The exit code: 0 done, declined or listed, 1 refused (one line on
// standard error), 3 a write failed.
int MakeBootable(ToolRun* run);

}  // namespace tool
