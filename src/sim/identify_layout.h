// Where a CompactFlash card (and any ATA disk) puts its geometry and its
// identity texts in the 256-word block IDENTIFY DEVICE returns. The card
// model fills these words and the host reads them back from a real card.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

constexpr int kIdentifyBlockBytes = 512;

// Words 1, 3 and 6: the default geometry, cylinders, heads and sectors per
// track, each one word.
constexpr int kWordCylinders = 1;
constexpr int kWordHeads = 3;
constexpr int kWordSectorsPerTrack = 6;

// The identity texts: ATA text, two characters a word with the first in the
// word's high byte, left-justified and padded with blanks.
constexpr int kWordSerialNumber = 10;  // words 10-19, 20 characters
constexpr int kSerialNumberChars = 20;
constexpr int kWordFirmwareRevision = 23;  // words 23-26, 8 characters
constexpr int kFirmwareRevisionChars = 8;
constexpr int kWordModel = 27;  // words 27-46, 40 characters
constexpr int kModelChars = 40;

// What the block says in those words: the default geometry exactly as the
// words hold it, and the identity texts without the blanks that pad them.
struct CardIdentity {
  uint16_t cylinders = 0;
  uint16_t heads = 0;
  uint16_t sectorsPerTrack = 0;
  std::string model;
  std::string serialNumber;
  std::string firmwareRevision;
};

}  // namespace sim
