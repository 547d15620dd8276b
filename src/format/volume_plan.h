// The volume a writer would put on a new partition, described before any
// sector is written: its layout and the runs of sectors the writer and the
// MBR write touch, in the order they are written.
#pragma once

#include <cstdint>

struct CardDisk;
struct PartitionEntry;

struct SectorRunPlan {
  uint32_t first;
  uint32_t count;
};

struct VolumePlan {
  int fat32;  // 1: FAT32, 0: FAT16
  uint32_t startLba;
  uint32_t totalSectors;
  uint32_t sectorsPerCluster;
  uint32_t reservedSectors;
  uint32_t fatSectors;   // of one FAT; there are two
  uint32_t rootEntries;  // FAT16's fixed root directory; 0 on FAT32
  uint32_t clusters;
  int runCount;
  SectorRunPlan runs[4];
};

// Plans the volume of a new partition entry of the disk as FormatVolume
// would write it, with the boot sector the writer would build (its serial
// number aside), and the MBR written last. 0, or -1 when the entry's type
// has no writer or the writer would refuse its size.
int PlanNewVolume(const CardDisk& disk, const PartitionEntry& entry, VolumePlan* plan);
