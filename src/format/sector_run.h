// What the two volume writers share beside the layout: the serial number they
// stamp a new volume with, the 255-sector format buffer, and the run writer
// that sends it in transfers of at most 255 sectors, each at the physical
// address of its first sector.
#pragma once

#include <cstdint>

struct CardDisk;

// The volume serial number: the calendar clock in seconds since 1970, whole,
// read as the boot sector is built, so that two formats of one partition
// differ in it alone.
uint32_t VolumeSerialFromClock();

// The buffer the volume writers prepare FAT and directory sectors in.
// Obtained once per volume and released before the writer returns.
struct FormatBuffer {
  uint8_t* data;
  uint32_t bytes;

  // Allocates 255 sectors of bytesPerSector bytes: 0, or -1 with data null
  // when the memory cannot be had.
  int Obtain(uint32_t bytesPerSector);
  void Release();
  void Clear();
};

// Writes count sectors starting at absolute sector lba, count at a time no
// more than 255, from the buffer. Only the run's first sector carries what was
// prepared: the buffer is cleared after the first transfer, so the rest of the
// run is zeros. 0, or -1 at the first failing transfer (nothing after it is
// sent).
int WriteSectorRun(const CardDisk& disk, FormatBuffer* buffer, uint32_t lba, uint32_t count);

// The two FAT copies from firstFat, fatSectors each, every copy's first sector
// made by prepare, then rootSectors zeroed sectors of root directory right
// after them: the order both volume writers write their tables in. 0, or -1
// at the first failing transfer.
int WriteFatsAndRoot(const CardDisk& disk, FormatBuffer* buffer, void (*prepare)(FormatBuffer*),
                     uint32_t firstFat, uint32_t fatSectors, uint32_t rootSectors);

// One transfer of count sectors (at most 255) from data at absolute sector lba.
int WriteSectorsAt(const CardDisk& disk, uint32_t lba, uint32_t count, uint8_t* data);
