// Planning the one partition that covers the card, and writing the new MBR.
#include <cstring>

#include "device/disk_channel.h"
#include "discovery/drive_letter_map.h"
#include "disk/card_disk.h"

int32_t CardDisk::UsableSectors() {
  if (totalLogicalSectors > sizeCap) {
    logicalCylinders = sizeCap / (logicalHeads * logicalSectors);
  }
  // A translation that had to stop with more than 1024 cylinders (more than
  // 256 heads on the way) can leave more than the cap removes: the end
  // cylinder would wrap in its 10-bit field and the volume written would be
  // far smaller than the entry says, so the partition ends at cylinder 1023.
  if (logicalCylinders > kMaxEntryCylinders) logicalCylinders = kMaxEntryCylinders;
  return logicalSectors * logicalHeads * logicalCylinders;
}

int CardDisk::PlanSize(int kind, int32_t* size) {
  *size = 0;
  if (kind != kKindPrimary) return 0;
  PartitionEntry* entries[PartitionList::kSlots];
  int count = partitions->Enumerate(entries);
  for (int i = 0; i < count; ++i) {
    if (entries[i]->kind == kKindPrimary) return kPrimaryStillListed;
  }
  *size = UsableSectors();
  return 0;
}

int CardDisk::ChooseType(int32_t sectors) const {
  if (sectors <= kFat12Limit) return kPartitionTypeFat12;
  if (sectors <= kFat16SmallLimit) return kPartitionTypeFat16Small;
  if (sectors <= kFat16PreferredLimit) return kPartitionTypeFat16;
  if (fat32Allowed != 0) return kPartitionTypeFat32;
  if (sectors <= kFat16Limit) return kPartitionTypeFat16;
  return -1;
}

int32_t CardDisk::AddPrimaryPartition(int kind, int32_t sectors) {
  if (kind != kKindPrimary) {
    modified = 1;
    return sectors;
  }
  int type = ChooseType(sectors);
  if (type < 0) return kNoPartitionType;
  PartitionEntry value = {};
  PartitionList::FillEntry(&value, 1, static_cast<uint8_t>(type), letterMap->TakeFreeLetter(),
                           kKindPrimary, MakePackedChs(0, 0, 1),
                           MakePackedChs(logicalCylinders - 1, logicalHeads - 1, logicalSectors),
                           static_cast<uint32_t>(sectors / kSectorsPerMb), "", "");
  if (partitions->InsertPrimary(value) == nullptr) return kNoPartitionType;
  modified = 1;
  return sectors;
}

int CardDisk::ClearPartitions() {
  PartitionEntry* entries[PartitionList::kSlots];
  int count = partitions->Enumerate(entries);
  for (int i = 0; i < count; ++i) {
    if (entries[i]->driveLetter != 0) letterMap->ReleaseLetter(entries[i]->driveLetter);
    partitions->RemovePrimary(entries[i]->start);
  }
  modified = 1;
  return partitions->Enumerate(entries);
}

int CardDisk::FormatVolume(const PartitionEntry* entry) {
  switch (entry->type) {
    case kPartitionTypeFat16Small:
    case kPartitionTypeFat16:
    case kPartitionTypeFat16Lba:
      return FormatFat16(entry);
    case kPartitionTypeFat32:
    case kPartitionTypeFat32Lba:
      return FormatFat32(entry);
    default:
      return -1;
  }
}

int CardDisk::WritePartitionTable() {
  if (modified == 0) return 0;

  // The MBR is built aside: the volume writers run in between and may use
  // the sector buffer themselves.
  uint8_t mbr[sizeof sectorBuffer] = {};
  mbr[kBootSignatureOffset] = kBootSignatureLow;
  mbr[kBootSignatureOffset + 1] = kBootSignatureHigh;

  PartitionEntry* entries[PartitionList::kSlots];
  int count = partitions->Enumerate(entries);
  if (count > kMbrEntryCount) count = kMbrEntryCount;
  for (int i = 0; i < count; ++i) {
    const PartitionEntry* entry = entries[i];
    PackedChs start = entry->start;
    if (entry->kind == kKindPrimary) {
      // A primary partition starts on a cylinder boundary; the first one
      // leaves the track that holds the MBR, starting at head 1.
      PackedChs cylinderOnly = MakePackedChs(ChsCylinder(entry->start), 0, 0);
      start =
          i == 0 ? cylinderOnly + MakePackedChs(0, 1, 1) : cylinderOnly + MakePackedChs(0, 0, 1);
      if (entry->isNew != 0 && FormatVolume(entry) != 0) return -1;
    }
    RawPartitionEntry raw;
    EncodeEntry(&raw, entry->type, start, entry->end, MakePackedChs(0, 0, 1));
    std::memcpy(mbr + kMbrEntriesOffset + i * sizeof raw.bytes, raw.bytes, sizeof raw.bytes);
  }

  std::memcpy(sectorBuffer, mbr, sizeof sectorBuffer);
  if (theDiskChannel.WriteSectors(0, 0, 1, 1, sectorBuffer) != 0) return -1;
  return 0;
}
