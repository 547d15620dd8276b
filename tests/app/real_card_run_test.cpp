// The whole program on a card named by DUNMORE_CARD: an image, and a loop
// device standing in for a card reader (as root; the loop tests say they are
// skipped where losetup refuses). Judged by the screen, the exit code and
// fsck.fat, mtools and sfdisk on what was written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/golden.h"
#include "support/image.h"
#include "support/loop_device.h"
#include "support/machine_text.h"
#include "support/program_run.h"
#include "support/support.h"

using namespace testsupport;

namespace {

// "1", "2", "Y" and Esc: the whole card written; the exit code.
int WriteWholeCard(ProgramRun& run, Screen* main) {
  if (!run.WaitForKeyWait(main)) return -1;
  for (const char* key : {"1", kEnter, "2", kEnter, "y", kEnter}) {
    if (!run.Type(key)) return -1;
  }
  return run.TypeAndWaitExit(kEsc, 120000);
}

// One FAT16 partition of count sectors at first, as sfdisk, fsck.fat and
// mtools see it.
void ExpectWrittenCard(const TempDir& dir, const std::string& image, uint32_t first,
                       uint32_t count) {
  ExpectJudgedPartition(dir, image, first, count, "6");
  ExpectFileRoundTrip(dir, image, first);
}

// The default card's image, to stand behind a loop device.
std::string BackingImage(const TempDir& dir) {
  std::string image = dir.File("backing.img");
  CreateImage(image, MachineCard());
  return image;
}

// A loop device over the default card's image, standing in for a card
// reader, and the image's fingerprint before anything ran on it.
struct LoopCard {
  TempDir dir;
  std::string image = BackingImage(dir);
  std::string before = ImageFingerprint(image);
  std::unique_ptr<LoopDevice> loop = std::make_unique<LoopDevice>(image);

  const std::string& path() const { return loop->path(); }
  // Detaches the device and says whether the image is as it was.
  bool Untouched() {
    loop.reset();
    return ImageFingerprint(image) == before;
  }
};

#define SKIP_WITHOUT_LOOP(card) \
  if (!(card).loop->usable()) GTEST_SKIP() << (card).loop->reason()

bool IsBlockDevice(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISBLK(status.st_mode);
}

bool IsCharacterDevice(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISCHR(status.st_mode);
}

}  // namespace

TEST(RealCardRun, AnImageWithItsGeometryInsteadOfPccardImg) {
  TempDir dir;
  std::string image = dir.File("sd-card.img");
  ProgramRun run(dir.path(), "", {{"DUNMORE_CARD", image}, {"DUNMORE_GEOMETRY", "1016x16x63"}});
  Screen screen;
  ASSERT_EQ(0, WriteWholeCard(run, &screen));
  // Not the default card: named by its file, with no serial number.
  EXPECT_EQ("Model    sd-card.img", screen.Row(4).substr(5, 20));
  EXPECT_EQ(std::string(70, ' '), screen.Row(5).substr(10));
  EXPECT_EQ("Physical  1016 cylinders x  16 heads x 63 sectors", screen.At(5, 7, 49));
  EXPECT_EQ(1016u * 16 * 63 * 512, ReadFile(image).size());
  EXPECT_FALSE(Exists(dir.File("pccard.img")));
  ExpectWrittenCard(dir, image, 63, 1024065);
}

