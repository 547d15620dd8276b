// CHS conversions and the coding of MBR partition entries (the translation
// itself is in card_disk.h). None of these touches the card.
#include "common/little_endian.h"
#include "disk/card_disk.h"

void CardDisk::LbaToChs(uint32_t lba, int* cylinder, int* head, int* sector) const {
  uint32_t heads = static_cast<uint32_t>(physicalHeads);
  uint32_t sectors = static_cast<uint32_t>(physicalSectors);
  uint32_t perCylinder = heads * sectors;
  *cylinder = static_cast<int>(lba / perCylinder);
  *head = static_cast<int>((lba % perCylinder) / sectors);
  *sector = static_cast<int>(lba % sectors + 1);
}

void CardDisk::LogicalToPhysical(int cylinder, int head, int* physicalCylinder,
                                 int* physicalHead) const {
  int32_t ratio = physicalCylinders / logicalCylinders;
  *physicalCylinder = cylinder * ratio + head / physicalHeads;
  *physicalHead = head % physicalHeads;
}

void CardDisk::DecodeEntry(const RawPartitionEntry& raw, uint8_t* type, PackedChs* start,
                           PackedChs* end) {
  const uint8_t* b = raw.bytes;
  *type = b[kEntryType];
  *start =
      MakePackedChs((b[kEntryStartSector] & kEntryCylinderHighMask) * 4 + b[kEntryStartCylinder],
                    b[kEntryStartHead], b[kEntryStartSector] & kEntrySectorMask);
  *end = MakePackedChs((b[kEntryEndSector] & kEntryCylinderHighMask) * 4 + b[kEntryEndCylinder],
                       b[kEntryEndHead], b[kEntryEndSector] & kEntrySectorMask);
}

void CardDisk::EncodeEntry(RawPartitionEntry* destination, uint8_t type, PackedChs start,
                           PackedChs end, PackedChs base) const {
  int32_t sc = ChsCylinder(start);
  int32_t sh = ChsHead(start);
  int32_t ss = ChsSector(start);
  int32_t ec = ChsCylinder(end);
  int32_t eh = ChsHead(end);
  int32_t es = ChsSector(end);
  int32_t bc = ChsCylinder(base);
  int32_t h = logicalHeads;
  int32_t s = logicalSectors;

  uint8_t* b = destination->bytes;
  b[kEntryBootIndicator] = 0;
  b[kEntryStartHead] = static_cast<uint8_t>(sh);
  b[kEntryStartSector] = static_cast<uint8_t>(((sc >> 2) & kEntryCylinderHighMask) | ss);
  b[kEntryStartCylinder] = static_cast<uint8_t>(sc & 0xFF);
  b[kEntryType] = type;
  b[kEntryEndHead] = static_cast<uint8_t>(eh);
  b[kEntryEndSector] = static_cast<uint8_t>(((ec >> 2) & kEntryCylinderHighMask) | es);
  b[kEntryEndCylinder] = static_cast<uint8_t>(ec & 0xFF);
  // The count runs through the last sector of the end cylinder; the end head
  // and sector do not enter it.
  int32_t first = ((sc - bc) * h + sh) * s + ss - 1;
  int32_t count = ((ec - sc + 1) * h - sh) * s - ss + 1;
  PutLe32(b + kEntryFirstSector, static_cast<uint32_t>(first));
  PutLe32(b + kEntrySectorCount, static_cast<uint32_t>(count));
}
