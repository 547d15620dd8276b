// The simulated machine as a disk tool used by a new user: nothing reaches a
// card that the user did not ask for, and whatever the machine, the terminal
// or the descriptors the program starts with cannot carry is refused before
// the terminal is taken, with one line on standard error and exit code 1.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/golden.h"
#include "support/image.h"
#include "support/machine_text.h"
#include "support/program_run.h"
#include "support/support.h"
#include "support/terminal_screen.h"

using namespace testsupport;

namespace {

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

// A card image holding an MBR-like sector, so that any write shows.
void CreateMarkedImage(const std::string& path, const MachineCard& card) {
  CreateImage(path, card);
  WriteSectorBytes(path, 0, std::vector<uint8_t>(512, 0xA5));
}

// The screen the terminal shows, its top-left 80 x 25 cells, as a Screen.
Screen Shown(const TerminalScreen& terminal) {
  Screen screen;
  for (int row = 0; row < 25; ++row) {
    std::string text = terminal.Row(row).substr(0, 80);
    text.erase(text.find_last_not_of(' ') + 1);
    screen.rows.push_back(text);
  }
  return screen;
}

bool BlankBeyondTheConsole(const TerminalScreen& terminal) {
  for (int row = 0; row < terminal.rows(); ++row) {
    if (terminal.Row(row).size() > (row < 25 ? 80u : 0u)) return false;
  }
  return true;
}

// Resizes the terminal and waits for the program to show itself again; the
// screen drawn after the resize, played on a terminal of the new size. The
// screen is drawn before the key wait begins, but its last bytes may still
// be on their way through the terminal: it is played again until it shows
// the whole console as the key wait's dump has it or, on a terminal too
// small for it, the size the program needs (10 s at most).
TerminalScreen ResizeAndRedraw(ProgramRun& run, int columns, int rows) {
  size_t before = run.TerminalOutput().size();
  run.Resize(columns, rows);
  Screen dump;
  EXPECT_TRUE(run.WaitForKeyWait(&dump))
      << "no key wait after the resize to " << columns << " x " << rows;
  const bool fits = columns >= 80 && rows >= 25;
  for (int i = 0;; ++i) {
    TerminalScreen terminal(columns, rows);
    terminal.Feed(run.TerminalOutput().substr(before));
    if (i == 1000 || (fits ? Shown(terminal).Text() == dump.Text()
                           : terminal.Row(1) == "DUNMORE needs 80 x 25.")) {
      return terminal;
    }
    usleep(10 * 1000);
  }
}

size_t Count(const std::string& text, char c) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), c));
}

}  // namespace

TEST(SafeMachine, ClosedStandardDescriptorsNeverLandInAMedium) {
  // The first card is fine; the second card's image cannot be opened, so the
  // machine is refused, and the refusal must not go into the first image.
  TempDir dir;
  std::string text = ReadFile(Example("two-cards.reg"));
  size_t at = text.find("\"Image\"=\"pccard2.img\"");
  ASSERT_NE(std::string::npos, at);
  text.replace(at, 21, "\"Image\"=\"missing/pccard2.img\"");
  std::string machine = WriteMachine(dir.path(), "m.reg", text);
  MachineCard card;
  CreateMarkedImage(dir.File("pccard.img"), card);
  std::string before = ImageFingerprint(dir.File("pccard.img"));
  for (std::vector<int> closed : {std::vector<int>{1, 2}, std::vector<int>{0, 1, 2}}) {
    SCOPED_TRACE(std::to_string(closed.size()) + " descriptors closed");
    RunOptions options;
    options.closed = closed;
    ProgramRun run(dir.path(), machine, {}, options);
    EXPECT_EQ(1, run.WaitExit());
    EXPECT_EQ(before, ImageFingerprint(dir.File("pccard.img")));
  }
  // On a sound machine, standard output on /dev/null is no console: the run
  // ends before any card is touched.
  RunOptions options;
  options.closed = {1, 2};
  ProgramRun run(dir.path(), Example("two-cards.reg"), {}, options);
  EXPECT_EQ(1, run.WaitExit());
  EXPECT_EQ(before, ImageFingerprint(dir.File("pccard.img")));
  EXPECT_FALSE(Exists(dir.File("pccard2.img")));
}

