// The FAT32 volume writer: the three-sector boot region and its backup, two
// FATs and the root directory's one cluster; the data area is left as it was
// (a quick format).
#include <cstdint>

#include "common/little_endian.h"
#include "disk/card_disk.h"
#include "format/fat_layout.h"
#include "format/sector_run.h"
#include "format/volume_layout.h"

namespace {

// Clears the buffer and puts FAT entries 0 and 1 and the end-of-chain mark
// of the root directory's cluster 2 at its start.
void PrepareFat32Sector(FormatBuffer* buffer) {
  buffer->Clear();
  PutLe32(buffer->data, fat::kFat32Entry0);
  PutLe32(buffer->data + 4, fat::kFat32Entry1);
  PutLe32(buffer->data + 8, fat::kFat32EndOfChain);
}

// Both FAT copies and the root directory cluster, from the boot sector image.
int WriteFat32Tables(const CardDisk& disk, const uint8_t* boot, FormatBuffer* buffer) {
  const uint32_t startLba = GetLe32(boot + fat::kHiddenSectorsOffset);
  const uint32_t fatSectors = GetLe32(boot + fat::kFat32FatSectorsOffset);
  const uint32_t firstFat = startLba + GetLe16(boot + fat::kReservedSectorsOffset);
  const uint32_t sectorsPerCluster = boot[fat::kSectorsPerClusterOffset];

  return WriteFatsAndRoot(disk, buffer, PrepareFat32Sector, firstFat, fatSectors,
                          sectorsPerCluster);
}

}  // namespace

// The same steps as FormatFat16, in the same order, on purpose: plan, stamp
// the serial, write the boot region, then the tables from one buffer. What
// differs is the region (three sectors, written again at the backup place)
// and the tables that follow it, so each writer keeps its own sequence.
int CardDisk::FormatFat32(const PartitionEntry* entry) {
  if (entry == nullptr || logicalHeads <= 0 || logicalSectors <= 0) return -1;

  VolumeParameters volume;
  if (!PlanVolume(entry->start, entry->end, logicalHeads, logicalSectors, Fat32ClusterTable,
                  Fat32FatSectors, &volume)) {
    return -1;
  }
  volume.serialNumber = VolumeSerialFromClock();

  uint8_t region[fat::kFat32BootRegionSectors * fat::kSectorBytes];
  BuildFat32BootRegion(volume, region);
  if (WriteSectorsAt(*this, volume.startLba, fat::kFat32BootRegionSectors, region) != 0) {
    return -1;
  }
  const uint32_t backup = GetLe16(region + fat::kFat32BackupBootOffset);
  if (WriteSectorsAt(*this, volume.startLba + backup, fat::kFat32BootRegionSectors, region) != 0) {
    return -1;
  }

  FormatBuffer buffer = {};
  if (buffer.Obtain(GetLe16(region + fat::kBytesPerSectorOffset)) != 0) return -1;
  const int result = WriteFat32Tables(*this, region, &buffer);
  buffer.Release();
  return result;
}
