// The ATA command opcodes the utility sends and the card models answer:
// written by the system into the pass-through request, decoded by the card
// model, and sent by the host to a real card inside the SCSI/ATA
// translation. It depends on nothing else here, so that the device models
// can take it and still stand alone.
#pragma once

#include <cstdint>

constexpr uint8_t kAtaIdentifyDevice = 0xEC;
constexpr uint8_t kAtaReadSectors = 0x20;   // with retries
constexpr uint8_t kAtaWriteSectors = 0x30;  // with retries
