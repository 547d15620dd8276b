#include "tool/modes/card_survey.h"

#include <sys/stat.h>

#include "common/ata_identify.h"
#include "host/card/block_device.h"
#include "host/card/card_medium.h"
#include "host/card/real_card.h"
#include "host/host.h"

namespace tool {
namespace {

using host::CardMedium;
using host::SgIoRequest;
using host::SysfsDisk;

// Word 0's media bits.
constexpr uint16_t kRemovableMedia = 0x0080;
constexpr uint16_t kFixedDevice = 0x0040;

bool SameDevice(const std::string& path, dev_t device) {
  struct stat status;
  return !path.empty() && stat(path.c_str(), &status) == 0 && S_ISBLK(status.st_mode) &&
         status.st_rdev == device;
}

// What the kernel and the card itself say, on the descriptor the machine
// opened.
void ReadDeviceFacts(const host::MachineOptions& settings, const CardMedium& medium,
                     SgIoRequest request, const std::string& sysfs, SurveyedCard* card) {
  card->blockDevice = true;
  SysfsDisk disk;
  bool known = host::ReadSysfsDisk(sysfs, medium.status.st_rdev, &disk);
  uint32_t sectorBytes = 0;
  std::string why;
  host::ReadBlockDeviceSize(medium.fd, &sectorBytes, &card->bytes, &why);
  card->empty = card->bytes == 0;
  card->kernelRemovable = known && disk.removable;
  if (known && disk.loop) card->loopBackingFile = disk.backingFile;
  if (!card->empty)
    card->answered = host::AskCardIdentity(medium.fd, &card->identity, &why, request);
  if (!card->answered && known) card->identity.model = disk.model;
  card->fixedDisk = !(known && (disk.loop || disk.removable)) &&
                    !(card->answered && card->identity.compactFlash) &&
                    !SameDevice(settings.fixedDisk.value, medium.status.st_rdev);
  if (known) card->mounts = host::MountsOn(disk.name, sysfs);
}

// The system's own reading, on the default machine with this card.
void ReadWithTheSystem(const host::MachineOptions& given, SurveyedCard* card, SgIoRequest request,
                       const std::string& sysfs) {
  host::MachineOptions settings = given;
  settings.card.value = card->path;
  settings.card.onCommandLine = true;
  // A card that tells its geometry is read with it.
  if (card->answered) settings.geometry.value.clear();
  std::string error;
  if (!host::ApplyCardSettings(settings, &error) ||
      !host::PrepareBlockDeviceCards(settings, &error, request, sysfs)) {
    // Said of this card: the listing names it already.
    const std::string subject = settings.card.Shown() + ": ";
    card->refusal =
        error.compare(0, subject.size(), subject) == 0 ? error.substr(subject.size()) : error;
    return;
  }
  const char* refusal = SurveyCard(&card->report);
  if (refusal != nullptr) {
    card->refusal = refusal;
    return;
  }
  card->read = true;
}

}  // namespace

std::string CallsItself(const SurveyedCard& card) {
  uint16_t word = card.blockDevice ? card.identity.generalConfig : kCompactFlashSignature;
  if (card.blockDevice && !card.answered) return std::string();
  if (word & kRemovableMedia) return "removable";
  if (word & kFixedDevice) return "fixed";
  return std::string();
}

std::string IdentitySource(const SurveyedCard& card) {
  if (!card.blockDevice) return "card model";
  return card.answered ? "identify" : "sysfs";
}

void BeginSurvey() {
  host::UseCardMedia(host::MediaUse::kLook);
}

SurveyedCard SurveyCardAt(const host::MachineOptions& settings, const std::string& path,
                          SgIoRequest request, const std::string& sysfs) {
  SurveyedCard card;
  card.path = path;
  std::string error;
  if (!host::LoadMachineText(host::DefaultMachineText(), "default machine", &error)) {
    card.refusal = error;
    return card;
  }
  const CardMedium& medium = host::CardMediumAt(path);
  if (medium.fd < 0) {
    card.refusal = medium.missing ? "no such file or device" : "cannot be read";
    return card;
  }
  if (medium.IsBlockDevice()) {
    ReadDeviceFacts(settings, medium, request, sysfs, &card);
  } else {
    card.bytes = static_cast<uint64_t>(medium.status.st_size);
  }
  if (card.empty || card.fixedDisk) return card;
  ReadWithTheSystem(settings, &card, request, sysfs);
  return card;
}

}  // namespace tool
