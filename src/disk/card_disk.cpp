// Opening the card disk and reading the partition table already on it.
#include "disk/card_disk.h"

#include <cstring>
#include <new>

#include "common/little_endian.h"
#include "device/disk_channel.h"
#include "discovery/card_device_table.h"
#include "format/fat_layout.h"

namespace {

bool IsExtended(uint8_t type) {
  return type == kPartitionTypeExtended || type == kPartitionTypeExtendedLba;
}

// Copies a fixed-length on-disk text field and terminates it; trailing
// blanks stay.
void CopyField(char* destination, const uint8_t* source, int length) {
  std::memcpy(destination, source, length);
  destination[length] = '\0';
}

}  // namespace

CardDisk* CardDisk::Open(const CardDeviceRecord& record, DriveLetterMap& map, int allowFat32) {
  // The object comes from the heap unzeroed; what teardown and the reader
  // look at is set before anything can fail.
  partitions = nullptr;
  currentExtended = nullptr;
  nestingDepth = 0;
  nextLetterIndex = 0;
  letterMap = &map;
  fat32Allowed = allowFat32;
  std::strncpy(driveLetters, record.driveLetters, sizeof driveLetters - 1);
  driveLetters[sizeof driveLetters - 1] = '\0';
  modified = 0;

  physicalCylinders = 0;
  physicalHeads = 0;
  physicalSectors = 0;
  serialNumber[0] = '\0';
  firmwareRevision[0] = '\0';
  model[0] = '\0';

  theDiskChannel.SetPorts(record.ioBase & 0xFFFF, record.controlPort & 0xFFFF);
  int cylinders = 0;
  int heads = 0;
  int sectors = 0;
  if (theDiskChannel.IdentifyDrive(&cylinders, &heads, &sectors, serialNumber, firmwareRevision,
                                   model) != 0) {
    return nullptr;
  }
  physicalCylinders = cylinders;
  physicalHeads = heads;
  physicalSectors = sectors;

  if (CheckGeometry(physicalCylinders, physicalHeads, physicalSectors) != kGeometryAddressable) {
    return nullptr;
  }
  int32_t translatedCylinders = 0;
  int32_t translatedHeads = 0;
  int32_t translatedSectors = 0;
  TranslateGeometry(physicalCylinders, physicalHeads, physicalSectors, &translatedCylinders,
                    &translatedHeads, &translatedSectors);

  sizeCap = kPartitionSizeCap;
  theDiskChannel.driveLetter = driveLetters[0];
  logicalCylinders = translatedCylinders;
  logicalHeads = translatedHeads;
  logicalSectors = translatedSectors;
  totalLogicalSectors = logicalCylinders * logicalHeads * logicalSectors;

  PartitionList* list = new (std::nothrow) PartitionList;
  if (list == nullptr) return nullptr;
  partitions = list->Init(MakePackedChs(0, 0, 1),
                          MakePackedChs(logicalCylinders - 1, logicalHeads - 1, logicalSectors));
  return this;
}

void CardDisk::Destroy() {
  delete partitions;
  partitions = nullptr;
}

int CardDisk::ReadPartitionTable() {
  // A card without a drive letter has nothing of Windows' to lock or list.
  if (driveLetters[0] == '\0') return 0;
  if (theDiskChannel.LockVolume() < 0) return kVolumeLockRefused;
  nestingDepth = 0;
  nextLetterIndex = 0;
  int result = ReadTableSector(MakePackedChs(0, 0, 1));
  if (result == 0) modified = 0;
  return result;
}

int CardDisk::ReadTableSector(PackedChs address) {
  int cylinder = 0;
  int head = 0;
  LogicalToPhysical(ChsCylinder(address), ChsHead(address), &cylinder, &head);
  if (theDiskChannel.ReadSectors(cylinder, head, ChsSector(address), 1, sectorBuffer) != 0) {
    return -1;
  }
  ++nestingDepth;

  // The buffer is reused for each partition's boot sector below.
  RawPartitionEntry entries[kMbrEntryCount];
  for (int i = 0; i < kMbrEntryCount; ++i) {
    std::memcpy(entries[i].bytes, sectorBuffer + kMbrEntriesOffset + i * sizeof entries[i].bytes,
                sizeof entries[i].bytes);
  }

  for (const RawPartitionEntry& raw : entries) {
    uint8_t type = 0;
    PackedChs start = 0;
    PackedChs end = 0;
    DecodeEntry(raw, &type, &start, &end);
    if (type == 0) continue;

    char label[fat::kLabelLength + 1] = "";
    char system[fat::kLabelLength + 1] = "";
    if (!IsExtended(type) && ReadVolumeTexts(raw, type, start, label, system) != 0) {
      --nestingDepth;
      return -1;
    }
    FileTableEntry(raw, type, start, end, label, system);
  }

  --nestingDepth;
  return 0;
}

