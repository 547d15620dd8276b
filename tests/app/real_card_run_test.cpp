// The whole program on a card named by DUNMORE_CARD: an image, and a loop
// device standing in for a card reader (as root; the loop tests say they are
// skipped where losetup refuses). Judged by the screen, the exit code and
// fsck.fat, mtools and sfdisk on what was written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

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
  std::string sfdisk = Shell("sfdisk -d '" + image + "'");
  char entry[80];
  snprintf(entry, sizeof entry, "start=%12u, size=%12u, type=6", first, count);
  EXPECT_NE(std::string::npos, sfdisk.find(entry)) << sfdisk;
  std::string volume = dir.File("volume.img");
  ExtractVolume(image, first, count, volume);
  std::string fsck = Shell("fsck.fat -n '" + volume + "'");
  EXPECT_EQ('0', fsck[0]) << fsck;
  unlink(volume.c_str());
  ExpectFileRoundTrip(dir, image, first);
}

// The default card's image, to stand behind a loop device.
std::string BackingImage(const TempDir& dir) {
  std::string image = dir.File("backing.img");
  CreateImage(image, CardSpec());
  return image;
}

bool Exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

}  // namespace

TEST(RealCardRun, AnImageWithItsGeometryInsteadOfPccardImg) {
  TempDir dir;
  std::string image = dir.File("sd-card.img");
  ProgramRun run(dir.path(), "", {{"DUNMORE_CARD", image}, {"DUNMORE_GEOMETRY", "1016x16x63"}});
  Screen screen;
  ASSERT_EQ(0, WriteWholeCard(run, &screen));
  EXPECT_EQ("Model    KESTREL CF 64MB", screen.At(5, 4, 24));
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
                 << " missing after losetup -P)";
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
  }
  EXPECT_EQ(before, ImageFingerprint(image));
}

// Set up as ADeviceHeldByAnotherProgramIsUsedOther above: a loop device over
// the backing image, which no refusal may change.
TEST(RealCardRun, WhatTheDeviceCannotBeIsRefusedBeforeTheTerminalIsTaken) {
  TempDir dir;
  std::string image = BackingImage(dir);
  std::string before = ImageFingerprint(image);
  {
    LoopDevice loop(image);
    if (!loop.usable()) GTEST_SKIP() << loop.reason();
    struct Case {
      const char* name;
      std::map<std::string, std::string> env;
      std::string message;
    } cases[] = {
        {"a geometry larger than the device",
         {{"DUNMORE_CARD", loop.path()}, {"DUNMORE_GEOMETRY", "491x8x32"}},
         loop.path() + ": the device holds 125440 sectors (64225280 bytes), fewer than the "
                       "geometry 491 x 8 x 32 needs (125696 sectors, 64356352 bytes)"},
        {"no IDENTIFY answer and no geometry",
         {{"DUNMORE_CARD", loop.path()}},
         loop.path() + ": the card does not answer ATA IDENTIFY DEVICE"},
        {"DUNMORE_GEOMETRY not CxHxS",
         {{"DUNMORE_CARD", loop.path()}, {"DUNMORE_GEOMETRY", "490x8x0"}},
         "DUNMORE_GEOMETRY=490x8x0: not cylinders x heads x sectors per track"},
        {"DUNMORE_GEOMETRY alone", {{"DUNMORE_GEOMETRY", "490x8x32"}}, "DUNMORE_GEOMETRY=490x8x32"},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      ProgramRun run(dir.path(), "", c.env);
      EXPECT_EQ(1, run.WaitExit());
      std::string output = run.TerminalOutput();
      EXPECT_EQ(0u, output.find(c.message)) << output;
      // One line, and not a byte of drawing on the terminal.
      EXPECT_EQ(output.size() - 2, output.find("\r\n")) << output;
      EXPECT_EQ(std::string::npos, output.find('\x1b')) << output;
    }
  }
  EXPECT_EQ(before, ImageFingerprint(image));
  EXPECT_FALSE(Exists(dir.File("pccard.img")));
}
