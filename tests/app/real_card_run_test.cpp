// The whole program on a card named by DUNMORE_CARD: an image, and a loop
// device standing in for a card reader (as root; the loop tests say they are
// skipped where losetup refuses). Judged by the screen, the exit code and
// fsck.fat, mtools and sfdisk on what was written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

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
  CreateImage(image, CardSpec());
  return image;
}

bool Exists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

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
  // Not the default card: no texts of its own to show.
  EXPECT_EQ("Model", screen.Row(4).substr(5, 5));
  EXPECT_EQ(std::string(70, ' '), screen.Row(4).substr(10));
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
    // A loop device without partition scanning refuses BLKRRPART: said
    // after the terminal is given back, and the run still ends with 0.
    output = run.TerminalOutput();
    size_t note = output.find(loop.path() + ": the kernel did not read the new partition table");
    EXPECT_NE(std::string::npos, note) << output;
    EXPECT_GT(note, output.rfind("Press Esc")) << output;
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
  CreateImage(image, CardSpecOf(1016, 16, 63));
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
  TempDir dir;
  std::string image = BackingImage(dir);
  std::string before = ImageFingerprint(image);
  {
    LoopDevice loop(image);
    if (!loop.usable()) GTEST_SKIP() << loop.reason();
    ExclusiveHolder other(loop.path());
    ASSERT_TRUE(other.holding());
    ProgramRun run(dir.path(), "",
                   {{"DUNMORE_CARD", loop.path()}, {"DUNMORE_GEOMETRY", "490x8x32"}});
    Screen screen;
    ASSERT_TRUE(run.WaitForKeyWait(&screen));
    EXPECT_EQ("PC Card HDD used other!", screen.At(20, 15, 23));
    EXPECT_EQ(1, run.TypeAndWaitExit(kEsc));
    // The holder is this test's own child, named on standard error.
    std::string output = run.TerminalOutput();
    size_t note = output.find(loop.path() + ": the card was in use: process ");
    EXPECT_NE(std::string::npos, note) << output;
    EXPECT_NE(std::string::npos, output.find(" has it open", note)) << output;
  }
  EXPECT_EQ(before, ImageFingerprint(image));
}

