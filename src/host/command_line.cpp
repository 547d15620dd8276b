#include "host/command_line.h"

#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <vector>

namespace host {
namespace {

// The variable the card named on the command line goes into.
constexpr char kCardVariable[] = "DUNMORE_CARD";

// Each option that stands for a variable. getopt_long answers with its index
// plus kFirstSettingKey, past every character a short option could use.
struct Setting {
  const char* option;
  const char* variable;
};
constexpr Setting kSettings[] = {
    {"geometry", "DUNMORE_GEOMETRY"},
    {"machine", "DUNMORE_MACHINE"},
    {"clock", "DUNMORE_CLOCK"},
    {"fixed-disk", "DUNMORE_FIXED_DISK"},
};
constexpr int kFirstSettingKey = 0x100;

struct KeptArguments {
  int argc = 0;
  char** argv = nullptr;
};
KeptArguments kept;

// The variables the command line set, for SettingText.
std::set<std::string>& GivenOnCommandLine() {
  static std::set<std::string>* given = new std::set<std::string>;
  return *given;
}

std::string Shown(const char* variable, const std::string& value) {
  if (variable == std::string(kCardVariable)) return "card " + value;
  for (const Setting& setting : kSettings) {
    if (variable == std::string(setting.variable)) {
      return std::string("--") + setting.option + " " + value;
    }
  }
  return std::string(variable) + "=" + value;
}

}  // namespace

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

void KeepProgramArguments(int argc, char** argv) {
  kept.argc = argc;
  kept.argv = argv;
}

std::string UsageText() {
  return "Usage: dunmore [OPTIONS] [CARD]\n"
         "Re-partitions and quick-formats a PC Card (CompactFlash) ATA disk for Windows 95\n"
         "and 98: one primary partition over the card with an empty FAT16 or FAT32 volume.\n"
         "It runs on a simulated Windows 98 machine, full screen in a terminal of 80 x 25.\n"
         "\n"
         "  CARD                the card: a card reader's block device (the whole disk,\n"
         "                      such as /dev/sdc) or an image file, created sparse when\n"
         "                      missing; without it, pccard.img in the current folder\n"
         "  --geometry CxHxS    the card's cylinders, heads and sectors per track (each\n"
         "                      1 to 65535), as IDENTIFY DEVICE reports them; a block\n"
         "                      device is asked for its own, an image is 490x8x32\n"
         "  --machine FILE      the Windows 9x machine, a REGEDIT4 file whose card keys\n"
         "                      name its cards (not with CARD)\n"
         "  --clock SECONDS     the clock, seconds since 1970-01-01 00:00 UTC, which the\n"
         "                      new volume's serial number is taken from\n"
         "  --fixed-disk DEVICE write DEVICE although it is a fixed disk (not removable,\n"
         "                      no CompactFlash card, no loop device); it must be CARD\n"
         "  -h, --help          print this text and end\n"
         "  -V, --version       print the version and end\n"
         "  --                  what follows is CARD, even if it begins with '-'\n"
         "\n"
         "Each option sets the variable of the same meaning; both given and different\n"
         "is refused.\n"
         "  DUNMORE_CARD        CARD\n"
         "  DUNMORE_GEOMETRY    --geometry\n"
         "  DUNMORE_MACHINE     --machine\n"
         "  DUNMORE_CLOCK       --clock\n"
         "  DUNMORE_FIXED_DISK  --fixed-disk\n"
         "  DUNMORE_SCREEN_DUMP a file that receives the screen at every key wait\n"
         "  TERM                the terminal\n"
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
         "during the write it is held until the card's new partition table is written.\n"
         "\n"
         "Examples:\n"
         "  dunmore --geometry 980x16x63 card.img\n"
         "  sudo dunmore /dev/sdc\n";
}

CommandLineOutcome ParseCommandLine(int argc, char* const* argv, std::string* message) {
  std::vector<option> options;
  options.push_back({"help", no_argument, nullptr, 'h'});
  options.push_back({"version", no_argument, nullptr, 'V'});
  for (size_t i = 0; i < sizeof kSettings / sizeof kSettings[0]; ++i) {
    options.push_back(
        {kSettings[i].option, required_argument, nullptr, kFirstSettingKey + static_cast<int>(i)});
  }
  options.push_back({nullptr, 0, nullptr, 0});

  // Options may stand after CARD, as with the other disk tools; "--" ends
  // them. getopt_long says itself what it did not understand.
  std::vector<std::pair<const char*, std::string>> values;  // variable, value
  optind = 0;                                               // a fresh scan, also when parsed before
  opterr = 1;
  for (;;) {
    int key = getopt_long(argc, argv, "hV", options.data(), nullptr);
    if (key == -1) break;
    if (key == 'h') {
      *message = UsageText();
      return CommandLineOutcome::kHelp;
    }
    if (key == 'V') {
      // The build names the version, the one the main screen shows.
      *message = "dunmore " DUNMORE_VERSION " (native build)\n";
      return CommandLineOutcome::kVersion;
    }
    if (key < kFirstSettingKey) {
      *message = UsageText();
      return CommandLineOutcome::kUsageError;
    }
    const Setting& setting = kSettings[key - kFirstSettingKey];
    for (const auto& earlier : values) {
      if (earlier.first == setting.variable) {
        *message = std::string("dunmore: --") + setting.option + " is given twice\n" + UsageText();
        return CommandLineOutcome::kUsageError;
      }
    }
    values.emplace_back(setting.variable, optarg);
  }
  if (argc - optind > 1) {
    *message = std::string("dunmore: one card at a time: ") + argv[optind] + " and " +
               argv[optind + 1] + "\n" + UsageText();
    return CommandLineOutcome::kUsageError;
  }
  if (optind < argc) values.emplace_back(kCardVariable, argv[optind]);

  for (const auto& [variable, value] : values) {
    // An empty variable counts as not set; an empty option would do nothing
    // while looking as if it did.
    if (value.empty()) {
      *message = Shown(variable, "''") + ": empty";
      return CommandLineOutcome::kRefused;
    }
    std::string already = Environment(variable);
    if (!already.empty() && already != value) {
      *message = Shown(variable, value) + " and " + variable + "=" + already +
                 " disagree: give one of them";
      return CommandLineOutcome::kRefused;
    }
  }
  for (const auto& [variable, value] : values) {
    setenv(variable, value.c_str(), 1);
    GivenOnCommandLine().insert(variable);
  }
  return CommandLineOutcome::kRun;
}

void ApplyCommandLine() {
  if (kept.argv == nullptr) return;
  std::string message;
  switch (ParseCommandLine(kept.argc, kept.argv, &message)) {
    case CommandLineOutcome::kRun:
      return;
    case CommandLineOutcome::kHelp:
    case CommandLineOutcome::kVersion:
      fputs(message.c_str(), stdout);
      exit(fflush(stdout) == 0 ? 0 : 1);
    case CommandLineOutcome::kUsageError:
      fputs(message.c_str(), stderr);
      exit(1);
    case CommandLineOutcome::kRefused:
      fprintf(stderr, "%s\n", message.c_str());
      exit(1);
  }
}

std::string SettingText(const char* variable, const std::string& value) {
  if (GivenOnCommandLine().count(variable) != 0) return Shown(variable, value);
  return std::string(variable) + "=" + value;
}

}  // namespace host
