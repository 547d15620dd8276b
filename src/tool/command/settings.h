// The native program's settings: its command line and its variables, read
// once, first thing, into one plain struct. Each option of the machine's
// stands for one variable (CARD for DUNMORE_CARD, --geometry for
// DUNMORE_GEOMETRY, ...); both given and different is refused.
#pragma once

#include <string>

#include "host/boot/machine_options.h"

namespace tool {

using host::Setting;

struct Settings {
  // What the machine boots from: the card, its geometry, the machine file,
  // the clock, the fixed disk, the screen dump and the terminal.
  host::MachineOptions machine;
  // The finishing step after the write (tool/finish): the boot code, and
  // the CHS values of a BIOS's geometry, a preset or heads x sectors.
  Setting boot{"--boot", "DUNMORE_BOOT", {}, false, true};
  Setting bios{"--bios", "DUNMORE_BIOS", {}};
  Setting biosGeometry{"--bios-geometry", "DUNMORE_BIOS_GEOMETRY", {}};
  // The finishing step alone, on a card prepared before; no variable.
  Setting makeBootable{"--make-bootable", nullptr, {}, false, true};
  // What a write overwrites is kept in an undo file (a block device's by
  // default, an image's only when named), and what it wrote is read back;
  // --restore puts an undo file back. Options alone, no variables.
  Setting undo{"--undo", nullptr, {}};
  Setting noUndo{"--no-undo", nullptr, {}, false, true};
  Setting noVerify{"--no-verify", nullptr, {}, false, true};
  Setting restore{"--restore", nullptr, {}};
  Setting force{"--force", nullptr, {}, false, true};
  // The undo files of the default folder: listed, and those begun more than
  // DAYS days ago removed. Options alone.
  Setting undoFiles{"--undo-files", nullptr, {}, false, true};
  Setting forgetUndo{"--forget-undo", nullptr, {}};
  // The runs without the screens, by option alone: the cards present
  // (--list), what a run would write (--dry-run), every question answered
  // yes (--yes); --json prints the listing or the plan as JSON.
  Setting list{"--list", nullptr, {}, false, true};
  Setting dryRun{"--dry-run", nullptr, {}, false, true};
  Setting yes{"--yes", nullptr, {}, false, true};
  Setting json{"--json", nullptr, {}, false, true};
  // --list lists loop devices only when named, or with --all.
  Setting all{"--all", nullptr, {}, false, true};
  // Where the undo files go by default: $XDG_STATE_HOME/dunmore, else
  // $HOME/.local/state/dunmore.
  Setting stateHome{nullptr, "XDG_STATE_HOME", {}};
  Setting home{nullptr, "HOME", {}};
};

enum class SettingsOutcome {
  kRun,         // *settings filled: on to the mode
  kHelp,        // -h, --help: the usage goes to standard output
  kVersion,     // -V, --version
  kUsageError,  // an unknown option, a missing value, a second CARD, twice
  kRefused,     // an option and its variable disagree, or a value is empty
};

// Reads argv (argv[0] the program) and the environment into *settings. For
// every outcome but kRun, *message is what to print: the usage, the version,
// or, for a usage error or a refusal, what is wrong, naming the option or the
// variable as the user gave it (one line, without the program's name).
SettingsOutcome ReadSettings(int argc, char* const* argv, Settings* settings, std::string* message);

// The environment alone, as a program without a command line has it.
Settings SettingsFromEnvironment();

// "--help"'s text.
std::string UsageText();

}  // namespace tool
