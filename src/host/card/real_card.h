// A real card on Linux: the default machine with its card's medium named by
// the card option (an image or a card reader's block device) and its geometry
// by the geometry option, and every card on a block device checked, and asked
// for its identity where its key gives none, before the terminal is taken.
#pragma once

#include <string>
#include <vector>

#include "host/boot/machine_options.h"
#include "host/card/sat_identify.h"
#include "host/card/sysfs_disk.h"
#include "sim/ata_card.h"

namespace host {

// Puts the card and geometry settings into the default machine just loaded
// (a machine file describes its cards in its own keys; the options have been
// checked against each other before). False with *error, one line naming
// what is wrong.
bool ApplyCardSettings(const MachineOptions& settings, std::string* error);

// "DUNMORE_CARD=<image>" (or "card <image>") when image is the medium the
// card setting named, else empty: refusals about that card name the
// setting, which the user wrote, not its card key, which the user never saw.
std::string SettingsCardName(const MachineOptions& settings, const std::string& image);

// Opens the medium of every card of the machine, once (see card_medium.h).
void OpenCardMedia();

// Checks every card of the machine whose medium is a block device. Only a
// card is written: a whole disk (never a partition of one) that the kernel
// marks removable, a loop device, or a device that answers IDENTIFY DEVICE as
// a CompactFlash card; any other disk only when the fixed-disk setting names it.
// It must open for writing, have 512-byte logical sectors and hold at least
// cylinders x heads x sectors of them, a geometry the card disk can address.
// A key that gives no geometry (or no identity texts) takes them from the
// card's answer to IDENTIFY DEVICE, sent through request, and a reader that
// gives no texts is named by its model in sysfs. False with *error, one line
// naming the device.
bool PrepareBlockDeviceCards(const MachineOptions& settings, std::string* error,
                             SgIoRequest request = KernelSgIo,
                             const std::string& sysfs = kSysfsRoot);

// Whether the card carried out a WRITE SECTORS command.
bool CardWasWritten(const sim::AtaCard& card);

// When a card's volume lock was refused: what held it, kept for standard
// error once the terminal is given back (the screen said only that another
// user has the card).
void NoteHolder(const sim::CardSettings& card);

// After the cards are closed: the kernel is asked to read the partition
// table of each rewritten block device again. A refusal does not fail the
// run; it is kept for standard error once the terminal is given back.
void AfterCardsClosed(const std::vector<std::string>& rewrittenMedia);

// When a signal held during the write ends the run: the card's volume and
// table are whole, which the note says after the terminal is given back.
void NoteEndedAfterWrite(const std::string& medium);

}  // namespace host
