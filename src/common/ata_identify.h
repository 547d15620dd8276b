// Where a CompactFlash card (and any ATA disk) puts its geometry and its
// identity texts in the 256-word block IDENTIFY DEVICE returns: the card
// model fills these words, the system reads them through the pass-through
// driver and the host reads them back from a real card. It depends on
// nothing else here, so that the device models can take it and still stand
// alone.
#pragma once

#include <cstdint>

constexpr int kIdentifyBlockBytes = 512;

// Word 0, the general configuration: a CompactFlash device answers with its
// own signature there, where an ATA fixed disk has bit 6 ("not removable").
constexpr int kWordGeneralConfig = 0;
constexpr uint16_t kCompactFlashSignature = 0x848A;
// Word 83, command sets supported: bit 2 is the CFA feature set, which a
// CompactFlash device in True IDE mode may report instead of the signature.
// The word means something only when its bits 15 and 14 are 0 and 1.
constexpr int kWordCommandSetsSupported = 83;
constexpr uint16_t kCommandSetsValidMask = 0xC000;
constexpr uint16_t kCommandSetsValid = 0x4000;
constexpr uint16_t kCfaFeatureSet = 0x0004;

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
