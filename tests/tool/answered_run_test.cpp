// --dry-run and --yes with standard input and output not terminals: the
// system's own run with its keys answered. The plan is what the write then
// does, the cards are the interactive run's golden images, and every ending
// is the interactive run's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include "support/golden.h"
#include "support/image.h"
#include "support/loop_device.h"
#include "support/machine_text.h"
#include "tool/mode_run.h"

using namespace testsupport;

namespace {

const std::string kClock = "--clock 1000000000";

std::string After(const std::string& text, const std::string& from) {
  size_t at = text.find(from);
  return at == std::string::npos ? std::string() : text.substr(at);
}

// The plan's text: from its first line to its "Writes" line.
std::string PlanText(const std::string& out, const std::string& card) {
  std::string plan = After(out, card + ": the plan of \"1\"\n");
  size_t writes = plan.find("     Writes");
  return writes == std::string::npos ? std::string() : plan.substr(0, plan.find('\n', writes) + 1);
}

}  // namespace

TEST(AnsweredRun, TheCardWrittenWithoutATerminalIsTheInteractiveRunsCard) {
  // The answers go by the prompt on the cursor's row, never by the same
  // words elsewhere on the screen: in a card's name, or its model.
  MachineCard prompts;
  prompts.model = "Enter choice: (Y/N)?";
  prompts.serialNumber = "Press Esc to exit";
  const struct {
    const char* golden;
    std::string arguments;
    std::string image;
    const MachineCard* machine;
  } cards[] = {
      {"default_card", "", "pccard.img", nullptr},
      {"fat16_1016x16x63", "--geometry 1016x16x63 card.img", "card.img", nullptr},
      {"fat32_8192x16x63", "card.img --geometry 8192x16x63", "card.img", nullptr},
      {"default_card", "--geometry 490x8x32 'Enter choice:.img'", "Enter choice:.img", nullptr},
      {"default_card", "--geometry 490x8x32 '(Y/N)?.img'", "(Y/N)?.img", nullptr},
      {"default_card", "--machine prompts.reg", "pccard.img", &prompts},
  };
  for (const auto& c : cards) {
    SCOPED_TRACE(c.arguments);
    TempDir dir;
    ASSERT_EQ("0:", Shell("mkdir '" + dir.File("(Y") + "'"));
    if (c.machine != nullptr) WriteMachine(dir.path(), "prompts.reg", MachineText(*c.machine));
    ModeRun run = RunDunmore(dir, "--yes " + kClock + " " + c.arguments);
    EXPECT_EQ(0, run.code) << run.err;
    ExpectGoldenImage(dir.File(c.image), c.golden);
    // The plan, then the system's messages, then the outcome.
    std::string plan = PlanText(run.out, c.image);
    EXPECT_FALSE(plan.empty()) << run.out;
    EXPECT_NE(std::string::npos, After(run.out, plan)
                                     .find("Proceed with Re-partiton (Y/N)? [Y]\n"
                                           "Writing PC Card HDD partition info.\n"
                                           "You must remove and re-insert from/to your system\n"
                                           "for your change to take effect.\n" +
                                           c.image + ": written (exit 0)\n"))
        << run.out;
    EXPECT_EQ("", run.err);
  }
}

