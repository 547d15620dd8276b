// Placement and sizing of the FAT volumes the utility writes, and the images
// of their boot sectors. Pure arithmetic on the partition's CHS bounds and the
// logical geometry; nothing here touches the card.
#pragma once

#include <cstdint>

#include "disk/packed_chs.h"

// One row of a cluster-size table: volumes of up to sizeLimit sectors get
// sectorsPerCluster; 0 marks a size the file system does not support.
struct ClusterTableRow {
  uint32_t sizeLimit;
  uint8_t sectorsPerCluster;
};

// The recommended cluster sizes for FAT16 and FAT32 volumes; the last row of
// each has the limit 0xFFFFFFFF.
extern const ClusterTableRow Fat16ClusterTable[];
extern const ClusterTableRow Fat32ClusterTable[];

// Sectors per cluster from the first row whose limit is at least totalSectors.
uint8_t LookUpSectorsPerCluster(const ClusterTableRow* table, uint32_t totalSectors);

// A volume begins at head 1, sector 1 of the partition's start cylinder, so
// that the first track of the disk stays free for the master boot record.
uint32_t VolumeStartLba(PackedChs start, int32_t heads, int32_t sectorsPerTrack);
// The sectors from startLba through the sector that end addresses, inclusive.
uint32_t VolumeTotalSectors(PackedChs end, uint32_t startLba, int32_t heads,
                            int32_t sectorsPerTrack);

// Sectors of one FAT copy: enough 16-bit (FAT16) or 32-bit (FAT32) entries for
// every cluster that fits beside the reserved sectors, both FATs and, for
// FAT16, the fixed root directory.
// A FAT16 FAT also never leaves more clusters than FAT16 can count.
uint32_t Fat16FatSectors(uint32_t totalSectors, uint32_t sectorsPerCluster);
// The clusters of a FAT16 volume with a FAT of fatSectors.
uint32_t Fat16Clusters(uint32_t totalSectors, uint32_t sectorsPerCluster, uint32_t fatSectors);
uint32_t Fat32FatSectors(uint32_t totalSectors, uint32_t sectorsPerCluster);

// Everything the boot sector of a new volume records.
struct VolumeParameters {
  uint32_t startLba;
  uint32_t totalSectors;
  uint32_t sectorsPerCluster;
  uint32_t fatSectors;
  uint32_t heads;            // logical heads
  uint32_t sectorsPerTrack;  // logical sectors per track
  uint32_t serialNumber;
};

// Fills 512 bytes with the FAT16 boot sector of the volume.
void BuildFat16BootSector(const VolumeParameters& volume, uint8_t* image);
// Fills 3 x 512 bytes with the FAT32 boot sector, the FSInfo sector and the
// third boot-region sector.
void BuildFat32BootRegion(const VolumeParameters& volume, uint8_t* image);

// Places and sizes the volume of a partition from start to end in the
// logical geometry, with the cluster table and FAT size of its file system.
// The serial number is left 0: the writer that builds the boot sector sets
// it. False when the table does not support the volume's size.
bool PlanVolume(PackedChs start, PackedChs end, int32_t heads, int32_t sectorsPerTrack,
                const ClusterTableRow* table,
                uint32_t (*fatSectors)(uint32_t totalSectors, uint32_t sectorsPerCluster),
                VolumeParameters* volume);
