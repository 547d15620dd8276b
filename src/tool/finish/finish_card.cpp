#include "tool/finish/finish_card.h"

#include <cstdio>
#include <cstring>

#include "common/little_endian.h"
#include "disk/partition_list.h"
#include "disk/raw_partition_entry.h"
#include "format/fat_layout.h"
#include "tool/run/card_sectors.h"

namespace tool {
namespace {

uint8_t* EntryOf(uint8_t* mbr, int i) {
  return mbr + kMbrEntriesOffset + i * static_cast<int>(sizeof(RawPartitionEntry));
}
const uint8_t* EntryOf(const uint8_t* mbr, int i) {
  return mbr + kMbrEntriesOffset + i * static_cast<int>(sizeof(RawPartitionEntry));
}

FatKind KindOfType(uint8_t type) {
  switch (type) {
    case kPartitionTypeFat12:
    case kPartitionTypeFat16Small:
    case kPartitionTypeFat16:
    case kPartitionTypeFat16Lba:
      return FatKind::kFat16;
    case kPartitionTypeFat32:
    case kPartitionTypeFat32Lba:
      return FatKind::kFat32;
    default:
      return FatKind::kNone;
  }
}

std::string Hex(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02Xh", value);
  return text;
}

std::string ChsText(const uint8_t* chs) {
  unsigned cylinder = chs[2] | ((chs[1] & kEntryCylinderHighMask) << 2);
  return std::to_string(cylinder) + "/" + std::to_string(chs[0]) + "/" +
         std::to_string(chs[1] & kEntrySectorMask);
}

// The finished copies of the three sectors.
void Patch(const FinishedCard& card, const FinishOptions& options, uint8_t mbr[], uint8_t boot[],
           uint8_t backup[]) {
  std::memcpy(mbr, card.mbr, kAtaSectorBytes);
  std::memcpy(boot, card.boot, kAtaSectorBytes);
  std::memcpy(backup, card.backup, kAtaSectorBytes);
  const BiosGeometry* geometry = options.withGeometry ? &options.geometry : nullptr;
  if (options.bootCode) {
    PatchMasterBootRecord(mbr, card.entry, geometry);
    PatchFatBootSector(boot, card.kind, geometry);
    if (card.backupSector != 0) PatchFatBootSector(backup, card.kind, geometry);
    return;
  }
  if (geometry == nullptr) return;
  // The geometry alone: the entry's CHS values and the BPB's two fields,
  // the code and the flags as they were.
  uint8_t* entry = EntryOf(mbr, card.entry);
  EncodeBiosChs(card.firstSector, *geometry, entry + kEntryStartHead);
  EncodeBiosChs(card.firstSector + card.sectorCount - 1, *geometry, entry + kEntryEndHead);
  for (uint8_t* sector : {boot, backup}) {
    if (sector == backup && card.backupSector == 0) continue;
    PutLe16(sector + fat::kSectorsPerTrackOffset, static_cast<uint16_t>(geometry->sectors));
    PutLe16(sector + fat::kHeadsOffset, static_cast<uint16_t>(geometry->heads));
  }
}

}  // namespace

bool CardSectorIo::Read(uint32_t sector, uint8_t data[kAtaSectorBytes]) {
  return ReadCardSectors(card_, sector, 1, data);
}

bool CardSectorIo::Write(uint32_t sector, const uint8_t data[kAtaSectorBytes]) {
  return WriteCardSectors(card_, sector, 1, data);
}

std::string GeometryWords(const BiosGeometry& geometry) {
  return std::to_string(geometry.heads) + " heads x " + std::to_string(geometry.sectors) +
         " sectors";
}

bool InspectCard(SectorIo* io, uint64_t cardSectors, FinishedCard* card, std::string* why) {
  if (!io->Read(0, card->mbr)) {
    *why = "its master boot record does not read";
    return false;
  }
  if (card->mbr[kBootSignatureOffset] != kBootSignatureLow ||
      card->mbr[kBootSignatureOffset + 1] != kBootSignatureHigh) {
    *why = "it has no partition table (no 55 AA at the end of sector 0)";
    return false;
  }
  int used = 0;
  for (int i = 0; i < kMbrEntryCount; ++i) {
    const uint8_t* entry = EntryOf(card->mbr, i);
    if (entry[kEntryBootIndicator] != 0 && entry[kEntryBootIndicator] != kEntryActive) {
      *why = "partition entry " + std::to_string(i + 1) + " has the boot flag " +
             Hex(entry[kEntryBootIndicator]) + " (neither 00h nor 80h)";
      return false;
    }
    if (entry[kEntryType] == 0) continue;
    ++used;
    card->entry = i;
  }
  if (used != 1) {
    *why = used == 0 ? "it has no partition"
                     : "it has " + std::to_string(used) + " partitions (one FAT partition only)";
    return false;
  }
  const uint8_t* entry = EntryOf(card->mbr, card->entry);
  card->type = entry[kEntryType];
  card->firstSector = GetLe32(entry + kEntryFirstSector);
  card->sectorCount = GetLe32(entry + kEntrySectorCount);
  FatKind kind = KindOfType(card->type);
  if (kind == FatKind::kNone) {
    *why = "its partition is of type " + Hex(card->type) + ", not FAT16 or FAT32";
    return false;
  }
  if (card->firstSector == 0 || card->sectorCount == 0 ||
      static_cast<uint64_t>(card->firstSector) + card->sectorCount > cardSectors) {
    *why = "its partition (sectors " + std::to_string(card->firstSector) + " + " +
           std::to_string(card->sectorCount) + ") does not lie within the card's " +
           std::to_string(cardSectors) + " sectors";
    return false;
  }
  if (!io->Read(card->firstSector, card->boot)) {
    *why = "its partition's first sector does not read";
    return false;
  }
  card->kind = DetectFatBootSector(card->boot);
  if (card->kind == FatKind::kNone) {
    *why = "its partition holds no FAT boot sector";
    return false;
  }
  if (card->kind != kind) {
    *why = std::string("its partition's type is ") + Hex(card->type) + " but it holds a " +
           (card->kind == FatKind::kFat32 ? "FAT32" : "FAT12/16") + " volume";
    return false;
  }
  card->backupSector = 0;
  if (card->kind == FatKind::kFat32) {
    // The copy that FAT32 keeps in its reserved sectors gets the same code,
    // so that a system that falls back on it sees the same sector.
    uint16_t backup = GetLe16(card->boot + fat::kFat32BackupBootOffset);
    uint16_t reserved = GetLe16(card->boot + fat::kReservedSectorsOffset);
    if (backup != 0 && backup < reserved) {
      if (!io->Read(card->firstSector + backup, card->backup)) {
        *why = "its boot sector's copy does not read";
        return false;
      }
      if (DetectFatBootSector(card->backup) == FatKind::kFat32) {
        card->backupSector = card->firstSector + backup;
      }
    }
  }
  return true;
}

bool CheckFinishOptions(const FinishedCard& card, const FinishOptions& options, std::string* why) {
  if (!options.withGeometry) return true;
  if (!DescribableGeometry(options.geometry, why)) return false;
  if (!ChsAddressable(card.firstSector, options.geometry)) {
    *why = "the partition's first sector " + std::to_string(card.firstSector) +
           " lies past cylinder 1023 of " + GeometryWords(options.geometry);
    return false;
  }
  return true;
}

std::vector<std::string> DescribeFinish(const FinishedCard& card, const FinishOptions& options) {
  uint8_t mbr[kAtaSectorBytes];
  uint8_t boot[kAtaSectorBytes];
  uint8_t backup[kAtaSectorBytes];
  Patch(card, options, mbr, boot, backup);
  std::vector<std::string> lines;
  const char* kind = card.kind == FatKind::kFat32 ? "FAT32" : "FAT16";
  lines.push_back(std::string("Partition ") + std::to_string(card.entry + 1) + ": " + kind +
                  " (type " + Hex(card.type) + "), sectors " + std::to_string(card.firstSector) +
                  " to " + std::to_string(card.firstSector + card.sectorCount - 1));
  std::string sectors = "boot sector (sector " + std::to_string(card.firstSector) + ")";
  if (card.backupSector != 0) {
    sectors = "boot sector (sector " + std::to_string(card.firstSector) +
              ") and its copy (sector " + std::to_string(card.backupSector) + ")";
  }
  if (options.bootCode) {
    lines.push_back("Master boot record: boot code replaced, partition " +
                    std::to_string(card.entry + 1) + " marked active");
    lines.push_back("FAT " + sectors + ": boot code replaced (it says the card holds no system)");
  }
  if (options.withGeometry) {
    const uint8_t* before = EntryOf(card.mbr, card.entry);
    const uint8_t* after = EntryOf(mbr, card.entry);
    lines.push_back("For a BIOS geometry of " + GeometryWords(options.geometry) +
                    ": the entry's start " + ChsText(before + kEntryStartHead) + " becomes " +
                    ChsText(after + kEntryStartHead) + ", its end " +
                    ChsText(before + kEntryEndHead) + " becomes " + ChsText(after + kEntryEndHead));
    lines.push_back("FAT " + sectors + ": heads " +
                    std::to_string(GetLe16(card.boot + fat::kHeadsOffset)) + " become " +
                    std::to_string(options.geometry.heads) + ", sectors per track " +
                    std::to_string(GetLe16(card.boot + fat::kSectorsPerTrackOffset)) + " become " +
                    std::to_string(options.geometry.sectors));
  }
  lines.push_back("Every other byte stays as it is.");
  return lines;
}

bool FinishCard(SectorIo* io, const FinishedCard& card, const FinishOptions& options,
                std::string* why) {
  uint8_t mbr[kAtaSectorBytes];
  uint8_t boot[kAtaSectorBytes];
  uint8_t backup[kAtaSectorBytes];
  Patch(card, options, mbr, boot, backup);
  if (card.backupSector != 0 && !io->Write(card.backupSector, backup)) {
    *why =
        "sector " + std::to_string(card.backupSector) + " (the boot sector's copy) did not write";
    return false;
  }
  if (!io->Write(card.firstSector, boot)) {
    *why = "sector " + std::to_string(card.firstSector) + " (the boot sector) did not write";
    return false;
  }
  if (!io->Write(0, mbr)) {
    *why = "sector 0 (the master boot record) did not write";
    return false;
  }
  return true;
}

}  // namespace tool
