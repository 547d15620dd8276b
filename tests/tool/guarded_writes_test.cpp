// --make-bootable and --restore write a card's block device with the
// write's own guards: what they overwrite is kept in an undo file that puts
// the card back byte for byte, what they write is read back, and a card
// that loses a write fails it before the master boot record is touched.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "support/image.h"
#include "support/loop_device.h"
#include "support/machine_text.h"
#include "support/program_run.h"
#include "support/support.h"
#include "support/undo_run.h"
#include "tool/mode_run.h"

using namespace testsupport;

namespace {

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

}  // namespace

TEST(GuardedWrites, TheFinishingStepAndTheRestoreKeepAndReadBackWhatTheyWrite) {
  TempDir dir;
  MachineCard card;
  const std::string image = dir.File("card.img");
  CreateImage(image, card);
  ASSERT_EQ("0:", MakeElsewhere(image, kMadeFat16Camera));
  const std::string before = ImageFingerprint(image);
  const std::vector<uint8_t> oldMbr = ReadSectors(image, 0, 1);
  LOOP_DEVICE_OR_SKIP(loop, image);
  card.image = loop.path();
  WriteMachine(dir.path(), "m.reg", MachineText(card));
  const std::string state = "XDG_STATE_HOME='" + dir.File("state") + "'";

  // The image behind the loop device is the same card: refused as the
  // write refuses it.
  ModeRun behind = RunDunmore(dir, "--make-bootable --yes card.img", state);
  EXPECT_EQ(1, behind.code);
  EXPECT_EQ("dunmore: card card.img: is attached to " + loop.path() + "; detach it first\n",
            behind.err);
  EXPECT_EQ(before, ImageFingerprint(image));

  ModeRun finish = RunDunmore(dir, "--make-bootable --yes --machine m.reg", state);
  ASSERT_EQ(0, finish.code) << finish.out << finish.err;
  EXPECT_TRUE(Contains(finish.err, loop.path() + ": 2 sectors written were read back"))
      << finish.err;
  std::vector<std::string> undo = DefaultUndoFiles(dir.path());
  ASSERT_EQ(1u, undo.size()) << finish.err;
  EXPECT_EQ(undo[0], UndoFileNamed(finish.err));
  const std::string finished = ImageFingerprint(image);
  ASSERT_NE(before, finished);
  EXPECT_EQ(0x80, ReadSectors(image, 0, 1)[446]);

  ModeRun restore =
      RunDunmore(dir, "--restore '" + undo[0] + "' --yes --force --machine m.reg", state);
  ASSERT_EQ(0, restore.code) << restore.out << restore.err;
  EXPECT_EQ(before, ImageFingerprint(image)) << "the finishing step undone";
  EXPECT_TRUE(Contains(restore.err, loop.path() + ": 2 sectors written were read back"))
      << restore.err;
  std::vector<std::string> both = DefaultUndoFiles(dir.path());
  ASSERT_EQ(2u, both.size()) << restore.err;
  const std::string ofRestore = both[0] == undo[0] ? both[1] : both[0];

  // A card that loses what is written to the boot sector: the read-back
  // fails there, and the MBR, written last by both, stays as it was.
  card.extraValues = "\"LostWriteSectors\"=\"2048\"\n";
  WriteMachine(dir.path(), "m.reg", MachineText(card));
  ModeRun lost = RunDunmore(dir, "--make-bootable --yes --machine m.reg", state);
  EXPECT_EQ(3, lost.code) << lost.out << lost.err;
  EXPECT_TRUE(Contains(lost.err, "read back other than written")) << lost.err;
  EXPECT_EQ(oldMbr, ReadSectors(image, 0, 1));
  EXPECT_EQ(before, ImageFingerprint(image));

  // The restore of the restore would put the finished card back: its boot
  // sector is lost, so it fails before its MBR.
  ModeRun again =
      RunDunmore(dir, "--restore '" + ofRestore + "' --yes --force --machine m.reg", state);
  EXPECT_EQ(3, again.code) << again.out << again.err;
  EXPECT_TRUE(Contains(again.err, "read back other than written")) << again.err;
  EXPECT_EQ(oldMbr, ReadSectors(image, 0, 1));
}

