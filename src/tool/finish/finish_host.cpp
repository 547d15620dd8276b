#include "tool/finish/finish_host.h"

#include <strings.h>

#include <cstdio>
#include <set>

#include "common/ata_commands.h"
#include "disk/geometry_rule.h"
#include "format/fat_layout.h"

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

void Finishing::KeepLocks(const std::vector<sim::AtaCard*>& cards) {
  if (!Asked()) return;
  for (sim::AtaCard* card : cards) {
    if (keptLocks.count(card) != 0 || card->volumeLockDepth() == 0) continue;
    if (card->HoldVolumeLock()) keptLocks.insert(card);
  }
}

void Finishing::FinishWrittenCards(const std::vector<sim::AtaCard*>& cards) {
  for (sim::AtaCard* card : cards) {
    if (keptLocks.count(card) == 0) continue;
    const std::string& image = card->settings().image;
    if (EndedWithMasterBootRecord(*card) && card->mediumDescriptor() >= 0) {
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
