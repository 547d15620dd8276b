// --make-bootable and --restore write a card's block device with the
// write's own guards: what they overwrite is kept in an undo file that puts
// the card back byte for byte, what they write is read back, and a card
// that loses a write fails it before the master boot record is touched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/image.h"
#include "support/loop_device.h"
#include "support/machine_text.h"
#include "support/support.h"
#include "support/undo_run.h"
#include "tool/mode_run.h"

using namespace testsupport;

namespace {

}  // namespace

TEST(GuardedWrites, TheFinishingStepAndTheRestoreKeepAndReadBackWhatTheyWrite) {
  TempDir dir;
  MachineCard card;
  const std::string image = dir.File("card.img");
  CreateImage(image, card);
  ASSERT_EQ("0:", Shell("cd '" + dir.path() +
                        "' && echo 'start=2048, type=6' | sfdisk -q card.img && "
                        "mkfs.fat -F 16 -n OLD --offset 2048 card.img 61696 >/dev/null"));
  const std::string before = ImageFingerprint(image);
  const std::vector<uint8_t> oldMbr = ReadSectors(image, 0, 1);
  LoopDevice loop(image);
  if (!loop.usable()) GTEST_SKIP() << loop.reason();
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
