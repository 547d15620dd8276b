// A real card on Linux: the default machine with its card's medium named by
// DUNMORE_CARD (an image or a card reader's block device) and its geometry by
// DUNMORE_GEOMETRY, and every card on a block device checked, and asked for
// its identity where its key gives none, before the terminal is taken.
#pragma once

#include <string>
#include <vector>

#include "host/sat_identify.h"
#include "host/sysfs_disk.h"
#include "sim/ata_card.h"

namespace host {

// The variable that names the default machine's card, and the one that lets
// a fixed disk be written: it must name the same device.
constexpr char kCardVariable[] = "DUNMORE_CARD";
constexpr char kFixedDiskVariable[] = "DUNMORE_FIXED_DISK";

// Puts DUNMORE_CARD and DUNMORE_GEOMETRY into the default machine just
// loaded. machineFile is the DUNMORE_MACHINE the machine came from, empty for
// the default machine. False with *error, one line naming what is wrong.
bool ApplyCardEnvironment(const std::string& machineFile, std::string* error);

// "DUNMORE_CARD=<image>" when image is the medium DUNMORE_CARD named, else
// empty: refusals about that card name the variable, not its card key.
std::string EnvironmentCardName(const std::string& image);

// Checks every card of the machine whose medium is a block device. Only a
// card is written: a whole disk (never a partition of one) that the kernel
// marks removable, a loop device, or a device that answers IDENTIFY DEVICE as
// a CompactFlash card; any other disk only when DUNMORE_FIXED_DISK names it.
// It must open for writing, have 512-byte logical sectors and hold at least
// cylinders x heads x sectors of them, a geometry the card disk can address.
// A key that gives no geometry (or no identity texts) takes them from the
// card's answer to IDENTIFY DEVICE, sent through request, and a reader that
// gives no texts is named by its model in sysfs. False with *error, one line
// naming the device.
bool PrepareBlockDeviceCards(std::string* error, SgIoRequest request = KernelSgIo,
                             const std::string& sysfs = kSysfsRoot);

// Whether the card carried out a WRITE SECTORS command.
bool CardWasWritten(const sim::AtaCard& card);

// The file to lock together with a card's medium: for a loop device, the
// file it stands over, so that a run on the file and one on the device
// exclude each other. Empty for anything else.
std::string LockedWith(const std::string& medium, const std::string& sysfs = kSysfsRoot);

// When a card's volume lock was refused: what held it, kept for standard
// error once the terminal is given back (the screen said only that another
// user has the card).
void NoteHolder(const sim::CardSettings& card);

// After the cards are closed: the kernel is asked to read the partition
// table of each rewritten block device again. A refusal does not fail the
// run; it is kept for standard error once the terminal is given back.
void AfterCardsClosed(const std::vector<std::string>& rewrittenMedia);

// Prints the notes of the teardown on standard error; run at exit after the
// terminal is given back, or by a test.
void PrintTeardownNotes();

}  // namespace host
