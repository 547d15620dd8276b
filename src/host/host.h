// What the simulated Windows 9x machine offers beyond the Win32 subset: the
// choice of machine and, for tests, a console without a terminal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

// Loads the machine's registry from a REGEDIT4 file or text, replacing the
// one loaded before. On failure *error names the file and line and what is
// wrong there, and the machine is left as it was.
bool LoadMachineFile(const std::string& path, std::string* error);
bool LoadMachineText(const std::string& text, const std::string& name, std::string* error);

// The text of the built-in default machine.
const char* DefaultMachineText();

// Boots the machine once, on the first Win32 call: the registry from
// DUNMORE_MACHINE (or the default machine) unless a test loaded one first,
// and the console on the terminal when standard input is one. A machine file
// that cannot be used ends the process with a message on standard error.
void Boot();

// Reads DUNMORE_CLOCK: when set and not empty, time() answers that many seconds since
// 1970-01-01 00:00 UTC for the rest of the run. False with *error set when
// the value is not such a count.
bool FixClockFromEnvironment(std::string* error);

// A console without a terminal, for tests: keys come from QueueKeys, the
// screen is read back with ScreenRows. Replaces whatever console was there.
void StartHeadlessConsole();
void QueueKeys(const std::string& codes);
std::vector<std::string> ScreenRows();
uint16_t AttributeAt(int column, int row);
void CursorPosition(int* column, int* row);
int BeepCount();
uint32_t ConsoleInputMode();
void SetConsoleInputMode(uint32_t mode);

// How many registry keys are open: every key opened must be closed again.
int OpenKeyCount();

}  // namespace host
