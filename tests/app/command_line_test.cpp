// The command line of the native program, as a user of the other disk tools
// types it: the card as the argument, options beside the variables, --help
// and --version, and mistakes refused before anything is touched.
#include <gtest/gtest.h>
#include <termios.h>

#include <string>
#include <vector>

#include "support/golden.h"
#include "support/image.h"
#include "support/program_run.h"
#include "support/support.h"

using namespace testsupport;

namespace {

// Files in the folder, hidden ones included.
std::string Listing(const TempDir& dir) {
  std::string output;
  RunCommand("LC_ALL=C ls -A '" + dir.path() + "'", &output);
  return output;
}

// Runs the program in the pseudo-terminal with the arguments and no key
// typed; its exit code, and what reached the terminal.
int RunArguments(const TempDir& dir, const std::vector<std::string>& arguments,
                 std::string* terminalOutput, const std::map<std::string, std::string>& env = {}) {
  RunOptions options;
  options.arguments = arguments;
  ProgramRun run(dir.path(), "", env, options);
  int code = run.WaitExit();
  *terminalOutput = run.TerminalOutput();
  return code;
}

// Re-partitions and writes the card with the arguments and variables, as
// the golden images were written; the screen of the warning.
Screen WriteWith(const TempDir& dir, const std::vector<std::string>& arguments,
                 const std::map<std::string, std::string>& env) {
  RunOptions options;
  options.arguments = arguments;
  ProgramRun run(dir.path(), "", env, options);
  Screen screen, warning;
  EXPECT_TRUE(run.WaitForKeyWait(&screen));
  for (const char* key : {"1", kEnter, "2", kEnter}) {
    EXPECT_TRUE(run.Type(key, &warning)) << "the program ended after " << key;
  }
  EXPECT_TRUE(run.Type("y", &screen));
  EXPECT_TRUE(run.Type(kEnter, &screen));
  EXPECT_EQ(0, run.TypeAndWaitExit(kEsc, 120000));
  return warning;
}

}  // namespace

TEST(CommandLine, HelpAndVersionPrintAndEndTouchingNothing) {
  // The version the main screen shows, "Brackenfold 1.20" on its second row.
  std::string mainScreen = ReadFile(std::string(DUNMORE_TESTS_DIR) + "/golden/default_main.screen");
  size_t shown = mainScreen.find("Brackenfold ");
  ASSERT_NE(std::string::npos, shown);
  std::string version = mainScreen.substr(shown + 12, mainScreen.find('\n', shown) - shown - 12);

  for (const char* asked : {"--help", "-h", "--version", "-V"}) {
    TempDir dir;
    std::string output;
    EXPECT_EQ(0, RunArguments(dir, {asked}, &output)) << asked;
    // Plain text alone reached the terminal: no screen was drawn, no mode
    // set, and neither a card nor a screen dump was made.
    EXPECT_FALSE(Contains(output, "\x1b")) << asked << ": " << output;
    EXPECT_EQ("", Listing(dir)) << asked;
    if (asked[1] == 'V' || asked[2] == 'v') {
      EXPECT_EQ("dunmore " + version + " (native build)\r\n", output);
    } else {
      EXPECT_TRUE(Contains(output, "Usage: dunmore [OPTIONS] [CARD]")) << output;
      for (const char* named :
           {"--geometry CxHxS", "--machine FILE", "--clock SECONDS", "DUNMORE_CARD",
            "DUNMORE_GEOMETRY", "DUNMORE_MACHINE", "DUNMORE_CLOCK", "DUNMORE_FIXED_DISK",
            "DUNMORE_SCREEN_DUMP", "TERM", "Esc", "  4  ", "--undo FILE", "--no-undo",
            "--no-verify", "--restore FILE", "--force", "XDG_STATE_HOME"}) {
        EXPECT_TRUE(Contains(output, named)) << asked << " does not name " << named;
      }
    }
  }

  // Help goes to standard output, which a pipe takes as it is.
  TempDir dir;
  std::string output;
  EXPECT_EQ(0,
            RunCommand("cd '" + dir.path() + "' && '" DUNMORE_EXE "' --help 2>/dev/null | head -1",
                       &output));
  EXPECT_EQ("Usage: dunmore [OPTIONS] [CARD]\n", output);
}

