// The drive letters Windows assigns to the devices on one PC Card, read from
// the device registry the way the utility's own scan reads them: every disk
// or CD-ROM devnode of HKEY_DYN_DATA\Config Manager\Enum whose card devnode
// (its "Parent", or without one the card named inside its hardware key) has
// an "Allocation" whose first I/O range starts at the card's I/O base; the
// letters are the "CurrentDriveLetterAssignment" of the device's key under
// HKEY_LOCAL_MACHINE\Enum.
//
// VWIN32 maps a letter to a card from this alone, so the letter the utility
// locks is always the letter of the card it writes.
#pragma once

#include <cstdint>
#include <string>

namespace cards {

// The letters of every device on the card at ioBase, in devnode order, upper
// case; empty when the registry gives the card none.
std::string CardDriveLetters(uint16_t ioBase);

}  // namespace cards