namespace {

// Ends the program that refused at boot: exit code 1, one line on the
// terminal that starts with message, and not a byte of drawing.
void ExpectRefusedAtBoot(ProgramRun& run, const std::string& message) {
  EXPECT_EQ(1, run.WaitExit());
  std::string output = run.TerminalOutput();
  EXPECT_EQ(0u, output.find(message)) << output;
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
  TempDir dir;
  std::string image = BackingImage(dir);
  std::string before = ImageFingerprint(image);
  const std::string missing = "/dev/dunmore-test-no-such-reader";
  ASSERT_FALSE(Exists(missing));
  ASSERT_EQ(0, symlink(dir.File("gone.img").c_str(), dir.File("dangling").c_str()));
  CreateImage(dir.File("screen.tmp"), CardSpec());
  std::string screenCard = ImageFingerprint(dir.File("screen.tmp"));
  {
    LoopDevice loop(image);
    if (!loop.usable()) GTEST_SKIP() << loop.reason();
    const std::string card = "DUNMORE_CARD=" + loop.path();
    RefusalCase cases[] = {
        {"a geometry larger than the device",
         {{"DUNMORE_CARD", loop.path()}, {"DUNMORE_GEOMETRY", "491x8x32"}},
         card + ": the device holds 125440 sectors (64225280 bytes), fewer than the "
                "geometry 491 x 8 x 32 needs (125696 sectors, 64356352 bytes)"},
        {"no IDENTIFY answer and no geometry",
         {{"DUNMORE_CARD", loop.path()}},
         card + ": the card does not answer ATA IDENTIFY DEVICE"},
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
         card + " : begins or ends with a blank"},
        {"a link to nothing",
         {{"DUNMORE_CARD", dir.File("dangling")}},
         "DUNMORE_CARD=" + dir.File("dangling") + ": is a link to " + dir.File("gone.img") +
             ", which does not exist"},
        {"a character device",
         {{"DUNMORE_CARD", "/dev/null"}},
         "DUNMORE_CARD=/dev/null: is a character device"},
        // The screen dump can land on no card and no device.
        {"the screen dump on the card's image",
         {{"DUNMORE_CARD", image}, {"DUNMORE_SCREEN_DUMP", image}},
         "DUNMORE_SCREEN_DUMP=" + image + ": is the medium of a card"},
        {"the screen dump on the loop device",
         {{"DUNMORE_CARD", loop.path()},
          {"DUNMORE_GEOMETRY", "490x8x32"},
          {"DUNMORE_SCREEN_DUMP", loop.path()}},
         "DUNMORE_SCREEN_DUMP=" + loop.path() + ": is a block device"},
        {"the screen dump on a character device",
         {{"DUNMORE_SCREEN_DUMP", "/dev/full"}},
         "DUNMORE_SCREEN_DUMP=/dev/full: is a character device"},
        {"the screen dump's own file on the card's image",
         {{"DUNMORE_CARD", dir.File("screen.tmp")}, {"DUNMORE_SCREEN_DUMP", dir.File("screen")}},
         "DUNMORE_SCREEN_DUMP=" + dir.File("screen") + ": " + dir.File("screen.tmp") +
             " is the medium of a card"},
    };
    for (const RefusalCase& c : cases) {
      SCOPED_TRACE(c.name);
      ProgramRun run(dir.path(), "", c.env);
      ExpectRefusedAtBoot(run, c.message);
    }
    EXPECT_TRUE(IsBlockDevice(loop.path()));
  }
  EXPECT_EQ(before, ImageFingerprint(image));
  EXPECT_FALSE(Exists(dir.File("pccard.img")));
  EXPECT_FALSE(Exists(missing));
  EXPECT_FALSE(Exists(dir.File("gone.img")));
  EXPECT_TRUE(IsCharacterDevice("/dev/full"));
  EXPECT_EQ(screenCard, ImageFingerprint(dir.File("screen.tmp")));
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

// One lock for one medium: a run on the image and a run on a loop device
// over it exclude each other, whichever comes first, and the second says on
// standard error who held the card.
TEST(RealCardRun, AnImageAndALoopDeviceOverItAreOneCard) {
  TempDir dir;
  std::string image = BackingImage(dir);
  std::string before = ImageFingerprint(image);
  {
    LoopDevice loop(image);
    if (!loop.usable()) GTEST_SKIP() << loop.reason();
    const std::map<std::string, std::string> onLoop = {{"DUNMORE_CARD", loop.path()},
                                                       {"DUNMORE_GEOMETRY", "490x8x32"}};
    const std::map<std::string, std::string> onImage = {{"DUNMORE_CARD", image}};
    for (bool loopFirst : {true, false}) {
      SCOPED_TRACE(loopFirst ? "the loop device first" : "the image first");
      TempDir firstDir, secondDir;
      ProgramRun first(firstDir.path(), "", loopFirst ? onLoop : onImage);
      Screen screen;
      ASSERT_TRUE(first.WaitForKeyWait(&screen));
      ASSERT_EQ("Choose one of the following:", screen.At(5, 16, 28));
      ProgramRun second(secondDir.path(), "", loopFirst ? onImage : onLoop);
      ASSERT_TRUE(second.WaitForKeyWait(&screen));
      EXPECT_EQ("PC Card HDD used other!", screen.At(20, 15, 23));
      EXPECT_EQ(1, second.TypeAndWaitExit(kEsc));
      std::string output = second.TerminalOutput();
      std::string note = (loopFirst ? image : loop.path()) + ": the card was in use: process " +
                         std::to_string(first.pid()) + " (dunmore) ";
      size_t at = output.find(note);
      EXPECT_NE(std::string::npos, at) << output;
      EXPECT_GT(at, output.rfind("Press Esc")) << "said after the screen is given back";
      EXPECT_EQ(2, first.TypeAndWaitExit(kEsc));
    }
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
  EXPECT_EQ("0:", Shell("umount '" + point + "'"));
  EXPECT_EQ(before, ImageFingerprint(image));
}
