// The user's terminal as the face of the console: the screen buffer drawn
// through the terminal library on the terminal's own descriptor, and the
// terminal given back as it was when the process ends.
#pragma once

#include "host/console_buffer.h"

namespace host {

// Takes over the controlling terminal. False when there is none or the
// terminal library cannot drive it; nothing is changed then.
bool TerminalStart();
// The descriptor keys are read from.
int TerminalFd();
// Brings the terminal up to date with the buffer: changed cells and cursor.
void TerminalDraw(const ConsoleBuffer& buffer);
void TerminalBell();
// Gives the terminal back; safe to call more than once.
void TerminalStop();

}  // namespace host