TEST(RealCardRun, ALoopDeviceIsWrittenThroughToItsBackingFile) {
  TempDir dir;
  std::string image = BackingImage(dir);
  std::string output;
  {
    LoopDevice loop(image);
    if (!loop.usable()) GTEST_SKIP() << loop.reason();
    ProgramRun run(dir.path(), "",
                   {{"DUNMORE_CARD", loop.path()}, {"DUNMORE_GEOMETRY", "490x8x32"}});
    Screen screen;
    ASSERT_EQ(0, WriteWholeCard(run, &screen));
    EXPECT_EQ("Physical   490 cylinders x   8 heads x 32 sectors", screen.At(5, 7, 49));
    // A loop device attached without partition scanning has no partitions
    // to read again: nothing is said of it, only where the undo file is and
    // how much was read back.
    output = run.TerminalOutput();
    EXPECT_EQ(std::string::npos, output.find("partition table")) << output;
    std::string said = output.substr(std::min(output.size(), output.find("dunmore: ")));
    EXPECT_NE(std::string::npos, said.find(" was kept before it in ")) << said;
    EXPECT_NE(std::string::npos, said.find("dunmore: " + loop.path() +
                                           ": 280 sectors written were read back from the card and "
                                           "matched what was sent"))
        << said;
  }
  EXPECT_FALSE(Exists(dir.File("pccard.img")));
  ExpectWrittenCard(dir, image, 32, 125408);
}

// The card written straight to the device from the aligned buffer, every
// run at an odd sector (the volume starts at 63): byte for byte the card
// written to an image under the same clock.
TEST(RealCardRun, AnOddSectorVolumeLandsOnA512ByteSectorDeviceAsOnAnImage) {
  TempDir dir;
  std::string image = dir.File("backing.img");
  CreateImage(image, MachineCardOf(1016, 16, 63));
  {
    LoopDevice loop(image, false, false, 512);
    if (!loop.usable()) GTEST_SKIP() << loop.reason();
    ProgramRun run(dir.path(), "",
                   {{"DUNMORE_CARD", loop.path()},
                    {"DUNMORE_GEOMETRY", "1016x16x63"},
                    {"DUNMORE_CLOCK", "1000000000"}});
    Screen screen;
    ASSERT_EQ(0, WriteWholeCard(run, &screen));
  }
  ExpectGoldenImage(image, "fat16_1016x16x63");
  ExpectJudgedPartition(dir, image, 63, 1024065, "6");
}

TEST(RealCardRun, TheKernelReadsTheNewTableAtTheEnd) {
  TempDir dir;
  std::string image = BackingImage(dir);
  // An old table: one partition of 10000 sectors at 2048.
  ASSERT_EQ("0:", Shell("echo 'start=2048,size=10000,type=83' | sfdisk -q '" + image + "'"));
  LoopDevice loop(image, true);
  if (!loop.usable()) GTEST_SKIP() << loop.reason();
  std::string partition = "/sys/block/" + loop.Name() + "/" + loop.Name() + "p1";
  if (!Exists(partition)) {
    GTEST_SKIP() << "this kernel reads no MBR partition table on a loop device (" << partition
                 << " missing after losetup -P); the vm stage of tests/run-all runs this test "
                    "on Debian's kernel in an emulated PC";
  }
  ASSERT_EQ("10000\n", ReadFile(partition + "/size"));
  ProgramRun run(dir.path(), "", {{"DUNMORE_CARD", loop.path()}, {"DUNMORE_GEOMETRY", "490x8x32"}});
  Screen screen;
  ASSERT_EQ(0, WriteWholeCard(run, &screen));
  EXPECT_EQ(std::string::npos, run.TerminalOutput().find("BLKRRPART"));
  EXPECT_EQ("125408\n", ReadFile(partition + "/size")) << "the kernel sees the new partition";
}

// CardStartUp.LockHeldByAnotherProcessIsUsedOther is the same refusal for an
// image whose lock another process holds.
TEST(RealCardRun, ADeviceHeldByAnotherProgramIsUsedOther) {
  LoopCard card;
  SKIP_WITHOUT_LOOP(card);
  {
    ExclusiveHolder other(card.path());
    ASSERT_TRUE(other.holding());
    ProgramRun run(card.dir.path(), "",
                   {{"DUNMORE_CARD", card.path()}, {"DUNMORE_GEOMETRY", "490x8x32"}});
    Screen screen;
    ASSERT_TRUE(run.WaitForKeyWait(&screen));
    EXPECT_EQ("PC Card HDD used other!", screen.At(20, 15, 23));
    EXPECT_EQ(1, run.TypeAndWaitExit(kEsc));
    // The holder is this test's own child, named on standard error.
    std::string output = run.TerminalOutput();
    size_t note = output.find(card.path() + ": the card was in use: process ");
    EXPECT_NE(std::string::npos, note) << output;
    EXPECT_NE(std::string::npos, output.find(" has it open", note)) << output;
  }
  EXPECT_TRUE(card.Untouched());
}

