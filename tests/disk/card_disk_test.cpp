// The card disk on a simulated card: opening, reading the existing table and
// writing the new MBR, checked on the card's image.
#include "disk/card_disk.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "device/disk_channel.h"
#include "discovery/card_device_table.h"
#include "discovery/drive_letter_map.h"
#include "host/testing.h"
#include "host/host.h"
#include "host/testing.h"
#include "support/card_key.h"
#include "support/image.h"
#include "support/support.h"

namespace {

typedef std::vector<uint8_t> Sector;

// Physical 2048 x 4 x 32 reads as 1024 x 8 x 32; logical (c, h, s) is this
// absolute sector in both geometries.
uint32_t Lba(int c, int h = 0, int s = 1) {
  return (c * 8 + h) * 32 + s - 1;
}

// An active MBR entry from (c, h, 1) to (c + 99, 7, 32), first sector 0.
Sector Entry(uint8_t type, int c, int h, uint32_t count) {
  return testsupport::MbrEntry(type, {c, h, 1}, {c + 99, 7, 32}, 0, count, 0x80);
}

std::string Hex(const uint8_t* bytes, int length) {
  std::string text;
  char part[4];
  for (int i = 0; i < length; ++i) text += (snprintf(part, 4, "%02X ", bytes[i]), part);
  return text;
}

class CardDiskTest : public ::testing::Test {
 protected:
  void SetUp() override { letters.Reset(); }
  void TearDown() override {
    theDiskChannel.Close();
    if (disk != nullptr) disk->Destroy();
    delete disk;
  }

