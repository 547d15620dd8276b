#include "tool/finish/boot_patch.h"

#include <cstring>

#include "common/little_endian.h"
#include "disk/raw_partition_entry.h"
#include "format/fat_layout.h"
#include "tool/finish/boot_code.h"

namespace tool {
namespace {

// The two openings of a boot sector that FAT readers accept: a short jump
// and a no-op, or a near jump.
constexpr uint8_t kShortJump = 0xEB;
constexpr uint8_t kNop = 0x90;
constexpr uint8_t kNearJump = 0xE9;

const BootCode& CodeFor(FatKind kind) {
  return kind == FatKind::kFat32 ? kFat32BootCode : kFat16BootCode;
}

bool PowerOfTwo(unsigned value) {
  return value != 0 && (value & (value - 1)) == 0;
}

// The last cylinder a partition entry's 10-bit field names.
constexpr uint32_t kLastEntryCylinder = kMaxEntryCylinders - 1;

}  // namespace

FatKind DetectFatBootSector(const uint8_t sector[kAtaSectorBytes]) {
  bool jump = (sector[fat::kJumpOffset] == kShortJump && sector[fat::kJumpOffset + 2] == kNop) ||
              sector[fat::kJumpOffset] == kNearJump;
  if (!jump) return FatKind::kNone;
  if (sector[kBootSignatureOffset] != kBootSignatureLow ||
      sector[kBootSignatureOffset + 1] != kBootSignatureHigh) {
    return FatKind::kNone;
  }
  if (GetLe16(sector + fat::kBytesPerSectorOffset) != fat::kSectorBytes) return FatKind::kNone;
  if (!PowerOfTwo(sector[fat::kSectorsPerClusterOffset])) return FatKind::kNone;
  if (GetLe16(sector + fat::kReservedSectorsOffset) == 0) return FatKind::kNone;
  if (sector[fat::kFatCountOffset] == 0) return FatKind::kNone;
  bool fat32 = GetLe16(sector + fat::kRootEntriesOffset) == 0 &&
               GetLe16(sector + fat::kFatSectors16Offset) == 0 &&
               GetLe32(sector + fat::kFat32FatSectorsOffset) != 0;
  if (fat32) return FatKind::kFat32;
  if (GetLe16(sector + fat::kRootEntriesOffset) == 0) return FatKind::kNone;
  if (GetLe16(sector + fat::kFatSectors16Offset) == 0) return FatKind::kNone;
  return FatKind::kFat16;
}

bool ChsAddressable(uint32_t lba, const BiosGeometry& geometry) {
  uint64_t perCylinder = static_cast<uint64_t>(geometry.heads) * geometry.sectors;
  return perCylinder != 0 && lba / perCylinder <= kLastEntryCylinder;
}

void EncodeBiosChs(uint32_t lba, const BiosGeometry& geometry, uint8_t chs[3]) {
  uint32_t cylinder = kLastEntryCylinder;
  uint32_t head = static_cast<uint32_t>(geometry.heads - 1);
  uint32_t sector = static_cast<uint32_t>(geometry.sectors);
  if (ChsAddressable(lba, geometry)) {
    uint32_t perCylinder = static_cast<uint32_t>(geometry.heads * geometry.sectors);
    cylinder = lba / perCylinder;
    head = lba % perCylinder / static_cast<uint32_t>(geometry.sectors);
    sector = lba % static_cast<uint32_t>(geometry.sectors) + 1;
  }
  chs[0] = static_cast<uint8_t>(head);
  chs[1] = static_cast<uint8_t>((sector & kEntrySectorMask) |
                                ((cylinder >> 2) & kEntryCylinderHighMask));
  chs[2] = static_cast<uint8_t>(cylinder);
}

BiosGeometry LbaAssistGeometry(uint64_t totalSectors) {
  // 63 sectors a track, and heads doubled from 16 while the drive has more
  // than 1024 cylinders of them; past 128 heads the next step is 255, the
  // most INT 13h function 08h can report without confusing DOS.
  BiosGeometry geometry;
  geometry.sectors = kMaxEntrySectors;
  const uint64_t limit = static_cast<uint64_t>(kMaxEntryCylinders) * kMaxEntrySectors;
  for (int heads = 16; heads <= 128; heads *= 2) {
    if (totalSectors <= limit * static_cast<uint64_t>(heads)) {
      geometry.heads = heads;
      return geometry;
    }
  }
  geometry.heads = 255;
  return geometry;
}

bool DescribableGeometry(const BiosGeometry& geometry, std::string* why) {
  // INT 13h function 08h reports the last head in 8 bits, and DOS counts
  // heads in 8 bits as well: 256 heads wrap to 0 there.
  if (geometry.heads < 1 || geometry.heads > 255) {
    *why = std::to_string(geometry.heads) + " heads (a BIOS presents 1 to 255)";
    return false;
  }
  if (geometry.sectors < 1 || geometry.sectors > kMaxEntrySectors) {
    *why = std::to_string(geometry.sectors) + " sectors per track (a BIOS presents 1 to 63)";
    return false;
  }
  return true;
}

void PatchMasterBootRecord(uint8_t mbr[kAtaSectorBytes], int entry, const BiosGeometry* geometry) {
  // Bytes 440 to 445 (the disk signature) and the table are not code.
  constexpr size_t kCodeArea = 440;
  std::memset(mbr, 0, kCodeArea);
  std::memcpy(mbr, kMbrBootCode.bytes, kMbrBootCode.size);
  for (int i = 0; i < kMbrEntryCount; ++i) {
    uint8_t* raw = mbr + kMbrEntriesOffset + i * static_cast<int>(sizeof(RawPartitionEntry));
    raw[kEntryBootIndicator] = i == entry ? kEntryActive : 0;
    if (i != entry || geometry == nullptr) continue;
    uint32_t first = GetLe32(raw + kEntryFirstSector);
    uint32_t count = GetLe32(raw + kEntrySectorCount);
    EncodeBiosChs(first, *geometry, raw + kEntryStartHead);
    EncodeBiosChs(first + count - 1, *geometry, raw + kEntryEndHead);
  }
}

int FatCodeAreaOffset(FatKind kind) {
  // The code follows the file system name that ends each kind's BPB.
  return (kind == FatKind::kFat32 ? fat::kFat32SystemOffset : fat::kFat16SystemOffset) +
         fat::kSystemLength;
}

void PatchFatBootSector(uint8_t sector[kAtaSectorBytes], FatKind kind,
                        const BiosGeometry* geometry) {
  const int offset = FatCodeAreaOffset(kind);
  const BootCode& code = CodeFor(kind);
  std::memset(sector + offset, 0, static_cast<size_t>(kBootSignatureOffset - offset));
  std::memcpy(sector + offset, code.bytes, code.size);
  // EB rel8 90: the jump counts from the end of its two bytes.
  sector[fat::kJumpOffset] = kShortJump;
  sector[fat::kJumpOffset + 1] = static_cast<uint8_t>(offset - 2);
  sector[fat::kJumpOffset + 2] = kNop;
  if (geometry != nullptr) {
    PutLe16(sector + fat::kSectorsPerTrackOffset, static_cast<uint16_t>(geometry->sectors));
    PutLe16(sector + fat::kHeadsOffset, static_cast<uint16_t>(geometry->heads));
  }
}

}  // namespace tool
