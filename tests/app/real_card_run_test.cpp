// The whole program on a card named by DUNMORE_CARD: an image, and a loop
// device standing in for a card reader (as root; the loop tests say they are
// skipped where losetup refuses). Judged by the screen, the exit code and
// fsck.fat, mtools and sfdisk on what was written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/loop.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
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
    LOOP_DEVICE_OR_SKIP(loop, image);
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
    LOOP_DEVICE_OR_SKIP(loop, image, false, false, 512);
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
  LOOP_DEVICE_OR_SKIP(loop, image, true);
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

namespace {

struct RefusalCase {
  const char* name;
  std::map<std::string, std::string> env;
  std::string message;
};

}  // namespace

// A loop device over the backing image, which no refusal may change.
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
  // A file left under /dev by an earlier mistake is no card reader; it would
  // hide the reader's device node when the reader comes.
  const std::string stray = "/dev/dunmore-test-stray-" + std::to_string(getpid());
  int strayFd = open(stray.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0644);
  ASSERT_LE(0, strayFd) << "needs root to put a file under /dev";
  close(strayFd);
  {
    CreateImage(dir.File("protected.img"), MachineCard());
    const std::string protectedBefore = ImageFingerprint(dir.File("protected.img"));
    // A write-protected card.
    LOOP_DEVICE_OR_SKIP(readOnly, dir.File("protected.img"), false, true);
    const std::string named = "DUNMORE_CARD=" + loop.path();
    RefusalCase cases[] = {
        {"a write-protected card",
         {{"DUNMORE_CARD", readOnly.path()}, {"DUNMORE_GEOMETRY", "490x8x32"}},
         "DUNMORE_CARD=" + readOnly.path() + ": the device is read-only"},
        {"a file under /dev",
         {{"DUNMORE_CARD", stray}, {"DUNMORE_GEOMETRY", "490x8x32"}},
         "DUNMORE_CARD=" + stray + ": is a regular file under /dev"},
        // A device smaller than its geometry:
        // RealCard.BlockDeviceCardsAreCheckedBeforeTheRun.
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
      ExpectRefusedAtBoot(RunToRefusal(dir.path(), "", c.env), {"dunmore: " + c.message});
    }
    EXPECT_TRUE(IsBlockDevice(loop.path()));
    EXPECT_EQ(protectedBefore, ImageFingerprint(dir.File("protected.img")));
  }
  EXPECT_TRUE(card.Untouched());
  EXPECT_FALSE(Exists(dir.File("pccard.img")));
  EXPECT_FALSE(Exists(missing));
  EXPECT_FALSE(Exists(dir.File("gone.img")));
  EXPECT_TRUE(IsCharacterDevice("/dev/full"));
  EXPECT_EQ(otherBefore, ImageFingerprint(other));
  EXPECT_EQ("", ReadFile(stray));
  unlink(stray.c_str());
}

// Something else holds the card: the screen says "PC Card HDD used other!",
// Esc ends the run with 1, standard error names the holder once the screen
// is given back, and nothing is written; once the holder lets go, the card
// opens. A hold takes the card (a loop device it attaches over the image, or
// the image itself) and says what standard error must name, in order.
struct Hold {
  std::string card;
  std::vector<std::string> named;
  std::function<void()> release;  // lets go, checking what the holder says
};
using Attach = std::function<std::string()>;  // a loop device over the image
struct HolderCase {
  const char* name;
  bool ext2;  // the image holds an ext2 file system rather than nothing
  std::function<Hold(const TempDir& dir, const std::string& image, const Attach& attach)> take;
};

