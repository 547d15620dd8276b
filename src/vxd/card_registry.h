// The pass-through driver's registry key as the two stand-in drivers read it:
// HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\VxD\MIRT marks the
// driver as installed, and each subkey of its Cards key, named by the card's
// I/O base in 4 hex digits, describes one card.
//
// Written against the Win32 registry calls alone, so that the same reader
// serves Wine's registry inside the drivers and the simulated machine's in
// the native build.
#pragma once

#include <string>
#include <vector>

#include "sim/ata_card.h"

namespace vxd {

struct DriverRegistry {
  bool installed = false;
  std::vector<sim::CardSettings> cards;  // in the order the registry lists them
};

// Reads the driver's key and its cards into *out. False when a card key
// cannot be used; *problem then names the key and what is wrong with it.
// A machine without the driver's key gives true with installed false.
bool ReadDriverRegistry(DriverRegistry* out, std::string* problem);

}  // namespace vxd
