#include "app/card_report.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "app/run_utility.h"
#include "device/disk_channel.h"
#include "discovery/card_device_table.h"
#include "discovery/drive_letter_map.h"
#include "disk/card_disk.h"

namespace {

const int kListingRoom = 8;

void CopyText(char* destination, size_t size, const char* source) {
  std::snprintf(destination, size, "%s", source);
}

// One entry as ShowPartitionTable prints it.
void Report(const PartitionEntry& entry, ReportedPartition* out) {
  *out = ReportedPartition();
  out->type = entry.type;
  CopyText(out->typeName, sizeof out->typeName, PartitionList::TypeName(&entry));
  out->startCylinder = ChsCylinder(entry.start);
  out->startHead = ChsHead(entry.start);
  out->startSector = ChsSector(entry.start);
  out->endCylinder = ChsCylinder(entry.end);
  out->endHead = ChsHead(entry.end);
  out->endSector = ChsSector(entry.end);
  out->sizeMb = entry.sizeMb;
  const bool shown = entry.system[0] != 0 || entry.kind == kKindExtended;
  CopyText(out->system, sizeof out->system, shown ? entry.system : "UNKNOWN");
  CopyText(out->label, sizeof out->label, entry.label);
  out->planned = entry.isNew;
}

void ReportDisk(CardDisk& disk, CardReport* report) {
  *report = CardReport();
  report->physicalCylinders = disk.physicalCylinders;
  report->physicalHeads = disk.physicalHeads;
  report->physicalSectors = disk.physicalSectors;
  report->logicalCylinders = disk.logicalCylinders;
  report->logicalHeads = disk.logicalHeads;
  report->logicalSectors = disk.logicalSectors;
  CopyText(report->model, sizeof report->model, disk.model);
  CopyText(report->serialNumber, sizeof report->serialNumber, disk.serialNumber);
  PartitionEntry* list[PartitionList::kSlots];
  int count = disk.ListPartitions(0, list);
  if (count > kListingRoom) count = kListingRoom;
  for (int i = 0; i < count; ++i) Report(*list[i], &report->partitions[i]);
  report->partitionCount = count;
}

// The card the start-up would take: the one PC Card with I/O ports.
const CardDeviceRecord* OneCard(const char** refusal) {
  const CardDeviceRecord* found = nullptr;
  for (int i = 0; i < theCardDeviceTable.recordCount; ++i) {
    if (theCardDeviceTable.records[i].isPcCard != 1) continue;
    if (found != nullptr) {
      *refusal = "PC Card HDD not only one!";
      return nullptr;
    }
    found = &theCardDeviceTable.records[i];
  }
  if (found == nullptr) *refusal = "PC Card HDD not exist!";
  if (found != nullptr && found->hasIoPorts != 1) {
    *refusal = "Resource of PC Card is not I/O!";
    return nullptr;
  }
  return found;
}

}  // namespace

const char* SurveyCard(CardReport* report) {
  *report = CardReport();
  theDiskChannel.Open();
  theCardDeviceTable.Scan();
  const char* refusal = nullptr;
  const CardDeviceRecord* record = OneCard(&refusal);
  if (record == nullptr) {
    theDiskChannel.Close();
    return refusal;
  }
  DriveLetterMap letters = theDriveLetterMap;
  letters.MarkUsed(theCardDeviceTable);
  CardDisk* disk = new (std::nothrow) CardDisk;
  refusal = "PC Card HDD access error!";
  if (disk != nullptr) {
    disk->partitions = nullptr;
    // The table is read as ReadPartitionTable reads it, without the volume
    // lock that start-up takes before it: nothing here writes.
    if (disk->Open(*record, letters, 0) != nullptr &&
        disk->ReadTableSector(MakePackedChs(0, 0, 1)) == 0) {
      ReportDisk(*disk, report);
      refusal = nullptr;
    }
    disk->Destroy();
    delete disk;
  }
  theDiskChannel.Close();
  return refusal;
}

bool ReportOpenedCard(CardReport* report) {
  if (theCardDisk == nullptr || theCardDisk->partitions == nullptr) return false;
  ReportDisk(*theCardDisk, report);
  return true;
}

bool ReportPlan(ReportedPartition* partition, VolumePlan* volume) {
  if (theCardDisk == nullptr || theCardDisk->partitions == nullptr) return false;
  PartitionEntry* list[PartitionList::kSlots];
  int count = theCardDisk->ListPartitions(0, list);
  for (int i = 0; i < count; ++i) {
    if (list[i]->isNew == 0 || list[i]->kind != kKindPrimary) continue;
    Report(*list[i], partition);
    return PlanNewVolume(*theCardDisk, *list[i], volume) == 0;
  }
  return false;
}
