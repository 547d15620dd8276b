// The text form of a card's bad sector list: absolute sector numbers and
// inclusive ranges separated by commas, such as "0,5000-5010".
#pragma once

#include <string>
#include <vector>

#include "sim/ata_card.h"

namespace sim {

// Appends the ranges of text to *ranges. An empty text lists nothing. False
// with *error describing the first bad item; *ranges is then unchanged.
bool ParseSectorList(const std::string& text, std::vector<SectorRange>* ranges, std::string* error);

}  // namespace sim
