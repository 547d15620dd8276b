// Helpers for the scan tests: loading a machine and comparing records.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "discovery/card_device_table.h"
#include "host/host.h"
#include "host/testing.h"

namespace discoverytest {

struct Expected {
  const char* driveLetters;
  int isPcCard;
  const char* cardName;
  int hasIoPorts;
  int ioBase;
  int controlPort;
};

inline void LoadFile(const std::string& path) {
  std::string error;
  ASSERT_TRUE(host::LoadMachineFile(path, &error)) << error;
}

inline void LoadText(const std::string& text) {
  std::string error;
  ASSERT_TRUE(host::LoadMachineText(text, "generated", &error)) << error;
}

inline std::string Fixture(const std::string& name) {
  return std::string(DUNMORE_TESTS_DIR) + "/fixtures/registry/" + name;
}

// Scans the loaded machine into table; every key the scan opened must be
// closed again.
inline int ScanInto(CardDeviceTable* table) {
  int result = table->Scan();
  EXPECT_EQ(host::OpenKeyCount(), 0) << "registry keys left open by the scan";
  return result;
}

// Field by field, as sat_identify_test.cpp checks an identity: other records.
inline void ExpectRecord(const CardDeviceRecord& record, const Expected& expected, int index) {
  SCOPED_TRACE("record " + std::to_string(index));
  EXPECT_STREQ(record.driveLetters, expected.driveLetters);
  EXPECT_EQ(record.isPcCard, expected.isPcCard);
  EXPECT_STREQ(record.cardName, expected.cardName);
  EXPECT_EQ(record.hasIoPorts, expected.hasIoPorts);
  EXPECT_EQ(record.ioBase, expected.ioBase);
  EXPECT_EQ(record.controlPort, expected.controlPort);
}

inline void ExpectRecords(const CardDeviceTable& table, std::initializer_list<Expected> expected) {
  ASSERT_EQ(table.recordCount, static_cast<int>(expected.size()));
  int index = 0;
  for (const Expected& record : expected) {
    ExpectRecord(table.records[index], record, index);
    ++index;
  }
}

// A table whose every byte is garbage, so that the scan must set every field
// it relies on.
inline void Scribble(CardDeviceTable* table) {
  std::memset(table, 0x5A, sizeof *table);
  for (CardDeviceRecord& record : table->records) {
    record.cardName[sizeof record.cardName - 1] = '\0';
    record.driveLetters[sizeof record.driveLetters - 1] = '\0';
  }
  table->recordCount = 7;
}

}  // namespace discoverytest
