// A signal while the card is written. The user presses Ctrl-C, closes the
// terminal or is logged out while "Y" writes an 8 GB FAT32 card: the program
// stops itself before a chosen WRITE SECTORS command ("StopAtWrite"), the
// test sends the signal and lets it go on. The card is then written whole, as
// the golden image, fsck.fat and sfdisk have it, and only then does the
// signal end the run, with the terminal given back.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>

#include <cstdio>
#include <string>

#include "disk/raw_partition_entry.h"
#include "fault/fault_card.h"
#include "support/golden.h"
#include "support/image.h"
#include "support/loop_device.h"
#include "support/machine_text.h"
#include "support/program_run.h"
#include "support/support.h"

using namespace testsupport;

namespace {

// The golden image's card and clock.
MachineCard Fat32Card() {
  return MachineCardOf(8192, 16, 63);
}
constexpr char kClock[] = "1000000000";

// The partition as sfdisk lists it and its volume as fsck.fat checks it.
void ExpectCardJudgedWhole(const TempDir& dir, const std::string& image) {
  std::vector<uint8_t> mbr = ReadSectors(image, 0, 1);
  ExpectJudgedPartition(dir, image, Le32(mbr, kMbrEntriesOffset + kEntryFirstSector),
                        Le32(mbr, kMbrEntriesOffset + kEntrySectorCount), "b");
}

// "1", "2", "Y" and Enter on a card that stops itself at a write, then the
// signal and SIGCONT: the run is ended by the signal, once it is done.
void SignalAmidTheWrite(ProgramRun& run, int signalNumber) {
  ASSERT_TRUE(run.WaitForKeyWait(nullptr));
  for (const char* key : {"1", kEnter, "2", kEnter, "y"}) Key(run, key);
  ASSERT_EQ(1, write(run.terminal(), kEnter, 1));
  ASSERT_TRUE(run.WaitStopped(30000)) << "the write never reached the command";
  ASSERT_EQ(0, kill(run.pid(), signalNumber));
  ASSERT_EQ(0, kill(run.pid(), SIGCONT));
  run.WaitExit(120000);
  ASSERT_TRUE(run.Exited());
  EXPECT_TRUE(WIFSIGNALED(run.status()) && WTERMSIG(run.status()) == signalNumber);
}

}  // namespace

TEST(SignalDuringWrite, EachEndingSignalWaitsUntilTheCardIsWhole) {
  size_t total = 0;
  {
    TempDir scratch;
    std::string image = scratch.File("reference.img");
    CreateImage(image, Fat32Card());
    total = faulttest::ReferenceWrites(Fat32Card(), image).size();
  }
  ASSERT_GT(total, 40u) << "not the long FAT32 write";

  const struct {
    int signalNumber;
    size_t atWrite;  // the WRITE SECTORS command it comes before
  } points[] = {
      {SIGINT, 1},           // the boot region's first command
      {SIGTERM, 2},          // its second
      {SIGHUP, total / 2},   // amid the FATs
      {SIGQUIT, total - 1},  // the last command of the volume
      {SIGINT, total},       // the MBR
  };
  for (const auto& point : points) {
    SCOPED_TRACE(std::string(strsignal(point.signalNumber)) + " before write " +
                 std::to_string(point.atWrite) + " of " + std::to_string(total));
    TempDir dir;
    MachineCard card = Fat32Card();
    char stopAt[48];
    std::snprintf(stopAt, sizeof stopAt, "\"StopAtWrite\"=dword:%08zx", point.atWrite);
    card.extraValues = stopAt;
    ProgramRun run(dir.path(), WriteMachine(dir.path(), "m.reg", MachineText(card)),
                   {{"DUNMORE_CLOCK", kClock}});
    SignalAmidTheWrite(run, point.signalNumber);
    if (HasFatalFailure()) return;
    ExpectGoldenImage(dir.File(card.image), "fat32_8192x16x63");
    ExpectCardJudgedWhole(dir, dir.File(card.image));
    // The terminal reads lines and echoes again.
    struct termios after;
    ASSERT_EQ(0, tcgetattr(run.terminal(), &after));
    EXPECT_EQ(static_cast<tcflag_t>(ICANON | ECHO), after.c_lflag & (ICANON | ECHO));
  }
}

// On a card reader the signal waits for more than the write: the card is
// released first, as at the end of a run, so the kernel reads the new table,
// and standard error says the card is whole once the terminal is given back.
// A loop device stands in for the reader, with an old partition on it. A
// kernel that reads DOS tables on loop devices must list the new partition
// in its place; on one without that parser (partx tells it of the old one)
// the rest is checked and the test then says it skipped the re-read, which
// the vm stage of tests/run-all checks on Debian's kernel.
TEST(SignalDuringWrite, AHeldSignalReleasesTheCardBeforeTheRunEnds) {
  TempDir dir;
  MachineCard card = Fat32Card();
  const std::string image = dir.File("reader.img");
  CreateImage(image, card);
  ASSERT_EQ("0:", Shell("echo 'start=2048,size=10000,type=83' | sfdisk -q '" + image + "'"));
  LOOP_DEVICE_OR_SKIP(loop, image, true);
  const std::string partition = "/sys/block/" + loop.Name() + "/" + loop.Name() + "p1";
  const bool kernelReadsTables = Exists(partition);
  std::string output;
  if (!kernelReadsTables) RunCommand("partx -a '" + loop.path() + "'", &output);
  ASSERT_TRUE(Exists(partition)) << "the kernel lists no partition of the loop device: " << output;

  card.image = loop.path();
  card.extraValues = "\"StopAtWrite\"=dword:00000002";
  ProgramRun run(dir.path(), WriteMachine(dir.path(), "m.reg", MachineText(card)),
                 {{"DUNMORE_CLOCK", kClock}});
  SignalAmidTheWrite(run, SIGTERM);
  if (HasFatalFailure()) return;
  std::string terminal = run.TerminalOutput();
  size_t note =
      terminal.find("dunmore: " + loop.path() + ": the new partition and volume are written whole");
  EXPECT_NE(std::string::npos, note) << terminal;
  EXPECT_GT(note, terminal.rfind("\x1b[?1049l")) << "said after the terminal is given back";
  ExpectGoldenImage(image, "fat32_8192x16x63");
  // The re-read: the old partition is gone either way, and a kernel that
  // reads DOS tables lists the new one.
  if (!kernelReadsTables) {
    EXPECT_FALSE(Exists(partition)) << "the kernel kept the old partition: no re-read";
    GTEST_SKIP() << "this kernel reads no DOS partition table on a loop device: the new "
                    "partition's listing is checked by the vm stage of tests/run-all";
  }
  std::vector<uint8_t> mbr = ReadSectors(image, 0, 1);
  uint32_t count = Le32(mbr, kMbrEntriesOffset + kEntrySectorCount);
  EXPECT_EQ(std::to_string(count) + "\n", ReadFile(partition + "/size"))
      << "the kernel kept the old partition: no re-read";
}
