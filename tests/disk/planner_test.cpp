// Planning the partition that covers the card: size, type, filing, clearing.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "discovery/drive_letter_map.h"
#include "disk/card_disk.h"

namespace {

// A card disk as Open leaves it, built by hand around a logical geometry.
class PlannerTest : public ::testing::Test {
 protected:
  void TearDown() override { disk.Destroy(); }

  void Geometry(int32_t cylinders, int32_t heads, int32_t sectors, int32_t fat32 = 0) {
    disk.Destroy();
    disk = CardDisk{};
    disk.logicalCylinders = cylinders;
    disk.logicalHeads = heads;
    disk.logicalSectors = sectors;
    disk.totalLogicalSectors = cylinders * heads * sectors;
    disk.sizeCap = 0xA00000;
    disk.fat32Allowed = fat32;
    letters.Reset();
    disk.letterMap = &letters;
    disk.partitions =
        (new PartitionList)->Init(1, MakePackedChs(cylinders - 1, heads - 1, sectors));
  }
  PartitionEntry* File(uint8_t type, uint8_t kind, char letter, int startCylinder) {
    PartitionEntry value = {};
    PartitionList::FillEntry(&value, 0, type, letter, kind, MakePackedChs(startCylinder, 0, 1),
                             MakePackedChs(startCylinder, 15, 63), 0, "", "");
    if (letter != 0) letters.slots[letter - 'A'] = letter;
    return disk.partitions->InsertPrimary(value);
  }
  std::vector<PartitionEntry*> Chain() {
    PartitionEntry* entries[PartitionList::kSlots];
    return std::vector<PartitionEntry*>(entries, entries + disk.ListPartitions(0, entries));
  }
  // Plans a partition over the whole disk; the sector count or the failure.
  int32_t Plan() {
    int32_t size = -1;
    int result = disk.PlanSize(1, &size);
    return result != 0 ? result : disk.AddPrimaryPartition(1, size);
  }

  CardDisk disk{};
  DriveLetterMap letters;
};

TEST_F(PlannerTest, ChooseTypeBounds) {
  Geometry(1023, 16, 63);
  // sectors, type without FAT32, type with FAT32
  const std::vector<std::array<int32_t, 3>> cases = {
      {32680, 1, 1},   {32681, 4, 4},    {65535, 4, 4},    {65536, 6, 6},
      {1048576, 6, 6}, {1048577, 6, 11}, {4194304, 6, 11}, {4194305, -1, 11}};
  for (const auto& c : cases) {
    disk.fat32Allowed = 0;
    EXPECT_EQ(disk.ChooseType(c[0]), c[1]) << c[0];
    disk.fat32Allowed = 1;
    EXPECT_EQ(disk.ChooseType(c[0]), c[2]) << c[0] << " with FAT32";
  }
}

TEST_F(PlannerTest, PlannedPartitionCoversWholeCylindersUnderCap) {
  // logical C x H x S, FAT32, expected cylinders after planning, type, size in MB
  const std::vector<std::array<int32_t, 7>> cases = {
      {661, 256, 63, 1, 650, 11, 5118},
      {1023, 16, 63, 0, 1023, 6, 503},
      // 32767 x 17 x 63 translated: the cap alone would leave 1223 cylinders.
      {4094, 136, 63, 1, 1024, 11, 4284},
      {4096, 255, 63, 1, 652, 11, 5114}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c[0] << " x " << c[1] << " x " << c[2]);
    Geometry(c[0], c[1], c[2], c[3]);
    int32_t usable = c[4] * c[1] * c[2];
    ASSERT_EQ(Plan(), usable);
    EXPECT_EQ(disk.logicalCylinders, c[4]);
    EXPECT_EQ(disk.UsableSectors(), usable) << "a second call computes the same";
    EXPECT_EQ(disk.totalLogicalSectors, c[0] * c[1] * c[2]);
    ASSERT_EQ(Chain().size(), 1u);
    const PartitionEntry& entry = *Chain()[0];
    EXPECT_EQ(entry.isNew, 1);
    EXPECT_EQ(entry.kind, kKindPrimary);
    EXPECT_EQ(entry.type, c[5]);
    EXPECT_EQ(entry.start, 1);
    EXPECT_EQ(entry.end, MakePackedChs(c[4] - 1, c[1] - 1, c[2]));
    EXPECT_EQ(entry.sizeMb, static_cast<uint32_t>(c[6]));
    EXPECT_EQ(entry.driveLetter, 'C');
    EXPECT_EQ(disk.modified, 1);
  }
}

TEST_F(PlannerTest, RefusalsChangeNothing) {
  Geometry(1023, 16, 63);
  File(5, kKindExtended, 0, 0);
  File(6, kKindPrimary, 'E', 1);
  int32_t size = -1;
  EXPECT_EQ(disk.PlanSize(1, &size), kPrimaryStillListed);
  EXPECT_EQ(size, 0);

  Geometry(661, 256, 63, 0);  // 5 GB without FAT32 has no type
  EXPECT_EQ(Plan(), kNoPartitionType);
  EXPECT_TRUE(Chain().empty());
  EXPECT_EQ(disk.modified, 0);
  EXPECT_EQ(letters.TakeFreeLetter(), 'C');

  Geometry(1023, 16, 63);
  for (int i = 1; i < PartitionList::kSlots; ++i) File(5, kKindExtended, 0, i);
  EXPECT_EQ(Plan(), kNoPartitionType);
  EXPECT_EQ(disk.modified, 0);

  // Other kinds plan nothing and file nothing.
  Geometry(661, 256, 63);
  EXPECT_EQ(disk.PlanSize(2, &size), 0);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(disk.logicalCylinders, 661);
  EXPECT_EQ(disk.AddPrimaryPartition(2, 12345), 12345);
  EXPECT_TRUE(Chain().empty());
  EXPECT_EQ(disk.modified, 1);
}

TEST_F(PlannerTest, ClearPartitionsGivesLettersBack) {
  Geometry(1023, 16, 63);
  letters.slots[2] = 'C';
  letters.slots[3] = 'D';
  File(6, kKindPrimary, 'E', 0);
  File(5, kKindExtended, 0, 500);
  letters.slots[5] = 'F';  // another drive's letter stays taken
  EXPECT_EQ(disk.ClearPartitions(), 0);
  EXPECT_TRUE(Chain().empty());
  EXPECT_EQ(disk.modified, 1);
  ASSERT_EQ(Plan(), 1031184);
  EXPECT_EQ(Chain()[0]->driveLetter, 'E');
  EXPECT_EQ(letters.TakeFreeLetter(), 'G');
}

TEST_F(PlannerTest, UnmodifiedTableIsNotWritten) {
  // The disk channel is closed here: any write would fail.
  Geometry(1023, 16, 63);
  File(6, kKindPrimary, 'E', 0);
  EXPECT_EQ(disk.WritePartitionTable(), 0);
  disk.modified = 1;
  EXPECT_EQ(disk.WritePartitionTable(), -1);
}

}  // namespace
