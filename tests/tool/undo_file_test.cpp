// The undo file read back as a crash or damage leaves it, the sectors a
// write plans, and the order a restore writes them in.
#include "tool/undo/undo_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/support.h"
#include "tool/undo/restore_plan.h"
#include "tool/undo/undo_format.h"
#include "tool/undo/write_plan.h"

namespace {

std::vector<uint8_t> Sectors(uint32_t count, uint8_t fill) {
  return std::vector<uint8_t>(count * 512, fill);
}

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

// A whole file of three records (32: 1 sector, 33: 2 sectors, 0: 1 sector,
// each sector filled with its first sector + 1); where each record ends.
std::vector<uint8_t> File(std::vector<size_t>* ends) {
  tool::UndoHeader header;
  header.sectors = 1000;
  header.serialNumber = "KS1";
  const std::vector<uint8_t> a = Sectors(1, 33), b = Sectors(2, 34), c = Sectors(1, 1);
  uint32_t records = 0, sectors = 0;
  std::vector<uint8_t> file = tool::EncodeUndoFile(
      header, {{32, 1, a.data()}, {33, 2, b.data()}, {0, 1, c.data()}}, &records, &sectors);
  EXPECT_EQ(3u, records);
  EXPECT_EQ(4u, sectors);
  size_t at = tool::kUndoHeaderBytes;
  for (uint32_t count : {1, 2, 1}) ends->push_back(at += 12 + count * 512 + 4);
  return file;
}

}  // namespace

TEST(UndoFile, AFileCutShortIsRestorableAndADamagedOneIsRefused) {
  std::vector<size_t> ends;
  const std::vector<uint8_t> whole = File(&ends);
  // As a crash leaves a file that was being added to: no closing record.
  const std::vector<uint8_t> open(whole.begin(), whole.begin() + ends[2]);
  auto changed = [](std::vector<uint8_t> bytes, size_t at, uint8_t mask) {
    bytes[at] ^= mask;
    return bytes;
  };
  std::vector<uint8_t> miscounted = open;
  const std::vector<uint8_t> closing = tool::EncodeClosingRecord(2, 4);
  miscounted.insert(miscounted.end(), closing.begin(), closing.end());
  std::vector<uint8_t> longer = whole;
  longer.push_back(0);
  // A file of zero records: 40 sectors at 100, one damaged.
  tool::UndoHeader header;
  header.sectors = 1000;
  const std::vector<uint8_t> zeros = Sectors(40, 0);
  uint32_t records = 0, sectors = 0;
  const std::vector<uint8_t> zeroFile =
      tool::EncodeUndoFile(header, {{100, 40, zeros.data()}}, &records, &sectors);

  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    int records;  // -1: refused
    bool closed;
    const char* said;
  } files[] = {
      {"whole and closed", whole, 3, true, ""},
      {"cut after its last record", open, 3, false, ""},
      {"cut inside the second record",
       std::vector<uint8_t>(open.begin(), open.begin() + ends[0] + 600), 1, false, ""},
      {"cut inside a record's head", std::vector<uint8_t>(open.begin(), open.begin() + ends[1] + 5),
       2, false, ""},
      {"the last record torn, not closed", changed(open, ends[1] + 12 + 7, 0xFF), 2, false, ""},
      {"a zero record", zeroFile, 1, true, ""},
      {"a middle record damaged", changed(whole, ends[0] + 12 + 7, 0xFF), -1, false,
       "record 2 (byte 656) is damaged (its CRC-32 does not match)"},
      {"the last record damaged, closed", changed(whole, ends[1] + 12 + 7, 0xFF), -1, false,
       "record 3"},
      // A count is trusted only once the record's CRC-32 holds: read as
      // they say, these would run past the end and look cut short.
      {"the MBR record's count flipped", changed(whole, ends[1] + 8, 0x80), -1, false,
       "record 3 (byte 1696) is damaged (it says 129 sectors, and its CRC-32 holds for 1)"},
      {"a middle record's count flipped", changed(whole, ends[0] + 8, 0x04), -1, false,
       "record 2 (byte 656) is damaged (it says 6 sectors, and its CRC-32 holds for 2)"},
      {"a zero record's count flipped", changed(zeroFile, tool::kUndoHeaderBytes + 8, 0x01), -1,
       false, "record 1 (byte 128) is damaged (its CRC-32 does not match)"},
      {"a closing record that miscounts", miscounted, -1, false, "counts other records"},
      {"longer than its header says", longer, -1, false,
       "longer (2241 bytes) than its header says (2240)"},
      {"data after whole records that is no record", changed(whole, ends[2], 0x07), -1, false,
       "record 4 (byte 2224) is damaged (it is no record)"},
      {"no header", std::vector<uint8_t>(whole.begin() + 8, whole.end()), -1, false,
       "not an undo file"},
      {"a header of another version", changed(whole, 8, 0x07), -1, false, "of version 5"},
  };
  for (const auto& file : files) {
    SCOPED_TRACE(file.what);
    tool::UndoContents contents;
    std::string why;
    bool parsed = tool::ParseUndoFile(file.bytes, &contents, &why);
    EXPECT_EQ(file.records >= 0, parsed) << why;
    if (parsed) {
      EXPECT_EQ(static_cast<size_t>(file.records), contents.records.size());
      EXPECT_EQ(file.closed, contents.closed);
      for (const tool::UndoRecord& record : contents.records) {
        if (record.zeros) {
          EXPECT_EQ(40u, record.count);
          EXPECT_TRUE(record.data.empty());
        } else {
          EXPECT_EQ(Sectors(record.count, static_cast<uint8_t>(record.first + 1)), record.data);
        }
      }
    } else {
      EXPECT_NE(std::string::npos, why.find(file.said)) << why;
    }
  }
}

