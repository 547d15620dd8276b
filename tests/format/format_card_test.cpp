// Volumes written onto a simulated card through the real disk channel, then
// checked sector by sector, call by call, and with fsck.fat and mtools.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <ostream>
#include <string>
#include <vector>

#include "common/ata_commands.h"
#include "device/disk_channel.h"
#include "disk/card_disk.h"
#include "host/host.h"
#include "host/testing.h"
#include "sim/ata_card.h"
#include "support/image.h"
#include "support/machine_text.h"
#include "support/support.h"

// While set, the program's nothrow array allocation refuses a request of
// exactly one 255-sector format buffer; every other request is served.
static bool refuseFormatBuffer = false;

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (refuseFormatBuffer && size == 255 * 512) return nullptr;
  try {
    return ::operator new[](size);
  } catch (...) {
    return nullptr;
  }
}

namespace {

using testsupport::DataExtents;
using testsupport::ExtractVolume;
using testsupport::Le16;
using testsupport::Le32;
constexpr auto ReadImage = testsupport::ReadSectors;

const uint16_t kIoBase = 0x170;
const uint16_t kControlPort = 0x376;

struct Geometry {
  int cylinders;
  int heads;
  int sectors;
};

// A card: its physical geometry as IDENTIFY gives it and the logical geometry
// that translation makes of it.
struct CardShape {
  Geometry physical;
  Geometry logical;
};

struct WriteCall {
  uint32_t first;
  uint32_t count;
};

std::string MachineText(const std::string& image, const Geometry& physical,
                        const std::string& badSectors) {
  testsupport::CardKey card = testsupport::BareCardKey(image, physical.cylinders, physical.heads,
                                                       physical.sectors, "TEST CARD");
  card.serialNumber = "FMT0001";
  card.firmwareRevision = "1.0";
  card.badSectors = badSectors;
  // The card's disk is drive E: in the device registry.
  return testsupport::CardMachine({card}, testsupport::VersionKey("4.10.2222", " A "));
}

bool AllZero(const std::vector<uint8_t>& bytes, size_t from) {
  for (size_t i = from; i < bytes.size(); ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

class FormatCard : public ::testing::Test {
 protected:
  void TearDown() override {
    theDiskChannel.Close();
    refuseFormatBuffer = false;
  }

  // Loads a machine with one card over a fresh sparse image, opens the
  // channel on it and sets up the card disk's geometry.
  void InsertCard(const CardShape& shape, const std::string& badSectors = "") {
    image_ = dir_.File("card.img");
    testsupport::CreateImage(
        image_, testsupport::MachineCardOf(shape.physical.cylinders, shape.physical.heads,
                                           shape.physical.sectors));

    std::string error;
    ASSERT_TRUE(host::LoadMachineText(MachineText(image_, shape.physical, badSectors),
                                      "format-test.reg", &error))
        << error;
    theDiskChannel.Open();
    ASSERT_EQ(0, theDiskChannel.SetPorts(kIoBase, kControlPort));

    std::memset(&disk_, 0, sizeof disk_);
    disk_.physicalCylinders = shape.physical.cylinders;
    disk_.physicalHeads = shape.physical.heads;
    disk_.physicalSectors = shape.physical.sectors;
    disk_.logicalCylinders = shape.logical.cylinders;
    disk_.logicalHeads = shape.logical.heads;
    disk_.logicalSectors = shape.logical.sectors;

    // The partition the planner makes: the whole disk in logical cylinders.
    std::memset(&entry_, 0, sizeof entry_);
    entry_.start = MakePackedChs(0, 0, 1);
    entry_.end =
        MakePackedChs(shape.logical.cylinders - 1, shape.logical.heads - 1, shape.logical.sectors);
    startLba_ = static_cast<uint32_t>(shape.logical.sectors);
    totalSectors_ = static_cast<uint32_t>(shape.logical.cylinders * shape.logical.heads - 1) *
                    static_cast<uint32_t>(shape.logical.sectors);
  }

  sim::AtaCard* Card() { return host::FindOpenCard(kIoBase); }

  std::vector<WriteCall> Writes() {
    std::vector<WriteCall> runs;
    sim::AtaCard* card = Card();
    if (card == nullptr) return runs;
    for (const sim::Transfer& t : card->transfers) {
      if (t.command == kAtaWriteSectors) runs.push_back({t.firstSector, t.count});
    }
    return runs;
  }

  size_t FailedWrites() {
    size_t failed = 0;
    for (const sim::Transfer& t : Card()->transfers) {
      if (t.command == kAtaWriteSectors && !t.succeeded) ++failed;
    }
    return failed;
  }

  // fsck.fat on the volume, copied out of the image; its exit status.
  int CheckVolume(std::string* report) {
    const std::string volume = dir_.File("volume.img");
    ExtractVolume(image_, startLba_, totalSectors_, volume);
    return testsupport::RunCommand("fsck.fat -n -v '" + volume + "'", report);
  }

  // Sectors that the writer must leave alone, each marked with its own byte.
  void MarkSectors(const std::vector<uint32_t>& sectors) {
    marked_ = sectors;
    for (size_t i = 0; i < sectors.size(); ++i) {
      testsupport::WriteSectorBytes(image_, sectors[i],
                                    std::vector<uint8_t>(512, static_cast<uint8_t>(0xA0 + i)));
    }
  }

  void ExpectMarksIntact() {
    for (size_t i = 0; i < marked_.size(); ++i) {
      std::vector<uint8_t> sector = ReadImage(image_, marked_[i], 1);
      EXPECT_EQ(std::vector<uint8_t>(512, static_cast<uint8_t>(0xA0 + i)), sector)
          << "sector " << marked_[i];
    }
  }

  // Every data block of the image lies on a sector that was written or marked.
  void ExpectOnlyWrittenBlocksAllocated(const std::vector<WriteCall>& writes) {
    const uint64_t block = 4096;
    for (const auto& extent : DataExtents(image_)) {
      for (uint64_t at = extent.first; at < extent.second; at += block) {
        const uint64_t firstSector = at / 512;
        const uint64_t lastSector = (at + block) / 512 - 1;
        bool explained = false;
        for (const WriteCall& w : writes) {
          if (w.first <= lastSector && firstSector < w.first + uint64_t{w.count}) explained = true;
        }
        for (uint32_t m : marked_) {
          if (m >= firstSector && m <= lastSector) explained = true;
        }
        EXPECT_TRUE(explained) << "data at byte " << at << " of the image";
        if (!explained) return;
      }
    }
  }

  testsupport::TempDir dir_;
  std::string image_;
  CardDisk disk_;
  PartitionEntry entry_;
  uint32_t startLba_ = 0;
  uint32_t totalSectors_ = 0;
  std::vector<uint32_t> marked_;
};

const CardShape k16Heads = {{1016, 16, 63}, {1016, 16, 63}};
const CardShape k128Heads = {{8192, 16, 63}, {1024, 128, 63}};

void ExpectRuns(const std::vector<WriteCall>& expected, const std::vector<WriteCall>& actual) {
  ASSERT_EQ(expected.size(), actual.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(expected[i].first, actual[i].first) << "call " << i;
    EXPECT_EQ(expected[i].count, actual[i].count) << "call " << i;
  }
}

// FAT16 over logical 16 x 63, end (1015, 15, 63): 16 sectors per cluster and
// FATs of 250 sectors, each region in one call.
TEST_F(FormatCard, Fat16WorkedExampleToTheSectorAndCall) {
  InsertCard(k16Heads);
  MarkSectors({0, 62, 596, 700000, 63 + 1024065 - 1});
  const uint32_t before = static_cast<uint32_t>(std::time(nullptr));

  ASSERT_EQ(0, disk_.FormatFat16(&entry_));

  const uint32_t after = static_cast<uint32_t>(std::time(nullptr));
  ExpectRuns({{63, 1}, {64, 250}, {314, 250}, {564, 32}}, Writes());
  std::vector<uint8_t> boot = ReadImage(image_, 63, 1);
  EXPECT_EQ(16, boot[13]);
  EXPECT_EQ(0, boot[19] | boot[20]);
  EXPECT_EQ(1024065u, Le32(boot, 32));
  EXPECT_EQ(250u, Le16(boot, 22));
  EXPECT_LE(before, Le32(boot, 39));
  EXPECT_GE(after, Le32(boot, 39));
  for (uint32_t fat : {64u, 314u}) {
    std::vector<uint8_t> copy = ReadImage(image_, fat, 250);
    EXPECT_EQ(0xF8, copy[0]);
    EXPECT_EQ(0xFF, copy[1]);
    EXPECT_EQ(0xFF, copy[2]);
    EXPECT_EQ(0xFF, copy[3]);
    EXPECT_TRUE(AllZero(copy, 4)) << "FAT at " << fat;
  }
  EXPECT_TRUE(AllZero(ReadImage(image_, 564, 32), 0));
  ExpectMarksIntact();
  ExpectOnlyWrittenBlocksAllocated(Writes());
}

// FAT32 over logical 128 x 63, end (1023, 127, 63): 8 sectors per cluster,
// FATs of 8057 sectors in calls of at most 255.
TEST_F(FormatCard, Fat32WorkedExampleToTheSectorAndCall) {
  InsertCard(k128Heads);
  // Before the volume, the unwritten reserved sectors, the data area.
  MarkSectors({0, 62, 66, 68, 72, 94, 16217, 5000000, 63 + 8257473 - 1});

  ASSERT_EQ(0, disk_.FormatFat32(&entry_));

  std::vector<WriteCall> expected = {{63, 3}, {69, 3}};
  for (uint32_t fat : {95u, 8152u}) {
    for (uint32_t i = 0; i < 31; ++i) expected.push_back({fat + 255 * i, 255});
    expected.push_back({fat + 31 * 255, 152});
  }
  expected.push_back({16209, 8});
  ExpectRuns(expected, Writes());

  std::vector<uint8_t> region = ReadImage(image_, 63, 3);
  EXPECT_EQ(region, ReadImage(image_, 69, 3));
  EXPECT_EQ(8u, region[13]);
  EXPECT_EQ(8057u, Le32(region, 36));
  EXPECT_EQ(0xFFFFFFFFu, Le32(region, 512 + 488));
  EXPECT_EQ(0xFFFFFFFFu, Le32(region, 512 + 492));
  const uint8_t head[] = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};
  for (uint32_t fat : {95u, 8152u}) {
    std::vector<uint8_t> copy = ReadImage(image_, fat, 8057);
    EXPECT_EQ(0, std::memcmp(head, copy.data(), sizeof head)) << "FAT at " << fat;
    EXPECT_TRUE(AllZero(copy, sizeof head)) << "FAT at " << fat;
  }
  EXPECT_TRUE(AllZero(ReadImage(image_, 16209, 8), 0));
  ExpectMarksIntact();
  ExpectOnlyWrittenBlocksAllocated(Writes());
}

// A FAT of 256 sectors goes out as 255 sectors and then one zero sector.
TEST_F(FormatCard, Fat16FatOf256SectorsTakesTwoCalls) {
  InsertCard({{4160, 16, 63}, {520, 128, 63}});
  ASSERT_EQ(0, disk_.FormatFat16(&entry_));
  ExpectRuns({{63, 1}, {64, 255}, {319, 1}, {320, 255}, {575, 1}, {576, 32}}, Writes());
  EXPECT_TRUE(AllZero(ReadImage(image_, 319, 1), 0));
  std::vector<uint8_t> second = ReadImage(image_, 320, 256);
  EXPECT_EQ(0xF8, second[0]);
  EXPECT_TRUE(AllZero(second, 4));
}

TEST_F(FormatCard, UnsupportedSizesWriteNothing) {
  // 8 x 16 x 63 gives a volume of 8001 sectors: too small for either.
  InsertCard({{8, 16, 63}, {8, 16, 63}});
  EXPECT_EQ(-1, disk_.FormatFat16(&entry_));
  EXPECT_EQ(-1, disk_.FormatFat32(&entry_));
  // 66 x 16 x 63: 66465 sectors, FAT16 with 4 sectors per cluster, too
  // small for FAT32.
  theDiskChannel.Close();
  InsertCard({{66, 16, 63}, {66, 16, 63}});
  EXPECT_EQ(-1, disk_.FormatFat32(&entry_));
  EXPECT_TRUE(Writes().empty());
  EXPECT_TRUE(DataExtents(image_).empty());
}

TEST_F(FormatCard, MissingFormatBufferFailsBeforeAnyFatSector) {
  InsertCard(k16Heads);
  ASSERT_NE(nullptr, Card());
  refuseFormatBuffer = true;
  EXPECT_EQ(-1, disk_.FormatFat16(&entry_));
  ExpectRuns({{63, 1}}, Writes());

  Card()->transfers.clear();
  EXPECT_EQ(-1, disk_.FormatFat32(&entry_));
  ExpectRuns({{63, 3}, {69, 3}}, Writes());

  // The same request succeeds once memory is there again.
  refuseFormatBuffer = false;
  Card()->transfers.clear();
  EXPECT_EQ(0, disk_.FormatFat16(&entry_));
  EXPECT_EQ(4u, Writes().size());
}

TEST_F(FormatCard, FailingBootSectorStopsEverything) {
  InsertCard(k16Heads, "63");
  EXPECT_EQ(-1, disk_.FormatFat16(&entry_));
  ExpectRuns({{63, 1}}, Writes());
  EXPECT_EQ(1u, FailedWrites());
  EXPECT_TRUE(DataExtents(image_).empty());
}

TEST_F(FormatCard, FailingBackupBootRegionLeavesThePrimaryWritten) {
  InsertCard(k128Heads, "70");
  EXPECT_EQ(-1, disk_.FormatFat32(&entry_));
  ExpectRuns({{63, 3}, {69, 3}}, Writes());
  EXPECT_EQ(0xEB, ReadImage(image_, 63, 1)[0]);
  // The card wrote the sector before the bad one and stopped there.
  EXPECT_EQ(0xEB, ReadImage(image_, 69, 1)[0]);
  EXPECT_TRUE(AllZero(ReadImage(image_, 70, 2), 0));
}

TEST_F(FormatCard, FailingFatRunStopsAtTheFailingCall) {
  // The third call of the second FAT copy covers 8662-8916.
  InsertCard(k128Heads, "8700");
  MarkSectors({8701, 8917, 16000, 16209});
  EXPECT_EQ(-1, disk_.FormatFat32(&entry_));
  std::vector<WriteCall> writes = Writes();
  ASSERT_EQ(2u + 32u + 3u, writes.size());
  EXPECT_EQ(8662u, writes.back().first);
  EXPECT_EQ(1u, FailedWrites());
  ExpectMarksIntact();
}

// The serial is the machine's clock at the write, in seconds: two formats a
// second apart differ in it alone.
TEST_F(FormatCard, TwoFormatsDifferOnlyInTheSerialNumber) {
  InsertCard({{173, 3, 63}, {173, 3, 63}});
  host::FixClock(1000000000);
  ASSERT_EQ(0, disk_.FormatFat16(&entry_));
  std::string first = testsupport::ReadFile(image_);
  host::FixClock(1000000001);
  ASSERT_EQ(0, disk_.FormatFat16(&entry_));
  std::string second = testsupport::ReadFile(image_);

  ASSERT_EQ(first.size(), second.size());
  const size_t serial = 63 * 512 + 39;
  EXPECT_EQ(1000000000u, GetLe32(reinterpret_cast<const uint8_t*>(&first[serial])));
  EXPECT_EQ(1000000001u, GetLe32(reinterpret_cast<const uint8_t*>(&second[serial])));
  first.replace(serial, 4, 4, '\0');
  second.replace(serial, 4, 4, '\0');
  EXPECT_TRUE(first == second);
}

TEST_F(FormatCard, MtoolsCopiesAFileThroughBothKinds) {
  std::string payload;
  for (int i = 0; i < 300000; ++i) payload += static_cast<char>((i * 7 + i / 511) & 0xFF);

  for (int fat32 = 0; fat32 < 2; ++fat32) {
    SCOPED_TRACE(fat32 ? "FAT32" : "FAT16");
    theDiskChannel.Close();
    InsertCard({{500, 16, 63}, {500, 16, 63}});
    ASSERT_EQ(0, fat32 ? disk_.FormatFat32(&entry_) : disk_.FormatFat16(&entry_));
    theDiskChannel.Close();

    const std::string in = dir_.File("in.bin");
    const std::string out = dir_.File("out.bin");
    testsupport::WriteFile(in, payload);
    std::remove(out.c_str());
    const std::string target = "'" + image_ + "@@" + std::to_string(startLba_ * 512) + "'";
    std::string report;
    ASSERT_EQ(
        0, testsupport::RunCommand(
               "MTOOLS_SKIP_CHECK=1 mcopy -i " + target + " '" + in + "' ::/PAYLOAD.BIN", &report))
        << report;
    ASSERT_EQ(
        0, testsupport::RunCommand(
               "MTOOLS_SKIP_CHECK=1 mcopy -i " + target + " ::/PAYLOAD.BIN '" + out + "'", &report))
        << report;
    EXPECT_TRUE(payload == testsupport::ReadFile(out));
    ASSERT_EQ(0, CheckVolume(&report)) << report;
  }
}

// fsck.fat accepts the volume at every cluster size a planned partition can
// reach.
struct FsckCase {
  const char* name;
  CardShape shape;
  bool fat32;
  int sectorsPerCluster;
};

void PrintTo(const FsckCase& c, std::ostream* out) {
  *out << c.name;
}

class FormatCardFsck : public FormatCard, public ::testing::WithParamInterface<FsckCase> {};

TEST_P(FormatCardFsck, VolumeIsClean) {
  const FsckCase& c = GetParam();
  InsertCard(c.shape);
  const uint32_t dataSector = startLba_ + totalSectors_ / 2;
  MarkSectors({0, startLba_ - 1, dataSector, startLba_ + totalSectors_ - 1});

  ASSERT_EQ(0, c.fat32 ? disk_.FormatFat32(&entry_) : disk_.FormatFat16(&entry_));

  EXPECT_EQ(c.sectorsPerCluster, ReadImage(image_, startLba_, 1)[13]);
  ExpectMarksIntact();
  ExpectOnlyWrittenBlocksAllocated(Writes());
  std::string report;
  EXPECT_EQ(0, CheckVolume(&report)) << report;
}

INSTANTIATE_TEST_SUITE_P(
    ClusterSizes, FormatCardFsck,
    ::testing::Values(FsckCase{"Fat16Cluster2", {{173, 3, 63}, {173, 3, 63}}, false, 2},
                      FsckCase{"Fat16Cluster4", {{490, 8, 32}, {490, 8, 32}}, false, 4},
                      FsckCase{"Fat16Cluster8", {{500, 16, 63}, {500, 16, 63}}, false, 8},
                      FsckCase{"Fat16Cluster16", {{1016, 16, 63}, {1016, 16, 63}}, false, 16},
                      FsckCase{"Fat16Cluster32", {{2000, 16, 63}, {1000, 32, 63}}, false, 32},
                      FsckCase{"Fat16Cluster64", {{4160, 16, 63}, {520, 128, 63}}, false, 64},
                      FsckCase{"Fat32Cluster1", {{500, 16, 63}, {500, 16, 63}}, true, 1},
                      FsckCase{"Fat32Cluster8", {{8192, 16, 63}, {1024, 128, 63}}, true, 8}),
    [](const ::testing::TestParamInfo<FsckCase>& info) { return std::string(info.param.name); });

}  // namespace
