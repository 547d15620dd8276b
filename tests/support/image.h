// Reading and writing card images in tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

std::vector<uint8_t> ReadSectors(const std::string& image, uint64_t lba, uint32_t count);
void WriteSectorBytes(const std::string& image, uint64_t lba, const std::vector<uint8_t>& bytes);

// A digest of the image's size and of every byte of its data extents: equal
// digests mean equal images, without reading the holes of a sparse image.
std::string ImageFingerprint(const std::string& image);

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t offset);

// Copies the volume of count sectors at lba out of the image into a sparse
// file of its own, for tools that take no offset.
void ExtractVolume(const std::string& image, uint64_t lba, uint64_t count,
                   const std::string& volume);

}  // namespace testsupport
