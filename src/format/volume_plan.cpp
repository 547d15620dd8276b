#include "format/volume_plan.h"

#include "common/little_endian.h"
#include "disk/card_disk.h"
#include "format/fat_layout.h"
#include "format/volume_layout.h"

namespace {

void AddRun(VolumePlan* plan, uint32_t first, uint32_t count) {
  plan->runs[plan->runCount].first = first;
  plan->runs[plan->runCount].count = count;
  ++plan->runCount;
}

}  // namespace

// The fields are read back from the boot sector image the writers build,
// as the writers read them to place the FATs and the root directory.
int PlanNewVolume(const CardDisk& disk, const PartitionEntry& entry, VolumePlan* plan) {
  *plan = VolumePlan();
  switch (entry.type) {
    case kPartitionTypeFat16Small:
    case kPartitionTypeFat16:
    case kPartitionTypeFat16Lba:
      plan->fat32 = 0;
      break;
    case kPartitionTypeFat32:
    case kPartitionTypeFat32Lba:
      plan->fat32 = 1;
      break;
    default:
      return -1;
  }
  if (disk.logicalHeads <= 0 || disk.logicalSectors <= 0) return -1;
  VolumeParameters volume;
  if (!PlanVolume(entry.start, entry.end, disk.logicalHeads, disk.logicalSectors,
                  plan->fat32 ? Fat32ClusterTable : Fat16ClusterTable,
                  plan->fat32 ? Fat32FatSectors : Fat16FatSectors, &volume)) {
    return -1;
  }
  uint8_t boot[fat::kFat32BootRegionSectors * fat::kSectorBytes] = {};
  if (plan->fat32) {
    BuildFat32BootRegion(volume, boot);
  } else {
    BuildFat16BootSector(volume, boot);
  }
  plan->startLba = GetLe32(boot + fat::kHiddenSectorsOffset);
  plan->totalSectors = GetLe32(boot + fat::kTotalSectors32Offset);
  if (plan->totalSectors == 0) plan->totalSectors = GetLe16(boot + fat::kTotalSectors16Offset);
  plan->sectorsPerCluster = boot[fat::kSectorsPerClusterOffset];
  plan->reservedSectors = GetLe16(boot + fat::kReservedSectorsOffset);
  plan->rootEntries = GetLe16(boot + fat::kRootEntriesOffset);
  const uint32_t firstFat = plan->startLba + plan->reservedSectors;
  if (plan->fat32) {
    plan->fatSectors = GetLe32(boot + fat::kFat32FatSectorsOffset);
    const uint32_t data = plan->reservedSectors + fat::kFatCount * plan->fatSectors;
    plan->clusters = (plan->totalSectors - data) / plan->sectorsPerCluster;
    AddRun(plan, plan->startLba, fat::kFat32BootRegionSectors);
    AddRun(plan, plan->startLba + GetLe16(boot + fat::kFat32BackupBootOffset),
           fat::kFat32BootRegionSectors);
    AddRun(plan, firstFat, fat::kFatCount * plan->fatSectors + plan->sectorsPerCluster);
  } else {
    plan->fatSectors = GetLe16(boot + fat::kFatSectors16Offset);
    plan->clusters = Fat16Clusters(plan->totalSectors, plan->sectorsPerCluster, plan->fatSectors);
    AddRun(plan, plan->startLba, 1);
    AddRun(plan, firstFat, fat::kFatCount * plan->fatSectors + fat::kFat16RootSectors);
  }
  AddRun(plan, 0, 1);
  return 0;
}
