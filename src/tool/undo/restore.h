// dunmore --restore FILE [CARD]: puts back onto the card what an undo file
// kept of it, once the card is shown to be the file's card and the user
// answers Y. The records go back in reverse order with the MBR last, each
// through the card model as a WRITE SECTORS command (so that the restore
// keeps an undo file of its own and is read back as a write is), and every
// sector restored is read back at the end. --yes answers the question.
#pragma once

#include "tool/run/tool_run.h"

namespace tool {

// Boots the machine and runs the restore (or, with --dry-run, lists what it
// would write); the exit code: 0 restored, declined or listed, 1 refused
// (one line on standard error, nothing written), 3 a write or its read-back
// failed.
int RunRestore(ToolRun* run);

}  // namespace tool