namespace {

// Ends the program that refused at boot: exit code 1, one line on the
// terminal, "dunmore: " and message, and not a byte of drawing.
void ExpectRefusedAtBoot(ProgramRun& run, const std::string& message) {
  EXPECT_EQ(1, run.WaitExit());
  std::string output = run.TerminalOutput();
  EXPECT_EQ(0u, output.find("dunmore: " + message)) << output;
  EXPECT_EQ(output.size() - 2, output.find("\r\n")) << output;
  EXPECT_EQ(std::string::npos, output.find('\x1b')) << output;
}

struct RefusalCase {
  const char* name;
  std::map<std::string, std::string> env;
  std::string message;
};

}  // namespace

// Set up as ADeviceHeldByAnotherProgramIsUsedOther above: a loop device over
// the backing image, which no refusal may change.
TEST(RealCardRun, WhatTheDeviceCannotBeIsRefusedBeforeTheTerminalIsTaken) {
  LoopCard card;
  SKIP_WITHOUT_LOOP(card);
  const TempDir& dir = card.dir;
  const std::string& image = card.image;
  const LoopDevice& loop = *card.loop;
  const std::string missing = "/dev/dunmore-test-no-such-reader";
  ASSERT_FALSE(Exists(missing));
  ASSERT_EQ(0, symlink(dir.File("gone.img").c_str(), dir.File("dangling").c_str()));
  const std::string other = dir.File("other.img");
  CreateImage(other, MachineCard());
  std::string otherBefore = ImageFingerprint(other);
  {
    const std::string named = "DUNMORE_CARD=" + loop.path();
    RefusalCase cases[] = {
        {"a geometry larger than the device",
         {{"DUNMORE_CARD", loop.path()}, {"DUNMORE_GEOMETRY", "491x8x32"}},
         named + ": the device holds 125440 sectors (64225280 bytes), fewer than the "
                 "geometry 491 x 8 x 32 needs (125696 sectors, 64356352 bytes)"},
        {"no IDENTIFY answer and no geometry",
         {{"DUNMORE_CARD", loop.path()}},
         named + ": the card does not answer ATA IDENTIFY DEVICE"},
        {"DUNMORE_GEOMETRY not CxHxS",
         {{"DUNMORE_CARD", loop.path()}, {"DUNMORE_GEOMETRY", "490x8x0"}},
         "DUNMORE_GEOMETRY=490x8x0: not cylinders x heads x sectors per track"},
        {"DUNMORE_GEOMETRY alone", {{"DUNMORE_GEOMETRY", "490x8x32"}}, "DUNMORE_GEOMETRY=490x8x32"},
        // Geometries the card disk could not address: refused before the
        // card is blamed for them.
        {"64 sectors per track",
         {{"DUNMORE_CARD", loop.path()}, {"DUNMORE_GEOMETRY", "980x16x64"}},
         "DUNMORE_GEOMETRY=980x16x64: the card cannot be addressed: more than 63 sectors per "
         "track"},
        {"a word the card disk reads as negative",
         {{"DUNMORE_CARD", image}, {"DUNMORE_GEOMETRY", "65535x16x63"}},
         "DUNMORE_GEOMETRY=65535x16x63: the card cannot be addressed: IDENTIFY DEVICE words of "
         "32768 and more"},
        {"a translation with more cylinders than the card",
         {{"DUNMORE_CARD", image}, {"DUNMORE_GEOMETRY", "4096x300x63"}},
         "DUNMORE_GEOMETRY=4096x300x63: the card cannot be addressed: its translation, 8192 x "
         "150 x 63, has more cylinders"},
        // Paths that name no card: never created, never taken as a new image.
        {"a device that is not there",
         {{"DUNMORE_CARD", missing}},
         "DUNMORE_CARD=" + missing + ": no such device: is the card reader plugged in?"},
        {"a device with a trailing blank",
         {{"DUNMORE_CARD", loop.path() + " "}},
         named + " : begins or ends with a blank"},
        {"a link to nothing",
         {{"DUNMORE_CARD", dir.File("dangling")}},
         "DUNMORE_CARD=" + dir.File("dangling") + ": is a link to " + dir.File("gone.img") +
             ", which does not exist"},
        {"a character device",
         {{"DUNMORE_CARD", "/dev/null"}},
         "DUNMORE_CARD=/dev/null: is a character device"},
        // An image behind a loop device is that device's medium.
        {"an image attached to a loop device",
         {{"DUNMORE_CARD", image}},
         "DUNMORE_CARD=" + image + ": is attached to " + loop.path() + "; detach it first"},
        // The screen dump can land on no card and no device.
        {"the screen dump on the card's image",
         {{"DUNMORE_CARD", other}, {"DUNMORE_SCREEN_DUMP", other}},
         "DUNMORE_SCREEN_DUMP=" + other + ": is the medium of a card"},
        {"the screen dump on the file behind the loop device that is the card",
         {{"DUNMORE_CARD", loop.path()},
          {"DUNMORE_GEOMETRY", "490x8x32"},
          {"DUNMORE_SCREEN_DUMP", image}},
         "DUNMORE_SCREEN_DUMP=" + image + ": is the medium of a card"},
        {"the screen dump on the loop device",
         {{"DUNMORE_CARD", loop.path()},
          {"DUNMORE_GEOMETRY", "490x8x32"},
          {"DUNMORE_SCREEN_DUMP", loop.path()}},
         "DUNMORE_SCREEN_DUMP=" + loop.path() + ": is a block device"},
        {"the screen dump on a character device",
         {{"DUNMORE_SCREEN_DUMP", "/dev/full"}},
         "DUNMORE_SCREEN_DUMP=/dev/full: is a character device"},
    };
    for (const RefusalCase& c : cases) {
      SCOPED_TRACE(c.name);
      ProgramRun run(dir.path(), "", c.env);
      ExpectRefusedAtBoot(run, c.message);
    }
    EXPECT_TRUE(IsBlockDevice(loop.path()));
  }
  EXPECT_TRUE(card.Untouched());
  EXPECT_FALSE(Exists(dir.File("pccard.img")));
  EXPECT_FALSE(Exists(missing));
  EXPECT_FALSE(Exists(dir.File("gone.img")));
  EXPECT_TRUE(IsCharacterDevice("/dev/full"));
  EXPECT_EQ(otherBefore, ImageFingerprint(other));
}

