// The undo file's bytes: what a write overwrote on a card, kept so that the
// card can be put back as it was. All fields are little-endian.
//
//   header, 128 bytes (version 2):
//     0   8  magic "DUNMUNDO"
//     8   4  version (2)
//     12  4  header length in bytes (128)
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
//     108 8  the file's length in bytes, its closing record included
//     116 8  zero
//     124 4  CRC-32 of bytes 0 to 123
//   then the records:
//     sectors:       0 4 kind 1, 4 4 first sector, 8 4 count N (1 to 255),
//                    12 N x 512 what those sectors held before the write,
//                    then 4 the CRC-32 of the record's bytes before it
//     zero sectors:  0 4 kind 3, 4 4 first sector, 8 4 count N (1 and
//                    more), 12 4 CRC-32 of bytes 0 to 11: N sectors that
//                    held nothing but zeros
//   and last, the closing record:
//     0   4  kind: 2
//     4   4  how many records come before it
//     8   4  how many sectors they hold
//     12  4  CRC-32 of bytes 0 to 11
//
// A write keeps every sector it will change in the file, closing record
// and all, before its first sector reaches the card; a sector it had not
// planned gets a record of its own, added before it is written.
//
// Version 1, which earlier runs wrote, is read too: a header of 112 bytes
// without the file's length (its CRC-32 at 108), one sector record per
// WRITE SECTORS command in the order sent, each on the disk before its
// command reached the card, and no zero records.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tool {

constexpr uint32_t kUndoVersion = 2;
constexpr uint32_t kUndoVersion1 = 1;
constexpr uint32_t kUndoHeaderBytes = 128;
constexpr uint32_t kUndoHeader1Bytes = 112;
constexpr uint32_t kUndoRecordSectors = 1;
constexpr uint32_t kUndoRecordClosing = 2;
constexpr uint32_t kUndoRecordZeros = 3;
constexpr uint32_t kUndoRecordHeadBytes = 12;
constexpr uint32_t kUndoCrcBytes = 4;
// A closing record, or a zero record.
constexpr uint32_t kUndoShortRecordBytes = kUndoRecordHeadBytes + kUndoCrcBytes;

struct UndoHeader {
  uint32_t version = kUndoVersion;
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
  // Version 2: the file's whole length; 0 in version 1, which does not say.
  uint64_t fileBytes = 0;

  uint32_t Bytes() const { return version == kUndoVersion1 ? kUndoHeader1Bytes : kUndoHeaderBytes; }
};

struct UndoRecord {
  uint32_t first = 0;
  uint32_t count = 0;
  bool zeros = false;         // the sectors held zeros: no data kept
  std::vector<uint8_t> data;  // count x 512 bytes, empty for zeros
};

// What a file holds, as far as it is whole.
struct UndoContents {
  UndoHeader header;
  std::vector<UndoRecord> records;
  bool closed = false;  // the closing record is there: the file is whole
  // Bytes after the last whole record that make no record: a file cut short
  // while its last record was being added (that record's sectors had not
  // reached the card yet).
  uint64_t unfinishedBytes = 0;

  uint64_t Sectors() const;
};

// The CRC-32 of ISO-HDLC (the one of zip and PNG), continued from crc.
uint32_t Crc32(const uint8_t* data, size_t length, uint32_t crc = 0);

std::vector<uint8_t> EncodeUndoHeader(const UndoHeader& header);
// A sector record; data holds count x 512 bytes.
std::vector<uint8_t> EncodeUndoRecord(uint32_t first, uint32_t count, const uint8_t* data);
std::vector<uint8_t> EncodeZeroRecord(uint32_t first, uint32_t count);
std::vector<uint8_t> EncodeClosingRecord(uint32_t records, uint32_t sectors);

// Sectors the card held before a write: count of them from first, data
// (count x 512 bytes) what they held.
struct KeptRun {
  uint32_t first;
  uint32_t count;
  const uint8_t* data;
};

// A file laid out record by record as the kept sectors' data comes in: the
// runs as records (runs of all-zero sectors as zero records, the others in
// records of at most 255 sectors, in the order given), each handed over
// as soon as it is made, so that it can be written while the rest is read.
// A record's data is not copied: it points into the runs' data.
struct LaidOutRecord {
  uint64_t at = 0;  // its first byte's place in the file
  uint8_t head[kUndoRecordHeadBytes] = {};
  const uint8_t* data = nullptr;  // null for a run of zeros
  size_t dataBytes = 0;
  uint8_t crc[kUndoCrcBytes] = {};
};
// What the whole file came to: the header (the file's length set here),
// which goes at its start, and what the closing record at its end counts.
struct UndoFileLayout {
  UndoHeader header;
  uint32_t records = 0;
  uint32_t sectors = 0;
  bool complete = false;  // false: the data never all came, or a record was not taken

  uint64_t ClosingAt() const { return header.fileBytes - kUndoShortRecordBytes; }
};
// ready, when given, is asked before any byte of the runs' data before end
// is looked at (the runs' data lying one after the other in memory, as it
// is read in): it answers once the data is there up to a pointer at or
// after end, or with null when it will never be. take gets each record in
// the order of the file; false from it ends the layout, incomplete.
UndoFileLayout LayOutUndoFile(UndoHeader header, const std::vector<KeptRun>& runs,
                              const std::function<const uint8_t*(const uint8_t* end)>& ready,
                              const std::function<bool(const LaidOutRecord& record)>& take);

// The same file as bytes.
std::vector<uint8_t> EncodeUndoFile(UndoHeader header, const std::vector<KeptRun>& runs,
                                    uint32_t* records, uint32_t* sectors);

// A header's time as people read it: "2026-12-08 14:49:22 UTC".
std::string UndoTimeText(int64_t seconds);

// Reads the header at the start of bytes (at least the header's length of
// them, or as many as there are). False with *why when they are no undo
// file's header or a damaged one.
bool ParseUndoHeader(const uint8_t* bytes, size_t length, UndoHeader* header, std::string* why);

// Reads a whole file's bytes. False with *why (one phrase) when they are no
// undo file, or damaged: a header or a record whose CRC-32 does not match
// (a record's count is trusted only once its CRC-32 is), bytes after whole
// records that make no record, a closing record that does not count what
// precedes it, or more bytes than a version 2 header says. A file that ends
// after whole records without its closing record, perhaps inside the one
// being added, is cut short and not damaged.
bool ParseUndoFile(const std::vector<uint8_t>& bytes, UndoContents* out, std::string* why);

}  // namespace tool
