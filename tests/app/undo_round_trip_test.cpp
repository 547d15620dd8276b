// A card rewritten and put back: cards made elsewhere by sfdisk and mkfs.fat
// stand behind a loop device (a card reader's block device), are rewritten
// through "1", "2", "Y", and restored from the undo file the write left in
// the default folder. The restored card is the card before the write, every
// sector of it; the restore's own undo file puts the rewritten card back.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/image.h"
#include "support/loop_device.h"
#include "support/machine_text.h"
#include "support/program_run.h"
#include "support/support.h"
#include "support/undo_run.h"

using namespace testsupport;

namespace {

struct MadeCard {
  const char* name;
  int cylinders, heads, sectors;
  // Shell commands run in the card's folder; $IMG is the card's image.
  std::string tools;
  const char* writtenType;  // the partition type the rewrite gives, in hex
  bool boot = false;        // finished to start a PC (--boot) after the write
  uint64_t undoBelow = 0;   // the undo file's size is below it (0: not held)
};

// "1", "2", "Y", Esc; the exit code and the terminal's text.
int Rewrite(const std::string& dir, const std::string& machine, bool boot, std::string* output) {
  std::map<std::string, std::string> env;
  if (boot) env["DUNMORE_BOOT"] = "1";
  ProgramRun run(dir, machine, env);
  int exitCode = WriteWholeCard(run);
  *output = run.TerminalOutput();
  return exitCode;
}

}  // namespace

TEST(UndoRoundTrip, CardsMadeElsewhereAreRewrittenAndRestoredByteForByte) {
  const MadeCard cards[] = {
      {"FAT16", 490, 8, 32,
       "(" + std::string(kMadeFat16Camera) +
           ") && printf 'a file' > f.txt && mcopy -i $IMG@@1048576 f.txt ::f.txt",
       "6"},
      // 8 GB: the rewrite's FAT32 volume is capped at 0xA00000 sectors.
      {"FAT32", 16383, 16, 63,
       "echo 'start=2048, type=c' | sfdisk -q $IMG && "
       "mkfs.fat -F 32 -n BIGCARD --offset 2048 $IMG 8000000",
       "b"},
      {"GPT", 490, 8, 32, kMadeGpt, "6"},
      {"four partitions", 980, 16, 63,
       "printf 'start=2048, size=200000, type=6\\nsize=200000, type=6\\nsize=200000, type=b\\n"
       "type=83\\n' | sfdisk -q $IMG && "
       "mkfs.fat -F 16 -n ONE --offset 2048 $IMG 100000 && "
       "mkfs.fat -F 16 -n TWO --offset 202048 $IMG 100000 && "
       "mkfs.fat -F 32 -n THREE --offset 402048 $IMG 100000 && "
       "mkfs.fat -F 16 -n FOUR --offset 602048 $IMG 100000",
       "6"},
      // The finishing step's writes are kept as the system's are.
      {"FAT16, then finished to start a PC", 490, 8, 32, kMadeFat16Camera, "6", true},
      // Nothing but zeros where the FAT32 write goes: its 20,471 sectors
      // are kept as counts, in well under a megabyte.
      {"all zeros, FAT32", 16383, 16, 63, "true", "b", false, 1 << 20},
  };
  for (const MadeCard& made : cards) {
    SCOPED_TRACE(made.name);
    TempDir dir;
    MachineCard card = MachineCardOf(made.cylinders, made.heads, made.sectors);
    std::string image = dir.File("card.img");
    CreateImage(image, card);
    ASSERT_EQ("0:", MakeElsewhere(image, made.tools));
    const std::string before = ImageFingerprint(image);
    std::string written;
    size_t undoBytes = 0;
    {
      LOOP_DEVICE_OR_SKIP(loop, image);
      card.image = loop.path();
      std::string machine = WriteMachine(dir.path(), "m.reg", MachineText(card));

      std::string output;
      ASSERT_EQ(0, Rewrite(dir.path(), machine, made.boot, &output)) << output;
      std::vector<std::string> undo = DefaultUndoFiles(dir.path());
      ASSERT_EQ(1u, undo.size()) << output;
      EXPECT_EQ(undo[0], UndoFileNamed(output)) << output;
      undoBytes = ReadFile(undo[0]).size();
      if (made.undoBelow != 0) {
        EXPECT_LT(undoBytes, made.undoBelow);
      }
      EXPECT_NE(std::string::npos, output.find("sectors written were read back from the card "
                                               "and matched what was sent"))
          << output;
      if (made.boot) {
        // The FAT16 write's 280 sectors, then the finishing step's boot
        // sector and MBR, each read back too.
        EXPECT_NE(std::string::npos, output.find(": 282 sectors written were read back")) << output;
      }
      std::vector<uint8_t> mbr = ReadSectors(image, 0, 1);
      EXPECT_EQ(std::stoul(made.writtenType, nullptr, 16), mbr[446 + 4]);
      EXPECT_EQ(made.boot ? 0x80 : 0x00, mbr[446]) << "the entry's boot indicator";
      written = ImageFingerprint(image);
      EXPECT_NE(before, written);

      // The card key's serial number is the machine file's: the restore
      // cannot check the loop device's identity.
      RestoreRun restore = RunRestore(dir.path(), machine, undo[0], {"--force"});
      EXPECT_EQ(0, restore.exitCode) << restore.output;
      EXPECT_NE(std::string::npos, restore.output.find("Proceed with restore (Y/N)?"))
          << restore.output;
      EXPECT_EQ(before, ImageFingerprint(image)) << restore.output;

      // The restore kept what it overwrote: the rewritten card comes back.
      std::vector<std::string> both = DefaultUndoFiles(dir.path());
      ASSERT_EQ(2u, both.size()) << restore.output;
      std::string ofRestore = both[0] == undo[0] ? both[1] : both[0];
      RestoreRun again = RunRestore(dir.path(), machine, ofRestore, {"--force"});
      EXPECT_EQ(0, again.exitCode) << again.output;
      EXPECT_EQ(written, ImageFingerprint(image)) << again.output;
    }
    std::printf(
        "%-16s undo file of %zu bytes restored it to its fingerprint %s, and rewritten "
        "again to %s\n",
        made.name, undoBytes, before.c_str(), written.c_str());
  }
}