TEST(RealCardRun, AWriteProtectedCardIsRefusedBeforeTheTerminalIsTaken) {
  TempDir dir;
  std::string image = BackingImage(dir);
  std::string before = ImageFingerprint(image);
  {
    LoopDevice loop(image, false, true);
    if (!loop.usable()) GTEST_SKIP() << loop.reason();
    ProgramRun run(dir.path(), "",
                   {{"DUNMORE_CARD", loop.path()}, {"DUNMORE_GEOMETRY", "490x8x32"}});
    ExpectRefusedAtBoot(run, "DUNMORE_CARD=" + loop.path() + ": the device is read-only");
  }
  EXPECT_EQ(before, ImageFingerprint(image));
}

// A file left under /dev by an earlier mistake is no card reader; it would
// hide the reader's device node when the reader comes.
TEST(RealCardRun, AFileUnderDevIsNoCard) {
  TempDir dir;
  const std::string stray = "/dev/dunmore-test-stray-" + std::to_string(getpid());
  {
    int fd = open(stray.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0644);
    if (fd < 0) GTEST_SKIP() << "needs root to put a file under /dev";
    close(fd);
  }
  ProgramRun run(dir.path(), "", {{"DUNMORE_CARD", stray}, {"DUNMORE_GEOMETRY", "490x8x32"}});
  ExpectRefusedAtBoot(run, "DUNMORE_CARD=" + stray + ": is a regular file under /dev");
  EXPECT_EQ("", ReadFile(stray));
  unlink(stray.c_str());
}

