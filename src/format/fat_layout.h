// Byte layout of the FAT volumes the utility writes: the FAT12/16 boot
// sector, the FAT32 boot sector with its FSInfo sector, and the first FAT
// entries. Every multi-byte field is little-endian and goes through
// common/little_endian.h, never through a struct laid over the bytes.
#pragma once

#include <cstdint>

#include "common/ata_commands.h"

namespace fat {

const int kSectorBytes = kAtaSectorBytes;
// One transfer to the card moves at most the 255 sectors of one ATA command.
const int kMaxSectorsPerCall = kAtaMaxSectorCount;

// Fields shared by both boot sector kinds.
const int kJumpOffset = 0;             // 3 bytes: kJump
const int kOemNameOffset = 3;          // 8 bytes
const int kBytesPerSectorOffset = 11;  // 16 bits
const int kSectorsPerClusterOffset = 13;
const int kReservedSectorsOffset = 14;  // 16 bits
const int kFatCountOffset = 16;
const int kRootEntriesOffset = 17;     // 16 bits
const int kTotalSectors16Offset = 19;  // 16 bits
const int kMediaOffset = 21;
const int kFatSectors16Offset = 22;     // 16 bits
const int kSectorsPerTrackOffset = 24;  // 16 bits
const int kHeadsOffset = 26;            // 16 bits
const int kHiddenSectorsOffset = 28;    // 32 bits
const int kTotalSectors32Offset = 32;   // 32 bits
// The sector ends in the boot signature of disk/raw_partition_entry.h.

// FAT12/16 extended fields.
const int kFat16DriveNumberOffset = 36;
const int kFat16ExtendedSignatureOffset = 38;
const int kFat16SerialOffset = 39;  // 32 bits
const int kFat16LabelOffset = 43;   // 11 bytes
const int kFat16SystemOffset = 54;  // 8 bytes

// FAT32 extended fields: the FAT size and root cluster come first, and the
// same drive number, signature, serial, label and system fields as FAT12/16
// follow them from byte 64, each kind with offsets of its own.
const int kFat32FatSectorsOffset = 36;    // 32 bits
const int kFat32ExtFlagsOffset = 40;      // 16 bits
const int kFat32VersionOffset = 42;       // 16 bits
const int kFat32RootClusterOffset = 44;   // 32 bits
const int kFat32FsInfoSectorOffset = 48;  // 16 bits
const int kFat32BackupBootOffset = 50;    // 16 bits
const int kFat32DriveNumberOffset = 64;
const int kFat32ExtendedSignatureOffset = 66;
const int kFat32SerialOffset = 67;  // 32 bits
const int kFat32LabelOffset = 71;   // 11 bytes
const int kFat32SystemOffset = 82;  // 8 bytes

// The FSInfo sector.
const int kFsInfoLeadSignatureOffset = 0;
const int kFsInfoStructSignatureOffset = 484;
const int kFsInfoFreeCountOffset = 488;
const int kFsInfoNextFreeOffset = 492;
const int kFsInfoTrailSignatureOffset = 508;
const uint32_t kFsInfoLeadSignature = 0x41615252;    // "RRaA"
const uint32_t kFsInfoStructSignature = 0x61417272;  // "rrAa"
const uint32_t kFsInfoTrailSignature = 0xAA550000;   // 00 00 55 AA
const uint32_t kFsInfoUnknown = 0xFFFFFFFF;

// Field values.
// The three bytes that open a boot sector: a short jump (EB) and a no-op
// (90), the opening that readers look for before they trust the fields.
const uint8_t kJump[3] = {0xEB, 0x00, 0x90};
const char kOemName[] = "MSWIN4.1";
const char kNoLabel[] = "NO NAME    ";
const char kFat16System[] = "FAT16   ";
const char kFat32System[] = "FAT32   ";
const int kLabelLength = 11;
const int kSystemLength = 8;
const int kOemNameLength = 8;
const uint8_t kMediaFixedDisk = 0xF8;
const uint8_t kDriveNumberFixedDisk = 0x80;
const uint8_t kExtendedBootSignature = 0x29;
const uint8_t kFatCount = 2;

// FAT16: one reserved sector (the boot sector), then 512 root directory
// entries of 32 bytes, which is 32 sectors.
const uint16_t kFat16ReservedSectors = 1;
const uint16_t kFat16RootEntries = 512;
const uint32_t kFat16RootSectors = 32;
// The FAT standard names the file system by its cluster count: 65,525
// clusters or more is FAT32, whatever the boot sector says.
const uint32_t kFat16MaxClusters = 65524;

// FAT32: 32 reserved sectors; the boot region (boot sector, FSInfo and one
// more sector) is three sectors, copied again from sector 6.
const uint16_t kFat32ReservedSectors = 32;
const uint32_t kFat32BootRegionSectors = 3;
const uint16_t kFat32FsInfoSector = 1;
const uint16_t kFat32BackupBootSector = 6;
const uint32_t kFat32RootCluster = 2;

// The first FAT entries: the media byte with all other bits set, then the
// reserved entry; FAT32 entries hold 28 bits, and cluster 2 (the root
// directory) is marked end of chain.
const uint32_t kFat16Entry0 = 0xFFF8;
const uint32_t kFat16Entry1 = 0xFFFF;
const uint32_t kFat32Entry0 = 0x0FFFFFF8;
const uint32_t kFat32Entry1 = 0x0FFFFFFF;
const uint32_t kFat32EndOfChain = 0x0FFFFFFF;

}  // namespace fat