// An undo folder that fills up: the undo file of a 490 x 8 x 32 card whose
// every changed sector holds data needs about 143 KB, which a tmpfs of 16,
// 64 or 128 KB does not take; that of a 4162 x 16 x 63 card, over 4 MB, is
// written a megabyte at a time as its sectors are read, and a tmpfs of 2 MB
// fills up part way. The file is written whole before the first
// sector reaches the card, so the card stays as it was, to the byte: the
// write fails at its first command ("WRITE ERROR!", exit 3), a restore is
// refused (exit 1), and no undo file is left.
TEST(GuardedWrites, AnUndoFolderThatFillsUpStopsTheRunBeforeTheCardIsTouched) {
  TempDir dir;
  const std::string image = dir.File("card.img");
  CreateImage(image, MachineCard());
  std::vector<uint8_t> pattern(320 * 512);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i % 253 + 1);
  WriteSectorBytes(image, 0, pattern);
  LOOP_DEVICE_OR_SKIP(loop, image);
  const std::string card = "--geometry 490x8x32 " + loop.path();
  const std::string large = dir.File("fat32.img");
  CreateImage(large, MachineCardOf(4162, 16, 63));
  std::vector<uint8_t> fats(10000 * 512);
  for (size_t i = 0; i < fats.size(); ++i) fats[i] = static_cast<uint8_t>(i % 241 + 1);
  WriteSectorBytes(large, 0, fats);
  LOOP_DEVICE_OR_SKIP(largeLoop, large);
  const std::string largeCard = "--geometry 4162x16x63 " + largeLoop.path();
  const std::string largeBefore = ImageFingerprint(large);
  // An undo file of the card to restore, made where there is room, and the
  // card changed since (by another pattern) so that the restore has as much
  // to keep.
  ModeRun written = RunDunmore(dir, "--yes --clock 1 --undo kept.undo " + card);
  ASSERT_EQ(0, written.code) << written.err;
  std::reverse(pattern.begin(), pattern.end());
  WriteSectorBytes(image, 0, pattern);
  const std::string before = ImageFingerprint(image);
  const std::string full = dir.File("full");
  ASSERT_EQ("0:", Shell("mkdir '" + full + "'"));
  for (const char* size : {"16k", "64k", "128k", "2m"}) {
    if (mount("tmpfs", full.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) != 0) {
      GTEST_SKIP() << "no tmpfs can be mounted here (needs root)";
    }
    struct Run {
      const char* what;
      std::string arguments;
      std::string environment;
      int code;
    };
    const std::vector<Run> runs =
        std::string(size) != "2m"
            ? std::vector<Run>{{"the write, its default folder", "--yes --clock 1 " + card,
                                "XDG_STATE_HOME='" + full + "'", 3},
                               {"the write, --undo",
                                "--yes --clock 1 --undo '" + full + "/u.undo' " + card, "", 3},
                               {"a restore",
                                "--restore kept.undo --yes --force --undo '" + full + "/u.undo' " +
                                    card,
                                "", 1}}
            : std::vector<Run>{{"the FAT32 write, its default folder",
                                "--yes --clock 1 " + largeCard, "XDG_STATE_HOME='" + full + "'",
                                3}};
    for (const Run& run : runs) {
      SCOPED_TRACE(std::string(run.what) + ", tmpfs of " + size);
      ModeRun failed = RunDunmore(dir, run.arguments, run.environment);
      EXPECT_EQ(run.code, failed.code) << failed.out << failed.err;
      EXPECT_TRUE(Contains(failed.err, "No space left on device")) << failed.err;
      if (run.code == 3) {
        EXPECT_TRUE(Contains(failed.out, "WRITE ERROR!")) << failed.out;
      }
      EXPECT_EQ(before, ImageFingerprint(image));
      EXPECT_EQ(largeBefore, ImageFingerprint(large));
      std::string left;
      RunCommand("find '" + full + "' -type f", &left);
      EXPECT_EQ("", left) << "an undo file was left";
    }
    ASSERT_EQ(0, umount(full.c_str()));
  }
}