// One card for one medium: an image behind a loop device is refused at boot
// (it is the device's medium), and a loop device attached over an image that
// a run holds is "used other", naming the run that holds it.
TEST(RealCardRun, AnImageAndALoopDeviceOverItAreOneCard) {
  TempDir dir, firstDir, secondDir;
  std::string image = BackingImage(dir);
  std::string before = ImageFingerprint(image);
  {
    ProgramRun first(firstDir.path(), "", {{"DUNMORE_CARD", image}});
    Screen screen;
    ASSERT_TRUE(first.WaitForKeyWait(&screen));
    ASSERT_EQ("Choose one of the following:", screen.At(5, 16, 28));
    LoopDevice loop(image);
    if (!loop.usable()) GTEST_SKIP() << loop.reason();
    ProgramRun second(secondDir.path(), "",
                      {{"DUNMORE_CARD", loop.path()}, {"DUNMORE_GEOMETRY", "490x8x32"}});
    ASSERT_TRUE(second.WaitForKeyWait(&screen));
    EXPECT_EQ("PC Card HDD used other!", screen.At(20, 15, 23));
    EXPECT_EQ(1, second.TypeAndWaitExit(kEsc));
    std::string output = second.TerminalOutput();
    std::string note = "dunmore: " + loop.path() + ": the card was in use: process " +
                       std::to_string(first.pid()) + " (dunmore) ";
    size_t at = output.find(note);
    EXPECT_NE(std::string::npos, at) << output;
    EXPECT_GT(at, output.rfind("Press Esc")) << "said after the screen is given back";
    EXPECT_EQ(2, first.TypeAndWaitExit(kEsc));

    ProgramRun third(secondDir.path(), "", {{"DUNMORE_CARD", image}});
    ExpectRefusedAtBoot(
        third, "DUNMORE_CARD=" + image + ": is attached to " + loop.path() + "; detach it first");
  }
  EXPECT_EQ(before, ImageFingerprint(image));
}

// A mounted file system on the card: the kernel refuses the exclusive open,
// the screen says "used other!" and standard error says where it is mounted.
TEST(RealCardRun, AMountedCardIsUsedOtherAndTheMountPointIsNamed) {
  TempDir dir;
  std::string image = dir.File("ext2.img");
  ASSERT_EQ("0:", Shell("truncate -s 64M '" + image + "' && mkfs.ext2 -q -F '" + image +
                        "' >/dev/null 2>&1"));
  std::string before = ImageFingerprint(image);
  LoopDevice loop(image);
  if (!loop.usable()) GTEST_SKIP() << loop.reason();
  std::string point = dir.File("mounted here");
  ASSERT_EQ(0, mkdir(point.c_str(), 0755));
  std::string output;
  if (RunCommand("mount -r '" + loop.path() + "' '" + point + "'", &output) != 0) {
    GTEST_SKIP() << "cannot mount an ext2 volume here: " << output;
  }
  {
    ProgramRun run(dir.path(), "",
                   {{"DUNMORE_CARD", loop.path()}, {"DUNMORE_GEOMETRY", "490x8x32"}});
    Screen screen;
    ASSERT_TRUE(run.WaitForKeyWait(&screen));
    EXPECT_EQ("PC Card HDD used other!", screen.At(20, 15, 23));
    EXPECT_EQ(1, run.TypeAndWaitExit(kEsc));
    EXPECT_NE(std::string::npos,
              run.TerminalOutput().find(loop.path() + ": the card was in use: " + loop.path() +
                                        " is mounted on " + point + "; unmount it first"))
        << run.TerminalOutput();
  }
  {
    // The file behind it, mounted: refused before anything is read.
    ProgramRun run(dir.path(), "", {{"DUNMORE_CARD", image}});
    ExpectRefusedAtBoot(run, "DUNMORE_CARD=" + image + ": is attached to " + loop.path() +
                                 " (mounted on " + point + "); detach it first");
  }
  EXPECT_EQ("0:", Shell("umount '" + point + "'"));
  EXPECT_EQ(before, ImageFingerprint(image));
}

