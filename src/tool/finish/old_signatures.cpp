#include "tool/finish/old_signatures.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "common/little_endian.h"
#include "sim/medium.h"
#include "tool/undo/undo_format.h"

namespace tool {
namespace {

bool AllZero(const uint8_t* data, size_t length) {
  return std::all_of(data, data + length, [](uint8_t b) { return b == 0; });
}

std::vector<SectorRunPlan> Runs(const std::set<uint64_t>& sectors) {
  std::vector<SectorRunPlan> runs;
  for (uint64_t sector : sectors) {
    const auto first = static_cast<uint32_t>(sector);
    if (!runs.empty() && runs.back().first + runs.back().count == first) {
      ++runs.back().count;
    } else {
      runs.push_back({first, 1});
    }
  }
  return runs;
}

}  // namespace

bool IsGptHeader(const uint8_t sector[kAtaSectorBytes], uint64_t lba, uint64_t* alternate) {
  if (std::memcmp(sector, kGptSignature, sizeof kGptSignature) != 0) return false;
  const uint32_t size = GetLe32(sector + kGptHeaderSizeAt);
  if (size < kGptSmallestHeader || size > kAtaSectorBytes) return false;
  uint8_t header[kAtaSectorBytes];
  std::memcpy(header, sector, size);
  PutLe32(header + kGptHeaderCrcAt, 0);
  if (Crc32(header, size) != GetLe32(sector + kGptHeaderCrcAt)) return false;
  *alternate = GetLe64(sector + kGptAlternateLbaAt);
  return GetLe64(sector + kGptMyLbaAt) == lba;
}

bool MediumSectorIo::Read(uint32_t sector, uint8_t data[kAtaSectorBytes]) {
  if (sector >= Sectors()) return false;
  if (chunkSectors_ == 0 || sector < chunkFirst_ || sector >= chunkFirst_ + chunkSectors_) {
    chunkFirst_ = sector / kChunkSectors * kChunkSectors;
    chunkSectors_ = static_cast<uint32_t>(std::min<uint64_t>(kChunkSectors, Sectors() - chunkFirst_));
    chunk_.resize(static_cast<size_t>(chunkSectors_) * kAtaSectorBytes);
    if (!sim::ReadMedium(medium_, chunkFirst_ * kAtaSectorBytes, chunk_.data(),
                         static_cast<uint32_t>(chunk_.size()))) {
      chunkSectors_ = 0;
      return false;
    }
  }
  std::memcpy(data, chunk_.data() + (sector - chunkFirst_) * kAtaSectorBytes, kAtaSectorBytes);
  return true;
}

bool MediumSectorIo::Write(uint32_t, const uint8_t*) {
  return false;
}

std::vector<SectorRunPlan> OldSignatureSectors(SectorIo* card, uint64_t cardSectors,
                                               uint32_t volumeStart) {
  std::set<uint64_t> sectors;
  if (cardSectors < 2) return {};
  const uint64_t last = cardSectors - 1;
  uint8_t data[kAtaSectorBytes];
  // Between the MBR and the volume: one run from the first sector that is
  // not zeros to the last, in one command.
  uint32_t first = 0, end = 0;
  for (uint32_t at = 1; at < volumeStart && at < cardSectors; ++at) {
    if (!card->Read(at, data) || AllZero(data, sizeof data)) continue;
    if (first == 0) first = at;
    end = at + 1;
  }
  for (uint32_t at = first; at < end; ++at) sectors.insert(at);
  uint64_t alternate = 0, unused = 0;
  const bool primary = card->Read(kGptPrimaryHeaderSector, data) &&
                       IsGptHeader(data, kGptPrimaryHeaderSector, &alternate);
  const bool backup = last <= UINT32_MAX && card->Read(static_cast<uint32_t>(last), data) &&
                      IsGptHeader(data, last, &unused);
  if (primary || backup) {
    sectors.insert(kGptPrimaryHeaderSector);
    if (last <= UINT32_MAX) sectors.insert(last);
    if (primary && alternate > kGptPrimaryHeaderSector && alternate < cardSectors &&
        alternate <= UINT32_MAX) {
      sectors.insert(alternate);
    }
  }
  return Runs(sectors);
}

std::vector<SectorRunPlan> SectorsOutside(const std::vector<SectorRunPlan>& runs,
                                          const std::vector<SectorRunPlan>& written) {
  std::set<uint64_t> sectors;
  for (const SectorRunPlan& run : runs) {
    for (uint32_t i = 0; i < run.count; ++i) sectors.insert(uint64_t{run.first} + i);
  }
  for (const SectorRunPlan& run : written) {
    for (uint32_t i = 0; i < run.count; ++i) sectors.erase(uint64_t{run.first} + i);
  }
  return Runs(sectors);
}

}  // namespace tool
