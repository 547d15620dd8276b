// Finding the one card, opening it and reading its partition table.
#include <new>

#include "app/run_utility.h"
#include "console/console_screen.h"
#include "device/disk_channel.h"
#include "discovery/card_device_table.h"
#include "discovery/drive_letter_map.h"
#include "disk/card_disk.h"

namespace {

// Windows 95 OSR2 (build 1111) is the first build that can hold FAT32.
const unsigned kFirstFat32Build = 1111;

const char kPreferredCardName[] = "KESTREL";

int CountPcCards(const CardDeviceTable& table) {
  int count = 0;
  for (int i = 0; i < table.recordCount; ++i) {
    if (table.records[i].isPcCard == 1) ++count;
  }
  return count;
}

// Singles one card out of several; -1 when none can be.
int SingleOut(CardDeviceTable& table) {
  int index = table.FindByName(kPreferredCardName);
  if (index >= 0) {
    if (table.IsDistinct(index) != 0) return -1;
    table.Select(index);
    return index;
  }
  for (int i = 0; i < table.recordCount; ++i) {
    if (table.records[i].isPcCard == 1 && table.IsDistinct(i) == 0) {
      table.Select(i);
      return i;
    }
  }
  return -1;
}

CardDeviceRecord* FirstPcCard(CardDeviceTable& table) {
  for (int i = 0; i < table.recordCount; ++i) {
    if (table.records[i].isPcCard == 1) return &table.records[i];
  }
  return nullptr;
}

}  // namespace

int ApplyLargeDiskRule(const CardDisk& disk, unsigned build) {
  const int64_t total =
      static_cast<int64_t>(disk.physicalCylinders) * disk.physicalHeads * disk.physicalSectors;
  if (build < kFirstFat32Build) {
    if (total > kFat16Limit) return -1;
    LargeDiskFlag = 0;
  } else {
    LargeDiskFlag = total > kFat16Limit ? 1 : 0;
  }
  return 0;
}

int CardStartUp() {
  theDiskChannel.Open();
  theCardDeviceTable.Scan();

  int cards = CountPcCards(theCardDeviceTable);
  if (theCardDeviceTable.recordCount == 0 || cards == 0) return FailWith("PC Card HDD not exist!");
  if (cards >= 2) {
    int chosen = SingleOut(theCardDeviceTable);
    if (chosen < 0) return FailWith("PC Card HDD not only one!");
  }
  // The card's ports are programmed from this record, so a card singled out
  // among several is held to the same test as a lone one.
  CardDeviceRecord* record = FirstPcCard(theCardDeviceTable);
  if (record->hasIoPorts != 1) return FailWith("Resource of PC Card is not I/O!");

  theDriveLetterMap.MarkUsed(theCardDeviceTable);
  theChosenRecord = record;

  theConsole.ClearRows(14, 15);
  theConsole.PrintAt(20, 15, "Reading  PC Card HDD partition info.");
  Sleep(200);

  CardDisk* disk = new (std::nothrow) CardDisk;
  if (disk == nullptr) {
    theConsole.ClearRows(15, 15);
    return FailWith("PC Card HDD access error!");
  }
  disk->partitions = nullptr;
  theCardDisk = disk;
  // A card whose identity cannot be read, or whose geometry cannot be
  // addressed, is refused here, before any conversion and any write.
  if (disk->Open(*theChosenRecord, theDriveLetterMap, LargeDiskFlag) == nullptr) {
    theConsole.ClearRows(15, 15);
    return FailWith("PC Card HDD access error!");
  }

  if (ApplyLargeDiskRule(*disk, BuildNumber(theVersionInfo)) != 0) {
    theConsole.ClearRows(15, 15);
    return FailWith("Windows95 is to 2GB.");
  }

  int result = disk->ReadPartitionTable();
  theConsole.ClearRows(15, 15);
  if (result == 0) return 0;
  if (result == kVolumeLockRefused) return FailWith("PC Card HDD used other!");
  return FailWith("PC Card HDD access error!");
}