namespace {

// The default machine with its card's medium at path, whose boot stops the
// program (SIGSTOP) right after it opened that medium.
std::string MachineStoppingAfterOpen(const TempDir& dir, const std::string& path) {
  MachineCard machineCard;
  machineCard.image = path;
  machineCard.extraValues = "\"StopAfterOpen\"=dword:00000001\n";
  return WriteMachine(dir.path(), "stop.reg", MachineText(machineCard));
}

}  // namespace

// The card is checked, written and locked on the descriptor the boot opened:
// a name that points elsewhere after the open reaches nothing.
TEST(RealCardRun, ANameChangedAfterTheOpenChangesNothing) {
  LoopCard checked, other, planted;
  SKIP_WITHOUT_LOOP(checked);
  SKIP_WITHOUT_LOOP(other);
  SKIP_WITHOUT_LOOP(planted);
  TempDir dir;
  const std::string link = dir.File("reader");
  ASSERT_EQ(0, symlink(checked.path().c_str(), link.c_str()));
  {
    ProgramRun run(dir.path(), MachineStoppingAfterOpen(dir, link));
    ASSERT_TRUE(run.WaitStopped());
    ASSERT_EQ(0, unlink(link.c_str()));
    ASSERT_EQ(0, symlink(other.path().c_str(), link.c_str()));
    ASSERT_EQ(0, kill(run.pid(), SIGCONT));
    Screen screen;
    ASSERT_EQ(0, WriteWholeCard(run, &screen));
  }
  EXPECT_TRUE(other.Untouched()) << "the reader the link was switched to";
  checked.loop.reset();
  ExpectWrittenCard(checked.dir, checked.image, 32, 125408);

  // A missing image becomes a new file, never what was planted at its name.
  const std::string fresh = dir.File("new.img");
  {
    ProgramRun run(dir.path(), MachineStoppingAfterOpen(dir, fresh));
    ASSERT_TRUE(run.WaitStopped());
    ASSERT_EQ(0, symlink(planted.path().c_str(), fresh.c_str()));
    ASSERT_EQ(0, kill(run.pid(), SIGCONT));
    Screen screen;
    ASSERT_TRUE(run.WaitForKeyWait(&screen)) << run.status() << run.TerminalOutput();
    // The volume lock, the card's first use, finds no medium to hold.
    EXPECT_EQ("PC Card HDD used other!", screen.At(20, 15, 23)) << screen.Text();
    EXPECT_EQ(1, run.TypeAndWaitExit(kEsc));
  }
  EXPECT_TRUE(planted.Untouched()) << "the reader a link at the new image's name pointed to";
}