TEST(RealCardRun, ACardHeldElsewhereIsUsedOtherNamingWhatHoldsIt) {
  const HolderCase holders[] = {
      {"an exclusive open of the device", false,
       [](const TempDir&, const std::string&, const Attach& attach) {
         const std::string card = attach();
         auto other = std::make_shared<ExclusiveHolder>(card);
         EXPECT_TRUE(other->holding());
         return Hold{card,
                     {card + ": the card was in use: process ", " has it open"},
                     [other]() mutable { other.reset(); }};
       }},
      // One card for one medium: a run on the image behind the loop device.
      {"a run on the image behind the device", false,
       [](const TempDir& dir, const std::string& image, const Attach& attach) {
         auto first = std::make_shared<ProgramRun>(
             dir.File("first"), "", std::map<std::string, std::string>{{"DUNMORE_CARD", image}});
         Screen screen;
         EXPECT_TRUE(first->WaitForKeyWait(&screen));
         EXPECT_EQ("Choose one of the following:", screen.At(5, 16, 28));
         const std::string card = attach();
         return Hold{card,
                     {"dunmore: " + card + ": the card was in use: process " +
                      std::to_string(first->pid()) + " (dunmore) "},
                     [first] { EXPECT_EQ(2, first->TypeAndWaitExit(kEsc)); }};
       }},
      // The kernel refuses the exclusive open of a mounted device; the file
      // behind it, mounted, is refused before anything is read.
      {"a mount of the device", true,
       [](const TempDir& dir, const std::string& image, const Attach& attach) {
         const std::string card = attach();
         const std::string point = dir.File("mounted here");
         EXPECT_EQ(0, mkdir(point.c_str(), 0755));
         EXPECT_EQ("0:", Shell("mount -r '" + card + "' '" + point + "'"));
         ExpectRefusedAtBoot(RunToRefusal(dir.path(), "", {{"DUNMORE_CARD", image}}),
                             {"DUNMORE_CARD=" + image + ": is attached to " + card +
                              " (mounted on " + point + "); detach it first"});
         return Hold{card,
                     {card + ": the card was in use: " + card + " is mounted on " + point +
                      "; unmount it first"},
                     [point] { EXPECT_EQ("0:", Shell("umount '" + point + "'")); }};
       }},
      // flock on an image, as another program's lock on the file.
      {"flock on the image", false,
       [](const TempDir&, const std::string& image, const Attach&) {
         pid_t holder = fork();
         if (holder == 0) {
           setpgid(0, 0);  // a group of its own, so that the sleep ends with it
           execlp("flock", "flock", image.c_str(), "sleep", "60", static_cast<char*>(nullptr));
           _exit(127);
         }
         // flock holds the lock once this process can no longer take it.
         auto held = [&image] {
           int fd = open(image.c_str(), O_RDONLY | O_CLOEXEC);
           bool locked = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0;
           if (fd >= 0) close(fd);
           return locked;
         };
         for (int i = 0; i < 1000 && !held(); ++i) usleep(10 * 1000);
         EXPECT_TRUE(held()) << "flock did not take the lock";
         return Hold{image,
                     {image + ": the card was in use: process ", " holds " + image + " locked"},
                     [holder] {
                       kill(-holder, SIGKILL);
                       waitpid(holder, nullptr, 0);
                     }};
       }},
  };
  for (const HolderCase& c : holders) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ASSERT_EQ(0, mkdir(dir.File("first").c_str(), 0755));
    std::string image = BackingImage(dir);
    if (c.ext2) {
      ASSERT_EQ("0:", Shell("mkfs.ext2 -q -F '" + image + "' >/dev/null 2>&1"));
    }
    const std::string before = ImageFingerprint(image);
    std::unique_ptr<LoopDevice> loop;
    Hold hold = c.take(dir, image, [&loop, &image] {
      loop = std::make_unique<LoopDevice>(image);
      return loop->path();
    });
    if (loop && !loop->usable()) GTEST_SKIP() << loop->reason();
    ASSERT_FALSE(HasFailure());
    const std::map<std::string, std::string> env = {{"DUNMORE_CARD", hold.card},
                                                    {"DUNMORE_GEOMETRY", "490x8x32"}};
    {
      ProgramRun run(dir.path(), "", env);
      Screen screen;
      ASSERT_TRUE(run.WaitForKeyWait(&screen));
      EXPECT_EQ("PC Card HDD used other!", screen.At(20, 15, 23)) << screen.Text();
      EXPECT_EQ(1, run.TypeAndWaitExit(kEsc));
      const std::string output = run.TerminalOutput();
      size_t at = output.rfind("Press Esc");
      for (const std::string& part : hold.named) {
        at = at == std::string::npos ? at : output.find(part, at);
        EXPECT_NE(std::string::npos, at) << "\"" << part << "\" after the screen: " << output;
      }
    }
    hold.release();
    {
      ProgramRun run(dir.path(), "", env);
      Screen screen;
      ASSERT_TRUE(run.WaitForKeyWait(&screen));
      EXPECT_EQ("Choose one of the following:", screen.At(5, 16, 28)) << "once let go";
      EXPECT_EQ(2, run.TypeAndWaitExit(kEsc));
    }
    loop.reset();
    EXPECT_EQ(before, ImageFingerprint(image));
  }
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
