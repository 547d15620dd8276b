// A CHS address in one signed 32-bit value: cylinder x 16384 + head x 64 +
// sector. Integer comparison orders positions; 1 is (0, 0, 1).
#pragma once

#include <cstdint>

typedef int32_t PackedChs;

// The CHS address of a partition entry has a 10-bit cylinder, an 8-bit head
// and a 6-bit sector counted from 1; a packed address gives each field the
// same width.
const int kChsSectorBits = 6;
const int kChsHeadBits = 8;
const int kChsCylinderBits = 10;
// The most cylinders (0 to 1023), heads (0 to 255) and sectors a track (1 to
// 63) such an address can name.
const int32_t kMaxEntryCylinders = 1 << kChsCylinderBits;
const int32_t kMaxEntryHeads = 1 << kChsHeadBits;
const int32_t kMaxEntrySectors = (1 << kChsSectorBits) - 1;

inline PackedChs MakePackedChs(int32_t cylinder, int32_t head, int32_t sector) {
  return (cylinder * kMaxEntryHeads + head) * (kMaxEntrySectors + 1) + sector;
}
inline int32_t ChsCylinder(PackedChs value) {
  return (value >> (kChsHeadBits + kChsSectorBits)) & (kMaxEntryCylinders - 1);
}
inline int32_t ChsHead(PackedChs value) {
  return (value >> kChsSectorBits) & (kMaxEntryHeads - 1);
}
inline int32_t ChsSector(PackedChs value) {
  return value & kMaxEntrySectors;
}