// A card written by an earlier program, whose undo file is of version 1
// (tests/fixtures/undo: a FAT16 write of a 150 x 8 x 32 card whose sectors
// 1 to 255 held their number modulo 251, plus 1): it still restores the
// card byte for byte. Its sectors 1 to 31 are left empty here: a write
// now clears what it finds between the MBR and the volume, which that
// program neither did nor kept.
TEST(UndoRoundTrip, AVersion1UndoFileStillRestoresByteForByte) {
  TempDir dir;
  MachineCard card = MachineCardOf(150, 8, 32);
  const std::string image = dir.File(card.image);
  CreateImage(image, card);
  for (uint32_t sector = 32; sector < 256; ++sector) {
    WriteSectorBytes(image, sector, std::vector<uint8_t>(512, sector % 251 + 1));
  }
  const std::string before = ImageFingerprint(image);
  const std::string machine = WriteMachine(dir.path(), "m.reg", MachineText(card));
  std::string output;
  ASSERT_EQ(0, Rewrite(dir.path(), machine, false, &output)) << output;
  ASSERT_NE(before, ImageFingerprint(image));
  const std::string file = dir.File("v1.undo");
  WriteFile(file,
            ReadFile(std::string(DUNMORE_TESTS_DIR) + "/fixtures/undo/fat16_150x8x32.v1.undo"));
  RestoreRun restore = RunRestore(dir.path(), machine, file);
  EXPECT_EQ(0, restore.exitCode) << restore.output;
  EXPECT_NE(std::string::npos, restore.output.find("whole (its run ended)")) << restore.output;
  EXPECT_EQ(before, ImageFingerprint(image)) << restore.output;
}