namespace {

// A block-I/O cgroup that holds its processes' reads and writes of one
// device to a rate: cgroup v2's io.max where its io controller is there,
// else cgroup v1's blkio throttle. Removed when it goes, once empty.
class Throttle {
 public:
  Throttle(const std::string& device, uint64_t bytesPerSecond) {
    struct stat status;
    if (stat(device.c_str(), &status) != 0) {
      reason_ = device + " is not there";
      return;
    }
    const std::string numbers =
        std::to_string(major(status.st_rdev)) + ":" + std::to_string(minor(status.st_rdev));
    const std::string rate = std::to_string(bytesPerSecond);
    const std::string name = "/dunmore-throttle-" + std::to_string(getpid());
    for (const char* root : {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"}) {
      if (ReadFile(std::string(root) + "/cgroup.controllers").find("io") == std::string::npos) {
        continue;
      }
      WriteFile(std::string(root) + "/cgroup.subtree_control", "+io");
      if (Made(root + name) &&
          Wrote(folder_ + "/io.max", numbers + " rbps=" + rate + " wbps=" + rate)) {
        return;
      }
    }
    if (Made("/sys/fs/cgroup/blkio" + name) &&
        Wrote(folder_ + "/blkio.throttle.read_bps_device", numbers + " " + rate) &&
        Wrote(folder_ + "/blkio.throttle.write_bps_device", numbers + " " + rate)) {
      return;
    }
    if (reason_.empty()) reason_ = "no block-I/O cgroup here (neither io.max nor blkio)";
  }
  ~Throttle() {
    if (!folder_.empty()) rmdir(folder_.c_str());
  }
  bool usable() const { return reason_.empty() && !folder_.empty(); }
  const std::string& reason() const { return reason_; }
  // Runs the program in the cgroup.
  std::vector<std::string> Wrapper() const {
    return {"/bin/sh", "-c", "echo $$ >'" + folder_ + "/cgroup.procs' && exec \"$0\" \"$@\""};
  }

 private:
  bool Made(const std::string& folder) {
    if (!folder_.empty()) rmdir(folder_.c_str());
    folder_.clear();
    if (mkdir(folder.c_str(), 0755) != 0) return false;
    folder_ = folder;
    return true;
  }
  bool Wrote(const std::string& file, const std::string& value) {
    std::string output;
    bool done = RunCommand("echo '" + value + "' >'" + file + "'", &output) == 0;
    if (!done) reason_ = file + ": " + output;
    return done;
  }

  std::string folder_;
  std::string reason_;
};

}  // namespace

// A write through a slow reader (a loop device held to 1 MB/s, as a USB 1.1
// reader moves): its pre-read, write and read-back take seconds, and --yes
// shows how far they have come on standard error when that is a terminal,
// and says nothing of it when standard error is a file.
TEST(GuardedWrites, ASlowWriteShowsItsProgressOnATerminalOnly) {
  TempDir dir;
  const std::string image = dir.File("card.img");
  CreateImage(image, MachineCardOf(4162, 16, 63));
  LOOP_DEVICE_OR_SKIP(loop, image);
  Throttle throttle(loop.path(), 1 << 20);
  if (!throttle.usable()) GTEST_SKIP() << throttle.reason();
  const std::string progress = " sectors read and written (";
  for (const bool terminal : {true, false}) {
    SCOPED_TRACE(terminal ? "standard error a terminal" : "standard error a file");
    RunOptions options;
    options.arguments = {"--yes", "--clock", "1", "--geometry", "4162x16x63", loop.path()};
    options.wrapper = throttle.Wrapper();
    if (!terminal) options.standardError = dir.File("err");
    const auto begun = std::chrono::steady_clock::now();
    ProgramRun run(dir.path(), "", {}, options);
    EXPECT_EQ(0, run.WaitExit(120000)) << run.TerminalOutput();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    EXPECT_GT(seconds, 2.0) << "the throttle held nothing back";
    const std::string shown = run.TerminalOutput();
    const size_t lines = Count(shown, progress);
    if (terminal) {
      EXPECT_GE(lines, 2u) << shown;
      EXPECT_TRUE(Contains(shown, "dunmore: " + loop.path() + ": ")) << shown;
    } else {
      EXPECT_EQ(0u, lines) << shown;
      EXPECT_FALSE(Contains(ReadFile(dir.File("err")), progress));
    }
    std::printf("1 MB/s, standard error %s: %.1f s, %zu progress lines\n",
                terminal ? "a terminal" : "a file", seconds, lines);
  }
}