TEST(CommandLine, TheCardAndItsGeometryAsArgumentsWriteWhatTheVariablesWrite) {
  // A 480 MB card in an image of its own name.
  TempDir byArguments, byVariables;
  Screen warning =
      WriteWith(byArguments, {"--geometry", "980x16x63", "--clock=1000000000", "card.img"}, {});
  Screen same = WriteWith(byVariables, {},
                          {{"DUNMORE_CARD", "card.img"},
                           {"DUNMORE_GEOMETRY", "980x16x63"},
                           {"DUNMORE_CLOCK", "1000000000"}});
  EXPECT_EQ(same.Text(), warning.Text());
  // The warning names what it erases: the image by its file name.
  EXPECT_EQ("WARNING, ALL DATA ON", warning.At(20, 10, 20));
  EXPECT_EQ("card.img", warning.At(20, 11, 8)) << warning.Text();
  EXPECT_EQ(".screen-dump\ncard.img\n", Listing(byArguments));
  EXPECT_EQ(ImageFingerprint(byVariables.File("card.img")),
            ImageFingerprint(byArguments.File("card.img")));

  // The 8 GB card of the golden images, FAT32 over 8192 x 16 x 63. Options
  // may follow the card, and "--" lets a card's name begin with "-".
  TempDir fat32;
  WriteWith(fat32, {"--", "-card.img"},
            {{"DUNMORE_GEOMETRY", "8192x16x63"}, {"DUNMORE_CLOCK", "1000000000"}});
  ExpectGoldenImage(fat32.File("-card.img"), "fat32_8192x16x63");
  TempDir after;
  WriteWith(after, {"card.img", "--geometry", "8192x16x63", "--clock", "1000000000"}, {});
  ExpectGoldenImage(after.File("card.img"), "fat32_8192x16x63");
}

