// A CHS address in one signed 32-bit value: cylinder x 16384 + head x 64 +
// sector. Integer comparison orders positions; 1 is (0, 0, 1).
#pragma once

#include <cstdint>

typedef int32_t PackedChs;

inline PackedChs MakePackedChs(int32_t cylinder, int32_t head, int32_t sector) {
  return (cylinder * 256 + head) * 64 + sector;
}
inline int32_t ChsCylinder(PackedChs value) {
  return (value >> 14) & 0x3FF;
}
inline int32_t ChsHead(PackedChs value) {
  return (value >> 6) & 0xFF;
}
inline int32_t ChsSector(PackedChs value) {
  return value & 0x3F;
}
