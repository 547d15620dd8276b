// The 16-byte partition entry of the master boot record.
#pragma once

#include <cstdint>

#include "disk/packed_chs.h"

struct RawPartitionEntry {
  uint8_t bytes[16];
};

// Byte offsets inside a RawPartitionEntry.
const int kEntryBootIndicator = 0;
// The boot indicator of the entry a PC starts from; every other entry's is 0.
const uint8_t kEntryActive = 0x80;
const int kEntryStartHead = 1;
const int kEntryStartSector = 2;    // sector in bits 0-5, cylinder bits 8-9 in bits 6-7
const int kEntryStartCylinder = 3;  // cylinder bits 0-7
const int kEntryType = 4;
const int kEntryEndHead = 5;
const int kEntryEndSector = 6;
const int kEntryEndCylinder = 7;
const int kEntryFirstSector = 8;   // 32-bit little-endian
const int kEntrySectorCount = 12;  // 32-bit little-endian
// The parts of a sector byte: the 6-bit sector, and cylinder bits 8-9 as the
// two bits above it (a cylinder's high bits shifted right by 2, a field's
// shifted left by 2).
const uint8_t kEntrySectorMask = kMaxEntrySectors;
const uint8_t kEntryCylinderHighMask = 0xFF & ~kEntrySectorMask;

// The master boot record: four entries from offset 446, then 55 AA.
const int kMbrEntriesOffset = 446;
const int kMbrEntryCount = 4;
// The two signature bytes that end a boot sector: the BIOS starts no master
// boot record without them, and a volume's boot sector ends in them too.
const int kBootSignatureOffset = 510;
const uint8_t kBootSignatureLow = 0x55;
const uint8_t kBootSignatureHigh = 0xAA;