TEST(CommandLine, MistakesAreRefusedBeforeAnythingIsTouched) {
  const std::string machine = std::string(DUNMORE_SOURCE_DIR) + "/machines/default.reg";
  const struct {
    const char* what;
    std::string arguments;  // as the shell reads them
    std::string variables;
    std::string said;  // on standard error, behind "dunmore: "
    bool usage;        // a usage error: "Try 'dunmore --help'" on a second line
  } cases[] = {
      {"an unknown option", "--wipe card.img", "", "unrecognized option '--wipe'", true},
      {"an unknown short option", "-f card.img", "", "invalid option -- 'f'", true},
      {"a value for an option that takes none", "--no-undo=1 card.img", "",
       "option '--no-undo' takes no value", true},
      {"an option without its value", "card.img --geometry", "",
       "option '--geometry' requires an argument", true},
      {"two cards", "one.img two.img", "", "one card at a time: one.img and two.img", true},
      {"an option given twice", "--clock 1 --clock 1 card.img", "", "--clock is given twice", true},
      {"the card against its variable", "card.img", "DUNMORE_CARD=other.img",
       "card card.img and DUNMORE_CARD=other.img disagree", false},
      {"the geometry against its variable", "--geometry 980x16x63 card.img",
       "DUNMORE_CARD=card.img DUNMORE_GEOMETRY=490x8x32",
       "--geometry 980x16x63 and DUNMORE_GEOMETRY=490x8x32 disagree", false},
      {"the clock against its variable", "--clock 7", "DUNMORE_CLOCK=8",
       "--clock 7 and DUNMORE_CLOCK=8 disagree", false},
      {"the fixed disk against its variable", "--fixed-disk /dev/sdb /dev/sdb",
       "DUNMORE_FIXED_DISK=/dev/sda",
       "--fixed-disk /dev/sdb and DUNMORE_FIXED_DISK=/dev/sda disagree", false},
      // Under /dev only a block device is a card: no file is made there.
      {"a reader that is not there", "/dev/dunmore-test-no-such-reader", "",
       "card /dev/dunmore-test-no-such-reader: no such device: is the card reader plugged in?",
       false},
      {"an empty card", "''", "", "card '': empty", false},
      // The values are checked where the variables' are, and named as given.
      {"a geometry that is none", "--geometry 980x16 card.img", "",
       "--geometry 980x16: not cylinders x heads x sectors per track", false},
      {"a clock that is none", "--clock 12x", "", "--clock 12x: not a count of seconds", false},
      // The runs without the screens: one at a time, --json with one that prints.
      {"two modes", "-l --yes card.img", "", "--list, --dry-run and --yes go one at a time", false},
      {"--json without a listing or plan", "--json -y card.img", "",
       "--json goes with --list, --undo-files or --dry-run", false},
      {"a listing of a machine's cards", "--list --machine " + machine, "",
       "--machine " + machine + ": --list lists the cards in this machine's readers", false},
      {"a machine with a card", "--machine " + machine + " card.img", "",
       "card card.img: it names the card of the default machine; --machine " + machine +
           " describes",
       false},
      // Names that are no card: never made into a new image of the default
      // card's size and shown as if a card were there.
      {"a device without /dev/", "sdc", "",
       "card sdc: no such file: name a card reader (/dev/sdX) or give --geometry CxHxS to "
       "create a new image",
       false},
      {"standard input", "-", "", "card -: standard input is no card", false},
      {"a fixed disk without a card", "--fixed-disk /dev/sdb", "",
       "--fixed-disk /dev/sdb: it lets the card named by CARD or DUNMORE_CARD be written "
       "although it is a fixed disk, and no card is named",
       false},
      {"a fixed disk that is not the card", "--fixed-disk /dev/null card.img",
       "DUNMORE_GEOMETRY=490x8x32",
       "--fixed-disk /dev/null: not the device of card card.img; it must name the card itself",
       false},
      // A name's control characters reach the terminal escaped.
      {"a name with an escape sequence", "\"$(printf 'x\\033[31my')\"", "",
       "card x\\x1b[31my: no such file", false},
  };
  for (const auto& c : cases) {
    TempDir dir;
    std::string output;
    int status = RunCommand("(cd '" + dir.path() + "' && env " + c.variables +
                                " '" DUNMORE_EXE "' " + c.arguments + " 2>err </dev/null >out)",
                            &output);
    EXPECT_EQ(1, status) << c.what;
    std::string error = ReadFile(dir.File("err"));
    EXPECT_EQ(0u, error.find("dunmore: " + c.said)) << c.what << ": " << error;
    std::string lines = c.usage ? "\nTry 'dunmore --help' for more information.\n" : "\n";
    EXPECT_EQ(error.find('\n'), error.size() - lines.size()) << c.what << ": " << error;
    EXPECT_EQ(lines, error.substr(error.find('\n'))) << c.what << ": " << error;
    EXPECT_FALSE(Contains(error, "\x1b")) << c.what;
    EXPECT_EQ("", ReadFile(dir.File("out"))) << c.what;
    EXPECT_EQ("err\nout\n", Listing(dir)) << c.what << ": a file was made";
  }

  // The same value on both sides is one setting, not two.
  TempDir dir;
  RunOptions options;
  options.arguments = {"card.img", "--geometry", "490x8x32"};
  ProgramRun run(dir.path(), "", {{"DUNMORE_CARD", "card.img"}}, options);
  EXPECT_TRUE(run.WaitForKeyWait(nullptr));
  EXPECT_EQ(2, run.TypeAndWaitExit(kEsc));
  EXPECT_NE("missing", ImageFingerprint(dir.File("card.img")));
}