// The plan of --dry-run, text and JSON, against the card the write then
// leaves: a card filled with a pattern first, so that every sector written
// differs from it, zeros included.
TEST(AnsweredRun, TheDryRunPlansExactlyWhatTheWriteWrites) {
  const struct {
    const char* geometry;
    const char* sfdiskType;
  } cards[] = {{"490x8x32", "6"}, {"1016x16x63", "6"}, {"8192x16x63", "b"}};
  for (const auto& c : cards) {
    SCOPED_TRACE(c.geometry);
    TempDir dir;
    std::string image = dir.File("card.img");
    const std::string arguments = kClock + " --geometry " + c.geometry + " card.img";
    // A dry run makes no image; the write would.
    ModeRun none = RunDunmore(dir, "--dry-run " + arguments);
    EXPECT_EQ(1, none.code);
    EXPECT_EQ(
        "dunmore: card card.img: no such card image; a run that writes nothing creates none\n",
        none.err);
    EXPECT_NE(0, access(image.c_str(), F_OK));
    int c1 = 0, h1 = 0, s1 = 0;
    ASSERT_EQ(3, sscanf(c.geometry, "%dx%dx%d", &c1, &h1, &s1));
    CreateImage(image, MachineCardOf(c1, h1, s1));
    ModeRun first = RunDunmore(dir, "--dry-run --json " + arguments);
    ASSERT_EQ(0, first.code) << first.err;
    const std::string runs =
        FromJson(dir, first.out, "for r in d['writes']: print(r['first'], r['count'])");
    const std::string partition = FromJson(
        dir, first.out, "p = d['partition']; print(p['start'], p['size'], d['sectors_written'])");
    // Every planned sector, and a pattern over them and 64 sectors more.
    std::set<uint64_t> planned;
    std::istringstream in(runs);
    for (uint64_t at, count; in >> at >> count;) {
      for (uint64_t s = at; s < at + count; ++s) planned.insert(s);
    }
    ASSERT_FALSE(planned.empty());
    EXPECT_EQ("[]\n", FromJson(dir, first.out, "print(d['clears'])")) << "a card of zeros";
    const uint64_t span = *planned.rbegin() + 65;
    WriteSectorBytes(image, 0, std::vector<uint8_t>(span * 512, 0xA5));
    const std::string before = ImageFingerprint(image);
    ModeRun dry = RunDunmore(dir, "-n " + arguments);
    ModeRun json = RunDunmore(dir, "--dry-run --json " + arguments);
    EXPECT_EQ(0, dry.code) << dry.err;
    EXPECT_EQ(runs, FromJson(dir, json.out, "for r in d['writes']: print(r['first'], r['count'])"));
    EXPECT_EQ(before, ImageFingerprint(image)) << "the dry run wrote";
    // The pattern between the MBR and the volume is an old signature's
    // place, cleared after the write: planned too.
    std::istringstream clears(
        FromJson(dir, json.out, "for r in d['clears']: print(r['first'], r['count'])"));
    uint64_t cleared = 0;
    for (uint64_t at, count; clears >> at >> count; cleared += count) {
      for (uint64_t s = at; s < at + count; ++s) planned.insert(s);
    }
    EXPECT_EQ(static_cast<uint64_t>(s1 - 1), cleared);
    ModeRun yes = RunDunmore(dir, "-y " + arguments);
    ASSERT_EQ(0, yes.code) << yes.err;
    EXPECT_EQ(PlanText(dry.out, "card.img"), PlanText(yes.out, "card.img")) << dry.out;
    std::set<uint64_t> written;
    std::vector<uint8_t> sectors = ReadSectors(image, 0, static_cast<uint32_t>(span));
    for (uint64_t s = 0; s < span; ++s) {
      for (size_t b = 0; b < 512; ++b) {
        if (sectors[s * 512 + b] != 0xA5) {
          written.insert(s);
          break;
        }
      }
    }
    EXPECT_EQ(planned, written);
    uint64_t startSector = 0, count = 0, total = 0;
    std::istringstream(partition) >> startSector >> count >> total;
    EXPECT_EQ(planned.size(), total + cleared);
    ExpectJudgedPartition(dir, image, static_cast<uint32_t>(startSector),
                          static_cast<uint32_t>(count), c.sfdiskType);
  }
}

