// The simulated Windows 9x machine of the native build: the Win32 subset the
// system calls (src/win32/win32.h), over POSIX. This is what a program on
// top of it uses: the machine's registry, its boot, its console, and its
// cards.
//
// The host's rooms, one job each:
//   boot/     the machine booted from its options, the machine file
//             checks, the clock, the default machine
//   console/  the Win32 console on a terminal
//   registry/ the machine's registry, its REGEDIT4 files, the version
//   card/     what the kernel says about a real card, on the one descriptor
//             each card's medium is opened with
//   devices/  the pass-through driver's and VWIN32's handles over the
//             device models, and the signals held during a write
// machine_hooks.h is what the program on top adds to the machine. Test
// hooks are in testing.h, which no production file includes.
#pragma once

#include <string>
#include <vector>

#include "host/boot/machine_options.h"
#include "host/machine_hooks.h"
#include "sim/ata_card.h"

namespace host {

// Loads the machine's registry from a REGEDIT4 file or text, replacing the
// one loaded before (and closing the media of its cards). On failure *error
// names the file and line and what is wrong there, and the machine is left
// as it was.
bool LoadMachineFile(const std::string& path, std::string* error);
bool LoadMachineText(const std::string& text, const std::string& name, std::string* error);

// The text of the built-in default machine.
const char* DefaultMachineText();

// Boots the machine, once, before the system's code runs: the clock, the
// registry (the machine file, or the default machine with the card put into
// it), each card's medium opened and checked, the screen dump checked, and
// the hooks kept for the rest of the run. False with *error, one line naming
// what cannot be used; the terminal is not touched.
bool BootMachine(const MachineOptions& options, const MachineHooks& hooks, std::string* error);

// Makes the user's terminal the machine's console when standard input is
// one (see console/console_state.h). False with *error when the terminal
// cannot show it.
bool StartConsole(const MachineOptions& options, std::string* error);

// The end of the run's console: the last screen dump written and the
// terminal given back. Once; later calls and the exit do nothing more.
void StopConsole();

// The cards of the booted machine as the device models take them: each on
// the medium the boot opened, with the hooks around its writes. False with
// *error when the card keys cannot be used.
bool MachineCards(std::vector<sim::CardSettings>* cards, std::string* error);

// The card the system works on now: the one the pass-through driver's ports
// address, or null.
const sim::AtaCard* SelectedCard();

// The kernel is asked to read the partition table of each of these media
// again, as at the end of the system's run; a refusal is noted.
void RereadTables(const std::vector<std::string>& media);

// Fixes the clock: time() answers that many seconds since 1970-01-01 00:00
// UTC for the rest of the run.
void FixClock(uint32_t seconds);

}  // namespace host
