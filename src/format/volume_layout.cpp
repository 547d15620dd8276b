#include "format/volume_layout.h"

#include <cstring>

#include "common/little_endian.h"
#include "disk/raw_partition_entry.h"
#include "format/fat_layout.h"

// Sizes up to 8400 sectors are too small for FAT16 (fewer than 4085 clusters
// would make it FAT12); above 4,194,304 sectors (2 GB) even 64-sector clusters
// would pass the 65524 clusters a FAT16 volume can hold.
const ClusterTableRow Fat16ClusterTable[] = {
    {8400, 0},     {32680, 2},    {262144, 4},   {524288, 8},
    {1048576, 16}, {2097152, 32}, {4194304, 64}, {0xFFFFFFFF, 0},
};

// Sizes up to 66600 sectors would give fewer than 65525 clusters, which is
// not a FAT32 volume; every larger size has a row.
const ClusterTableRow Fat32ClusterTable[] = {
    {66600, 0}, {532480, 1}, {16777216, 8}, {33554432, 16}, {67108864, 32}, {0xFFFFFFFF, 64},
};

uint8_t LookUpSectorsPerCluster(const ClusterTableRow* table, uint32_t totalSectors) {
  const ClusterTableRow* row = table;
  while (row->sizeLimit < totalSectors) ++row;
  return row->sectorsPerCluster;
}

uint32_t VolumeStartLba(PackedChs start, int32_t heads, int32_t sectorsPerTrack) {
  const uint32_t cylinder = static_cast<uint32_t>(ChsCylinder(start));
  return (cylinder * static_cast<uint32_t>(heads) + 1) * static_cast<uint32_t>(sectorsPerTrack);
}

uint32_t VolumeTotalSectors(PackedChs end, uint32_t startLba, int32_t heads,
                            int32_t sectorsPerTrack) {
  const uint32_t cylinder = static_cast<uint32_t>(ChsCylinder(end));
  const uint32_t head = static_cast<uint32_t>(ChsHead(end));
  const uint32_t sector = static_cast<uint32_t>(ChsSector(end));
  return (cylinder * static_cast<uint32_t>(heads) + head) * static_cast<uint32_t>(sectorsPerTrack) +
         sector - startLba;
}

// The clusters of a FAT16 volume: what is left beside the boot sector, both
// FATs and the 32 root directory sectors, in whole clusters.
uint32_t Fat16Clusters(uint32_t totalSectors, uint32_t sectorsPerCluster, uint32_t fatSectors) {
  const uint32_t fixed = fat::kFat16ReservedSectors + fat::kFat16RootSectors;
  return (totalSectors - fixed - fat::kFatCount * fatSectors) / sectorsPerCluster;
}

// The smallest FAT that holds an entry for every cluster beside it. A FAT16
// sector holds 256 entries, the first two of which describe no cluster, and
// each FAT sector costs one sector in each of the two copies: F sectors
// suffice when (T - 33 - 2F) / spc < 256F - 1, that is
// F = ceil((T - 32 + spc) / (256 x spc + 2)). This is the reckoning
// ceil((T - 33) / (256 x spc + 2)) wherever that is already enough, and one
// sector more where it would leave the last cluster without an entry (a
// 988 x 16 x 63 card among them).
//
// At the top of the 64-sector band that FAT leaves up to 65,527 clusters,
// and a volume of 65,525 clusters or more is read as FAT32 by every reader
// that follows the FAT standard: there the FAT grows, a sector at a time,
// until at most 65,524 clusters remain. The volume still fills its partition
// and keeps its cluster size.
uint32_t Fat16FatSectors(uint32_t totalSectors, uint32_t sectorsPerCluster) {
  const uint32_t perSector = 256 * sectorsPerCluster + fat::kFatCount;
  const uint32_t ahead = fat::kFat16ReservedSectors + fat::kFat16RootSectors;
  uint32_t fatSectors = (totalSectors + sectorsPerCluster + perSector - ahead) / perSector;
  while (Fat16Clusters(totalSectors, sectorsPerCluster, fatSectors) > fat::kFat16MaxClusters) {
    ++fatSectors;
  }
  return fatSectors;
}

// A FAT32 sector holds 128 entries; with 32 reserved sectors and no fixed
// root directory the same reckoning gives ceil((T - 32) / (128 x spc + 1)).
uint32_t Fat32FatSectors(uint32_t totalSectors, uint32_t sectorsPerCluster) {
  const uint32_t perSector = 128 * sectorsPerCluster;
  return (totalSectors + perSector - fat::kFat32ReservedSectors) / (perSector + 1);
}