// A file the program wrote before version 2, from a FAT16 write of a 150 x
// 8 x 32 card (its sectors 1 to 255 held their number modulo 251, plus 1):
// still read, record for record.
TEST(UndoFile, AVersion1FileIsStillRead) {
  const std::vector<uint8_t> bytes = Bytes(testsupport::ReadFile(
      std::string(DUNMORE_TESTS_DIR) + "/fixtures/undo/fat16_150x8x32.v1.undo"));
  tool::UndoContents contents;
  std::string why;
  ASSERT_TRUE(tool::ParseUndoFile(bytes, &contents, &why)) << why;
  EXPECT_EQ(1u, contents.header.version);
  EXPECT_EQ(38400u, contents.header.sectors);
  EXPECT_EQ("KS10012345", contents.header.serialNumber);
  EXPECT_TRUE(contents.closed);
  ASSERT_EQ(5u, contents.records.size());
  EXPECT_EQ(110u, contents.Sectors());
  for (const tool::UndoRecord& record : contents.records) {
    for (uint32_t i = 0; i < record.count; ++i) {
      const uint32_t sector = record.first + i;
      const uint8_t held = sector == 0 || sector > 255 ? 0 : static_cast<uint8_t>(sector % 251 + 1);
      EXPECT_EQ(held, record.data[i * 512 + 300]) << sector;
    }
  }
}

TEST(UndoFile, ARestoreGoesBackwardsWithTheMbrLastAndTheEarliestDataWinning) {
  tool::UndoContents contents;
  // The MBR's sector kept with its neighbour, then sector 5 written twice,
  // then 300 zero sectors from 0 again, which go as two commands.
  const struct {
    uint32_t first, count;
    uint8_t fill;
    bool zeros;
  } records[] = {{0, 2, 0xA0, false}, {5, 1, 0xB0, false}, {4, 3, 0xC0, false}, {0, 300, 0, true}};
  for (const auto& r : records) {
    tool::UndoRecord record;
    record.first = r.first;
    record.count = r.count;
    record.zeros = r.zeros;
    if (!r.zeros) record.data = Sectors(r.count, r.fill);
    contents.records.push_back(record);
  }
  std::vector<tool::RestoreWrite> writes = tool::RestoreWrites(contents);
  std::vector<std::string> order;
  for (const tool::RestoreWrite& w : writes) {
    order.push_back(std::to_string(w.first) + "+" + std::to_string(w.count) + ":" +
                    std::to_string(w.data[0]));
  }
  // Reversed; sector 5 gets what it held first (0xB0) as its last write;
  // sector 1 of the first record goes alone, sector 0 at the very end with
  // what the first record kept of it.
  EXPECT_EQ(
      (std::vector<std::string>{"1+255:0", "256+44:0", "4+3:192", "5+1:176", "1+1:160", "0+1:160"}),
      order);
  EXPECT_EQ("0-299", tool::CoveredSectors(contents.records, 8));

  // Checked against the card's size before anything is written.
  tool::RestoreCard card;
  card.sectors = 256;
  card.cylinders = 2;
  card.heads = 4;
  card.sectorsPerTrack = 32;
  EXPECT_EQ("record 4 of the undo file (sectors 0-299) lies past the card's 256 sectors",
            tool::RecordOutsideCard(contents, card));
  card.sectors = 300;
  EXPECT_EQ("", tool::RecordOutsideCard(contents, card));
}

