// A real card on Linux: the default machine with its card's medium named by
// DUNMORE_CARD (an image or a card reader's block device) and its geometry by
// DUNMORE_GEOMETRY, and every card on a block device checked, and asked for
// its identity where its key gives none, before the terminal is taken.
#pragma once

#include <string>
#include <vector>

#include "host/sat_identify.h"
#include "sim/ata_card.h"

namespace host {

// Puts DUNMORE_CARD and DUNMORE_GEOMETRY into the default machine just
// loaded. machineFile is the DUNMORE_MACHINE the machine came from, empty for
// the default machine. False with *error, one line naming what is wrong.
bool ApplyCardEnvironment(const std::string& machineFile, std::string* error);

// Checks every card of the machine whose medium is a block device: 512-byte
// logical sectors, at least cylinders x heads x sectors of them; a key that
// gives no geometry (or no identity texts) takes them from the card's answer
// to IDENTIFY DEVICE, sent through request. False with *error, one line
// naming the device.
bool PrepareBlockDeviceCards(std::string* error, SgIoRequest request = KernelSgIo);

// Whether the card carried out a WRITE SECTORS command.
bool CardWasWritten(const sim::AtaCard& card);

// After the cards are closed: the kernel is asked to read the partition
// table of each rewritten block device again. A refusal does not fail the
// run; it is kept for standard error once the terminal is given back.
void AfterCardsClosed(const std::vector<std::string>& rewrittenMedia);

// Prints the notes of the teardown on standard error; run at exit after the
// terminal is given back, or by a test.
void PrintTeardownNotes();

}  // namespace host
