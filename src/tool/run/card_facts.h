// Where a card's geometry and identity texts came from, as the tool's outputs
// name it, and whether its serial number can tell it from another card.
#pragma once

#include <string>

#include "host/card/card_medium.h"

namespace tool {

// For JSON: "identify", "card key", "--geometry", "undo file", "derived";
// null for none.
const char* GeometrySourceName(host::GeometrySource source);
// For text: "from IDENTIFY DEVICE", "from --geometry", ..., "derived from
// the size; --geometry sets another".
std::string GeometrySourceText(host::GeometrySource source, bool optionSetAside);
// For JSON: "identify", "card key", "kernel", "file name", "path"; null for
// none.
const char* TextSourceName(host::TextSource source);

// A serial number given by a machine file's card key for a real device: it
// names what the machine file says, not what the device is.
bool SerialIsAMachineFiles(const host::CardMedium& medium, const std::string& serial);
// A serial number that tells the card from another: the card's own answer,
// or the card key of a card the machine simulates over an image (the key is
// that card's IDENTIFY answer).
bool SerialIsTheCards(const host::CardMedium& medium, const std::string& serial);

}  // namespace tool
