// The partitions of the opened card as the system knows them: a fixed pool
// of 100 entries whose slot 0 describes the whole disk.
#pragma once

#include <cstdint>

#include "disk/packed_chs.h"

struct PartitionEntry {
  uint8_t isNew;
  uint8_t type;
  char driveLetter;
  uint8_t kind;
  PackedChs start;
  PackedChs end;
  uint32_t sizeMb;
  char label[12];
  char system[12];
  PartitionEntry* nextPrimary;
  PartitionEntry* nextLogical;
  PartitionEntry* parent;
};

// Entry kinds.
const uint8_t kKindHead = 0;
const uint8_t kKindPrimary = 1;
const uint8_t kKindExtended = 2;
const uint8_t kKindLogicalFirst = 4;
const uint8_t kKindLogical = 12;

// Partition type bytes of the MBR that the system reads or writes.
const uint8_t kPartitionTypeFat12 = 0x01;
const uint8_t kPartitionTypeFat16Small = 0x04;  // FAT16 below 32 MB
const uint8_t kPartitionTypeExtended = 0x05;
const uint8_t kPartitionTypeFat16 = 0x06;  // FAT16 of 32 MB and more
const uint8_t kPartitionTypeFat32 = 0x0B;
const uint8_t kPartitionTypeFat32Lba = 0x0C;
const uint8_t kPartitionTypeFat16Lba = 0x0E;
const uint8_t kPartitionTypeExtendedLba = 0x0F;

// Volume sizes in 512-byte sectors that decide the partition type. FAT12
// holds at most 4084 clusters (32680 sectors at 8 sectors a cluster); a small
// FAT16 partition ends at 32 MB; FAT16 is used up to 512 MB where FAT32 may
// be used instead and up to 2 GB, its largest volume, where it may not.
const int32_t kFat12Limit = 32680;
const int32_t kFat16SmallLimit = 65535;
const int32_t kFat16PreferredLimit = 0x100000;
const int32_t kFat16Limit = 0x400000;

// An entry's size is in megabytes of 2048 sectors, rounded down.
const int32_t kSectorsPerMb = 2048;

struct PartitionTypeName {
  uint8_t type;
  const char* name;
};
extern const PartitionTypeName PartitionTypeNames[];

struct PartitionList {
  static const int kSlots = 100;

  PartitionEntry slots[kSlots];

  PartitionList* Init(PackedChs start, PackedChs end);
  static void FillEntry(PartitionEntry* entry, uint8_t isNew, uint8_t type, char driveLetter,
                        uint8_t kind, PackedChs start, PackedChs end, uint32_t sizeMb,
                        const char* label, const char* system);
  PartitionEntry* AllocSlot(const PartitionEntry& value);
  void FreeSlot(PartitionEntry* entry);
  PartitionEntry* InsertPrimary(const PartitionEntry& value);
  PartitionEntry* InsertLogical(PartitionEntry* owner, const PartitionEntry& value);
  int RemovePrimary(PackedChs start);
  int Enumerate(PartitionEntry** array);
  static const char* TypeName(const PartitionEntry* entry);
};
