// Explicit little-endian fields in byte records, whatever the host's own
// order: the one set of helpers for the system, the device models, the Wine
// drivers, the tools and the tests. It depends on nothing else here, so that
// the device models can take it and still stand alone.
#pragma once

#include <cstdint>

inline uint16_t GetLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t GetLe64(const uint8_t* p) {
  return GetLe32(p) | (static_cast<uint64_t>(GetLe32(p + 4)) << 32);
}

inline void PutLe16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

inline void PutLe32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void PutLe64(uint8_t* p, uint64_t value) {
  PutLe32(p, static_cast<uint32_t>(value));
  PutLe32(p + 4, static_cast<uint32_t>(value >> 32));
}