TEST(SafeMachine, DriveLettersComeFromTheDeviceRegistryAlone) {
  struct Case {
    const char* name;
    std::optional<std::string> cardKeyLetters;
    const char* registryLetters;
    bool refused;
  };
  for (const Case& c :
       {Case{"differing", std::string("F"), "E", true},
        Case{"empty while the registry gives E", std::string(""), "E", true},
        Case{"naming a letter the registry does not give", std::string("E"), "", true},
        Case{"equal in other capitals", std::string("e"), "E", false},
        Case{"left out", std::nullopt, "E", false}}) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    MachineCard card;
    card.cardKeyDriveLetters = c.cardKeyLetters;
    card.driveLetters = c.registryLetters;
    CreateImage(dir.File("pccard.img"), card);
    std::string before = ImageFingerprint(dir.File("pccard.img"));
    std::string machine = WriteMachine(dir.path(), "m.reg", MachineText(card));
    if (c.refused) {
      Refused refused = RunToRefusal(dir.path(), machine);
      ExpectRefusedAtBoot(
          refused, {machine, "Cards\\0170", "\"DriveLetters\"", "\"" + *c.cardKeyLetters + "\"",
                    "\"" + std::string(c.registryLetters) + "\""});
    } else {
      // The letter the utility locks is the card's: a second run is refused
      // while the first holds the card at its menu.
      ProgramRun first(dir.path(), machine);
      Screen screen;
      ASSERT_TRUE(first.WaitForKeyWait(&screen));
      EXPECT_EQ("Choose one of the following:", screen.At(5, 16, 28)) << screen.Text();
      ProgramRun second(dir.path(), machine);
      ASSERT_TRUE(second.WaitForKeyWait(&screen));
      EXPECT_EQ("PC Card HDD used other!", screen.At(20, 15, 23)) << screen.Text();
      EXPECT_EQ(1, second.TypeAndWaitExit(kEsc));
      EXPECT_EQ(2, first.TypeAndWaitExit(kEsc));
    }
    EXPECT_EQ(before, ImageFingerprint(dir.File("pccard.img")));
  }
}