// Traced by strace: the card's path is opened once, and the writes and the
// partition table's re-read go to the descriptor that open gave.
TEST(RealCardRun, TheCardsPathIsOpenedOnceAndEverythingGoesThroughIt) {
  LoopCard card;
  card.loop = std::make_unique<LoopDevice>(card.image, true);  // partitions scanned
  SKIP_WITHOUT_LOOP(card);
  std::string strace;
  if (RunCommand("command -v strace", &strace) != 0) GTEST_SKIP() << "needs strace";
  strace.erase(strace.find_last_not_of('\n') + 1);
  const std::string trace = card.dir.File("trace");
  RunOptions options;
  options.wrapper = {strace, "-f", "-qq", "-o", trace, "-e", "trace=open,openat,ioctl,pwrite64"};
  // A sanitized build's leak check cannot run under a tracer: it is left
  // out of the traced run alone.
  const char* sanitizer = std::getenv("ASAN_OPTIONS");
  std::string asanOptions = std::string(sanitizer == nullptr ? "" : sanitizer) + ":detect_leaks=0";
  {
    ProgramRun run(card.dir.path(), "",
                   {{"DUNMORE_CARD", card.path()},
                    {"DUNMORE_GEOMETRY", "490x8x32"},
                    {"ASAN_OPTIONS", asanOptions}},
                   options);
    Screen screen;
    ASSERT_EQ(0, WriteWholeCard(run, &screen));
  }
  const std::string text = ReadFile(trace);
  std::vector<std::string> opens;  // every open of the card's path
  std::string reopened;            // the descriptor the card is written through
  std::set<std::string> written, reread;
  std::istringstream lines(text);
  const std::regex call(R"re(^\d+\s+(\w+)\((\w+), ("[^"]*")?.*= (-?\d+))re");
  std::smatch m;
  for (std::string line; std::getline(lines, line);) {
    if (!std::regex_search(line, m, call)) continue;
    const std::string name = m[1], first = m[2], path = m[3], result = m[4];
    if (path == "\"" + card.path() + "\"") opens.push_back(line);
    if (name == "openat" && path.rfind("\"/proc/self/fd/", 0) == 0 &&
        line.find("O_EXCL") != std::string::npos) {
      reopened = result;
    }
    if (name == "pwrite64") written.insert(first);
    if (name == "ioctl" && line.find("BLKRRPART") != std::string::npos) reread.insert(first);
  }
  ASSERT_EQ(1u, opens.size()) << text;
  EXPECT_NE(std::string::npos, opens[0].find("O_PATH")) << opens[0];
  ASSERT_FALSE(reopened.empty()) << text;
  EXPECT_EQ(std::set<std::string>{reopened}, written) << text;
  EXPECT_EQ(std::set<std::string>{reopened}, reread) << text;
  card.loop.reset();
  ExpectWrittenCard(card.dir, card.image, 32, 125408);
}

// The screen dump is written through a new file of its own: a link planted
// beside it, where an older build wrote its temporary file, is left alone.
TEST(RealCardRun, TheScreenDumpReachesNoOtherFile) {
  TempDir dir;
  const std::string linked = dir.File("linked.img");
  CreateImage(linked, MachineCard());
  std::string before = ImageFingerprint(linked);
  // The run's dump is .screen-dump in its folder.
  ASSERT_EQ(0, link(linked.c_str(), dir.File(".screen-dump.tmp").c_str()));
  {
    ProgramRun run(dir.path(), "");
    Screen screen;
    ASSERT_TRUE(run.WaitForKeyWait(&screen));
    EXPECT_EQ("Choose one of the following:", screen.At(5, 16, 28));
    EXPECT_EQ(2, run.TypeAndWaitExit(kEsc));
  }
  EXPECT_EQ(before, ImageFingerprint(linked));
}

// A loop device with nothing attached holds no card. One of its own, far
// above the numbers losetup hands out, so that no other test attaches it.
TEST(RealCardRun, AnEmptyLoopDeviceHasNoMedium) {
  int control = open("/dev/loop-control", O_RDWR | O_CLOEXEC);
  if (control < 0) GTEST_SKIP() << "needs root and /dev/loop-control";
  int number = -1;
  for (int n = 200; n < 260 && number < 0; ++n) {
    if (ioctl(control, LOOP_CTL_ADD, n) == n) number = n;
  }
  if (number < 0) {
    close(control);
    GTEST_SKIP() << "no loop device could be added";
  }
  const std::string empty = "/dev/loop" + std::to_string(number);
  TempDir dir;
  {
    ProgramRun run(dir.path(), "", {{"DUNMORE_CARD", empty}, {"DUNMORE_GEOMETRY", "490x8x32"}});
    EXPECT_EQ(1, run.WaitExit());
    EXPECT_EQ(
        "dunmore: DUNMORE_CARD=" + empty + ": no medium: " + empty + " has no file attached\r\n",
        run.TerminalOutput());
  }
  ioctl(control, LOOP_CTL_REMOVE, number);
  close(control);
}
