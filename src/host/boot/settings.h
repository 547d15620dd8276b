// The native program's settings: its command line and its variables, read
// once, first thing, into one plain struct, from which the machine boots.
// Each option stands for one variable (CARD for DUNMORE_CARD, --geometry for
// DUNMORE_GEOMETRY, ...); both given and different is refused.
#pragma once

#include <string>

namespace host {

// One setting: its names, spelled here alone, and its value.
struct Setting {
  const char* option;    // "--geometry"; "card" for the argument
  const char* variable;  // "DUNMORE_GEOMETRY"
  std::string value;     // empty: not set
  bool onCommandLine = false;
  // An option that takes no value (--boot): given, its value is "1".
  bool flag = false;

  bool given() const { return !value.empty(); }
  // How a refusal names it with a value: as the user gave it, the option
  // (always, for an option without a variable)
  // ("--clock 12x", "card /dev/sdc1") or the variable ("DUNMORE_CLOCK=12x").
  std::string Shown(const std::string& text) const;
  std::string Shown() const { return Shown(value); }
};

struct Settings {
  Setting card{"card", "DUNMORE_CARD", {}};
  Setting geometry{"--geometry", "DUNMORE_GEOMETRY", {}};
  Setting machine{"--machine", "DUNMORE_MACHINE", {}};
  Setting clock{"--clock", "DUNMORE_CLOCK", {}};
  Setting fixedDisk{"--fixed-disk", "DUNMORE_FIXED_DISK", {}};
  // The finishing step after the write (host/finish): the boot code, and
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
  // Where the undo files go by default: $XDG_STATE_HOME/dunmore, else
  // $HOME/.local/state/dunmore.
  Setting stateHome{nullptr, "XDG_STATE_HOME", {}};
  Setting home{nullptr, "HOME", {}};
  // For tests: a file that receives the console's text at every key wait.
  Setting screenDump{nullptr, "DUNMORE_SCREEN_DUMP", {}};
  // The terminal, for the console; no option of its own.
  Setting terminal{nullptr, "TERM", {}};
  // The runs without the screens (host/modes), by option alone: the cards
  // present (--list), the plan alone (--dry-run), the write without keys
  // (--yes); --json prints the listing or the plan as JSON.
  bool list = false;
  bool dryRun = false;
  bool yes = false;
  bool json = false;
};

enum class SettingsOutcome {
  kRun,         // *settings filled: boot on
  kHelp,        // -h, --help: the usage goes to standard output
  kVersion,     // -V, --version
  kUsageError,  // an unknown option, a missing value, a second CARD
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

}  // namespace host
