// The undo file as a write adds to it: created as a new file only, each
// record made durable (fdatasync) before the command it belongs to reaches
// the card, and closed with its closing record when the run releases the
// card.
#pragma once

#include <cstdint>
#include <string>

#include "tool/undo/undo_format.h"

namespace tool {

struct UndoFile {
  std::string path;
  int fd = -1;
  uint32_t records = 0;
  uint32_t sectors = 0;
};

// Creates path as a new file (never through a link, never over a file that
// is there) with the header, durable, its folder's entry too. False with
// *error (one phrase) otherwise; EEXIST is left in errno for a caller that
// tries another name.
bool CreateUndoFile(const std::string& path, const UndoHeader& header, UndoFile* file,
                    std::string* error);

// Adds what count sectors from first held (count x 512 bytes of data) and
// makes it durable.
bool AppendUndoRecord(UndoFile* file, uint32_t first, uint32_t count, const uint8_t* data,
                      std::string* error);

// Adds the closing record, makes it durable and closes the file.
bool CloseUndoFile(UndoFile* file, std::string* error);

}  // namespace tool
