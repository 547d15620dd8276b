// The user's terminal as the face of the console: the screen buffer drawn
// through the terminal library on the terminal's own descriptor, and the
// terminal given back as it was when the process ends.
#pragma once

#include <string>

#include "host/console/console_buffer.h"

namespace host {

// Takes over the controlling terminal. False when there is none or the
// terminal library cannot drive it, or (with *refusal set) when it cannot
// position the cursor or is smaller than the console's 80 x 25; nothing is
// changed then. termName is the terminal's type as TERM gives it (empty: one
// of the common ones).
bool TerminalStart(const std::string& termName, std::string* refusal);
// The descriptor keys are read from.
int TerminalFd();
// Readable while a resize of the terminal waits to be applied.
int TerminalResizeFd();
// Applies a resize that came: the whole console drawn anew, or, on a
// terminal now smaller than 80 x 25, a notice saying so. False when none
// came.
bool TerminalApplyResize(const ConsoleBuffer& buffer);
// How many resizes were applied so far.
int TerminalResizeCount();
// True while the terminal is too small to show the console.
bool TerminalTooSmall();
// Brings the terminal up to date with the buffer: changed cells and cursor.
void TerminalDraw(const ConsoleBuffer& buffer);
void TerminalBell();
// Gives the terminal back; safe to call more than once.
void TerminalStop();

}  // namespace host
