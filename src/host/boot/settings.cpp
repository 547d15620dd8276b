#include "host/boot/settings.h"

#include <getopt.h>

#include <cstdlib>
#include <vector>

namespace host {
namespace {

// The settings that have an option, in the order getopt_long is told them;
// it answers with an option's index plus kFirstSettingKey, past every
// character a short option could use.
constexpr Setting Settings::*kOptionSettings[] = {
    &Settings::geometry, &Settings::machine, &Settings::clock,        &Settings::fixedDisk,
    &Settings::boot,     &Settings::bios,    &Settings::biosGeometry, &Settings::makeBootable,
    &Settings::undo,     &Settings::noUndo,  &Settings::noVerify,     &Settings::restore,
    &Settings::force};
constexpr int kFirstSettingKey = 0x100;
// --json has no short option: a key no character typed after '-' can give.
constexpr int kJsonKey = 0xFF;

// The modes' options, without a value: the short key getopt_long answers
// with, the long name, and the flag it sets.
struct ModeOption {
  int key;
  const char* name;
  bool Settings::*flag;
};
constexpr ModeOption kModeOptions[] = {{'l', "list", &Settings::list},
                                       {'n', "dry-run", &Settings::dryRun},
                                       {'y', "yes", &Settings::yes},
                                       {kJsonKey, "json", &Settings::json}};

// A mistake on the command line: what is wrong and where to read more.
SettingsOutcome UsageMistake(const std::string& what, std::string* message) {
  *message = what;
  return SettingsOutcome::kUsageError;
}

// Every setting, for reading the environment.
constexpr Setting Settings::*kAllSettings[] = {
    &Settings::card,      &Settings::geometry,     &Settings::machine,      &Settings::clock,
    &Settings::fixedDisk, &Settings::screenDump,   &Settings::terminal,     &Settings::boot,
    &Settings::bios,      &Settings::biosGeometry, &Settings::makeBootable, &Settings::stateHome,
    &Settings::home};

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

}  // namespace

std::string Setting::Shown(const std::string& text) const {
  if (flag && onCommandLine) return option;
  if (!onCommandLine && variable != nullptr) return std::string(variable) + "=" + text;
  return std::string(option) + " " + text;
}

Settings SettingsFromEnvironment() {
  Settings settings;
  for (Setting Settings::*member : kAllSettings) {
    Setting& setting = settings.*member;
    if (setting.variable != nullptr) setting.value = Variable(setting.variable);
  }
  return settings;
}

std::string UsageText() {
  return "Usage: dunmore [OPTIONS] [CARD]\n"
         "Re-partitions and quick-formats a PC Card (CompactFlash) ATA disk for Windows 95\n"
         "and 98: one primary partition over the card with an empty FAT16 or FAT32 volume.\n"
         "It runs on a simulated Windows 98 machine, full screen in a terminal of 80 x 25.\n"
         "\n"
         "  CARD                the card: a card reader's block device (the whole disk,\n"
         "                      such as /dev/sdc) or an image file (a new one, sparse,\n"
         "                      only with --geometry); without it, pccard.img in the\n"
         "                      current folder\n"
         "  --geometry CxHxS    the card's cylinders, heads and sectors per track (each\n"
         "                      1 to 65535), as IDENTIFY DEVICE reports them; a block\n"
         "                      device is asked for its own, an image is 490x8x32\n"
         "  --machine FILE      the Windows 9x machine, a REGEDIT4 file whose card keys\n"
         "                      name its cards (not with CARD)\n"
         "  --clock SECONDS     the clock, seconds since 1970-01-01 00:00 UTC, which the\n"
         "                      new volume's serial number is taken from\n"
         "  --fixed-disk DEVICE write CARD although it is a fixed disk (not removable,\n"
         "                      no CompactFlash card, no loop device); DEVICE must name\n"
         "                      the same device as CARD\n"
         "  --boot              after the write, make the card start in a PC: boot code in\n"
         "                      the master boot record and the FAT boot sector (which\n"
         "                      says the card holds no system yet), the partition active\n"
         "  --bios lba|normal   write the partition's CHS values and the BPB's heads and\n"
         "                      sectors for the target machine's BIOS translation:\n"
         "                      LBA-assist (16 to 255 heads, 63 sectors, from the card's\n"
         "                      size) or NORMAL (the card's own heads and sectors)\n"
         "  --bios-geometry HxS the same for a BIOS geometry of H heads, S sectors\n"
         "  --make-bootable     only that (--boot, with --bios ...) on CARD, which holds\n"
         "                      one FAT16 or FAT32 partition, after asking\n"
         "  -l, --list          list the cards present (or CARD) and end: identity,\n"
         "                      geometry and partitions; nothing is opened for writing\n"
         "  -n, --dry-run       the start-up and its checks, then the plan that 1 makes,\n"
         "                      printed; nothing is written\n"
         "  -y, --yes           no terminal needed: the plan, then the run that 1, 2 and\n"
         "                      Y make, its messages printed as lines\n"
         "  --json              with --list or --dry-run: the same as one JSON document\n"
         "  --undo FILE         keep what the write overwrites in FILE (a new file);\n"
         "                      a block device's is kept by default in\n"
         "                      $XDG_STATE_HOME/dunmore (~/.local/state/dunmore)\n"
         "  --no-undo           keep no undo file (not with --fixed-disk)\n"
         "  --no-verify         do not read back what is written to a block device\n"
         "  --restore FILE      put back onto CARD (or the one card) what the undo file\n"
         "                      FILE kept, once asked (Y)\n"
         "  --force             with --restore: a card whose identity is unknown\n"
         "  -h, --help          print this text and end\n"
         "  -V, --version       print the version and end\n"
         "  --                  what follows is CARD, even if it begins with '-'\n"
         "\n"
         "Each option before --undo sets the variable of the same meaning; both given\n"
         "and different is refused.\n"
         "  DUNMORE_CARD        CARD\n"
         "  DUNMORE_GEOMETRY    --geometry\n"
         "  DUNMORE_MACHINE     --machine\n"
         "  DUNMORE_CLOCK       --clock\n"
         "  DUNMORE_FIXED_DISK  --fixed-disk\n"
         "  DUNMORE_BOOT        --boot (1)\n"
         "  DUNMORE_BIOS        --bios\n"
         "  DUNMORE_BIOS_GEOMETRY --bios-geometry\n"
         "  DUNMORE_SCREEN_DUMP a file that receives the screen at every key wait\n"
         "  TERM                the terminal\n"
         "  XDG_STATE_HOME      the undo files go to $XDG_STATE_HOME/dunmore, else to\n"
         "  HOME                $HOME/.local/state/dunmore\n"
         "\n"
         "Keys: 1 plans the new partition, 2 goes on to the warning, Y at the warning\n"
         "writes the card (N or Enter does not), Enter takes the choice shown, Esc at\n"
         "the menu ends without writing.\n"
         "\n"
         "Exit codes:\n"
         "  0  done, nothing to write, or declined at the warning\n"
         "  1  the start-up refused: the machine, the card, the terminal or the command\n"
         "     line (said on the screen or on standard error)\n"
         "  2  Esc at the menu: nothing written\n"
         "  3  the write failed\n"
         "  4  the pass-through driver is missing (\"VXD not found.\")\n"
         "A signal (INT, TERM, HUP, QUIT) ends the run with the terminal given back;\n"
         "during the write it is held until the card is written and released.\n"
         "\n"
         "Examples:\n"
         "  dunmore --geometry 980x16x63 card.img\n"
         "  sudo dunmore /dev/sdc\n"
         "  sudo dunmore --list --json\n"
         "  sudo dunmore --yes /dev/sdc\n"
         "  sudo dunmore --restore ~/.local/state/dunmore/MODEL_SERIAL_TIME.undo /dev/sdc\n"
         "\n"
         "For more details see dunmore(8).\n";
}

SettingsOutcome ReadSettings(int argc, char* const* argv, Settings* settings,
                             std::string* message) {
  Settings defaults;
  std::vector<option> options;
  options.push_back({"help", no_argument, nullptr, 'h'});
  options.push_back({"version", no_argument, nullptr, 'V'});
  for (const ModeOption& mode : kModeOptions) {
    options.push_back({mode.name, no_argument, nullptr, mode.key});
  }
  for (size_t i = 0; i < sizeof kOptionSettings / sizeof kOptionSettings[0]; ++i) {
    const Setting& setting = defaults.*kOptionSettings[i];
    options.push_back({setting.option + 2, setting.flag ? no_argument : required_argument, nullptr,
                       kFirstSettingKey + static_cast<int>(i)});
  }
  options.push_back({nullptr, 0, nullptr, 0});

  // Options may stand after CARD, as with the other disk tools; "--" ends
  // them. What getopt_long did not understand is said here, in the
  // program's own name whatever path it was started by.
  std::vector<std::pair<Setting Settings::*, std::string>> given;
  Settings modes;
  optind = 0;  // a fresh scan, also when parsed before
  opterr = 0;
  for (;;) {
    int key = getopt_long(argc, argv, ":hVlny", options.data(), nullptr);
    if (key == -1) break;
    if (key == '?' || key == ':') {
      const std::string typed = argv[optind - 1];
      if (key == ':') {
        *message = "option '" + typed.substr(0, typed.find('=')) + "' requires an argument";
      } else if (typed.rfind("--", 0) == 0 && typed.find('=') != std::string::npos) {
        *message = "option '" + typed.substr(0, typed.find('=')) + "' takes no value";
      } else if (optopt != 0) {
        *message = std::string("invalid option -- '") + static_cast<char>(optopt) + "'";
      } else {
        *message = "unrecognized option '" + typed + "'";
      }
      return SettingsOutcome::kUsageError;
    }
    const ModeOption* mode = nullptr;
    for (const ModeOption& option : kModeOptions) {
      if (option.key == key) mode = &option;
    }
    if (mode != nullptr) {
      modes.*(mode->flag) = true;
      continue;
    }
    if (key == 'h') {
      *message = UsageText();
      return SettingsOutcome::kHelp;
    }
    if (key == 'V') {
      // The build names the version, the one the main screen shows.
      *message = "dunmore " DUNMORE_VERSION " (native build)\n";
      return SettingsOutcome::kVersion;
    }
    Setting Settings::*member = kOptionSettings[key - kFirstSettingKey];
    for (const auto& earlier : given) {
      if (earlier.first == member) {
        *message = std::string((defaults.*member).option) + " is given twice";
        return SettingsOutcome::kUsageError;
      }
    }
    given.emplace_back(member, (defaults.*member).flag ? "1" : optarg);
  }
  if (argc - optind > 1) {
    *message = std::string("one card at a time: ") + argv[optind] + " and " + argv[optind + 1];
    return SettingsOutcome::kUsageError;
  }
  if (optind < argc) given.emplace_back(&Settings::card, argv[optind]);
  if (int(modes.list) + int(modes.dryRun) + int(modes.yes) > 1) {
    return UsageMistake("--list, --dry-run and --yes go one at a time", message);
  }
  if (modes.json && !modes.list && !modes.dryRun) {
    return UsageMistake("--json goes with --list or --dry-run", message);
  }

  Settings read = SettingsFromEnvironment();
  for (const auto& [member, value] : given) {
    Setting& setting = read.*member;
    std::string already = setting.value;
    setting.onCommandLine = true;
    // An empty variable counts as not set; an empty option would do nothing
    // while looking as if it did.
    if (value.empty()) {
      *message = setting.Shown("''") + ": empty";
      return SettingsOutcome::kRefused;
    }
    if (setting.variable != nullptr && !already.empty() && already != value) {
      *message = setting.Shown(value) + " and " + setting.variable + "=" + already +
                 " disagree: give one of them";
      return SettingsOutcome::kRefused;
    }
    setting.value = value;
  }
  for (const ModeOption& mode : kModeOptions) read.*(mode.flag) = modes.*(mode.flag);
  *settings = read;
  return SettingsOutcome::kRun;
}

}  // namespace host
