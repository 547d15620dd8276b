// The opened PC Card disk: identity, both geometries, the partition list and
// the sector buffer; the volume writers are operations of it.
#pragma once

#include <cstdint>

#include "common/ata_commands.h"
#include "disk/geometry_rule.h"
#include "disk/packed_chs.h"
#include "disk/partition_list.h"
#include "disk/raw_partition_entry.h"

// The largest partition the planner makes: 0xA00000 sectors (5 GB).
const int32_t kPartitionSizeCap = 0xA00000;

struct CardDeviceRecord;
struct DriveLetterMap;

struct CardDisk {
  int32_t physicalCylinders;
  int32_t physicalHeads;
  int32_t physicalSectors;
  char serialNumber[21];
  char firmwareRevision[9];
  char model[41];
  DriveLetterMap* letterMap;
  PartitionList* partitions;
  int32_t fat32Allowed;
  int32_t sizeCap;
  int32_t nestingDepth;
  int32_t nextLetterIndex;
  PartitionEntry* currentExtended;
  int32_t logicalCylinders;
  int32_t logicalHeads;
  int32_t logicalSectors;
  int32_t totalLogicalSectors;
  int32_t modified;
  char driveLetters[32];
  uint8_t sectorBuffer[kAtaSectorBytes];

  // Opening and reading the existing table.
  CardDisk* Open(const CardDeviceRecord& record, DriveLetterMap& letterMap, int fat32Allowed);
  int ReadPartitionTable();
  int ReadTableSector(PackedChs address);
  // Sets label and system (each of fat::kLabelLength + 1 bytes, empty on
  // entry) to the texts of the boot sector of a partition that is not
  // extended, whose entry is raw and whose decoded type and start are type
  // and start; they stay empty where there is no FAT boot sector to show. 0,
  // or -1 when the read failed.
  int ReadVolumeTexts(const RawPartitionEntry& raw, uint8_t type, PackedChs start, char* label,
                      char* system);
  // True when the logical CHS address names a sector of this card.
  bool AddressesSector(PackedChs address) const;
  // Reads the first sector of a partition whose entry is raw and whose
  // decoded start is start: at start when that names a sector of the card,
  // else at the entry's first-sector field. 0 when read, 1 when the
  // partition starts past the card and nothing was read, -1 when the read
  // failed.
  int ReadBootSector(const RawPartitionEntry& raw, PackedChs start);
  // Files one decoded table entry in the partition list, with the next
  // drive letter of the card when Windows mounts it.
  void FileTableEntry(const RawPartitionEntry& raw, uint8_t type, PackedChs start, PackedChs end,
                      const char* label, const char* system);
  int ListPartitions(int flag, PartitionEntry** array);
  void Destroy();

  // Geometry and addressing. The first two are the rules of
  // disk/geometry_rule.h, which the Linux host's boot applies too.
  static int CheckGeometry(int32_t cylinders, int32_t heads, int32_t sectors);
  static void TranslateGeometry(int32_t cylinders, int32_t heads, int32_t sectors,
                                int32_t* logicalCylinders, int32_t* logicalHeads,
                                int32_t* logicalSectors);
  void LbaToChs(uint32_t lba, int* cylinder, int* head, int* sector) const;
  void LogicalToPhysical(int cylinder, int head, int* physicalCylinder, int* physicalHead) const;
  static void DecodeEntry(const RawPartitionEntry& raw, uint8_t* type, PackedChs* start,
                          PackedChs* end);
  void EncodeEntry(RawPartitionEntry* destination, uint8_t type, PackedChs start, PackedChs end,
                   PackedChs base) const;

  // Re-partition planning and the MBR writer.
  int32_t UsableSectors();
  int PlanSize(int kind, int32_t* size);
  int ChooseType(int32_t sectors) const;
  int32_t AddPrimaryPartition(int kind, int32_t sectors);
  int ClearPartitions();
  int FormatVolume(const PartitionEntry* entry);
  int WritePartitionTable();

  // Volume writers.
  int FormatFat16(const PartitionEntry* entry);
  int FormatFat32(const PartitionEntry* entry);
};

inline void CardDisk::TranslateGeometry(int32_t cylinders, int32_t heads, int32_t sectors,
                                        int32_t* logicalCylinders, int32_t* logicalHeads,
                                        int32_t* logicalSectors) {
  TranslateCardGeometry(cylinders, heads, sectors, logicalCylinders, logicalHeads, logicalSectors);
}

inline int CardDisk::CheckGeometry(int32_t cylinders, int32_t heads, int32_t sectors) {
  return CheckCardGeometry(cylinders, heads, sectors);
}

// Result codes of the disk layout model.
const int kPrimaryStillListed = -102;
const int kNoPartitionType = -104;
const int kVolumeLockRefused = -105;
