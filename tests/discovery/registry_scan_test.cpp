#include <gtest/gtest.h>

#include "discovery/card_device_table.h"
#include "host/host.h"
#include "host/testing.h"
#include "scan_expectations.h"

namespace {

using discoverytest::ExpectRecords;
using discoverytest::Fixture;
using discoverytest::LoadFile;
using discoverytest::LoadText;
using discoverytest::ScanInto;
using discoverytest::Scribble;

// Scans the fixture's registry into a table scribbled over first.
void ScanFixture(const char* name, CardDeviceTable* table) {
  LoadFile(Fixture(name));
  Scribble(table);
  ASSERT_EQ(ScanInto(table), 0);
}

TEST(RegistryScan, RecordsFixedDisksAndCdRomsWithoutACard) {
  CardDeviceTable table;
  ASSERT_NO_FATAL_FAILURE(ScanFixture("no-pc-card.reg", &table));
  // Passed over without a record: the controller, the lower-case class, the
  // missing class, the missing hardware tree key and the missing hardware key.
  ExpectRecords(table, {{"C", 0, "", 0, 0, 0},
                        {"D", 0, "", 0, 0, 0},
                        {"FG", 0, "", 0, 0, 0},
                        {"H", 0, "", 0, 0, 0},
                        {"I", 0, "", 0, 0, 0},
                        {"J", 0, "", 0, 0, 0},
                        {"K", 0, "", 0, 0, 0},
                        {"L", 0, "", 0, 0, 0}});
  EXPECT_EQ(table.FindByName(""), -1);
}

TEST(RegistryScan, RecordsPcCardDisksAndCdRomsWithTheirCardsPorts) {
  CardDeviceTable table;
  ASSERT_NO_FATAL_FAILURE(ScanFixture("pc-cards.reg", &table));
  ExpectRecords(table, {
                           // The fixed disk's parent devnode does not exist.
                           {"C", 0, "", 0, 0, 0},
                           // A CD-ROM on a card counts as a card; one 16-port range.
                           {"E", 1, "HERON", 1, 0x140, 0x14E},
                           // Unpartitioned: no letters, not the CD-ROM's. The name
                           // keeps the backslash before the instance.
                           {"", 1, "PLOVERDISK\\", 1, 0x1F0, 0x3F6},
                           // Four ports: no ATA registers; the range stays as read.
                           {"G", 1, "SNIPE", 0, 0x140, 0x143},
                           // Parent number 0x00000a10, looked up as "00000a10".
                           {"H", 1, "Stint", 1, 0x180, 0x18E},
                       });
}

// As RecordsPcCardDisksAndCdRomsWithTheirCardsPorts above: each fixture's
// records listed in full, so that a record out of place shows.
TEST(RegistryScan, FindsTheCardOfADevnodeWithoutParentByItsHardwareKey) {
  CardDeviceTable table;
  ASSERT_NO_FATAL_FAILURE(ScanFixture("no-parent.reg", &table));
  ExpectRecords(table, {
                           {"E", 1, "WREN", 1, 0x170, 0x376},
                           // The card devnode has instance 2: only 0 and 1 are tried.
                           {"F", 0, "", 0, 0, 0},
                           // Instance 0, found; the card has no "Allocation".
                           {"G", 1, "TernDisk\\", 0, 0, 0},
                           // One '&' after the enumerator: the key runs to its end.
                           {"H", 1, "ODD", 1, 0x180, 0x18E},
                       });
}

TEST(RegistryScan, RescanStartsEveryRecordAfresh) {
  CardDeviceTable table;
  LoadFile(Fixture("pc-cards.reg"));
  ASSERT_EQ(ScanInto(&table), 0);
  ASSERT_EQ(table.records[1].hasIoPorts, 1);
  LoadFile(Fixture("no-pc-card.reg"));
  ASSERT_EQ(ScanInto(&table), 0);
  ASSERT_EQ(table.recordCount, 8);
  for (int i = 0; i < table.recordCount; ++i) {
    EXPECT_EQ(table.records[i].hasIoPorts, 0) << "record " << i;
  }
}

TEST(RegistryScan, MachineWithoutDeviceTreeLeavesTheTableEmpty) {
  LoadText(
      "REGEDIT4\n\n"
      "[HKEY_LOCAL_MACHINE\\Enum\\ESDI\\DISK\\0]\n"
      "\"Class\"=\"DiskDrive\"\n"
      "[HKEY_DYN_DATA\\Config Manager\\Other]\n");
  CardDeviceTable table;
  Scribble(&table);
  EXPECT_EQ(ScanInto(&table), -1);
  EXPECT_EQ(table.recordCount, 0);

  int ioBase = 1;
  int controlPort = 2;
  char name[100] = "unchanged";
  EXPECT_EQ(table.FindCardByHardwareKey("PCMCIA\\DISK\\", &ioBase, &controlPort, name), -1);
  EXPECT_EQ(host::OpenKeyCount(), 0);
}

TEST(RegistryScan, StepResultsForDiskEntriesAndParentCards) {
  LoadFile(Fixture("no-pc-card.reg"));
  CardDeviceTable table;
  std::memset(&table, 0, sizeof table);

  char letters[32] = "stale";
  EXPECT_EQ(table.ReadDiskEntry("ESDI\\SECOND_DISK\\0", letters), 1);
  EXPECT_STREQ(letters, "FG");
  EXPECT_EQ(table.ReadDiskEntry("SCSI\\ZIP_DRIVE\\0", letters), 0);
  EXPECT_EQ(table.ReadDiskEntry("ESDI\\NO_SUCH_DISK\\0", letters), 0);
  EXPECT_EQ(table.ReadDiskEntry("SCSI\\TAPE_DRIVE\\0", letters), -1);
  EXPECT_EQ(table.ReadDiskEntry("PCMCIA\\LOWER_CF-0000\\1", letters), 0);

  int ioBase = 0;
  int controlPort = 0;
  char name[100] = "";
  // A devnode without a hardware key, one whose key has no backslash, and
  // one that does not exist.
  EXPECT_EQ(table.ReadParentCard("c0000700", &ioBase, &controlPort, name), -1);
  EXPECT_EQ(table.ReadParentCard("c1000900", &ioBase, &controlPort, name), 0);
  EXPECT_EQ(table.ReadParentCard("c0dead00", &ioBase, &controlPort, name), 0);
  EXPECT_EQ(table.ReadParentCard("c1000a00", &ioBase, &controlPort, name), 0);
  EXPECT_EQ(table.ReadParentCard("c1000b00", &ioBase, &controlPort, name), 0);
  EXPECT_EQ(ioBase, 0);
  EXPECT_STREQ(name, "");

  EXPECT_EQ(table.ReadParentCard("c1000c00", &ioBase, &controlPort, name), 1);
  EXPECT_EQ(ioBase, 0x140);
  EXPECT_EQ(controlPort, 0x14E);
  EXPECT_STREQ(name, "LOWER");
  EXPECT_EQ(table.records[0].hasIoPorts, 1);

  // Exact case, whole length: neither a lower-case key nor a longer one matches.
  EXPECT_EQ(table.FindCardByHardwareKey("Pcmcia\\LOWER_CF-0000\\", &ioBase, &controlPort, name), 0);
  EXPECT_EQ(table.FindCardByHardwareKey("PCMCIA\\LOWER_CF-000", &ioBase, &controlPort, name), 0);
  EXPECT_EQ(table.FindCardByHardwareKey("PCMCIA\\LOWER_CF-0000\\", &ioBase, &controlPort, name), 1);
  EXPECT_EQ(host::OpenKeyCount(), 0);
}

}  // namespace
