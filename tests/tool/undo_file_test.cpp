// The undo file read back as a crash leaves it, and the order a restore
// writes it in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tool/undo/restore_plan.h"
#include "tool/undo/undo_format.h"

namespace {

std::vector<uint8_t> Sectors(uint32_t count, uint8_t fill) {
  return std::vector<uint8_t>(count * 512, fill);
}

// A header and three records (32: 1 sector, 33: 2 sectors, 0: 1 sector),
// closed or not; where each record ends.
std::vector<uint8_t> File(bool closed, std::vector<size_t>* ends) {
  tool::UndoHeader header;
  header.sectors = 1000;
  header.serialNumber = "KS1";
  std::vector<uint8_t> file = tool::EncodeUndoHeader(header);
  const struct { uint32_t first, count; } records[] = {{32, 1}, {33, 2}, {0, 1}};
  for (const auto& r : records) {
    std::vector<uint8_t> data = Sectors(r.count, static_cast<uint8_t>(r.first + 1));
    std::vector<uint8_t> bytes = tool::EncodeUndoRecord(r.first, r.count, data.data());
    file.insert(file.end(), bytes.begin(), bytes.end());
    ends->push_back(file.size());
  }
  if (closed) {
    std::vector<uint8_t> bytes = tool::EncodeClosingRecord(3, 4);
    file.insert(file.end(), bytes.begin(), bytes.end());
  }
  return file;
}

}  // namespace

TEST(UndoFile, AFileCutAnywhereKeepsEveryWholeRecordAndADamagedOneIsRefused) {
  std::vector<size_t> ends;
  const std::vector<uint8_t> whole = File(true, &ends);
  std::vector<size_t> unused;
  const std::vector<uint8_t> open = File(false, &unused);
  std::vector<uint8_t> lastTorn = open;
  lastTorn[ends[1] + 12 + 7] ^= 0xFF;  // the last record's data, as a crash left it
  std::vector<uint8_t> middleTorn = whole;
  middleTorn[ends[0] + 12 + 7] ^= 0xFF;
  std::vector<uint8_t> lastTornClosed = whole;
  lastTornClosed[ends[1] + 12 + 7] ^= 0xFF;
  std::vector<uint8_t> miscounted = open;
  const std::vector<uint8_t> closing = tool::EncodeClosingRecord(2, 4);
  miscounted.insert(miscounted.end(), closing.begin(), closing.end());

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
      {"the last record torn, not closed", lastTorn, 2, false, ""},
      {"a middle record damaged", middleTorn, -1, false, "record 2 (byte 640) is damaged"},
      {"the last record damaged, closed", lastTornClosed, -1, false, "record 3"},
      {"a closing record that miscounts", miscounted, -1, false, "counts other records"},
      {"no header", std::vector<uint8_t>(whole.begin() + 8, whole.end()), -1, false,
       "not an undo file"},
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
        EXPECT_EQ(Sectors(record.count, static_cast<uint8_t>(record.first + 1)), record.data);
      }
    } else {
      EXPECT_NE(std::string::npos, why.find(file.said)) << why;
    }
  }
}

TEST(UndoFile, ARestoreGoesBackwardsWithTheMbrLastAndTheEarliestDataWinning) {
  tool::UndoContents contents;
  // The MBR's sector kept with its neighbour, then sector 5 written twice.
  const struct {
    uint32_t first, count;
    uint8_t fill;
  } records[] = {{0, 2, 0xA0}, {5, 1, 0xB0}, {4, 3, 0xC0}};
  for (const auto& r : records) {
    tool::UndoRecord record;
    record.first = r.first;
    record.count = r.count;
    record.data = Sectors(r.count, r.fill);
    contents.records.push_back(record);
  }
  std::vector<tool::RestoreWrite> writes = tool::RestoreWrites(contents);
  std::vector<std::string> order;
  for (const tool::RestoreWrite& w : writes) {
    order.push_back(std::to_string(w.first) + "+" + std::to_string(w.count) + ":" +
                    std::to_string(w.data[0]));
  }
  // Reversed; sector 5 gets what it held first (0xB0) as its last write;
  // sector 1 of the first record goes alone, sector 0 at the very end.
  EXPECT_EQ((std::vector<std::string>{"4+3:192", "5+1:176", "1+1:160", "0+1:160"}), order);
  EXPECT_EQ("0-1, 4-6", tool::CoveredSectors(contents.records, 8));
}