TEST(AnsweredRun, EndsAsTheInteractiveRunEnds) {
  TempDir dir;
  // A card whose image another process holds locked: refused at start-up.
  std::string held = dir.File("held.img");
  CreateImage(held, MachineCard());
  int lockFd = open(held.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(0, flock(lockFd, LOCK_EX));
  // A card whose sector 40 (in the first FAT) refuses WRITE SECTORS.
  MachineCard faulty;
  faulty.image = "faulty.img";
  faulty.extraValues = "\"BadWriteSectors\"=\"40\"\n";
  CreateImage(dir.File("faulty.img"), faulty);
  std::string faultyMachine = WriteMachine(dir.path(), "faulty.reg", MachineText(faulty));
  // The outcome says what the run did: never "written" for a run that
  // wrote nothing, whatever its exit code.
  const struct {
    const char* name;
    std::string arguments;
    int code;
    std::string message;
    std::string outcome;
  } cases[] = {
      {"no card", "--machine " DUNMORE_SOURCE_DIR "/machines/no-card.reg", 1,
       "PC Card HDD not exist!\n", "refused at start-up, nothing written"},
      {"a card held by another process", "held.img", 1, "PC Card HDD used other!\n",
       "refused at start-up, nothing written"},
      {"a card that refuses a write", "--machine faulty.reg", 3,
       "Writing PC Card HDD partition info.\nWRITE ERROR!\n", "the write failed"},
      {"Windows XP", "--machine " DUNMORE_SOURCE_DIR "/machines/nt.reg", 1,
       "This program is for Windows 9x.\n", "refused at start-up, nothing written"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ModeRun run = RunDunmore(dir, "--yes " + kClock + " " + c.arguments);
    EXPECT_EQ(c.code, run.code) << run.out << run.err;
    EXPECT_NE(std::string::npos, run.out.find(c.message)) << run.out;
    EXPECT_NE(std::string::npos,
              run.out.find(": " + c.outcome + " (exit " + std::to_string(c.code) + ")\n"))
        << run.out;
    // --dry-run ends as the start-up ends, before any plan.
    ModeRun dry = RunDunmore(dir, "--dry-run " + c.arguments);
    EXPECT_EQ(c.code == 3 ? 0 : c.code, dry.code) << dry.out << dry.err;
  }
  close(lockFd);
  EXPECT_EQ(std::vector<uint8_t>(512, 0), ReadSectors(dir.File("faulty.img"), 0, 1))
      << "the MBR is written last, and was not";
  EXPECT_EQ(std::vector<uint8_t>(512, 0), ReadSectors(held, 0, 1));
}

// A signal during the write is held until the MBR is written, then ends the
// run, as in the interactive run: the card is the golden image.
TEST(AnsweredRun, ASignalDuringTheWriteIsHeldUntilItIsDone) {
  TempDir dir;
  MachineCard card;
  card.extraValues = "\"StopAtWrite\"=dword:00000002\n";
  std::string machine = WriteMachine(dir.path(), "machine.reg", MachineText(card));
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(127);
    int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    execl(DUNMORE_EXE, "dunmore", "--yes", "--clock", "1000000000", "--machine", machine.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, WUNTRACED));
  ASSERT_TRUE(WIFSTOPPED(status)) << "the run did not stop at its second write";
  kill(pid, SIGTERM);
  kill(pid, SIGCONT);
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  ExpectGoldenImage(dir.File("pccard.img"), "default_card");
}

// A machine file's card is named as the machine opened it: the plan, its
// JSON and the outcome name the loop device behind the card key's link,
// never the default card's image.
TEST(AnsweredRun, AMachineFilesCardIsNamedAsOpened) {
  TempDir dir;
  const std::string image = dir.File("card.img");
  MachineCard card;
  CreateImage(image, card);
  LOOP_DEVICE_OR_SKIP(loop, image);
  ASSERT_EQ("0:", Shell("ln -s '" + loop.path() + "' '" + dir.File("reader") + "'"));
  card.image = "reader";
  WriteMachine(dir.path(), "m.reg", MachineText(card));
  const std::string state = "XDG_STATE_HOME='" + dir.File("state") + "'";
  ModeRun json = RunDunmore(dir, "--dry-run --json --machine m.reg", state);
  ASSERT_EQ(0, json.code) << json.err;
  EXPECT_EQ(loop.path() + "\n", FromJson(dir, json.out, "print(d['path'])"));
  ModeRun yes = RunDunmore(dir, "--yes " + kClock + " --machine m.reg", state);
  ASSERT_EQ(0, yes.code) << yes.err;
  EXPECT_FALSE(PlanText(yes.out, loop.path()).empty()) << yes.out;
  EXPECT_NE(std::string::npos, yes.out.find("\n" + loop.path() + ": written (exit 0)\n"))
      << yes.out;
  EXPECT_EQ(std::string::npos, (yes.out + yes.err).find("pccard.img"));
  // The restore names the machine, whose key's serial number checks nothing
  // of the loop device.
  EXPECT_NE(std::string::npos, yes.err.find(loop.path() + ": what the write changes")) << yes.err;
  EXPECT_NE(std::string::npos,
            yes.err.find("its serial number was the machine file's, not the card's own, so the "
                         "restore cannot tell the card from another of its size and needs --force; "
                         "this puts it back: dunmore --restore "))
      << yes.err;
  EXPECT_NE(std::string::npos, yes.err.find(" --machine m.reg --force\n")) << yes.err;
}