TEST(SafeMachine, UnusableCardsAreRefusedAtBootAndNothingIsCreatedOrWritten) {
  struct Case {
    const char* name;
    std::string (*machine)(const TempDir& dir);  // prepares the folder, gives the machine text
    std::vector<std::string> named;              // what the refusal names
  };
  const Case cases[] = {
      {"an image shorter than its geometry",
       [](const TempDir& dir) {
         MachineCard card;
         CreateMarkedImage(dir.File("pccard.img"), card);
         EXPECT_EQ(0, truncate(dir.File("pccard.img").c_str(), 33 * 512));
         return MachineText(card);
       },
       {"\"Image\" (pccard.img)", "16896 bytes", "490 x 8 x 32 x 512"}},
      {"a geometry of the wrong type",
       [](const TempDir& dir) {
         MachineCard card;
         CreateMarkedImage(dir.File("pccard.img"), card);
         std::string text = MachineText(card);
         size_t at = text.find("\"Heads\"=dword:00000008");
         text.replace(at, 22, "\"Heads\"=\"8\"");
         return text;
       },
       {"Cards\\0170", "\"Heads\" is not a dword"}},
      {"an image in a missing folder",
       [](const TempDir& dir) {
         MachineCard card;
         card.image = "gone/pccard.img";
         (void)dir;
         return MachineText(card);
       },
       {"\"Image\" (gone/pccard.img)", "the folder gone"}},
      {"an image that is a folder",
       [](const TempDir& dir) {
         MachineCard card;
         EXPECT_EQ(0, mkdir(dir.File("pccard.img").c_str(), 0755));
         return MachineText(card);
       },
       {"\"Image\" (pccard.img)", "is a folder"}},
      {"a read-only image",
       [](const TempDir& dir) {
         MachineCard card;
         CreateMarkedImage(dir.File("pccard.img"), card);
         EXPECT_EQ(0, chmod(dir.File("pccard.img").c_str(), 0444));
         return MachineText(card);
       },
       {"\"Image\" (pccard.img)", "read-only"}},
      {"an image that is a character device",
       [](const TempDir&) {
         MachineCard card;
         card.image = "/dev/zero";
         return MachineText(card);
       },
       {"\"Image\" (/dev/zero)", "character device"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::string machine = WriteMachine(dir.path(), "m.reg", c.machine(dir));
    std::vector<std::string> entries = Entries(dir.path());
    std::string before =
        Exists(dir.File("pccard.img")) ? ReadFile(dir.File("pccard.img")) : std::string();
    std::vector<std::string> named = c.named;
    named.push_back(machine);
    ExpectRefusedAtBoot(RunToRefusal(dir.path(), machine), named);
    EXPECT_EQ(entries, Entries(dir.path())) << "something was created";
    if (!before.empty()) {
      EXPECT_EQ(before, ReadFile(dir.File("pccard.img")));
    }
  }
}

TEST(SafeMachine, OnlyARegularMachineFileIsRead) {
  TempDir dir;
  ASSERT_EQ(0, mkfifo(dir.File("fifo").c_str(), 0644));
  ASSERT_EQ(0, mkdir(dir.File("folder").c_str(), 0755));
  // Over 1 MiB of comments: no machine file is that large.
  std::string large = "REGEDIT4\n\n";
  while (large.size() <= (1u << 20)) large += "; a comment line that takes room\n";
  WriteMachine(dir.path(), "large.reg", large);
  struct Case {
    std::string path;
    const char* what;
  };
  for (const Case& c : {Case{"/dev/zero", "character device"}, Case{dir.File("fifo"), "FIFO"},
                        Case{dir.File("folder"), "folder"}, Case{dir.File("large.reg"), "1 MiB"}}) {
    SCOPED_TRACE(c.path);
    TempDir work;
    ExpectRefusedAtBoot(RunToRefusal(work.path(), c.path), {c.path, c.what});
    EXPECT_TRUE(Entries(work.path()).empty()) << "something was created";
  }
}

// A case table like CardCorpus.LargestFat16CardsAreWrittenAsFat16
// (card_corpus_test.cpp): the same shape, other cases.
TEST(SafeMachine, ATerminalThatCannotShowTheConsoleIsRefused) {
  struct Case {
    const char* name;
    RunOptions options;
    const char* what;
  };
  RunOptions dumb;
  dumb.term = "dumb";
  RunOptions small;
  small.columns = 60;
  small.rows = 20;
  RunOptions narrow;
  narrow.columns = 79;
  for (const Case& c : {Case{"TERM=dumb", dumb, "cannot position the cursor"},
                        Case{"60 x 20", small, "60 x 20"}, Case{"79 x 25", narrow, "79 x 25"}}) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ExpectRefusedAtBoot(RunToRefusal(dir.path(), "", {}, c.options), {"/dev/tty", c.what});
    EXPECT_TRUE(Entries(dir.path()).empty()) << "the default card's image was created";
  }
}

TEST(SafeMachine, StandardOutputToAFileIsNoConsole) {
  TempDir dir;
  TempDir aside;
  RunOptions options;
  options.standardOutput = aside.File("out");
  ProgramRun run(dir.path(), "", {}, options);
  EXPECT_EQ(1, run.WaitExit());
  EXPECT_EQ("It failed in initialization of a screen.\n", ReadFile(options.standardOutput));
  EXPECT_TRUE(Entries(dir.path()).empty()) << "the default card's image was created";
}

TEST(SafeMachine, AResizeDrawsTheWholeScreenAgain) {
  TempDir dir;
  ProgramRun run(dir.path(), "");
  ASSERT_TRUE(run.WaitForKeyWait(nullptr));
  TerminalScreen larger = ResizeAndRedraw(run, 100, 30);
  ExpectGoldenScreen(Shown(larger), "default_main");
  EXPECT_TRUE(BlankBeyondTheConsole(larger));
  ExpectGoldenScreen(Shown(ResizeAndRedraw(run, 80, 25)), "default_main");

  Key(run, "1");
  Key(run, kEnter);
  ExpectGoldenScreen(Shown(ResizeAndRedraw(run, 120, 40)), "default_planned");
  ExpectGoldenScreen(Shown(ResizeAndRedraw(run, 80, 25)), "default_planned");
  // The keys go on as before.
  Screen screen;
  Key(run, "2");
  Key(run, kEnter, &screen);
  ExpectGoldenScreen(screen, "default_confirm");
  EXPECT_EQ(0, run.TypeAndWaitExit(std::string("n") + kEnter));
}

TEST(SafeMachine, KeysTypedWhileTheTerminalIsTooSmallAreThrownAway) {
  TempDir dir;
  ProgramRun run(dir.path(), "");
  ASSERT_TRUE(run.WaitForKeyWait(nullptr));
  std::string before = ImageFingerprint(dir.File("pccard.img"));
  for (const char* key : {"1", kEnter, "2", kEnter}) Key(run, key);

  // At the confirmation the terminal shrinks, and "Y" Enter is typed.
  TerminalScreen small = ResizeAndRedraw(run, 60, 20);
  EXPECT_EQ("The terminal is 60 x 20.", small.Row(0));
  EXPECT_EQ("DUNMORE needs 80 x 25.", small.Row(1));
  size_t bells = Count(run.TerminalOutput(), '\a');
  ASSERT_EQ(2, write(run.terminal(), "Y\r", 2));
  for (int i = 0; i < 200 && Count(run.TerminalOutput(), '\a') == bells; ++i) usleep(10 * 1000);
  EXPECT_LT(bells, Count(run.TerminalOutput(), '\a')) << "no beep for the keys thrown away";
  EXPECT_FALSE(run.Exited());

  // Back at 80 x 25 the warning stands as it was, and nothing was written.
  ExpectGoldenScreen(Shown(ResizeAndRedraw(run, 80, 25)), "default_confirm");
  EXPECT_EQ(before, ImageFingerprint(dir.File("pccard.img")));
  EXPECT_EQ(0, run.TypeAndWaitExit(std::string("n") + kEnter));
  EXPECT_EQ(before, ImageFingerprint(dir.File("pccard.img")));
}

TEST(SafeMachine, ALineFeedIsEnterAndAnAltChordIsNoEsc) {
  TempDir dir;
  {
    // An Enter typed before the program takes the terminal arrives as LF.
    ProgramRun run(dir.path(), "");
    ASSERT_EQ(2, write(run.terminal(), "1\r", 2));
    Screen screen;
    for (int i = 0; i < 3 && run.WaitForKeyWait(&screen); ++i) {
      if (screen.Text() ==
          ReadFile(std::string(DUNMORE_TESTS_DIR) + "/golden/default_planned.screen"))
        break;
    }
    ExpectGoldenScreen(screen, "default_planned");
    Key(run, "2");
    Key(run, "\n", &screen);
    ExpectGoldenScreen(screen, "default_confirm");
    EXPECT_EQ(0, run.TypeAndWaitExit("n\n"));
  }
  {
    ProgramRun run(dir.path(), "");
    Screen main;
    ASSERT_TRUE(run.WaitForKeyWait(&main));
    // Alt+x, Alt+2 and Alt+Enter give no key: the menu stays as it was.
    for (const char* chord : {"\x1bx",
                              "\x1b"
                              "2",
                              "\x1b\r"}) {
      ASSERT_EQ(2, write(run.terminal(), chord, 2));
    }
    Screen screen;
    Key(run, "1", &screen);
    EXPECT_EQ("[1]", screen.At(20, 20, 3));
    EXPECT_EQ(main.Text(), screen.Text());
    EXPECT_EQ(2, run.TypeAndWaitExit(kEsc));
  }
}

TEST(SafeMachine, ARefusedRunCreatesNoImage) {
  // IDENTIFY of 0x3FFF x 0x8000 x 63: the start-up refuses the card, and its
  // image (17 TB at that geometry) is never made.
  TempDir dir;
  MachineCard broken = MachineCardOf(0x3FFF, 0x8000, 63);
  ProgramRun run(dir.path(), WriteMachine(dir.path(), "m.reg", MachineText(broken)));
  Screen screen;
  ASSERT_TRUE(run.WaitForKeyWait(&screen));
  EXPECT_EQ("PC Card HDD access error!", screen.At(20, 15, 25)) << screen.Text();
  EXPECT_EQ(1, run.TypeAndWaitExit(kEsc));
  EXPECT_FALSE(Exists(dir.File("pccard.img")));

  // Two cards: the second is never used, so only the first one's image is
  // made; a machine refused at boot makes neither.
  TempDir two;
  {
    ProgramRun run(two.path(), Example("two-cards.reg"));
    ASSERT_TRUE(run.WaitForKeyWait(nullptr));
    EXPECT_EQ(2, run.TypeAndWaitExit(kEsc));
  }
  EXPECT_EQ((std::vector<std::string>{".screen-dump", "pccard.img"}), Entries(two.path()));

  TempDir refused;
  std::string text = ReadFile(Example("two-cards.reg"));
  size_t at = text.find("\"Cylinders\"=dword:000001ea", text.find("pccard2.img"));
  ASSERT_NE(std::string::npos, at);
  text.replace(at, 26, "\"Cylinders\"=dword:00010000");
  std::string machine = WriteMachine(refused.path(), "m.reg", text);
  ExpectRefusedAtBoot(RunToRefusal(refused.path(), machine), {machine, "\"Cylinders\""});
  EXPECT_EQ(std::vector<std::string>{"m.reg"}, Entries(refused.path()));
}