TEST(UndoFile, ThePlannedSectorsAreEachSectorOnceAndCoverWhatTheyHold) {
  tool::PlannedSectors plan;
  // The system's FAT16 write, then the finishing step's sectors again.
  for (const SectorRunPlan& run : std::vector<SectorRunPlan>{
           {32, 1}, {33, 278}, {0, 1}, {0, 1}, {32, 1}, {400, 2}, {398, 2}}) {
    plan.Add(run.first, run.count);
  }
  ASSERT_EQ(3u, plan.runs.size());
  EXPECT_EQ(0u, plan.runs[0].first);
  EXPECT_EQ(32u, plan.runs[1].first);
  EXPECT_EQ(279u, plan.runs[1].count);
  EXPECT_EQ(398u, plan.runs[2].first);
  EXPECT_EQ(4u, plan.runs[2].count);
  EXPECT_EQ(284u, plan.Sectors());
  const struct {
    uint32_t first, count;
    bool covered;
  } commands[] = {{0, 1, true},    {32, 255, true}, {287, 24, true}, {287, 25, false},
                  {1, 1, false},   {31, 2, false},  {401, 1, true},  {401, 2, false},
                  {402, 1, false}, {397, 1, false}};
  for (const auto& c : commands) {
    EXPECT_EQ(c.covered, plan.Covers(c.first, c.count)) << c.first << "+" << c.count;
  }
}

// The file a write makes is written record by record as the sectors come
// in, a megabyte and more at a time: over 3 MB of sectors, runs of zeros
// between them, it is the same file to the byte as the one laid out whole.
TEST(UndoFile, AFileWrittenAsItsSectorsComeInIsTheFileLaidOutWhole) {
  testsupport::TempDir dir;
  std::vector<uint8_t> held(7000 * 512);
  for (size_t i = 0; i < held.size(); ++i) {
    const bool zeros = (i / 512) % 1000 >= 900;
    held[i] = zeros ? 0 : static_cast<uint8_t>(i % 251 + 1);
  }
  const std::vector<tool::KeptRun> runs = {{63, 4000, held.data()},
                                           {9000, 1, held.data() + 4000 * 512},
                                           {20000, 2999, held.data() + 4001 * 512}};
  tool::UndoHeader header;
  header.sectors = 100000;
  uint32_t records = 0, sectors = 0;
  const std::vector<uint8_t> whole = tool::EncodeUndoFile(header, runs, &records, &sectors);
  ASSERT_GT(whole.size(), 3u << 20);
  tool::UndoContents contents;
  std::string why;
  ASSERT_TRUE(tool::ParseUndoFile(whole, &contents, &why)) << why;
  EXPECT_TRUE(contents.closed);
  EXPECT_EQ(7000u, contents.Sectors());

  const std::string path = dir.File("u.undo");
  tool::UndoFile file;
  std::string error;
  ASSERT_TRUE(tool::CreateUndoFile(path, &file, &error)) << error;
  const tool::UndoFileLayout layout =
      tool::LayOutUndoFile(header, runs, nullptr, [&](const tool::LaidOutRecord& record) {
        return tool::AddLaidOutRecord(&file, record, &error);
      });
  ASSERT_TRUE(layout.complete) << error;
  ASSERT_TRUE(tool::CompleteUndoFile(&file, layout, &error)) << error;
  tool::CloseUndoFile(&file);
  EXPECT_TRUE(testsupport::ReadFile(path) == std::string(whole.begin(), whole.end()));
}
