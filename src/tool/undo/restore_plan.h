// What a restore checks and writes, worked out from an undo file before the
// card is touched: whether the card is the one the file was taken from, and
// the writes that put its records back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tool/undo/undo_format.h"

namespace tool {

// The card a restore is asked to write, as the machine knows it.
struct RestoreCard {
  uint64_t sectors = 0;
  uint16_t cylinders = 0;
  uint16_t heads = 0;
  uint16_t sectorsPerTrack = 0;
  std::string model;
  std::string serialNumber;
  // False when the serial number is a machine file's, given for a real
  // device: it tells the card from no other.
  bool serialIsTheCards = true;
};

// Empty when the card is the undo file's card: the same size and geometry,
// and the same model and serial number. Otherwise the first difference, as
// a phrase. A card or file with no serial number of the card's own (none, or
// a machine file's) is no known card: refused unless forced.
std::string CardDifference(const UndoHeader& header, const RestoreCard& card, bool force);

// One WRITE SECTORS command of the restore.
struct RestoreWrite {
  uint32_t first;
  uint32_t count;
  const uint8_t* data;  // into the record it comes from
};

// The records in reverse order, so that a sector written twice gets what it
// held before the first write, with sector 0 (the MBR) held back to the very
// end: a restore cut short leaves the MBR the write put there. A record of
// zeros longer than a command takes goes as several.
std::vector<RestoreWrite> RestoreWrites(const UndoContents& contents);

// Empty when every record lies on the card's medium, which the restore
// writes (past what its geometry addresses, on the medium itself).
// Otherwise the first that does not, as a phrase.
std::string RecordOutsideCard(const UndoContents& contents, const RestoreCard& card);

// The sectors the records cover, as "0, 32-33, 125408-125663", at most
// limit ranges before ", ...".
std::string CoveredSectors(const std::vector<UndoRecord>& records, size_t limit);

}  // namespace tool
