// The pass-through driver's registry key as the simulated machine and the
// stand-in driver mirt.vxd read it:
// HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\VxD\MIRT marks the
// driver as installed, and each subkey of its Cards key, named by the card's
// I/O base in 4 hex digits, describes one card.
//
// Written against the Win32 registry calls alone, so that the same reader
// serves Wine's registry inside the driver and the simulated machine's in
// the native build.
#pragma once

#include <string>
#include <vector>

#include "sim/ata_card.h"

namespace cards {

// The driver's key below HKEY_LOCAL_MACHINE, and the subkey of it that holds
// one key per card.
constexpr char kDriverKey[] = "System\\CurrentControlSet\\Services\\VxD\\MIRT";
constexpr char kCardsSubkey[] = "Cards";

// The Cards key below HKEY_LOCAL_MACHINE, as the registry calls open it.
inline std::string CardsKeyPath() {
  return std::string(kDriverKey) + "\\" + kCardsSubkey;
}

// The Cards key from its root, as messages name it.
inline std::string CardsKeyShown() {
  return "HKEY_LOCAL_MACHINE\\" + CardsKeyPath();
}

struct DriverRegistry {
  bool installed = false;
  std::vector<sim::CardSettings> cards;  // in the order the registry lists them
};

// Reads the driver's key and its cards into *out. False when a card key
// cannot be used; *problem then names the key and what is wrong with it.
// A machine without the driver's key gives true with installed false.
bool ReadDriverRegistry(DriverRegistry* out, std::string* problem);

}  // namespace cards