namespace {

// The fields that both boot sector kinds share, up to the hidden sectors.
void StoreCommonFields(const VolumeParameters& volume, uint8_t* image) {
  std::memcpy(image + fat::kJumpOffset, fat::kJump, sizeof fat::kJump);
  std::memcpy(image + fat::kOemNameOffset, fat::kOemName, fat::kOemNameLength);
  PutLe16(image + fat::kBytesPerSectorOffset, fat::kSectorBytes);
  image[fat::kSectorsPerClusterOffset] = static_cast<uint8_t>(volume.sectorsPerCluster);
  image[fat::kFatCountOffset] = fat::kFatCount;
  image[fat::kMediaOffset] = fat::kMediaFixedDisk;
  PutLe16(image + fat::kSectorsPerTrackOffset, volume.sectorsPerTrack);
  PutLe16(image + fat::kHeadsOffset, volume.heads);
  PutLe32(image + fat::kHiddenSectorsOffset, volume.startLba);
  image[kBootSignatureOffset] = kBootSignatureLow;
  image[kBootSignatureOffset + 1] = kBootSignatureHigh;
}

}  // namespace

void BuildFat16BootSector(const VolumeParameters& volume, uint8_t* image) {
  std::memset(image, 0, fat::kSectorBytes);
  StoreCommonFields(volume, image);
  PutLe16(image + fat::kReservedSectorsOffset, fat::kFat16ReservedSectors);
  PutLe16(image + fat::kRootEntriesOffset, fat::kFat16RootEntries);
  if (volume.totalSectors < 0x10000) {
    PutLe16(image + fat::kTotalSectors16Offset, volume.totalSectors);
  } else {
    PutLe32(image + fat::kTotalSectors32Offset, volume.totalSectors);
  }
  PutLe16(image + fat::kFatSectors16Offset, volume.fatSectors);
  image[fat::kFat16DriveNumberOffset] = fat::kDriveNumberFixedDisk;
  image[fat::kFat16ExtendedSignatureOffset] = fat::kExtendedBootSignature;
  PutLe32(image + fat::kFat16SerialOffset, volume.serialNumber);
  std::memcpy(image + fat::kFat16LabelOffset, fat::kNoLabel, fat::kLabelLength);
  std::memcpy(image + fat::kFat16SystemOffset, fat::kFat16System, fat::kSystemLength);
}

void BuildFat32BootRegion(const VolumeParameters& volume, uint8_t* image) {
  std::memset(image, 0, fat::kFat32BootRegionSectors * fat::kSectorBytes);

  uint8_t* boot = image;
  StoreCommonFields(volume, boot);
  PutLe16(boot + fat::kReservedSectorsOffset, fat::kFat32ReservedSectors);
  PutLe32(boot + fat::kTotalSectors32Offset, volume.totalSectors);
  PutLe32(boot + fat::kFat32FatSectorsOffset, volume.fatSectors);
  PutLe32(boot + fat::kFat32RootClusterOffset, fat::kFat32RootCluster);
  PutLe16(boot + fat::kFat32FsInfoSectorOffset, fat::kFat32FsInfoSector);
  PutLe16(boot + fat::kFat32BackupBootOffset, fat::kFat32BackupBootSector);
  boot[fat::kFat32DriveNumberOffset] = fat::kDriveNumberFixedDisk;
  boot[fat::kFat32ExtendedSignatureOffset] = fat::kExtendedBootSignature;
  PutLe32(boot + fat::kFat32SerialOffset, volume.serialNumber);
  std::memcpy(boot + fat::kFat32LabelOffset, fat::kNoLabel, fat::kLabelLength);
  std::memcpy(boot + fat::kFat32SystemOffset, fat::kFat32System, fat::kSystemLength);

  uint8_t* fsInfo = image + fat::kSectorBytes;
  PutLe32(fsInfo + fat::kFsInfoLeadSignatureOffset, fat::kFsInfoLeadSignature);
  PutLe32(fsInfo + fat::kFsInfoStructSignatureOffset, fat::kFsInfoStructSignature);
  PutLe32(fsInfo + fat::kFsInfoFreeCountOffset, fat::kFsInfoUnknown);
  PutLe32(fsInfo + fat::kFsInfoNextFreeOffset, fat::kFsInfoUnknown);
  PutLe32(fsInfo + fat::kFsInfoTrailSignatureOffset, fat::kFsInfoTrailSignature);

  uint8_t* third = image + 2 * fat::kSectorBytes;
  PutLe32(third + fat::kFsInfoTrailSignatureOffset, fat::kFsInfoTrailSignature);
}

bool PlanVolume(PackedChs start, PackedChs end, int32_t heads, int32_t sectorsPerTrack,
                const ClusterTableRow* table,
                uint32_t (*fatSectors)(uint32_t totalSectors, uint32_t sectorsPerCluster),
                VolumeParameters* volume) {
  *volume = VolumeParameters();
  volume->startLba = VolumeStartLba(start, heads, sectorsPerTrack);
  volume->totalSectors = VolumeTotalSectors(end, volume->startLba, heads, sectorsPerTrack);
  volume->sectorsPerCluster = LookUpSectorsPerCluster(table, volume->totalSectors);
  if (volume->sectorsPerCluster == 0) return false;
  volume->fatSectors = fatSectors(volume->totalSectors, volume->sectorsPerCluster);
  volume->heads = static_cast<uint32_t>(heads);
  volume->sectorsPerTrack = static_cast<uint32_t>(sectorsPerTrack);
  return true;
}
