// --list: the cards present, or the one CARD names, as text or JSON;
// nothing is opened for writing and nothing is locked.
#pragma once

#include "tool/run/tool_run.h"

namespace tool {

// The listing's exit code: 0, or 1 when a card (CARD, or one present) could
// not be opened, which the listing marks and standard error says, or when
// standard output cannot be written.
int RunList(ToolRun* run);

}  // namespace tool