int CardDisk::ReadVolumeTexts(const RawPartitionEntry& raw, uint8_t type, PackedChs start,
                              char* label, char* system) {
  const int read = ReadBootSector(raw, start);
  if (read < 0) return -1;
  // Where no boot sector was read the texts stay empty.
  const bool bootSectorRead = read == 0;
  if (bootSectorRead && (type == kPartitionTypeFat12 || type == kPartitionTypeFat16Small ||
                         type == kPartitionTypeFat16)) {
    CopyField(label, sectorBuffer + fat::kFat16LabelOffset, fat::kLabelLength);
    CopyField(system, sectorBuffer + fat::kFat16SystemOffset, fat::kSystemLength);
  } else if (bootSectorRead && type == kPartitionTypeFat32) {
    CopyField(label, sectorBuffer + fat::kFat32LabelOffset, fat::kLabelLength);
    CopyField(system, sectorBuffer + fat::kFat32SystemOffset, fat::kSystemLength);
  }
  if (std::memcmp(label, fat::kNoLabel, fat::kLabelLength) == 0) label[0] = '\0';
  // Only a FAT boot sector's fields mean anything; anything else in that
  // place is not shown.
  if (std::strncmp(system, "FAT", 3) != 0) {
    label[0] = '\0';
    system[0] = '\0';
  }
  return 0;
}

bool CardDisk::AddressesSector(PackedChs address) const {
  const int32_t sector = ChsSector(address);
  return sector >= 1 && sector <= logicalSectors && ChsHead(address) < logicalHeads &&
         ChsCylinder(address) < logicalCylinders;
}

int CardDisk::ReadBootSector(const RawPartitionEntry& raw, PackedChs start) {
  int cylinder = 0;
  int head = 0;
  int sector = ChsSector(start);
  if (AddressesSector(start)) {
    LogicalToPhysical(ChsCylinder(start), ChsHead(start), &cylinder, &head);
  } else {
    // Tools of today write the start in a geometry of their own (255 heads,
    // so that a partition at sector 2048 starts at head 32), or FE FF FF for
    // "past cylinder 1023, see the sector number": such a start names no
    // sector of this card, and the entry's first-sector field is what they
    // mean. A partition that starts past the card has no boot sector to read.
    const uint32_t first = GetLe32(raw.bytes + kEntryFirstSector);
    const uint64_t cardSectors = static_cast<uint64_t>(physicalCylinders) *
                                 static_cast<uint64_t>(physicalHeads) *
                                 static_cast<uint64_t>(physicalSectors);
    if (first >= cardSectors) return 1;
    LbaToChs(first, &cylinder, &head, &sector);
  }
  if (theDiskChannel.ReadSectors(cylinder, head, sector, 1, sectorBuffer) != 0) return -1;
  return 0;
}

void CardDisk::FileTableEntry(const RawPartitionEntry& raw, uint8_t type, PackedChs start,
                              PackedChs end, const char* label, const char* system) {
  // Windows letters the partitions it can mount in table order; an
  // extended partition takes none.
  char letter = 0;
  if (!IsExtended(type) && nextLetterIndex < static_cast<int32_t>(std::strlen(driveLetters))) {
    letter = driveLetters[nextLetterIndex++];
  }

  // Only the MBR is read: extended partitions are listed, but the tables
  // inside them are not followed, and nothing of theirs is planned or
  // written.
  const uint32_t sectorCount = GetLe32(raw.bytes + kEntrySectorCount);
  PartitionEntry value = {};
  uint8_t kind = IsExtended(type) ? kKindExtended : kKindPrimary;
  PartitionList::FillEntry(&value, 0, type, letter, kind, start, end, sectorCount / kSectorsPerMb,
                           label, system);
  PartitionEntry* filed = partitions->InsertPrimary(value);
  if (filed != nullptr) currentExtended = filed;
}

int CardDisk::ListPartitions(int flag, PartitionEntry** array) {
  if (flag != 0) return 0;
  return partitions->Enumerate(array);
}
