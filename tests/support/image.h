// Reading and writing card images in tests, and the MBRs written onto them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/little_endian.h"

namespace testsupport {

std::vector<uint8_t> ReadSectors(const std::string& image, uint64_t lba, uint32_t count);
void WriteSectorBytes(const std::string& image, uint64_t lba, const std::vector<uint8_t>& bytes);

// The byte ranges of the file that hold data, by SEEK_DATA and SEEK_HOLE.
std::vector<std::pair<uint64_t, uint64_t>> DataExtents(const std::string& path);

// Reads what the image's data extents hold within bytes [begin, end), each
// extent from its 16-byte row on, in chunks: visit(offset, bytes, count). A
// large sparse card costs what was written to it. Returns the image's size,
// or -1 when it cannot be opened.
int64_t ReadData(const std::string& image, uint64_t begin, uint64_t end,
                 const std::function<void(uint64_t, const uint8_t*, size_t)>& visit);

// A digest of the image's size and of every byte of its data extents: equal
// digests mean equal images, without reading the holes of a sparse image.
std::string ImageFingerprint(const std::string& image);

inline uint32_t Le16(const std::vector<uint8_t>& bytes, size_t offset) {
  return GetLe16(&bytes[offset]);
}
inline uint32_t Le32(const std::vector<uint8_t>& bytes, size_t offset) {
  return GetLe32(&bytes[offset]);
}

// Copies the volume of count sectors at lba out of the image into a sparse
// file of its own, for tools that take no offset.
void ExtractVolume(const std::string& image, uint64_t lba, uint64_t count,
                   const std::string& volume);

// A (cylinder, head, sector) address as an MBR entry packs it: the head, the
// sector with cylinder bits 8-9 above it, cylinder bits 0-7.
struct Chs {
  int cylinder;
  int head;
  int sector;
};

// One 16-byte MBR entry: status, start, type, end, then the first sector and
// the sector count little-endian.
std::vector<uint8_t> MbrEntry(uint8_t type, Chs start, Chs end, uint32_t first, uint32_t count,
                              uint8_t status = 0);

// Puts the entries into the sector's table (entry i at byte 446 + 16 * i) and
// the boot signature 55 AA at its end.
void PutMbr(std::vector<uint8_t>* sector, const std::vector<std::vector<uint8_t>>& entries);

// A zero MBR with these entries and the boot signature.
std::vector<uint8_t> Mbr(const std::vector<std::vector<uint8_t>>& entries = {});

}  // namespace testsupport