  // Loads a machine whose one card at 0x170 is a fresh image, and opens the
  // disk channel.
  void Machine(int cylinders, int heads, int sectors, const std::string& badSectors = "") {
    int fd = open(image.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_EQ(ftruncate(fd, std::max<off_t>(1, off_t(cylinders) * heads * sectors) * 512), 0);
    close(fd);
    testsupport::CardKey card =
        testsupport::BareCardKey(image, cylinders, heads, sectors, "TEST CARD");
    card.badSectors = badSectors;
    std::string error;
    // The card's disk is drive E: in the device registry.
    ASSERT_TRUE(host::LoadMachineText(testsupport::CardMachine({card}), "disk-test", &error))
        << error;
    theDiskChannel.Open();
  }

  CardDisk* OpenDisk(const char* driveLetters, int ioBase = 0x170) {
    CardDeviceRecord record = {};
    record.ioBase = ioBase;
    record.controlPort = 0x376;
    std::strcpy(record.driveLetters, driveLetters);
    if (disk == nullptr) {
      disk = new (std::nothrow) CardDisk;
    } else {
      disk->Destroy();
    }
    return disk->Open(record, letters, 0);
  }

  Sector ReadImage(uint32_t lba) { return testsupport::ReadSectors(image, lba, 1); }
  void WriteImage(uint32_t lba, const Sector& sector) {
    testsupport::WriteSectorBytes(image, lba, sector);
  }
  void WriteText(uint32_t lba, int offset, const std::string& text) {
    Sector sector = ReadImage(lba);
    std::memcpy(sector.data() + offset, text.data(), text.size());
    WriteImage(lba, sector);
  }

  // The READ and WRITE SECTORS commands the card received.
  std::vector<sim::Transfer> Transfers() { return host::FindOpenCard(0x170)->transfers; }
  bool WasRead(uint32_t lba) {
    for (const sim::Transfer& t : Transfers()) {
      if (t.command == 0x20 && t.firstSector == lba) return true;
    }
    return false;
  }
  std::vector<PartitionEntry*> Chain() {
    PartitionEntry* entries[PartitionList::kSlots];
    return std::vector<PartitionEntry*>(entries, entries + disk->ListPartitions(0, entries));
  }

  testsupport::TempDir dir;
  std::string image = dir.File("card.img");
  DriveLetterMap letters;
  CardDisk* disk = nullptr;
};

TEST_F(CardDiskTest, OpenIdentifiesAndTranslates) {
  Machine(2048, 4, 32);
  ASSERT_EQ(OpenDisk("EF"), disk);
  EXPECT_EQ(disk->physicalCylinders * 10000 + disk->physicalHeads * 100 + disk->physicalSectors,
            20480432);
  EXPECT_EQ(disk->logicalCylinders * 10000 + disk->logicalHeads * 100 + disk->logicalSectors,
            10240832);
  EXPECT_EQ(disk->totalLogicalSectors, 2048 * 4 * 32);
  EXPECT_EQ(std::string(disk->model).substr(0, 10), "TEST CARD ");
  EXPECT_EQ(disk->sizeCap, 0xA00000);
  EXPECT_EQ(disk->modified, 0);
  EXPECT_EQ(theDiskChannel.driveLetter, 'E');
  EXPECT_EQ(disk->partitions->slots[0].end, MakePackedChs(1023, 7, 32));
  EXPECT_TRUE(Chain().empty());
  EXPECT_TRUE(Transfers().empty());
}

TEST_F(CardDiskTest, OpenRefusesCardsThatCannotBeAddressed) {
  // No count, a negative count (IDENTIFY word 0x8000), more sectors than a
  // CHS address holds, 300 heads after translation, and more than 256 heads
  // over more than 1024 cylinders, which the translation doubles to 8192.
  const int cases[][3] = {{0, 4, 32},   {2048, 0, 32},   {2048, 4, 0},    {0x8000, 4, 32},
                          {100, 4, 64}, {2000, 600, 63}, {4096, 300, 63}, {1025, 257, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c[0] << " x " << c[1] << " x " << c[2]);
    Machine(c[0], c[1], c[2]);
    EXPECT_EQ(OpenDisk("E"), nullptr);
    EXPECT_EQ(theDiskChannel.driveLetter, 0) << "nothing to unlock at teardown";
    theDiskChannel.Close();
  }
  // 255 heads come back to 4096 cylinders, one logical per physical cylinder.
  Machine(4096, 255, 63);
  ASSERT_EQ(OpenDisk("E"), disk);
  EXPECT_EQ(disk->logicalCylinders * 1000 + disk->logicalHeads, 4096255);
  theDiskChannel.Close();
  Machine(2048, 4, 32);
  EXPECT_EQ(OpenDisk("E", 0x1F0), nullptr) << "no card answers IDENTIFY there";
  EXPECT_EQ(OpenDisk("E"), disk);
}

TEST_F(CardDiskTest, ReaderListsEntriesInTableOrder) {
  // The extended partition's first sector is unreadable: it is never read.
  Machine(2048, 4, 32, std::to_string(Lba(100)));
  WriteImage(0, testsupport::Mbr({Entry(0x06, 0, 1, 4194304), Entry(0x05, 100, 0, 25600),
                                  Entry(0x07, 200, 0, 2047), Entry(0x0B, 300, 0, 0xFFFFFFFF)}));
  WriteText(Lba(0, 1), 43, "NO NAME    FAT16   ");
  WriteText(Lba(200), 43, "OLD LABEL  FAT16   ");  // type 7 has no FAT fields
  WriteText(Lba(300), 43, "OLD LABEL  FAT16   ");
  WriteText(Lba(300), 71, "DATA       FAT32   ");

  ASSERT_EQ(OpenDisk("EF"), disk);
  disk->modified = 1;
  ASSERT_EQ(disk->ReadPartitionTable(), 0);
  EXPECT_EQ(disk->modified, 0);
  EXPECT_EQ(host::FindOpenCard(0x170)->volumeLockDepth(), 2);
  std::vector<PartitionEntry*> chain = Chain();
  ASSERT_EQ(chain.size(), 4u);
  std::string summary;
  for (PartitionEntry* e : chain) {
    summary += std::to_string(e->type) + "/" + std::to_string(e->kind) + "/" +
               (e->driveLetter ? std::string(1, e->driveLetter) : "-") + "/" +
               std::to_string(e->sizeMb) + "/[" + e->label + "][" + e->system + "]\n";
  }
  EXPECT_EQ(summary,
            "6/1/E/2048/[][FAT16   ]\n"
            "5/2/-/12/[][]\n"
            "7/1/F/0/[][]\n"
            "11/1/-/2097151/[DATA       ][FAT32   ]\n");
  EXPECT_EQ(chain[3]->start, MakePackedChs(300, 0, 1));
  EXPECT_EQ(chain[3]->end, MakePackedChs(399, 7, 32));
  EXPECT_TRUE(WasRead(Lba(200)));
  EXPECT_EQ(Transfers().size(), 4u);
}

// Entries whose start names no sector of the card (a start written in a
// 255-head geometry, FE FF FF, sector 0) are read at their first-sector
// field when that lies on the card; a start that names a sector is read
// there, whatever the field says.
TEST_F(CardDiskTest, ReaderTakesForeignStartsAtTheirFirstSector) {
  Machine(2048, 4, 32);  // 262,144 sectors
  using testsupport::MbrEntry;
  WriteImage(0,
             testsupport::Mbr({MbrEntry(0x06, {0, 32, 33}, {99, 7, 32}, 2048, 20480, 0x80),
                               MbrEntry(0x0B, {1023, 254, 63}, {99, 7, 32}, 100000, 100000, 0x80),
                               MbrEntry(0x06, {0, 0, 0}, {99, 7, 32}, 262144, 4096, 0x80),
                               MbrEntry(0x04, {5, 2, 1}, {104, 7, 32}, 77777, 4096, 0x80)}));
  WriteText(2048, 43, "SFDISK CARDFAT16   ");
  WriteText(100000, 71, "LBA ONLY   FAT32   ");
  WriteText(77777, 43, "WRONG ONE  FAT16   ");
  WriteText(Lba(5, 2), 43, "BY CHS     FAT16   ");

  ASSERT_EQ(OpenDisk("EFGH"), disk);
  ASSERT_EQ(disk->ReadPartitionTable(), 0);
  // Letters in table order, the chain in the order of the starts.
  std::string summary;
  for (PartitionEntry* e : Chain()) {
    summary += std::string(1, e->driveLetter) + " " + std::to_string(ChsCylinder(e->start)) + "/" +
               std::to_string(ChsHead(e->start)) + "/" + std::to_string(ChsSector(e->start)) +
               " [" + e->label + "][" + e->system + "]\n";
  }
  EXPECT_EQ(summary,
            "E 0/32/33 [SFDISK CARD][FAT16   ]\n"
            "G 0/0/0 [][]\n"
            "H 5/2/1 [BY CHS     ][FAT16   ]\n"
            "F 1023/254/63 [LBA ONLY   ][FAT32   ]\n");
  EXPECT_FALSE(WasRead(262144)) << "past the card";
  EXPECT_FALSE(WasRead(77777));
  EXPECT_EQ(Transfers().size(), 4u);
}

// A foreign start's first sector that lies on the card but cannot be read
// is a failing card, as at a start that names a sector.
TEST_F(CardDiskTest, ReaderFailsAtAnUnreadableFirstSector) {
  Machine(2048, 4, 32, "2048");
  WriteImage(0, testsupport::Mbr(
                    {testsupport::MbrEntry(0x06, {0, 32, 33}, {99, 7, 32}, 2048, 20480, 0x80)}));
  ASSERT_EQ(OpenDisk("E"), disk);
  EXPECT_EQ(disk->ReadPartitionTable(), -1);
  EXPECT_TRUE(Chain().empty());
}

TEST_F(CardDiskTest, ReaderStopsAtUnreadableBootSector) {
  Machine(2048, 4, 32, std::to_string(Lba(100)));
  WriteImage(0, testsupport::Mbr({Entry(0x06, 0, 1, 25568), Entry(0x06, 100, 0, 25600),
                                  Entry(0x06, 200, 0, 25600)}));
  WriteText(Lba(0, 1), 43, "SOMETHING  XFAT    ");
  ASSERT_EQ(OpenDisk("EFG"), disk);
  disk->modified = 1;
  EXPECT_EQ(disk->ReadPartitionTable(), -1);
  EXPECT_EQ(disk->modified, 1);
  ASSERT_EQ(Chain().size(), 1u);
  EXPECT_EQ(Chain()[0]->driveLetter, 'E');
  EXPECT_STREQ(Chain()[0]->label, "") << "not a FAT boot sector";
  EXPECT_STREQ(Chain()[0]->system, "");
  EXPECT_FALSE(WasRead(Lba(200)));
}

TEST_F(CardDiskTest, ReaderFailuresAndNothingToRead) {
  Machine(2048, 4, 32, "0");
  ASSERT_EQ(OpenDisk("E"), disk);
  EXPECT_EQ(disk->ReadPartitionTable(), -1);

  ASSERT_EQ(OpenDisk(""), disk);
  int before = host::FindOpenCard(0x170)->volumeLockDepth();
  EXPECT_EQ(disk->ReadPartitionTable(), 0);
  EXPECT_EQ(host::FindOpenCard(0x170)->volumeLockDepth(), before);
  EXPECT_EQ(Transfers().size(), 1u) << "only the first attempt read";
  theDiskChannel.Close();

  Machine(2048, 4, 32);
  ASSERT_EQ(OpenDisk("E"), disk);
  int holder = open(image.c_str(), O_RDONLY);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);  // another program holds the card
  EXPECT_EQ(disk->ReadPartitionTable(), kVolumeLockRefused);
  close(holder);
  EXPECT_TRUE(Transfers().empty());
}

// The planned partition over the whole card; with the entry left unformatted
// only the MBR is written.
class MbrWriterTest : public CardDiskTest {
 protected:
  void Plan(int fat32, bool format) {
    ASSERT_EQ(OpenDisk("E"), disk);
    disk->fat32Allowed = fat32;
    ASSERT_EQ(disk->ClearPartitions(), 0);
    int32_t size = 0;
    ASSERT_EQ(disk->PlanSize(1, &size), 0);
    ASSERT_EQ(disk->AddPrimaryPartition(1, size), size);
    Chain()[0]->isNew = format;
  }
  void ExpectOnlyEntryAndSignature(const Sector& mbr) {
    for (int i = 0; i < 510; ++i) {
      if (i < 446 || i >= 462) {
        ASSERT_EQ(mbr[i], 0) << "byte " << i;
      }
    }
    EXPECT_EQ(Hex(&mbr[510], 2), "55 AA ");
  }
};

TEST_F(MbrWriterTest, WritesCappedFat32Entry) {
  Machine(10585, 16, 63);
  WriteImage(0, Sector(512, 0xCC));
  Plan(1, false);
  ASSERT_EQ(disk->WritePartitionTable(), 0);
  Sector mbr = ReadImage(0);
  EXPECT_EQ(Hex(&mbr[446], 16), "00 01 01 00 0B FF BF 89 3F 00 00 00 C1 F5 9F 00 ");
  ExpectOnlyEntryAndSignature(mbr);
  ASSERT_EQ(Transfers().size(), 1u);
  EXPECT_EQ(Transfers()[0].command, 0x30);
  EXPECT_EQ(Transfers()[0].firstSector, 0u);
  EXPECT_EQ(disk->modified, 1);
}

TEST_F(MbrWriterTest, FormatsPlannedVolumeBeforeTheMbr) {
  Machine(1023, 16, 63);
  Plan(0, true);
  ASSERT_EQ(disk->WritePartitionTable(), 0);
  std::vector<sim::Transfer> transfers = Transfers();
  ASSERT_GE(transfers.size(), 2u);
  for (size_t i = 0; i + 1 < transfers.size(); ++i) {
    EXPECT_GE(transfers[i].firstSector, 63u) << "the volume starts at cylinder 0, head 1";
  }
  EXPECT_EQ(transfers.back().firstSector, 0u);
  Sector mbr = ReadImage(0);
  EXPECT_EQ(Hex(&mbr[446], 16), "00 01 01 00 06 0F FF FE 3F 00 00 00 D1 BB 0F 00 ");
  ExpectOnlyEntryAndSignature(mbr);
}

TEST_F(MbrWriterTest, FailuresLeaveTheOldMbr) {
  Machine(32, 16, 63);  // 32256 sectors: a FAT12 size, which is not formatted
  WriteImage(0, Sector(512, 0xCC));
  Plan(0, true);
  EXPECT_EQ(disk->WritePartitionTable(), -1);
  EXPECT_TRUE(Transfers().empty());
  EXPECT_EQ(ReadImage(0), Sector(512, 0xCC));
  theDiskChannel.Close();

  Machine(1023, 16, 63, "0");
  Plan(0, false);
  EXPECT_EQ(disk->WritePartitionTable(), -1);
}

TEST_F(MbrWriterTest, OnlyFirstPrimaryStartsAtHeadOne) {
  Machine(1023, 16, 63);
  ASSERT_EQ(OpenDisk("E"), disk);
  const PackedChs starts[] = {MakePackedChs(0, 0, 1), MakePackedChs(10, 2, 3),
                              MakePackedChs(20, 3, 5)};
  for (int i = 0; i < 3; ++i) {
    PartitionEntry value = {};
    PartitionList::FillEntry(&value, 0, i == 1 ? 5 : 6, 0, i == 1 ? kKindExtended : kKindPrimary,
                             starts[i], starts[i] + MakePackedChs(9, 0, 0), 0, "", "");
    disk->partitions->InsertPrimary(value);
  }
  disk->modified = 1;
  ASSERT_EQ(disk->WritePartitionTable(), 0);
  Sector mbr = ReadImage(0);
  EXPECT_EQ(Hex(&mbr[446], 4) + Hex(&mbr[462], 4) + Hex(&mbr[478], 4),
            "00 01 01 00 00 02 03 0A 00 00 01 14 ");
  EXPECT_EQ(Hex(&mbr[494], 4), "00 00 00 00 ");
}

}  // namespace
