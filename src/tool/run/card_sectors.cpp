#include "tool/run/card_sectors.h"

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

}  // namespace

bool ReadCardSectors(sim::AtaCard* card, uint32_t first, uint32_t count, uint8_t* data) {
  Chs at = PhysicalAddress(*card, first);
  return card->ReadSectors(at.cylinder, at.head, at.sector, count, data);
}

bool WriteCardSectors(sim::AtaCard* card, uint32_t first, uint32_t count, const uint8_t* data) {
  Chs at = PhysicalAddress(*card, first);
  return card->WriteSectors(at.cylinder, at.head, at.sector, count, data);
}

}  // namespace tool
