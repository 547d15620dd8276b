// What the native host does around each WRITE SECTORS command that reaches a
// card, on top of what the card model does: before it, the sectors it will
// overwrite are read from the card and added to the run's undo file, durable
// before the card is touched; after it, on a block device, the sectors are
// read back from the card and compared with what was sent, and a difference
// fails the command as a write error. The system's screens, bytes and exit
// codes are the same with or without them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/ata_card.h"
#include "tool/command/message.h"
#include "tool/command/settings.h"
#include "tool/undo/undo_file.h"

namespace tool {

struct WriteGuard {
  // Decided at the start-up: block devices keep an undo file and are read
  // back unless told not to; an image keeps one only when --undo names it.
  bool undo = false;
  bool verify = false;
  std::string undoFile;    // --undo FILE: for any card, images too
  std::string undoFolder;  // where the default files go
  Notes* notes = nullptr;  // where the undo file and the read-back are said
  Settings given;          // the run's, for the command that restores the card
  UndoHeader begun;        // the undo file's header, once begun
  // The card being written, its undo file and what was read back.
  std::string card;
  UndoFile file;
  bool fileBegun = false;
  std::string verifiedCard;
  uint64_t verified = 0;
  std::vector<uint8_t> buffer;

  // Reads the undo and verify settings once the cards' media are open, and
  // checks that the undo file can be made where it goes: the folder there
  // (made now, unless dryRun), writable, and no file of that name. False
  // with *error (one line) for what cannot be.
  bool Prepare(const Settings& settings, const std::vector<sim::CardSettings>& cards, bool dryRun,
               std::string* error);

  // The card model's steps around each WRITE SECTORS command
  // (sim::CardSettings::beforeWrite and afterWrite).
  bool KeepBeforeWrite(const sim::CardSettings& card, int fd, uint32_t first, uint32_t count);
  bool VerifyAfterWrite(const sim::CardSettings& card, int fd, uint32_t first, uint32_t count,
                        const uint8_t* data);

  // The run is done with its cards: the undo file gets its closing record,
  // and the notes say where it is, how to put it back and how many sectors
  // were read back.
  void Finish();

 private:
  bool BeginUndoFile(const sim::CardSettings& card, int fd);
};

// The default undo file's name in folder for a card, begun at time:
// MODEL_SERIAL_YYYYMMDD-HHMMSS.undo (UTC; "card" and "no-serial" for what
// the card does not say), characters other than letters,
// digits, '-' and '.' as '_'.
std::string DefaultUndoName(const std::string& model, const std::string& serialNumber,
                            int64_t time);

}  // namespace tool
