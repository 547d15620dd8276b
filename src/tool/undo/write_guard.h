// What the native host does around a write to a card, on top of what the
// card model does. Before the first sector of the write reaches the card,
// every sector the write will change is read from the card (in large reads)
// and kept in the run's undo file, written whole and made durable at once;
// a command that writes a sector outside that plan gets the sectors it
// overwrites kept in a record of its own, durable before it is sent. After
// each command, on a block device, its sectors are read back from the card
// and compared with what was sent, and a difference fails the command as a
// write error. The system's screens, bytes and exit codes are the same with
// or without them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/ata_card.h"
#include "tool/command/message.h"
#include "tool/command/settings.h"
#include "tool/run/progress.h"
#include "tool/undo/undo_file.h"
#include "tool/undo/write_plan.h"

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
  Progress* progress = nullptr;
  // The card being written, its undo file and what was read back.
  std::string card;
  UndoFile file;
  bool fileBegun = false;
  PlannedSectors kept;    // the sectors the file kept before the write began
  bool refused = false;   // the file could not be made: nothing is written
  uint64_t commands = 0;  // commands sent to the card since the file was begun
  std::string verifiedCard;
  uint64_t verified = 0;

  // Reads the undo and verify settings once the cards' media are open, and
  // checks that the undo file can be made where it goes: the folder there
  // (made now, unless dryRun), writable, not on a card of the machine, and
  // no file of that name. False with *error (one line) for what cannot be.
  bool Prepare(const Settings& settings, const std::vector<sim::CardSettings>& cards, bool dryRun,
               std::string* error);

  // Whether a write to the card keeps an undo file, and whether it is read
  // back.
  bool Keeps(const sim::CardSettings& card) const;
  bool Verifies(const sim::CardSettings& card) const;

  // Before the first sector of a write reaches the card: what the planned
  // sectors hold is read and the whole undo file written and made durable
  // (nothing when the card keeps none, or the file was made already). False
  // with *error (one line) when it cannot be; every command to the card is
  // then refused, so that nothing is written.
  bool KeepAhead(const sim::CardSettings& card, const sim::Medium& medium,
                 const PlannedSectors& plan, std::string* error);

  // The card model's steps around each WRITE SECTORS command
  // (sim::CardSettings::beforeWrite and afterWrite).
  bool KeepBeforeWrite(const sim::CardSettings& card, const sim::Medium& medium, uint32_t first,
                       uint32_t count);
  bool VerifyAfterWrite(const sim::CardSettings& card, const sim::Medium& medium, uint32_t first,
                        uint32_t count, const uint8_t* data);

  // The run is done with its cards: the notes say where the undo file is,
  // how to put it back and how many sectors were read back. A file whose
  // card was sent nothing is removed.
  void Finish();

 private:
  bool BeginUndoFile(const sim::CardSettings& card, const sim::Medium& medium,
                     const PlannedSectors& plan, std::string* error);
};

// The default undo file's name in folder for a card, begun at time:
// MODEL_SERIAL_YYYYMMDD-HHMMSS.undo (UTC; "card" and "no-serial" for what
// the card does not say), characters other than letters,
// digits, '-' and '.' as '_'.
std::string DefaultUndoName(const std::string& model, const std::string& serialNumber,
                            int64_t time);

// The folder the default undo files go to, from the settings: empty, with
// *error, when neither variable names one.
std::string DefaultUndoFolder(const Settings& settings, std::string* error);

}  // namespace tool
