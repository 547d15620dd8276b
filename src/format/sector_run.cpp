#include "format/sector_run.h"

#include <cstring>
#include <ctime>
#include <new>

#include "device/disk_channel.h"
#include "disk/card_disk.h"
#include "format/fat_layout.h"

uint32_t VolumeSerialFromClock() {
  return static_cast<uint32_t>(std::time(nullptr));
}

int FormatBuffer::Obtain(uint32_t bytesPerSector) {
  bytes = fat::kMaxSectorsPerCall * bytesPerSector;
  data = new (std::nothrow) uint8_t[bytes];
  if (data == nullptr) {
    bytes = 0;
    return -1;
  }
  return 0;
}

void FormatBuffer::Release() {
  delete[] data;
  data = nullptr;
  bytes = 0;
}

void FormatBuffer::Clear() {
  std::memset(data, 0, bytes);
}

int WriteSectorsAt(const CardDisk& disk, uint32_t lba, uint32_t count, uint8_t* data) {
  int cylinder = 0;
  int head = 0;
  int sector = 0;
  disk.LbaToChs(lba, &cylinder, &head, &sector);
  return theDiskChannel.WriteSectors(cylinder, head, sector, static_cast<int>(count), data) == 0
             ? 0
             : -1;
}

int WriteSectorRun(const CardDisk& disk, FormatBuffer* buffer, uint32_t lba, uint32_t count) {
  uint32_t position = lba;
  uint32_t remaining = count;
  bool first = true;
  while (remaining > 0) {
    const uint32_t k = remaining < static_cast<uint32_t>(fat::kMaxSectorsPerCall)
                           ? remaining
                           : fat::kMaxSectorsPerCall;
    if (WriteSectorsAt(disk, position, k, buffer->data) != 0) return -1;
    if (first) {
      buffer->Clear();
      first = false;
    }
    position += k;
    remaining -= k;
  }
  return 0;
}

int WriteFatsAndRoot(const CardDisk& disk, FormatBuffer* buffer, void (*prepare)(FormatBuffer*),
                     uint32_t firstFat, uint32_t fatSectors, uint32_t rootSectors) {
  for (uint32_t copy = 0; copy < fat::kFatCount; ++copy) {
    prepare(buffer);
    if (WriteSectorRun(disk, buffer, firstFat + copy * fatSectors, fatSectors) != 0) {
      return -1;
    }
  }
  buffer->Clear();
  return WriteSectorRun(disk, buffer, firstFat + fat::kFatCount * fatSectors, rootSectors);
}
