// The arithmetic of volume placement and sizing, and the boot sector images.
#include "format/volume_layout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "common/little_endian.h"
#include "format/fat_layout.h"

namespace {

uint32_t Le16(const uint8_t* image, int offset) {
  return GetLe16(image + offset);
}

uint32_t Le32(const uint8_t* image, int offset) {
  return GetLe32(image + offset);
}

std::string Text(const uint8_t* image, int offset, int length) {
  return std::string(reinterpret_cast<const char*>(image) + offset, length);
}

TEST(VolumePlacement, StartsAtHeadOneOfTheStartCylinder) {
  EXPECT_EQ(63u, VolumeStartLba(MakePackedChs(0, 0, 1), 16, 63));
  EXPECT_EQ(63u, VolumeStartLba(MakePackedChs(0, 1, 1), 16, 63));
  // Head and sector of the start are not consulted.
  EXPECT_EQ((5u * 16 + 1) * 63, VolumeStartLba(MakePackedChs(5, 3, 7), 16, 63));
  EXPECT_EQ((1023u * 255 + 1) * 63, VolumeStartLba(MakePackedChs(1023, 0, 1), 255, 63));
}

TEST(VolumePlacement, TotalRunsThroughTheEndSectorInclusive) {
  EXPECT_EQ(1024065u, VolumeTotalSectors(MakePackedChs(1015, 15, 63), 63, 16, 63));
  EXPECT_EQ(8257473u, VolumeTotalSectors(MakePackedChs(1023, 127, 63), 63, 128, 63));
  // One sector: the volume's first sector is also the one that end addresses.
  EXPECT_EQ(1u, VolumeTotalSectors(MakePackedChs(0, 1, 1), 63, 16, 63));
  // An end in the middle of a track.
  EXPECT_EQ(63u + 10, VolumeTotalSectors(MakePackedChs(0, 2, 10), 63, 16, 63));
}

struct TableCase {
  uint32_t totalSectors;
  uint8_t sectorsPerCluster;
};

TEST(ClusterTables, Fat16RowsAtTheirBounds) {
  const TableCase cases[] = {
      {0, 0},        {8400, 0},     {8401, 2},    {32680, 2},      {32681, 4},    {262144, 4},
      {262145, 8},   {524288, 8},   {524289, 16}, {1048576, 16},   {1048577, 32}, {2097152, 32},
      {2097153, 64}, {4194304, 64}, {4194305, 0}, {0xFFFFFFFF, 0},
  };
  for (const TableCase& c : cases) {
    EXPECT_EQ(c.sectorsPerCluster, LookUpSectorsPerCluster(Fat16ClusterTable, c.totalSectors))
        << "total " << c.totalSectors;
  }
}

TEST(ClusterTables, Fat32RowsAtTheirBounds) {
  const TableCase cases[] = {
      {66600, 0},     {66601, 1},     {532480, 1},      {532481, 8},
      {16777216, 8},  {16777217, 16}, {33554432, 16},   {33554433, 32},
      {67108864, 32}, {67108865, 64}, {0xFFFFFFFF, 64},
  };
  for (const TableCase& c : cases) {
    EXPECT_EQ(c.sectorsPerCluster, LookUpSectorsPerCluster(Fat32ClusterTable, c.totalSectors))
        << "total " << c.totalSectors;
  }
}

// The FAT16 rules as a reader of the volume applies them, written out here
// rather than taken from the writer: one reserved sector (the boot sector),
// two FATs, a root directory of 512 entries of 32 bytes, and whole clusters
// of what is left. A FAT sector holds 256 entries, the first two of which
// describe no cluster; 65,525 clusters or more make a FAT32 volume.
constexpr uint32_t kReservedSectors = 1;
constexpr uint32_t kFatCopies = 2;
constexpr uint32_t kRootSectors = 512 * 32 / 512;
constexpr uint32_t kMostFat16Clusters = 65524;

uint32_t ClustersBeside(uint32_t t, uint32_t spc, uint32_t fat) {
  return (t - kReservedSectors - kRootSectors - kFatCopies * fat) / spc;
}

// The FAT size the boot sector's reckoning gives, ceil((T - 33) / (256 x spc + 2)).
uint32_t PlainFat16FatSectors(uint32_t t, uint32_t spc) {
  return (t + 256 * spc - 32) / (256 * spc + 2);
}

bool Fat16FatCovers(uint32_t t, uint32_t spc, uint32_t fat) {
  return fat * 256ull >= ClustersBeside(t, spc, fat) + 2ull;
}

TEST(FatSize, WorkedExamplesAndTableEnds) {
  EXPECT_EQ(250u, Fat16FatSectors(1024065, 16));
  EXPECT_EQ(17u, Fat16FatSectors(8401, 2));
  // 988 x 16 x 63: one sector more than the plain reckoning, which leaves
  // cluster 62,208 without an entry.
  EXPECT_EQ(244u, Fat16FatSectors(995841, 16));
  // 52 x 16 x 63 and 679 x 16 x 63 keep the plain reckoning's FAT.
  EXPECT_EQ(51u, Fat16FatSectors(52353, 4));
  EXPECT_EQ(167u, Fat16FatSectors(684369, 16));
  // The top of the 64-sector band: 8192 x 16 x 32 (1024 x 128 x 32 logical)
  // and the largest FAT16 volume keep 65,524 clusters; 4,194,144 sectors is
  // the largest size whose plain FAT leaves no more.
  EXPECT_EQ(320u, Fat16FatSectors(4194272, 64));
  EXPECT_EQ(65524u, Fat16Clusters(4194272, 64, 320));
  EXPECT_EQ(336u, Fat16FatSectors(4194304, 64));
  EXPECT_EQ(256u, Fat16FatSectors(4194144, 64));
  EXPECT_EQ(8057u, Fat32FatSectors(8257473, 8));
  EXPECT_EQ(517u, Fat32FatSectors(66601, 1));
}

// Every size the FAT16 table accepts, judged by the rules above: the FAT has
// an entry for each cluster beside it, the volume has 4,085 to 65,524
// clusters (the count the writer reports too), and the FAT is the plain
// reckoning's wherever that is already enough, else the smallest that is.
// The sizes where the two differ are counted.
TEST(FatSize, EveryFat16SizeIsCoveredAndCountedAsFat16) {
  uint32_t uncovered = 0;
  uint32_t tooManyClusters = 0;
  for (uint32_t t = 8401; t <= 4194304; ++t) {
    const uint32_t spc = LookUpSectorsPerCluster(Fat16ClusterTable, t);
    const uint32_t fat = Fat16FatSectors(t, spc);
    const uint32_t clusters = ClustersBeside(t, spc, fat);
    ASSERT_TRUE(Fat16FatCovers(t, spc, fat)) << "total " << t;
    ASSERT_LE(clusters, kMostFat16Clusters) << "total " << t;
    ASSERT_GE(clusters, 4085u) << "total " << t;
    ASSERT_EQ(clusters, Fat16Clusters(t, spc, fat)) << "total " << t;
    uint32_t covering = PlainFat16FatSectors(t, spc);
    if (!Fat16FatCovers(t, spc, covering)) {
      ++uncovered;
      ++covering;
    }
    if (ClustersBeside(t, spc, covering) > kMostFat16Clusters) {
      ++tooManyClusters;
    } else {
      ASSERT_EQ(covering, fat) << "total " << t;
    }
    // Not a sector more than the entries or the cluster limit need.
    const bool smallerSuffices = Fat16FatCovers(t, spc, fat - 1) &&
                                 ClustersBeside(t, spc, fat - 1) <= kMostFat16Clusters;
    ASSERT_FALSE(smallerSuffices) << "total " << t;
  }
  EXPECT_EQ(17133u, uncovered);
  EXPECT_EQ(160u, tooManyClusters);
}

// Every FAT32 volume the planner can make (up to its cap of 0xA00000
// sectors) gets a FAT with an entry for each of its clusters plus the two
// reserved ones, and so do the larger sizes of the table, sampled.
TEST(FatSize, Fat32FatCoversEveryCluster) {
  auto covered = [](uint32_t t) {
    const uint32_t spc = LookUpSectorsPerCluster(Fat32ClusterTable, t);
    const uint32_t fat = Fat32FatSectors(t, spc);
    const uint64_t clusters = (t - 32 - 2ull * fat) / spc;
    return fat * 128ull >= clusters + 2;
  };
  for (uint32_t t = 66601; t <= 0xA00000; ++t) ASSERT_TRUE(covered(t)) << "total " << t;
  for (uint64_t t = 0xA00000; t <= 0xFFFFF000ull; t = t * 1013 / 1000 + 7) {
    ASSERT_TRUE(covered(static_cast<uint32_t>(t))) << "total " << t;
  }
}

// The extended boot record at `at` (drive 0x80, signature 0x29, the serial,
// no label, the FAT's name), zeros after it, then the boot signature.
void ExpectExtendedRecord(const uint8_t* image, int at, const char* fatName) {
  EXPECT_EQ(0x80, image[at]);
  EXPECT_EQ(0, image[at + 1]);
  EXPECT_EQ(0x29, image[at + 2]);
  EXPECT_EQ(0x89ABCDEFu, Le32(image, at + 3));
  EXPECT_EQ("NO NAME    ", Text(image, at + 7, 11));
  EXPECT_EQ(fatName, Text(image, at + 18, 8));
  for (int i = at + 26; i < 510; ++i) ASSERT_EQ(0, image[i]) << "offset " << i;
  EXPECT_EQ(0x55, image[510]);
  EXPECT_EQ(0xAA, image[511]);
}

// Fields set one by one, like the card settings of the sim tests: another
// record, alike only in shape.
VolumeParameters Volume(uint32_t total, uint32_t spc, uint32_t fatSectors) {
  VolumeParameters volume = {};
  volume.startLba = 63;
  volume.totalSectors = total;
  volume.sectorsPerCluster = spc;
  volume.fatSectors = fatSectors;
  volume.heads = 16;
  volume.sectorsPerTrack = 63;
  volume.serialNumber = 0x89ABCDEF;
  return volume;
}

TEST(Fat16BootSector, FieldsOfTheWorkedExample) {
  uint8_t image[512];
  std::memset(image, 0xCC, sizeof image);
  BuildFat16BootSector(Volume(1024065, 16, 250), image);

  const uint8_t head[] = {0xEB, 0x00, 0x90, 'M', 'S', 'W', 'I',  'N',  '4', '.', '1',
                          0x00, 0x02, 16,   1,   0,   2,   0x00, 0x02, 0,   0,   0xF8,
                          250,  0,    63,   0,   16,  0,   63,   0,    0,   0};
  EXPECT_EQ(0, std::memcmp(head, image, sizeof head));
  EXPECT_EQ(1024065u, Le32(image, 32));
  ExpectExtendedRecord(image, 36, "FAT16   ");
}

TEST(Fat16BootSector, TotalGoesToExactlyOneOfItsTwoFields) {
  uint8_t image[512];
  BuildFat16BootSector(Volume(65535, 4, 0), image);
  EXPECT_EQ(65535u, Le16(image, 19));
  EXPECT_EQ(0u, Le32(image, 32));

  BuildFat16BootSector(Volume(65536, 4, 0), image);
  EXPECT_EQ(0u, Le16(image, 19));
  EXPECT_EQ(65536u, Le32(image, 32));
}

TEST(Fat32BootRegion, ThreeSectorsOfTheWorkedExample) {
  uint8_t image[1536];
  std::memset(image, 0xCC, sizeof image);
  VolumeParameters volume = Volume(8257473, 8, 8057);
  volume.heads = 128;
  BuildFat32BootRegion(volume, image);

  const uint8_t head[] = {0xEB, 0x00, 0x90, 'M', 'S', 'W', 'I', 'N', '4', '.', '1',
                          0x00, 0x02, 8,    32,  0,   2,   0,   0,   0,   0,   0xF8,
                          0,    0,    63,   0,   128, 0,   63,  0,   0,   0};
  EXPECT_EQ(0, std::memcmp(head, image, sizeof head));
  EXPECT_EQ(8257473u, Le32(image, 32));
  EXPECT_EQ(8057u, Le32(image, 36));
  EXPECT_EQ(0u, Le32(image, 40));  // extended flags and version
  EXPECT_EQ(2u, Le32(image, 44));
  EXPECT_EQ(1u, Le16(image, 48));
  EXPECT_EQ(6u, Le16(image, 50));
  for (int i = 52; i < 64; ++i) ASSERT_EQ(0, image[i]) << "offset " << i;
  ExpectExtendedRecord(image, 64, "FAT32   ");

  const uint8_t* fsInfo = image + 512;
  EXPECT_EQ("RRaA", Text(fsInfo, 0, 4));
  for (int i = 4; i < 484; ++i) ASSERT_EQ(0, fsInfo[i]) << "FSInfo offset " << i;
  EXPECT_EQ("rrAa", Text(fsInfo, 484, 4));
  EXPECT_EQ(0xFFFFFFFFu, Le32(fsInfo, 488));
  EXPECT_EQ(0xFFFFFFFFu, Le32(fsInfo, 492));
  for (int i = 496; i < 508; ++i) ASSERT_EQ(0, fsInfo[i]) << "FSInfo offset " << i;
  const uint8_t trail[] = {0x00, 0x00, 0x55, 0xAA};
  EXPECT_EQ(0, std::memcmp(trail, fsInfo + 508, 4));

  const uint8_t* third = image + 1024;
  for (int i = 0; i < 508; ++i) ASSERT_EQ(0, third[i]) << "third sector offset " << i;
  EXPECT_EQ(0, std::memcmp(trail, third + 508, 4));
}

TEST(Fat32BootRegion, SixteenBitSizeFieldsStayZeroForSmallVolumes) {
  uint8_t image[1536];
  BuildFat32BootRegion(Volume(66601, 1, 517), image);
  EXPECT_EQ(0u, Le16(image, 19));
  EXPECT_EQ(0u, Le16(image, 22));
  EXPECT_EQ(66601u, Le32(image, 32));
  EXPECT_EQ(517u, Le32(image, 36));
}

}  // namespace
