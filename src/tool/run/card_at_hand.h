// The machine's one card, taken by a run that writes it outside the
// system's own run (--restore, --make-bootable): its model over the medium
// the boot opened, with the run's steps around each write, under its volume
// lock, and given back as the system's run gives back its cards.
#pragma once

#include <memory>
#include <string>

#include "sim/ata_card.h"
#include "tool/run/tool_run.h"

namespace tool {

struct CardAtHand {
  std::unique_ptr<sim::AtaCard> card;
  std::string name;      // as outputs name it
  uint64_t sectors = 0;  // the medium's, in 512-byte sectors
};

// Takes the booted machine's one card and holds its volume lock. False with
// *error, one line: no card or more than one, a medium that is not there, a
// card another program holds.
bool TakeOneCard(CardAtHand* hand, std::string* error);

// Before the card is written: what the planned sectors hold kept in the
// run's undo file, and the progress line told of the work, the planned
// sectors read ahead, written and read back and moreWork besides. False
// with *error (one line): nothing may be written.
bool KeepAheadOfWrite(ToolRun* run, CardAtHand* hand, const PlannedSectors& plan, uint64_t moreWork,
                      std::string* error);

// Writes through the card while the signals that end a run are held: a
// write is never cut between two of its commands.
void BeginCardWrite();

// Gives the card back: its lock released, the run's undo file closed and
// said, the kernel asked to read its table again when anything was
// written, the notes and then outcome said, and a signal held meanwhile let
// through.
void GiveBackCard(ToolRun* run, CardAtHand* hand, const std::string& outcome);

}  // namespace tool
