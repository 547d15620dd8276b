#include "tool/run/card_sectors.h"

#include <algorithm>
#include <string>

#include "common/ata_commands.h"
#include "sim/medium.h"

namespace tool {
namespace {

struct Chs {
  uint32_t cylinder, head, sector;
};

Chs PhysicalAddress(const sim::AtaCard& card, uint32_t lba) {
  const sim::CardIdentity& id = card.settings().identity;
  const uint32_t perCylinder = static_cast<uint32_t>(id.heads) * id.sectorsPerTrack;
  return {lba / perCylinder, (lba / id.sectorsPerTrack) % id.heads, lba % id.sectorsPerTrack + 1};
}

// The sectors of the card's geometry: those a CHS address reaches.
uint64_t GeometrySectors(const sim::AtaCard& card) {
  const sim::CardIdentity& id = card.settings().identity;
  return static_cast<uint64_t>(id.cylinders) * id.heads * id.sectorsPerTrack;
}

// How many of count sectors from first a CHS address reaches.
uint32_t WithinGeometry(const sim::AtaCard& card, uint32_t first, uint32_t count) {
  const uint64_t sectors = GeometrySectors(card);
  if (first >= sectors) return 0;
  return static_cast<uint32_t>(std::min<uint64_t>(count, sectors - first));
}

bool OnMedium(sim::AtaCard* card, uint32_t first, uint32_t count, uint8_t* into,
              const uint8_t* from) {
  std::string unused;
  if (!card->OpenMedium(&unused)) return false;
  const sim::Medium& medium = card->medium();
  const uint64_t offset = static_cast<uint64_t>(first) * kAtaSectorBytes;
  const uint32_t bytes = count * kAtaSectorBytes;
  if (into != nullptr) return sim::ReadMedium(medium, offset, into, bytes);
  const sim::CardSettings& settings = card->settings();
  return (!settings.beforeWrite || settings.beforeWrite(settings, medium, first, count)) &&
         sim::WriteMedium(medium, offset, from, bytes) &&
         (!settings.afterWrite || settings.afterWrite(settings, medium, first, count, from));
}

}  // namespace

bool ReadCardSectors(sim::AtaCard* card, uint32_t first, uint32_t count, uint8_t* data) {
  const uint32_t within = WithinGeometry(*card, first, count);
  if (within < count) {
    return (within == 0 || ReadCardSectors(card, first, within, data)) &&
           OnMedium(card, first + within, count - within, data + within * kAtaSectorBytes, nullptr);
  }
  Chs at = PhysicalAddress(*card, first);
  return card->ReadSectors(at.cylinder, at.head, at.sector, count, data);
}

bool WriteCardSectors(sim::AtaCard* card, uint32_t first, uint32_t count, const uint8_t* data) {
  const uint32_t within = WithinGeometry(*card, first, count);
  if (within < count) {
    return (within == 0 || WriteCardSectors(card, first, within, data)) &&
           OnMedium(card, first + within, count - within, nullptr, data + within * kAtaSectorBytes);
  }
  Chs at = PhysicalAddress(*card, first);
  return card->WriteSectors(at.cylinder, at.head, at.sector, count, data);
}

}  // namespace tool
