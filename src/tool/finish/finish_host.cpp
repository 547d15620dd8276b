#include "tool/finish/finish_host.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "common/ata_commands.h"
#include "disk/geometry_rule.h"
#include "format/fat_layout.h"
#include "host/card/card_medium.h"
#include "sim/medium.h"
#include "tool/finish/old_signatures.h"
#include "tool/modes/report_output.h"
#include "tool/run/card_sectors.h"

namespace tool {
namespace {

// "HxS", heads and sectors of at most 5 digits each.
bool ParseHeadsBySectors(const std::string& text, BiosGeometry* geometry) {
  size_t x = text.find_first_of("xX");
  if (x == std::string::npos || x == 0 || x + 1 >= text.size() || x > 5 || text.size() - x > 6) {
    return false;
  }
  for (size_t i = 0; i < text.size(); ++i) {
    if (i != x && (text[i] < '0' || text[i] > '9')) return false;
  }
  geometry->heads = std::stoi(text.substr(0, x));
  geometry->sectors = std::stoi(text.substr(x + 1));
  return true;
}

}  // namespace

bool ReadFinishRequest(const Settings& settings, FinishRequest* request, std::string* error) {
  *request = FinishRequest();
  if (settings.boot.given()) {
    if (settings.boot.value != "1") {
      *error = settings.boot.Shown() + ": give 1, or leave it unset";
      return false;
    }
    request->boot = true;
  }
  if (settings.bios.given() && settings.biosGeometry.given()) {
    *error = settings.bios.Shown() + " and " + settings.biosGeometry.Shown() + ": give one of them";
    return false;
  }
  if (settings.bios.given()) {
    request->biosShown = settings.bios.Shown();
    if (strcasecmp(settings.bios.value.c_str(), "lba") == 0) {
      request->bios = FinishRequest::Bios::kLba;
    } else if (strcasecmp(settings.bios.value.c_str(), "normal") == 0) {
      request->bios = FinishRequest::Bios::kNormal;
    } else {
      *error = request->biosShown +
               ": no such BIOS translation: give lba or normal, or --bios-geometry HxS";
      return false;
    }
  }
  if (settings.biosGeometry.given()) {
    request->biosShown = settings.biosGeometry.Shown();
    request->bios = FinishRequest::Bios::kGiven;
    if (!ParseHeadsBySectors(settings.biosGeometry.value, &request->given)) {
      *error = request->biosShown + ": give heads x sectors, such as 255x63";
      return false;
    }
    std::string why;
    if (!DescribableGeometry(request->given, &why)) {
      *error = request->biosShown + ": " + why;
      return false;
    }
  }
  return true;
}

bool OptionsForCard(const FinishRequest& request, uint64_t cardSectors, int physicalHeads,
                    int physicalSectors, int physicalCylinders, FinishOptions* options,
                    std::string* why) {
  *options = FinishOptions();
  options->bootCode = request.boot;
  switch (request.bios) {
    case FinishRequest::Bios::kNone:
      return true;
    case FinishRequest::Bios::kLba:
      options->geometry = LbaAssistGeometry(cardSectors);
      break;
    case FinishRequest::Bios::kNormal:
      // NORMAL passes the drive's own geometry through, which INT 13h can
      // address only within 1024 cylinders, 255 heads and 63 sectors.
      if (physicalHeads <= 0 || physicalSectors <= 0) {
        *why = "the card's own heads and sectors are not known (give --geometry)";
        return false;
      }
      if (physicalCylinders > kMaxEntryCylinders) {
        *why = "the card has " + std::to_string(physicalCylinders) +
               " cylinders, more than the 1024 a BIOS without translation addresses";
        return false;
      }
      options->geometry.heads = physicalHeads;
      options->geometry.sectors = physicalSectors;
      break;
    case FinishRequest::Bios::kGiven:
      options->geometry = request.given;
      break;
  }
  options->withGeometry = true;
  return DescribableGeometry(options->geometry, why);
}

bool Finishing::CheckCards(const std::vector<sim::CardSettings>& cards, std::string* error) const {
  if (request.bios == FinishRequest::Bios::kNone) return true;
  for (const sim::CardSettings& card : cards) {
    const sim::CardIdentity& id = card.identity;
    // A broken card is the start-up's: it says "PC Card HDD access error!".
    if (CheckCardGeometry(id.cylinders, id.heads, id.sectorsPerTrack) != kGeometryAddressable) {
      continue;
    }
    uint64_t sectors = static_cast<uint64_t>(id.cylinders) * id.heads * id.sectorsPerTrack;
    FinishOptions options;
    std::string why;
    bool ok = OptionsForCard(request, sectors, id.heads, id.sectorsPerTrack, id.cylinders, &options,
                             &why);
    // The system's partition starts on the second track of its logical
    // geometry, whose tracks have the card's own sectors.
    if (ok && !ChsAddressable(id.sectorsPerTrack, options.geometry)) {
      why = "the partition's first sector lies past cylinder 1023";
      ok = false;
    }
    if (!ok) {
      *error = request.biosShown + " cannot describe the card " + card.image + " (" +
               std::to_string(id.cylinders) + " x " + std::to_string(id.heads) + " x " +
               std::to_string(id.sectorsPerTrack) + "): " + why;
      return false;
    }
  }
  return true;
}

bool EndedWithMasterBootRecord(const sim::AtaCard& card) {
  for (auto it = card.transfers.rbegin(); it != card.transfers.rend(); ++it) {
    if (it->command != kAtaWriteSectors) continue;
    return it->succeeded && it->firstSector == 0;
  }
  return false;
}

std::vector<SectorRunPlan> Finishing::PlannedRuns(const VolumePlan& volume) const {
  if (!Asked()) return {};
  std::vector<SectorRunPlan> runs = {{0, 1}, {volume.startLba, 1}};
  // A FAT32 volume keeps a copy of its boot sector, which is finished too.
  if (volume.fat32) runs.push_back({volume.startLba + fat::kFat32BackupBootSector, 1});
  return runs;
}

std::string Finishing::Planned(const VolumePlan& volume) const {
  if (!Asked()) return std::string();
  std::string sectors;
  for (const SectorRunPlan& run : PlannedRuns(volume)) {
    sectors += (sectors.empty() ? "" : ", ") + std::to_string(run.first);
  }
  std::string what = request.boot ? "boot code, the partition active" : "";
  if (request.bios != FinishRequest::Bios::kNone) {
    what += std::string(what.empty() ? "" : ", ") + "CHS values for " + request.biosShown;
  }
  return "then sectors " + sectors + " written again: " + what;
}

void Finishing::FindOldSignatures(const std::vector<sim::CardSettings>& cards) {
  for (const sim::CardSettings& card : cards) {
    const host::CardMedium& medium = host::CardMediumAt(card.image);
    if (medium.fd < 0) continue;  // an image made at its first use holds nothing
    MediumSectorIo io(medium.fd);
    std::vector<SectorRunPlan> runs =
        OldSignatureSectors(&io, io.Sectors(), card.identity.sectorsPerTrack);
    if (!runs.empty()) oldSignatures[card.image] = runs;
  }
}

std::vector<SectorRunPlan> Finishing::OldSignaturesAfter(
    const std::string& image, const std::vector<SectorRunPlan>& written) const {
  auto found = oldSignatures.find(image);
  if (found == oldSignatures.end()) return {};
  return SectorsOutside(found->second, written);
}

void Finishing::KeepLocks(const std::vector<sim::AtaCard*>& cards) {
  for (sim::AtaCard* card : cards) {
    if (!Asked() && oldSignatures.count(card->settings().image) == 0) continue;
    if (keptLocks.count(card) != 0 || card->volumeLockDepth() == 0) continue;
    if (card->HoldVolumeLock()) keptLocks.insert(card);
  }
}

namespace {

// The sectors the card's commands wrote.
std::vector<SectorRunPlan> WrittenRuns(const sim::AtaCard& card) {
  std::vector<SectorRunPlan> runs;
  for (const sim::Transfer& transfer : card.transfers) {
    if (transfer.command == kAtaWriteSectors && transfer.succeeded) {
      runs.push_back({transfer.firstSector, transfer.count});
    }
  }
  return runs;
}

}  // namespace

void Finishing::ClearOldSignatures(sim::AtaCard* card) {
  const std::string& name = host::CardMediumAt(card->settings().image).shownName;
  std::vector<SectorRunPlan> runs = OldSignaturesAfter(card->settings().image, WrittenRuns(*card));
  if (runs.empty()) return;
  std::vector<uint8_t> zeros(kAtaMaxSectorCount * kAtaSectorBytes, 0);
  for (const SectorRunPlan& run : runs) {
    for (uint32_t done = 0; done < run.count;) {
      uint32_t count = std::min<uint32_t>(run.count - done, kAtaMaxSectorCount);
      if (!WriteCardSectors(card, run.first + done, count, zeros.data())) {
        notes->Add(name + ": written, but the old signatures outside the new volume (sectors " +
                   RunsText(runs) + ") were not all cleared: the write of sector " +
                   std::to_string(run.first + done) + " failed; other tools may still find them");
        return;
      }
      done += count;
    }
  }
  notes->Add(name + ": sectors " + RunsText(runs) +
             ", an old table's or file system's outside the new volume, cleared, so that other "
             "tools find only the new table and volume");
}

void Finishing::FinishWrittenCards(const std::vector<sim::AtaCard*>& cards) {
  for (sim::AtaCard* card : cards) {
    if (keptLocks.count(card) == 0) continue;
    const std::string& image = card->settings().image;
    const bool whole = EndedWithMasterBootRecord(*card) && card->mediumDescriptor() >= 0;
    if (whole) ClearOldSignatures(card);
    if (whole && Asked()) {
      const sim::CardIdentity& id = card->settings().identity;
      uint64_t sectors = static_cast<uint64_t>(id.cylinders) * id.heads * id.sectorsPerTrack;
      FinishOptions options;
      FinishedCard found;
      CardSectorIo io(card);
      std::string why;
      bool done = OptionsForCard(request, sectors, id.heads, id.sectorsPerTrack, id.cylinders,
                                 &options, &why) &&
                  InspectCard(&io, sectors, &found, &why) &&
                  CheckFinishOptions(found, options, &why) && FinishCard(&io, found, options, &why);
      if (!done) {
        notes->Add(image + ": written, but not finished (" + why +
                   "): the card is valid and does not start a PC");
      } else {
        std::string note = image + ": finished";
        if (options.bootCode) note += " with boot code, the partition active";
        note += options.withGeometry
                    ? std::string(options.bootCode ? ", " : " ") + "for a BIOS geometry of " +
                          GeometryWords(options.geometry) + " (" + request.biosShown + ")"
                    : ", with the CHS values of the system's own translation";
        notes->Add(note);
      }
    }
    card->ReleaseVolumeLock();
    keptLocks.erase(card);
  }
}

}  // namespace tool
