// The partition listing of a card that already holds partitions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/golden.h"
#include "support/image.h"
#include "support/machine_text.h"
#include "support/program_run.h"
#include "support/support.h"

using namespace testsupport;

namespace {

// A 16 x 63 card, so that logical and physical geometry agree.
const int kHeads = 16;
const int kSectors = 63;

std::vector<uint8_t> BootSector(size_t labelAt, const char* label, size_t systemAt,
                                const char* system) {
  std::vector<uint8_t> sector(512, 0);
  memcpy(&sector[labelAt], label, 11);
  memcpy(&sector[systemAt], system, 8);
  sector[510] = 0x55;
  sector[511] = 0xAA;
  return sector;
}

uint32_t Lba(int c, int h, int s) {
  return (static_cast<uint32_t>(c) * kHeads + h) * kSectors + s - 1;
}

}  // namespace

TEST(Listing, ExistingPartitionsInTheExactLayout) {
  TempDir dir;
  MachineCard card = MachineCardOf(1016, kHeads, kSectors);
  card.driveLetters = "EFG";
  std::string image = dir.File("pccard.img");
  CreateImage(image, card);

  WriteSectorBytes(
      image, 0,
      Mbr({MbrEntry(0x06, {0, 1, 1}, {199, 15, 63}, Lba(0, 1, 1), (200 * kHeads - 1) * kSectors),
           MbrEntry(0x0B, {200, 0, 1}, {499, 15, 63}, Lba(200, 0, 1), 300 * kHeads * kSectors),
           MbrEntry(0x05, {500, 0, 1}, {799, 15, 63}, Lba(500, 0, 1), 300 * kHeads * kSectors),
           MbrEntry(0x07, {800, 0, 1}, {1015, 15, 63}, Lba(800, 0, 1), 216 * kHeads * kSectors)}));
  WriteSectorBytes(image, Lba(0, 1, 1), BootSector(43, "CARD DATA  ", 54, "FAT16   "));
  WriteSectorBytes(image, Lba(200, 0, 1), BootSector(71, "PHOTOS     ", 82, "FAT32   "));
  WriteSectorBytes(image, Lba(800, 0, 1), BootSector(43, "NOT FAT    ", 54, "NTFS    "));
  std::string before = ImageFingerprint(image);

  ProgramRun run(dir.path(), WriteMachine(dir.path(), "m.reg", MachineText(card)));
  Screen screen;
  ASSERT_TRUE(run.WaitForKeyWait(&screen));
  EXPECT_EQ("            Starting        Ending     Size", screen.At(5, 10, 43));
  EXPECT_EQ("Type      Cyl Head  Sct  Cyl Head  Sct   MB System   Label", screen.At(5, 11, 58));
  // Rows as the screen holds them, trailing blanks removed: the system name
  // at column 49, the label right-aligned in columns 58 to 68.
  EXPECT_EQ("     FAT16big    0    1    1  199   15   63   98 FAT16    CARD DATA", screen.rows[12]);
  EXPECT_EQ("     FAT32     200    0    1  499   15   63  147 FAT32    PHOTOS", screen.rows[13]);
  EXPECT_EQ("     EXT       500    0    1  799   15   63  147", screen.rows[14]);
  EXPECT_EQ("     NONDOS    800    0    1 1015   15   63  106 UNKNOWN", screen.rows[15]);
  ExpectGoldenScreen(screen, "listing_four_partitions");

  // "1" plans one partition over the card in place of the four.
  ASSERT_TRUE(run.Type("1", nullptr));
  ASSERT_TRUE(run.Type(kEnter, &screen));
  EXPECT_EQ("     FAT16big    0    0    1 1015   15   63  500 UNKNOWN", screen.rows[12]);
  EXPECT_EQ("", screen.rows[13]);
  EXPECT_EQ(2, run.TypeAndWaitExit(kEsc));
  EXPECT_EQ(before, ImageFingerprint(image));
}
