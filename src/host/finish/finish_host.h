// The finishing step in the native program: --boot, --bios and
// --bios-geometry read at boot and checked against every card of the
// machine, then applied to each card the system wrote, after its write and
// before the card is released, on the card's own descriptor and under its
// volume lock; and --make-bootable, the same step alone on a card prepared
// before. The system's own write is never changed: it ends with its master
// boot record (no boot code, no active entry), and only then does the host
// finish the card.
#pragma once

#include <string>
#include <vector>

#include "host/boot/settings.h"
#include "host/finish/finish_card.h"
#include "sim/ata_card.h"

namespace host {

// Reads the finishing settings and checks that each card of the machine can
// be described by the BIOS geometry asked for. False with *error, one line
// (Say adds "dunmore: "). Called at boot, after the cards are prepared.
bool SetUpFinishing(const Settings& settings, std::string* error);

// The write has begun: each of these cards whose volume is locked gets one
// more hold on its lock, so that the lock lasts past the system's own
// unlock until the card is finished. Nothing when no finishing was asked.
void KeepLocksForFinishing(const std::vector<sim::AtaCard*>& cards);

// Before the cards are released: each card whose write ended with its master
// boot record is finished, and the lock kept for it given back. A failure,
// and the geometry the card was finished for, are noted for standard error
// after the terminal is given back.
void FinishWrittenCards(const std::vector<sim::AtaCard*>& cards);

// The finishing options for a card of this physical geometry, from the
// settings read by SetUpFinishing (or given directly by the caller). False
// with *why when the BIOS geometry cannot describe the card.
struct FinishRequest {
  bool boot = false;
  enum class Bios { kNone, kLba, kNormal, kGiven } bios = Bios::kNone;
  BiosGeometry given;     // kGiven
  std::string biosShown;  // how the user gave it, for messages
};
bool ReadFinishRequest(const Settings& settings, FinishRequest* request, std::string* error);
bool OptionsForCard(const FinishRequest& request, uint64_t cardSectors, int physicalHeads,
                    int physicalSectors, int physicalCylinders, FinishOptions* options,
                    std::string* why);

// dunmore --make-bootable [--bios ...] CARD. Returns the exit code: 0 done
// or declined, 1 refused (one line on standard error), 3 a write failed.
int MakeBootable(const Settings& settings);

}  // namespace host
