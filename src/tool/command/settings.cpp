#include "tool/command/settings.h"

#include <getopt.h>

#include <cstdlib>
#include <vector>

namespace tool {
namespace {

// Where a setting is in the struct: the machine's own, or the tool's.
using SettingOf = Setting& (*)(Settings&);

// Every setting that has an option, in the order getopt_long is told them,
// with the short key it also answers to (0: none). getopt_long answers a
// long option with its index plus kFirstSettingKey, past every character a
// short option could use.
struct OptionEntry {
  int shortKey;
  SettingOf of;
};
constexpr int kFirstSettingKey = 0x100;
const OptionEntry kOptions[] = {
    {0, [](Settings& s) -> Setting& { return s.machine.geometry; }},
    {0, [](Settings& s) -> Setting& { return s.machine.file; }},
    {0, [](Settings& s) -> Setting& { return s.machine.clock; }},
    {0, [](Settings& s) -> Setting& { return s.machine.fixedDisk; }},
    {0, [](Settings& s) -> Setting& { return s.boot; }},
    {0, [](Settings& s) -> Setting& { return s.bios; }},
    {0, [](Settings& s) -> Setting& { return s.biosGeometry; }},
    {0, [](Settings& s) -> Setting& { return s.makeBootable; }},
    {0, [](Settings& s) -> Setting& { return s.undo; }},
    {0, [](Settings& s) -> Setting& { return s.noUndo; }},
    {0, [](Settings& s) -> Setting& { return s.noVerify; }},
    {0, [](Settings& s) -> Setting& { return s.restore; }},
    {0, [](Settings& s) -> Setting& { return s.force; }},
    {0, [](Settings& s) -> Setting& { return s.undoFiles; }},
    {0, [](Settings& s) -> Setting& { return s.forgetUndo; }},
    {'l', [](Settings& s) -> Setting& { return s.list; }},
    {'n', [](Settings& s) -> Setting& { return s.dryRun; }},
    {'y', [](Settings& s) -> Setting& { return s.yes; }},
    {0, [](Settings& s) -> Setting& { return s.json; }},
    {0, [](Settings& s) -> Setting& { return s.all; }},
};
constexpr size_t kOptionCount = sizeof kOptions / sizeof kOptions[0];

// Every setting that has a variable, for reading the environment.
const SettingOf kVariables[] = {
    [](Settings& s) -> Setting& { return s.machine.card; },
    [](Settings& s) -> Setting& { return s.machine.geometry; },
    [](Settings& s) -> Setting& { return s.machine.file; },
    [](Settings& s) -> Setting& { return s.machine.clock; },
    [](Settings& s) -> Setting& { return s.machine.fixedDisk; },
    [](Settings& s) -> Setting& { return s.machine.screenDump; },
    [](Settings& s) -> Setting& { return s.machine.terminal; },
    [](Settings& s) -> Setting& { return s.boot; },
    [](Settings& s) -> Setting& { return s.bios; },
    [](Settings& s) -> Setting& { return s.biosGeometry; },
    [](Settings& s) -> Setting& { return s.stateHome; },
    [](Settings& s) -> Setting& { return s.home; },
};

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// What getopt_long did not understand, said in the program's own name
// whatever path it was started by.
std::string NotUnderstood(int key, const std::string& typed) {
  if (key == ':') return "option '" + typed.substr(0, typed.find('=')) + "' requires an argument";
  if (typed.rfind("--", 0) == 0 && typed.find('=') != std::string::npos) {
    return "option '" + typed.substr(0, typed.find('=')) + "' takes no value";
  }
  if (optopt != 0) return std::string("invalid option -- '") + static_cast<char>(optopt) + "'";
  return "unrecognized option '" + typed + "'";
}

}  // namespace

Settings SettingsFromEnvironment() {
  Settings settings;
  for (SettingOf of : kVariables) {
    Setting& setting = of(settings);
    setting.value = Variable(setting.variable);
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
         "                      1 to 65535), as IDENTIFY DEVICE reports them, for a card\n"
         "                      that reports none (a card that does keeps its own);\n"
         "                      without it, the one a card of its size reports\n"
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
         "  --make-bootable     only that (--boot, with --bios ...) on CARD (or the card\n"
         "                      of --machine), which holds one FAT16 or FAT32\n"
         "                      partition, after asking\n"
         "  -l, --list          list the cards present (or CARD) and end: identity,\n"
         "                      geometry and partitions; nothing is opened for writing\n"
         "  -n, --dry-run       the start-up and its checks, then what the run would\n"
         "                      write (the plan that 1 makes, or the sectors of\n"
         "                      --restore or --make-bootable), printed; nothing is\n"
         "                      written, created or kept\n"
         "  -y, --yes           every question answered yes, no terminal needed: the\n"
         "                      plan, then the run that 1, 2 and Y make, its messages\n"
         "                      printed as lines; or the restore, or --make-bootable\n"
         "  --json              with --list or --dry-run: the same as one JSON document\n"
         "  --all               with --list: the loop devices too (else only one named)\n"
         "  --undo FILE         keep what the write overwrites in FILE (a new file);\n"
         "                      a block device's is kept by default in\n"
         "                      $XDG_STATE_HOME/dunmore (~/.local/state/dunmore)\n"
         "  --no-undo           keep no undo file (not with --fixed-disk)\n"
         "  --no-verify         do not read back what is written to a block device\n"
         "  --restore FILE      put back onto CARD (or the one card) what the undo file\n"
         "                      FILE kept, once asked (Y)\n"
         "  --force             with --restore: a card whose identity cannot be checked\n"
         "  --undo-files        list the undo files of the default folder: the card,\n"
         "                      when begun, the size, whole or cut short\n"
         "  --forget-undo DAYS  remove the undo files of the default folder begun more\n"
         "                      than DAYS days ago (0: all), once asked (Y)\n"
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
         "  sudo dunmore --forget-undo 30\n"
         "\n"
         "For more details see dunmore(8).\n";
}

SettingsOutcome ReadSettings(int argc, char* const* argv, Settings* settings,
                             std::string* message) {
  Settings defaults;
  std::vector<option> options;
  std::string shortKeys = ":hV";
  options.push_back({"help", no_argument, nullptr, 'h'});
  options.push_back({"version", no_argument, nullptr, 'V'});
  for (size_t i = 0; i < kOptionCount; ++i) {
    const Setting& setting = kOptions[i].of(defaults);
    options.push_back({setting.option + 2, setting.flag ? no_argument : required_argument, nullptr,
                       kFirstSettingKey + static_cast<int>(i)});
    if (kOptions[i].shortKey != 0) shortKeys += static_cast<char>(kOptions[i].shortKey);
  }
  options.push_back({nullptr, 0, nullptr, 0});

  // Options may stand after CARD, as with the other disk tools; "--" ends
  // them.
  std::vector<std::pair<SettingOf, std::string>> given;
  optind = 0;  // a fresh scan, also when parsed before
  opterr = 0;
  for (;;) {
    int key = getopt_long(argc, argv, shortKeys.c_str(), options.data(), nullptr);
    if (key == -1) break;
    if (key == '?' || key == ':') {
      *message = NotUnderstood(key, argv[optind - 1]);
      return SettingsOutcome::kUsageError;
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
    size_t index = static_cast<size_t>(key - kFirstSettingKey);
    for (size_t i = 0; i < kOptionCount; ++i) {
      if (kOptions[i].shortKey == key) index = i;
    }
    SettingOf of = kOptions[index].of;
    const Setting& setting = of(defaults);
    for (const auto& earlier : given) {
      if (earlier.first == of) {
        *message = std::string(setting.option) + " is given twice";
        return SettingsOutcome::kUsageError;
      }
    }
    given.emplace_back(of, setting.flag ? "1" : optarg);
  }
  if (argc - optind > 1) {
    *message = std::string("one card at a time: ") + argv[optind] + " and " + argv[optind + 1];
    return SettingsOutcome::kUsageError;
  }
  if (optind < argc) {
    given.emplace_back([](Settings& s) -> Setting& { return s.machine.card; }, argv[optind]);
  }

  Settings read = SettingsFromEnvironment();
  for (const auto& [of, value] : given) {
    Setting& setting = of(read);
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
  *settings = read;
  return SettingsOutcome::kRun;
}

}  // namespace tool
