#include "sim/ata_card.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/support.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

// 20 cylinders x 4 heads x 8 sectors: 640 sectors, small enough to compare
// whole images yet with many track and cylinder ends.
sim::CardSettings SmallCard(const std::string& image) {
  sim::CardSettings s;
  s.image = image;
  s.ioBase = 0x170;
  s.controlPort = 0x376;
  s.cylinders = 20;
  s.heads = 4;
  s.sectorsPerTrack = 8;
  s.model = "KESTREL CF 64MB";
  s.serialNumber = "KS10012345";
  s.firmwareRevision = "REV 2.05";
  return s;
}

uint16_t Word(const uint8_t* block, int word) {
  return static_cast<uint16_t>(block[2 * word] | (block[2 * word + 1] << 8));
}

// Reads an ATA text field back: first character in each word's high byte.
std::string AtaText(const uint8_t* block, int word, int chars) {
  std::string text;
  for (int i = 0; i < chars; ++i) text += static_cast<char>(block[2 * word + (i ^ 1)]);
  return text;
}

std::vector<uint8_t> Pattern(uint32_t sectors, uint8_t seed) {
  std::vector<uint8_t> data(sectors * 512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i / 512 * 7 + i + seed);
  return data;
}

TEST(AtaCardIdentify, FillsCompactFlashIdentifyBlock) {
  TempDir dir;
  sim::CardSettings s = SmallCard(dir.File("card.img"));
  s.model = "0123456789012345678901234567890123456789TOO LONG";
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
  s.cylinders = 0x8000;
  s.heads = 16;
  s.sectorsPerTrack = 63;
  s.model = "";
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

TEST(AtaCardMedium, ExistingImageIsUsedAsItIs) {
  TempDir dir;
  std::string path = dir.File("old.img");
  WriteFile(path, std::string(512, 'x') + std::string(512, 'y'));
  sim::AtaCard card(SmallCard(path));
  std::string error;
  ASSERT_TRUE(card.OpenMedium(&error)) << error;
  EXPECT_EQ(1024u, ReadFile(path).size());

  uint8_t sector[512];
  ASSERT_TRUE(card.ReadSectors(0, 0, 2, 1, sector));
  EXPECT_EQ('y', sector[0]);
  EXPECT_FALSE(card.ReadSectors(0, 0, 3, 1, sector)) << "past the end of a short image";
  std::vector<uint8_t> two(1024);
  EXPECT_FALSE(card.ReadSectors(0, 0, 2, 2, two.data())) << "a run reaching past the end";
  std::vector<uint8_t> data = Pattern(2, 1);
  EXPECT_FALSE(card.WriteSectors(0, 0, 2, 2, data.data()));
  EXPECT_EQ(1024u, ReadFile(path).size()) << "a failed write does not grow the image";
  EXPECT_EQ(0, std::memcmp(ReadFile(path).data() + 512, data.data(), 512))
      << "the sector before the end was written";
}

TEST(AtaCardMedium, MissingFolderFailsToOpen) {
  TempDir dir;
  sim::AtaCard card(SmallCard(dir.File("no/such/card.img")));
  std::string error;
  EXPECT_FALSE(card.OpenMedium(&error));
  EXPECT_NE(std::string::npos, error.find("card.img"));
  uint8_t sector[512];
  EXPECT_FALSE(card.ReadSectors(0, 0, 1, 1, sector));
}

TEST(AtaCardTransfer, RunsOnAcrossTrackAndCylinderEnds) {
  TempDir dir;
  std::string path = dir.File("card.img");
  sim::AtaCard card(SmallCard(path));
  std::string error;
  ASSERT_TRUE(card.OpenMedium(&error)) << error;

  // Cylinder 2, head 3, sector 5 is sector (2*4+3)*8+4 = 92; 255 sectors run
  // through the rest of the track, the cylinder end and many more.
  std::vector<uint8_t> data = Pattern(255, 3);
  ASSERT_TRUE(card.WriteSectors(2, 3, 5, 255, data.data()));
  std::string image = ReadFile(path);
  ASSERT_EQ(640u * 512, image.size());
  EXPECT_EQ(0, std::memcmp(image.data() + 92 * 512, data.data(), data.size()));
  EXPECT_EQ(std::string(512, '\0'), image.substr(91 * 512, 512));
  EXPECT_EQ(std::string(512, '\0'), image.substr(347 * 512, 512));

  std::vector<uint8_t> back(255 * 512);
  ASSERT_TRUE(card.ReadSectors(2, 3, 5, 255, back.data()));
  EXPECT_EQ(data, back);

  ASSERT_EQ(2u, card.transfers.size());
  EXPECT_EQ(0x30, card.transfers[0].command);
  EXPECT_EQ(92u, card.transfers[0].firstSector);
  EXPECT_EQ(255u, card.transfers[0].count);
  EXPECT_TRUE(card.transfers[0].succeeded);
  EXPECT_EQ(0x20, card.transfers[1].command);
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

TEST(AtaCardTransfer, BadSectorFailsTheTransferAfterWritingThoseBeforeIt) {
  TempDir dir;
  std::string path = dir.File("card.img");
  sim::CardSettings s = SmallCard(path);
  s.badSectors = {{100, 102}, {7, 7}};
  sim::AtaCard card(s);
  std::string error;
  ASSERT_TRUE(card.OpenMedium(&error)) << error;

  std::vector<uint8_t> data = Pattern(20, 9);
  // Sectors 90..109: 100 is the first bad one.
  EXPECT_FALSE(card.WriteSectors(2, 3, 3, 20, data.data()));
  std::string image = ReadFile(path);
  EXPECT_EQ(0, std::memcmp(image.data() + 90 * 512, data.data(), 10 * 512));
  EXPECT_EQ(std::string(10 * 512, '\0'), image.substr(100 * 512, 10 * 512));

  uint8_t sector[512];
  EXPECT_FALSE(card.ReadSectors(0, 0, 8, 1, sector)) << "sector 7";
  EXPECT_TRUE(card.ReadSectors(0, 0, 7, 1, sector));
  EXPECT_TRUE(card.ReadSectors(0, 1, 1, 1, sector));
  EXPECT_FALSE(card.ReadSectors(3, 0, 7, 1, sector)) << "sector 102, the end of the range";
}

}  // namespace
