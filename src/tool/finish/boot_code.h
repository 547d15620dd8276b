// The boot code --boot writes, assembled from this folder's NASM sources at
// build time (cmake/boot-code.cmake), each already checked to fit its area.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tool {

struct BootCode {
  const uint8_t* bytes;
  size_t size;
};

// mbr.asm: bytes 0 up to 440 of the master boot record.
extern const BootCode kMbrBootCode;
// fat_boot.asm, assembled for the code area after a FAT12/16 BPB (from 3Eh)
// and after a FAT32 BPB (from 5Ah).
extern const BootCode kFat16BootCode;
extern const BootCode kFat32BootCode;

}  // namespace tool
