// The ATA command opcodes the utility sends and the card models answer, and
// the sector they move:
// written by the system into the pass-through request, decoded by the card
// model, and sent by the host to a real card inside the SCSI/ATA
// translation. It depends on nothing else here, so that the device models
// can take it and still stand alone.
#pragma once

#include <cstdint>

constexpr uint8_t kAtaIdentifyDevice = 0xEC;
constexpr uint8_t kAtaReadSectors = 0x20;   // with retries
constexpr uint8_t kAtaWriteSectors = 0x30;  // with retries

// What one sector of READ SECTORS and WRITE SECTORS carries on a PC Card ATA
// disk; the card image and the file system are laid out in the same unit.
constexpr uint32_t kAtaSectorBytes = 512;
// The sector count register is 8 bits wide: a command moves at most 255
// sectors, and its one way to say 256 (a count of 0) is left alone so that
// nothing depends on how a card reads it.
constexpr uint32_t kAtaMaxSectorCount = 255;
