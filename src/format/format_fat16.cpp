// The FAT16 volume writer: boot sector, two FATs and a 32-sector root
// directory; the data area is left as it was (a quick format).
#include <cstdint>

#include "common/little_endian.h"
#include "disk/card_disk.h"
#include "format/fat_layout.h"
#include "format/sector_run.h"
#include "format/volume_layout.h"

namespace {

// Clears the buffer and puts the two reserved FAT16 entries at its start.
void PrepareFat16Sector(FormatBuffer* buffer) {
  buffer->Clear();
  PutLe16(buffer->data, fat::kFat16Entry0);
  PutLe16(buffer->data + 2, fat::kFat16Entry1);
}

// Both FAT copies and the root directory, from the boot sector image.
int WriteFat16Tables(const CardDisk& disk, const uint8_t* boot, FormatBuffer* buffer) {
  const uint32_t startLba = GetLe32(boot + fat::kHiddenSectorsOffset);
  const uint32_t fatSectors = GetLe16(boot + fat::kFatSectors16Offset);
  const uint32_t firstFat = startLba + GetLe16(boot + fat::kReservedSectorsOffset);

  return WriteFatsAndRoot(disk, buffer, PrepareFat16Sector, firstFat, fatSectors,
                          fat::kFat16RootSectors);
}

}  // namespace

int CardDisk::FormatFat16(const PartitionEntry* entry) {
  if (entry == nullptr || logicalHeads <= 0 || logicalSectors <= 0) return -1;

  VolumeParameters volume;
  if (!PlanVolume(entry->start, entry->end, logicalHeads, logicalSectors, Fat16ClusterTable,
                  Fat16FatSectors, &volume)) {
    return -1;
  }
  volume.serialNumber = VolumeSerialFromClock();

  uint8_t boot[fat::kSectorBytes];
  BuildFat16BootSector(volume, boot);
  if (WriteSectorsAt(*this, volume.startLba, 1, boot) != 0) return -1;

  FormatBuffer buffer = {};
  if (buffer.Obtain(GetLe16(boot + fat::kBytesPerSectorOffset)) != 0) return -1;
  const int result = WriteFat16Tables(*this, boot, &buffer);
  buffer.Release();
  return result;
}
