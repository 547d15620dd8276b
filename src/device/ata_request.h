// What travels to the ATA pass-through driver: its control codes, the port
// record of code 6 and the 32-byte request record of codes 3 and 4, and the
// IDENTIFY DEVICE fields the channel reads back.
#pragma once

#include <cstdint>

#include "common/ata_identify.h"
#include "win32/win32.h"

// Pass-through control codes. The driver model (sim/pass_through_driver.h)
// writes the same codes and records again on purpose, as the other party to
// the contract; the IDENTIFY words, a fact of ATA itself, come from common/.
constexpr DWORD kPassThroughRead = 3;   // IDENTIFY DEVICE and READ SECTORS
constexpr DWORD kPassThroughWrite = 4;  // WRITE SECTORS
constexpr DWORD kPassThroughSetPorts = 6;
// The sector buffer travels as the output buffer with this length, whatever
// its real size: the driver goes by the request's sector count.
constexpr DWORD kPassThroughOutputLength = 4;

// Port record of code 6: two little-endian 16-bit ports.
constexpr int kPortRecordSize = 4;
constexpr int kPortRecordIoBase = 0;
constexpr int kPortRecordControlPort = 2;

// Request record of codes 3 and 4: every field little-endian 16-bit, all
// others zero.
constexpr int kAtaRequestSize = 32;
constexpr int kAtaRequestCommand = 0;
constexpr int kAtaRequestCylinder = 4;
constexpr int kAtaRequestHead = 6;
constexpr int kAtaRequestSector = 8;  // counted from 1
constexpr int kAtaRequestCount = 10;
// Two driver parameters: the driver expects 6000 here in every request and 10
// in the next field for writes; what it makes of them is its own affair.
constexpr int kAtaRequestDriverParameter = 14;
constexpr uint16_t kDriverParameterValue = 6000;
constexpr int kAtaRequestWriteParameter = 16;
constexpr uint16_t kWriteParameterValue = 10;

// IDENTIFY DEVICE data: the default geometry words, read before any swapping,
// and the text fields, as byte offsets into the byte-pair-swapped block (the
// swap keeps each word in its place, so a word's byte offset is unchanged).
constexpr int kIdentifyCylindersOffset = 2 * kWordCylinders;
constexpr int kIdentifyHeadsOffset = 2 * kWordHeads;
constexpr int kIdentifySectorsOffset = 2 * kWordSectorsPerTrack;
constexpr int kIdentifySerialOffset = 2 * kWordSerialNumber;
constexpr int kIdentifyFirmwareOffset = 2 * kWordFirmwareRevision;
constexpr int kIdentifyModelOffset = 2 * kWordModel;

struct AtaRequest {
  uint8_t bytes[kAtaRequestSize];

  // Starts from an all-zero record and fills the command, the address, the
  // count and the driver parameter that every request carries.
  void Build(uint16_t command, int cylinder, int head, int sector, int count);
  // Adds the parameter that marks a write.
  void MarkWrite();
};
