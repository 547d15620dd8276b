// Geometry translation, CHS conversions and partition entry coding.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "disk/card_disk.h"

namespace {

typedef std::array<int32_t, 3> Chs;

CardDisk Disk(Chs physical, Chs logical) {
  CardDisk disk{};
  disk.physicalCylinders = physical[0];
  disk.physicalHeads = physical[1];
  disk.physicalSectors = physical[2];
  disk.logicalCylinders = logical[0];
  disk.logicalHeads = logical[1];
  disk.logicalSectors = logical[2];
  return disk;
}

TEST(Geometry, TranslationKeepsCylindersInTenBits) {
  const std::vector<std::pair<Chs, Chs>> cases = {
      {{16383, 16, 63}, {1023, 256, 63}},
      {{1024, 16, 63}, {1024, 16, 63}},
      {{1025, 16, 63}, {512, 32, 63}},
      {{2047, 17, 63}, {1023, 34, 63}},
      {{10585, 16, 63}, {661, 256, 63}},
      // More than 256 heads at the top of a pass undoes the last halving.
      {{4096, 255, 63}, {4096, 255, 63}},
      {{32767, 17, 63}, {4094, 136, 63}},
      // An IDENTIFY word of 0x8000 sign-extends to a negative count.
      {{-32768, 16, 63}, {-32768, 16, 63}}};
  for (const auto& c : cases) {
    Chs got{};
    CardDisk::TranslateGeometry(c.first[0], c.first[1], c.first[2], &got[0], &got[1], &got[2]);
    EXPECT_EQ(got, c.second) << c.first[0] << " x " << c.first[1] << " x " << c.first[2];
  }
}

TEST(Geometry, ConversionsUseTheirOwnGeometry) {
  // The logical geometry differs, so a mix-up of the two shows.
  CardDisk disk = Disk({16383, 16, 63}, {1023, 256, 63});
  const std::vector<std::pair<uint32_t, Chs>> lbas = {{0, {0, 0, 1}},
                                                      {62, {0, 0, 63}},
                                                      {63, {0, 1, 1}},
                                                      {1008, {1, 0, 1}},
                                                      {16383 * 1008 - 1, {16382, 15, 63}}};
  for (const auto& c : lbas) {
    Chs got{};
    disk.LbaToChs(c.first, &got[0], &got[1], &got[2]);
    EXPECT_EQ(got, c.second) << "lba " << c.first;
  }
  const std::vector<std::pair<Chs, Chs>> logical = {
      {{1, 17, 0}, {17, 1, 0}}, {{0, 0, 0}, {0, 0, 0}}, {{1022, 255, 0}, {16367, 15, 0}}};
  for (const auto& c : logical) {
    Chs got{};
    disk.LogicalToPhysical(c.first[0], c.first[1], &got[0], &got[1]);
    EXPECT_EQ(got, c.second) << "logical " << c.first[0] << ", " << c.first[1];
  }
  // Unsigned arithmetic: the top sector number is not negative.
  Chs top{};
  Disk({1024, 255, 63}, {1024, 255, 63}).LbaToChs(0xFFFFFFFFu, &top[0], &top[1], &top[2]);
  EXPECT_EQ(top, (Chs{267349, 89, 4}));
}

TEST(Geometry, EntryCodingRoundTrips) {
  CardDisk disk = Disk({1000, 16, 63}, {1000, 16, 63});
  RawPartitionEntry raw;
  raw.bytes[0] = 0x80;
  disk.EncodeEntry(&raw, 6, MakePackedChs(0, 1, 1), MakePackedChs(999, 15, 63), 1);
  EXPECT_EQ(std::vector<uint8_t>(raw.bytes, raw.bytes + 16),
            (std::vector<uint8_t>{0x00, 0x01, 0x01, 0x00, 0x06, 0x0F, 0xFF, 0xE7, 0x3F, 0x00, 0x00,
                                  0x00, 0x41, 0x61, 0x0F, 0x00}));
  uint8_t type = 0;
  PackedChs start = 0, end = 0;
  CardDisk::DecodeEntry(raw, &type, &start, &end);
  EXPECT_EQ(type, 6);
  EXPECT_EQ(start, MakePackedChs(0, 1, 1));
  EXPECT_EQ(end, MakePackedChs(999, 15, 63));

  // Only the base's cylinder counts; the count ignores the end head and sector.
  disk.EncodeEntry(&raw, 5, MakePackedChs(10, 0, 1), MakePackedChs(19, 0, 1),
                   MakePackedChs(2, 7, 9));
  EXPECT_EQ(raw.bytes[8] | raw.bytes[9] << 8, 8 * 16 * 63);
  EXPECT_EQ(raw.bytes[12] | raw.bytes[13] << 8 | raw.bytes[14] << 16, 10 * 16 * 63);

  // Cylinder bits 8 and 9 travel in the top bits of the sector bytes.
  RawPartitionEntry high = {{0, 0xFE, 0xC1, 0x23, 0x0B, 0x7F, 0x7F, 0x45}};
  CardDisk::DecodeEntry(high, &type, &start, &end);
  EXPECT_EQ(start, MakePackedChs(0x323, 254, 1));
  EXPECT_EQ(end, MakePackedChs(0x145, 127, 63));
}

}  // namespace
