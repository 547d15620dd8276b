// The simulated Windows 9x machine of the native build: the Win32 subset the
// system calls (src/win32/win32.h), over POSIX. This is what the native main
// uses of it: the machine's registry and its boot from the settings.
//
// The host's rooms, one job each:
//   boot/     the settings read once, the machine booted from them, the
//             machine file checks, the clock, the default machine, main()
//   console/  the Win32 console on a terminal
//   registry/ the machine's registry, its REGEDIT4 files, the version
//   card/     what the kernel says about a real card, on the one descriptor
//             each card's medium is opened with
//   devices/  the pass-through driver's and VWIN32's handles over the
//             device models, and the signals held during a write
//   modes/    the runs without the screens: --list, --dry-run, --yes (a
//             library of the dunmore program's own, beside the system)
//   undo/     the undo file kept and the read-back made around each write
//             to a card, and --restore
// Test hooks are in testing.h, which no production file includes.
#pragma once

#include <string>

#include "host/boot/settings.h"

namespace host {

// Loads the machine's registry from a REGEDIT4 file or text, replacing the
// one loaded before (and closing the media of its cards). On failure *error
// names the file and line and what is wrong there, and the machine is left
// as it was.
bool LoadMachineFile(const std::string& path, std::string* error);
bool LoadMachineText(const std::string& text, const std::string& name, std::string* error);

// The text of the built-in default machine.
const char* DefaultMachineText();

// Boots the machine from the settings, once, before the system's code runs:
// the clock, the registry (the machine file or the default machine, with
// the card setting put into it), each card's medium opened and checked, and
// the console on the terminal when standard input is one. Whatever cannot be
// used ends the process with one line on standard error and exit code 1,
// before the terminal is touched.
void Boot(const Settings& settings);

// Fixes the clock from its setting: when given, time() answers that many
// seconds since 1970-01-01 00:00 UTC for the rest of the run. False with
// *error set when the value is not such a count.
bool FixClock(const Setting& clock, std::string* error);

}  // namespace host
