// The identity a card's IDENTIFY DEVICE block carries, as the card model
// fills it and the host reads it back from a real card.
#pragma once

#include <cstdint>
#include <string>

#include "common/ata_identify.h"

namespace sim {

// What the block says in those words: the default geometry exactly as the
// words hold it, and the identity texts without the blanks that pad them.
struct CardIdentity {
  uint16_t cylinders = 0;
  uint16_t heads = 0;
  uint16_t sectorsPerTrack = 0;
  std::string model;
  std::string serialNumber;
  std::string firmwareRevision;
  // Whether the block names a CompactFlash device (word 0's signature or the
  // CFA feature set of word 83), as a card in a reader answers and a fixed
  // disk does not. The card model always answers as one.
  bool compactFlash = false;
  // Word 0 as the block gives it: bit 7 set, removable media; bit 6, fixed.
  uint16_t generalConfig = 0;
};

}  // namespace sim
