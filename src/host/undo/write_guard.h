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

#include "host/boot/settings.h"
#include "sim/ata_card.h"

namespace host {

// Reads the undo and verify settings once the cards' media are open, at
// boot. False with *error (one line) for what cannot be: --no-undo with
// --fixed-disk, --undo with --no-undo, an undo file named that is there
// already, a default folder that cannot be made.
bool PrepareWriteGuard(const Settings& settings, std::string* error);

// The card model's hooks (sim::CardSettings::beforeWrite and afterWrite).
bool KeepBeforeWrite(const sim::CardSettings& card, int fd, uint32_t first, uint32_t count);
bool VerifyAfterWrite(const sim::CardSettings& card, int fd, uint32_t first, uint32_t count,
                      const uint8_t* data);
void GuardCardWrites(sim::CardSettings* card);

// The run is done with its cards: the undo file gets its closing record,
// and standard error will say, after the run, where it is and how many
// sectors were read back.
void FinishWriteGuard();

// The default undo file's name in folder for a card, begun at time:
// MODEL_SERIAL_YYYYMMDD-HHMMSS.undo (UTC; "card" and "no-serial" for what
// the card does not say), characters other than letters,
// digits, '-' and '.' as '_'.
std::string DefaultUndoName(const std::string& model, const std::string& serialNumber,
                            int64_t time);

}  // namespace host
