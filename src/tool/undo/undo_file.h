// The undo file as a write makes it: created whole, as a new file, before
// the card is touched (its records written as the sectors they keep are
// read), and made durable with one fdatasync of the file and one fsync of
// its folder; a sector the write had not planned gets a record
// of its own, durable before its command reaches the card.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tool/undo/undo_format.h"

namespace tool {

struct UndoFile {
  std::string path;
  int fd = -1;
  UndoHeader header;
  uint32_t records = 0;
  uint32_t sectors = 0;
  uint64_t bytes = 0;  // its length, the closing record included
  // Records laid out and not written yet, in the order of the file: their
  // heads and CRC-32s kept in own, their data where it lies.
  struct Piece {
    const uint8_t* data;  // null: own's bytes from ownAt
    size_t ownAt;
    size_t length;
  };
  std::vector<Piece> pending;
  std::vector<uint8_t> own;
  uint64_t pendingAt = 0;  // where the first of them goes
  uint64_t pendingBytes = 0;
};

// Creates path as a new file (never through a link, never over a file that
// is there) for an undo file to be laid out into. False with *error (one
// phrase) otherwise; EEXIST is left in errno for a caller that tries
// another name.
bool CreateUndoFile(const std::string& path, UndoFile* file, std::string* error);

// Adds a record laid out for the file after those before it. Records are
// written a megabyte or more at a time, and the disk is asked to begin
// storing each write at once, so that little is left for the one
// fdatasync that makes the file durable. False with *error when it cannot
// be written.
bool AddLaidOutRecord(UndoFile* file, const LaidOutRecord& record, std::string* error);

// Ends a file whose records are all added: the rest of them, its header and
// its closing record written, durable with its folder's entry. False with
// *error (one phrase) otherwise, and nothing left at path.
bool CompleteUndoFile(UndoFile* file, const UndoFileLayout& layout, std::string* error);

// Adds what count sectors from first held (count x 512 bytes of data) after
// the records the file holds, with a new closing record, durable before it
// returns. A crash on the way leaves the file whole as it was or cut short
// after its last whole record: it always restores what reached the card.
bool AppendUndoRecord(UndoFile* file, uint32_t first, uint32_t count, const uint8_t* data,
                      std::string* error);

// Closes the file, which is whole already.
void CloseUndoFile(UndoFile* file);

// Closes the file and removes it: nothing it keeps was written.
void DiscardUndoFile(UndoFile* file);

// An undo file's bytes, to be parsed: a regular file only (a FIFO or a
// device is looked at, never opened for reading), and no more of it than
// its header and the card allow: a version 2 file says its length, and no
// file for a card of cardSectors sectors (of its header's size, when 0)
// holds more than every sector of it twice, in records of one. False with
// *error, one line naming path.
bool ReadUndoFile(const std::string& path, uint64_t cardSectors, std::vector<uint8_t>* bytes,
                  std::string* error);

// Its header alone, with the same checks of what the file is.
bool ReadUndoHeader(const std::string& path, UndoHeader* header, std::string* error);

}  // namespace tool
