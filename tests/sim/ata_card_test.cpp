#include "sim/ata_card.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/little_endian.h"
#include "support/support.h"

namespace {

using testsupport::TempDir;

// 20 cylinders x 4 heads x 8 sectors: 640 sectors, small enough to compare
// whole images yet with many track and cylinder ends.
sim::CardSettings SmallCard(const std::string& image) {
  sim::CardSettings s;
  s.image = image;
  s.ioBase = 0x170;
  s.controlPort = 0x376;
  // Geometry, then model, serial number and firmware revision.
  s.identity = {20, 4, 8, "KESTREL CF 64MB", "KS10012345", "REV 2.05"};
  return s;
}

uint16_t Word(const uint8_t* block, int word) {
  return GetLe16(block + 2 * word);
}

// Reads an ATA text field back: first character in each word's high byte.
std::string AtaText(const uint8_t* block, int word, int chars) {
  std::string text;
  for (int i = 0; i < chars; ++i) text += static_cast<char>(block[2 * word + (i ^ 1)]);
  return text;
}

TEST(AtaCardIdentify, FillsCompactFlashIdentifyBlock) {
  TempDir dir;
  sim::CardSettings s = SmallCard(dir.File("card.img"));
  s.identity.model = "0123456789012345678901234567890123456789TOO LONG";
  sim::AtaCard card(s);
  uint8_t block[512];
  std::memset(block, 0xCC, sizeof block);
  ASSERT_TRUE(card.Identify(block));

  EXPECT_EQ(0x848A, Word(block, 0));
  EXPECT_EQ(20, Word(block, 1));
  EXPECT_EQ(4, Word(block, 3));
  EXPECT_EQ(8, Word(block, 6));
  EXPECT_EQ("KS10012345          ", AtaText(block, 10, 20));
  EXPECT_EQ("REV 2.05", AtaText(block, 23, 8));
  EXPECT_EQ("0123456789012345678901234567890123456789", AtaText(block, 27, 40));
  EXPECT_EQ('K', block[21]) << "first serial character sits in the high byte of word 10";
  EXPECT_NE(0, Word(block, 49) & 0x0200) << "LBA supported";
  EXPECT_EQ(1, Word(block, 53) & 1);
  EXPECT_EQ(20, Word(block, 54));
  EXPECT_EQ(4, Word(block, 55));
  EXPECT_EQ(8, Word(block, 56));
  EXPECT_EQ(640u, Word(block, 57) | (Word(block, 58) << 16));
  EXPECT_EQ(640u, Word(block, 60) | (Word(block, 61) << 16));
  EXPECT_EQ(0, Word(block, 255)) << "the rest of the block is cleared";
}

TEST(AtaCardIdentify, ReportsLargeCapacityAndBrokenGeometryAsGiven) {
  TempDir dir;
  sim::CardSettings s = SmallCard(dir.File("card.img"));
  s.identity.cylinders = 0x8000;
  s.identity.heads = 16;
  s.identity.sectorsPerTrack = 63;
  s.identity.model = "";
  sim::AtaCard card(s);
  uint8_t block[512];
  ASSERT_TRUE(card.Identify(block));
  EXPECT_EQ(0x8000, Word(block, 1));
  uint32_t capacity = 0x8000u * 16 * 63;
  EXPECT_EQ(capacity, Word(block, 60) | (static_cast<uint32_t>(Word(block, 61)) << 16));
  EXPECT_EQ(capacity >> 16, Word(block, 7));
  EXPECT_EQ(capacity & 0xFFFF, Word(block, 8));
  EXPECT_EQ(std::string(40, ' '), AtaText(block, 27, 40));
}

TEST(AtaCardMedium, NewImageIsSparseAtFullSizeAndReadsZeros) {
  TempDir dir;
  std::string path = dir.File("new.img");
  sim::AtaCard card(SmallCard(path));
  std::string error;
  ASSERT_TRUE(card.OpenMedium(&error)) << error;
  struct stat st;
  ASSERT_EQ(0, stat(path.c_str(), &st));
  EXPECT_EQ(640 * 512, st.st_size);
  EXPECT_LT(st.st_blocks * 512, 640 * 512) << "created without writing its sectors";

  std::vector<uint8_t> data(3 * 512, 0xAA);
  ASSERT_TRUE(card.ReadSectors(19, 3, 6, 3, data.data()));  // the last three sectors
  EXPECT_EQ(std::vector<uint8_t>(3 * 512, 0), data);
}

TEST(AtaCardTransfer, RefusesAddressesOutsideTheGeometry) {
  TempDir dir;
  sim::AtaCard card(SmallCard(dir.File("card.img")));
  std::string error;
  ASSERT_TRUE(card.OpenMedium(&error)) << error;
  std::vector<uint8_t> data(256 * 512);
  EXPECT_FALSE(card.ReadSectors(0, 0, 0, 1, data.data())) << "sectors count from 1";
  EXPECT_FALSE(card.ReadSectors(0, 0, 9, 1, data.data())) << "sector past the track";
  EXPECT_FALSE(card.ReadSectors(0, 4, 1, 1, data.data())) << "head past the last";
  EXPECT_FALSE(card.ReadSectors(20, 0, 1, 1, data.data())) << "cylinder past the last";
  EXPECT_FALSE(card.ReadSectors(0, 0, 1, 0, data.data()));
  EXPECT_FALSE(card.ReadSectors(0, 0, 1, 256, data.data()));
  EXPECT_FALSE(card.ReadSectors(19, 3, 7, 3, data.data())) << "runs off the last sector";
  EXPECT_TRUE(card.ReadSectors(19, 3, 7, 2, data.data()));
  for (size_t i = 0; i + 1 < card.transfers.size(); ++i) EXPECT_FALSE(card.transfers[i].succeeded);
}

}  // namespace
