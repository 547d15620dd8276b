// The finishing step's edits of single sectors, as plain functions over
// 512-byte buffers: the master boot record's code and active flag, a FAT
// boot sector's code area and jump, and the CHS values of a BIOS geometry
// in the partition entry and the BPB. Nothing here reads or writes a card.
#pragma once

#include <cstdint>
#include <string>

#include "common/ata_commands.h"

namespace tool {

// The heads and sectors per track a BIOS presents for the card through
// INT 13h, which a partition entry's CHS values and a BPB must match for a
// DOS-era system to start from the card.
struct BiosGeometry {
  int heads = 0;
  int sectors = 0;
};

// What a sector holds as a FAT boot sector.
enum class FatKind { kNone, kFat16, kFat32 };

// Whether sector is a FAT boot sector (the jump, 512-byte sectors, a power
// of two sectors per cluster, reserved sectors and FATs, and 55 AA), and
// which BPB it has: a FAT32 BPB has no root directory entries and no 16-bit
// FAT size. FAT12 volumes share the FAT16 layout and count as kFat16.
FatKind DetectFatBootSector(const uint8_t sector[kAtaSectorBytes]);

// The three CHS bytes of a partition entry for sector lba under geometry;
// an address past cylinder 1023 is written as the last one an entry can
// name, cylinder 1023, the last head, the last sector.
void EncodeBiosChs(uint32_t lba, const BiosGeometry& geometry, uint8_t chs[3]);

// Whether lba has a CHS address of its own under geometry (below cylinder
// 1024), as the first sector of a partition must for a BIOS read by CHS.
bool ChsAddressable(uint32_t lba, const BiosGeometry& geometry);

// The LBA-assist translation as BIOSes make it from the drive's size: 63
// sectors per track and the fewest of 16, 32, 64, 128 or 255 heads that
// keep the drive within 1024 cylinders (255 for every larger drive).
BiosGeometry LbaAssistGeometry(uint64_t totalSectors);

// Whether a BIOS could present geometry at all: 1 to 255 heads, 1 to 63
// sectors. False with *why, a short phrase.
bool DescribableGeometry(const BiosGeometry& geometry, std::string* why);

// The master boot record made bootable: our code in bytes 0 to 439 (the
// rest of that area cleared), entry `entry` (0 to 3) marked active and the
// others not; with geometry, that entry's start and end CHS written for it.
// The disk signature, the other entries' contents and 55 AA stay.
void PatchMasterBootRecord(uint8_t mbr[kAtaSectorBytes], int entry, const BiosGeometry* geometry);

// A FAT boot sector given our code: the whole code area after the BPB of
// `kind` replaced (our code, then zeros up to 55 AA), and the jump at byte 0
// pointed at it; with geometry, the BPB's sectors per track and heads set to
// it. Every other byte stays.
void PatchFatBootSector(uint8_t sector[kAtaSectorBytes], FatKind kind,
                        const BiosGeometry* geometry);

// The offset of the code area after the BPB of kind.
int FatCodeAreaOffset(FatKind kind);

}  // namespace tool
