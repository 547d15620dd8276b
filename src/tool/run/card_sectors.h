// A card's sectors by their number from 0, through the card's model: the
// model takes its commands at physical cylinder, head and sector, as the
// card's controller does. The medium may hold sectors past the card's
// geometry (an image or a device larger than cylinders x heads x sectors),
// which no CHS address reaches; those are read and written on the medium
// itself, with the same steps around each write as the model's (the undo
// file, the read-back).
#pragma once

#include <cstdint>

#include "sim/ata_card.h"

namespace tool {

// count sectors (1 to 255) from first, in one command, or on the medium for
// the part past the geometry.
bool ReadCardSectors(sim::AtaCard* card, uint32_t first, uint32_t count, uint8_t* data);
bool WriteCardSectors(sim::AtaCard* card, uint32_t first, uint32_t count, const uint8_t* data);

}  // namespace tool
