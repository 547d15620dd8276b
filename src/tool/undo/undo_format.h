// The undo file's bytes: what a write overwrote on a card, kept so that the
// card can be put back as it was. All fields are little-endian.
//
//   header, 112 bytes:
//     0   8  magic "DUNMUNDO"
//     8   4  version (1)
//     12  4  header length in bytes (112)
//     16  8  the card's size in sectors of 512 bytes
//     24  2  cylinders, 26 2 heads, 28 2 sectors per track (IDENTIFY
//            DEVICE words 1, 3 and 6)
//     30  2  flags: bit 0, the model and serial number are the card's own;
//            bit 1, the serial number is a machine file's card key's, given
//            for a real device (never with bit 0): it tells the card from
//            no other. A file without bit 1 reads as before it was named.
//     32  8  when the file was begun, seconds since 1970-01-01 00:00 UTC
//     40  40 model, 80 20 serial number, 100 8 firmware revision (ATA
//            text, padded with blanks)
//     108 4  CRC-32 of bytes 0 to 107
//   then one record per WRITE SECTORS command, in the order they were sent:
//     0   4  kind: 1
//     4   4  first sector
//     8   4  sector count N (1 to 255)
//     12  N x 512  what those sectors held before the command
//     ..  4  CRC-32 of the record's bytes before it
//   then, when the run ended with its cards released, the closing record:
//     0   4  kind: 2
//     4   4  how many sector records come before it
//     8   4  how many sectors they hold
//     12  4  CRC-32 of bytes 0 to 11
//
// Each record is on the disk before its command reaches the card, so a file
// cut short by a crash holds every sector the card lost.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tool {

constexpr uint32_t kUndoVersion = 1;
constexpr uint32_t kUndoHeaderBytes = 112;
constexpr uint32_t kUndoRecordSectors = 1;
constexpr uint32_t kUndoRecordClosing = 2;
constexpr uint32_t kUndoRecordHeadBytes = 12;
constexpr uint32_t kUndoCrcBytes = 4;

struct UndoHeader {
  uint64_t sectors = 0;
  uint16_t cylinders = 0;
  uint16_t heads = 0;
  uint16_t sectorsPerTrack = 0;
  bool identityKnown = false;
  bool serialFromMachineFile = false;
  int64_t time = 0;
  std::string model;
  std::string serialNumber;
  std::string firmwareRevision;
};

struct UndoRecord {
  uint32_t first = 0;
  uint32_t count = 0;
  std::vector<uint8_t> data;  // count x 512 bytes
};

// What a file holds, as far as it is whole.
struct UndoContents {
  UndoHeader header;
  std::vector<UndoRecord> records;
  bool closed = false;  // the closing record is there: the run ended
  // Bytes after the last whole record that make no record: a file cut short
  // while its last record was being added (that record's command never
  // reached the card).
  uint64_t unfinishedBytes = 0;
};

// The CRC-32 of ISO-HDLC (the one of zip and PNG), continued from crc.
uint32_t Crc32(const uint8_t* data, size_t length, uint32_t crc = 0);

std::vector<uint8_t> EncodeUndoHeader(const UndoHeader& header);
// A sector record; data holds count x 512 bytes.
std::vector<uint8_t> EncodeUndoRecord(uint32_t first, uint32_t count, const uint8_t* data);
std::vector<uint8_t> EncodeClosingRecord(uint32_t records, uint32_t sectors);

// Reads a whole file's bytes. False with *why (one phrase) when they are no
// undo file, or a record or the header is damaged; a record cut short at the
// end, or a last record that fails its CRC in a file with no closing record
// (the one being added when the run was cut), counts as unfinished, not as
// damage.
bool ParseUndoFile(const std::vector<uint8_t>& bytes, UndoContents* out, std::string* why);

}  // namespace tool
