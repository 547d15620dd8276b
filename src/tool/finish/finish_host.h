// The finishing step in the native program: --boot, --bios and
// --bios-geometry read at the start-up and checked against every card of the
// machine, then applied to each card the system wrote, after its write and
// before the card is released, through the card's model and under its
// volume lock. The system's own write is never changed: it ends with its master
// boot record (no boot code, no active entry), and only then does the host
// finish the card.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "format/volume_plan.h"
#include "sim/ata_card.h"
#include "tool/command/message.h"
#include "tool/command/settings.h"
#include "tool/finish/finish_card.h"

namespace tool {

// The finishing options for a card of this physical geometry, from the
// settings read by SetUpFinishing (or given directly by the caller). False
// with *why when the BIOS geometry cannot describe the card.
struct FinishRequest {
  bool boot = false;
  enum class Bios { kNone, kLba, kNormal, kGiven } bios = Bios::kNone;
  BiosGeometry given;     // kGiven
  std::string biosShown;  // how the user gave it, for messages
};
// Reads --boot, --bios and --bios-geometry. False with *error, one line.
bool ReadFinishRequest(const Settings& settings, FinishRequest* request, std::string* error);
bool OptionsForCard(const FinishRequest& request, uint64_t cardSectors, int physicalHeads,
                    int physicalSectors, int physicalCylinders, FinishOptions* options,
                    std::string* why);

// What follows the system's write on each card it wrote, before the card is
// released: its old signatures cleared (old_signatures.h), then the
// finishing step the settings ask for; and the cards whose volume lock is
// kept for it past the system's own unlock.
struct Finishing {
  FinishRequest request;
  Notes* notes = nullptr;  // where the outcome of each card is said
  std::set<const sim::AtaCard*> keptLocks;
  // The old signatures found on each card at the start-up, by its medium.
  std::map<std::string, std::vector<SectorRunPlan>> oldSignatures;

  bool Asked() const { return request.boot || request.bios != FinishRequest::Bios::kNone; }
  // Reads what is on each card before anything is written, and keeps the
  // sectors of old signatures that the write would leave.
  void FindOldSignatures(const std::vector<sim::CardSettings>& cards);
  // Those of a card that the sectors written leave, to be cleared after them.
  std::vector<SectorRunPlan> OldSignaturesAfter(const std::string& image,
                                                const std::vector<SectorRunPlan>& written) const;
  // Checks that each card of the machine can be described by the BIOS
  // geometry asked for. False with *error, one line. At the start-up, once
  // the cards are open.
  bool CheckCards(const std::vector<sim::CardSettings>& cards, std::string* error) const;
  // The write has begun: each of these cards whose volume is locked gets one
  // more hold on its lock, so that the lock lasts past the system's own
  // unlock until the card is finished. Nothing for a card that has no old
  // signatures when no finishing was asked.
  void KeepLocks(const std::vector<sim::AtaCard*>& cards);
  // Before the cards are released: each card whose write ended with its
  // master boot record has its old signatures cleared and is finished, and
  // the lock kept for it given back. A failure, the sectors cleared and the
  // geometry the card was finished for are noted.
  void FinishWrittenCards(const std::vector<sim::AtaCard*>& cards);
  // What the step will do after the planned volume is written, for the
  // plan: empty when nothing was asked.
  std::string Planned(const VolumePlan& volume) const;
  // The sectors it will write then, in its order: none when nothing was
  // asked.
  std::vector<SectorRunPlan> PlannedRuns(const VolumePlan& volume) const;

 private:
  void ClearOldSignatures(sim::AtaCard* card);
};

// Whether the card's write ended as the system ends a whole write: with
// its master boot record, sector 0, written last.
bool EndedWithMasterBootRecord(const sim::AtaCard& card);

}  // namespace tool
