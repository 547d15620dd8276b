#include "tool/modes/card_survey.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cstring>

#include "common/ata_commands.h"
#include "common/ata_identify.h"
#include "common/little_endian.h"
#include "disk/card_disk.h"
#include "disk/raw_partition_entry.h"
#include "host/card/block_device.h"
#include "host/card/real_card.h"
#include "host/host.h"
#include "sim/medium.h"

namespace tool {
namespace {

using host::CardMedium;
using host::SgIoRequest;
using host::SysfsDisk;
using host::TextSource;

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
  int readOnly = 0;
  card->readOnly = ioctl(medium.fd, BLKROGET, &readOnly) == 0 && readOnly != 0;
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

// The table entries behind the system's partitions: the listing names each
// entry that is not empty, in the order of its start, by its type and CHS
// values, which the entry found must match.
void ReadTableEntries(const CardMedium& medium, const std::string& sysfs, SurveyedCard* card) {
  card->entries.assign(static_cast<size_t>(card->report.partitionCount), SurveyedPartition());
  uint8_t mbr[kAtaSectorBytes];
  if (!sim::ReadMedium(sim::DescribeMedium(medium.fd), 0, mbr, kAtaSectorBytes)) return;
  std::vector<std::pair<int, std::string>> nodes;
  if (medium.IsBlockDevice()) nodes = host::DiskPartitions(sysfs, medium.status.st_rdev);
  bool taken[kMbrEntryCount] = {};
  for (int i = 0; i < card->report.partitionCount; ++i) {
    const ReportedPartition& p = card->report.partitions[i];
    for (int slot = 0; slot < kMbrEntryCount; ++slot) {
      RawPartitionEntry raw;
      std::memcpy(raw.bytes, mbr + kMbrEntriesOffset + slot * sizeof raw.bytes, sizeof raw.bytes);
      uint8_t type = 0;
      PackedChs start = 0, end = 0;
      CardDisk::DecodeEntry(raw, &type, &start, &end);
      if (taken[slot] || type != p.type ||
          start != MakePackedChs(p.startCylinder, p.startHead, p.startSector) ||
          end != MakePackedChs(p.endCylinder, p.endHead, p.endSector)) {
        continue;
      }
      taken[slot] = true;
      SurveyedPartition& entry = card->entries[static_cast<size_t>(i)];
      entry.number = slot + 1;
      entry.start = GetLe32(raw.bytes + kEntryFirstSector);
      entry.size = GetLe32(raw.bytes + kEntrySectorCount);
      entry.bootable = raw.bytes[kEntryBootIndicator] == kEntryActive;
      for (const auto& node : nodes) {
        if (node.first == entry.number) entry.node = "/dev/" + node.second;
      }
      break;
    }
  }
}

// The system's own reading, on the default machine with this card.
void ReadWithTheSystem(const host::MachineOptions& given, SurveyedCard* card, SgIoRequest request,
                       const std::string& sysfs) {
  host::MachineOptions settings = given;
  settings.card.value = card->path;
  settings.card.onCommandLine = true;
  std::string error;
  bool prepared = host::ApplyCardSettings(settings, &error) &&
                  host::PrepareBlockDeviceCards(settings, &error, request, sysfs);
  const CardMedium& medium = host::CardMediumAt(card->path);
  card->geometrySource = medium.geometrySource;
  card->geometryOptionSetAside = medium.geometryOptionSetAside;
  card->modelSource = medium.modelSource;
  card->serialSource = medium.serialSource;
  if (!prepared) {
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
  ReadTableEntries(medium, sysfs, card);
}

// An identity text without the blanks that pad its field.
std::string Unpadded(const std::string& text) {
  size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

}  // namespace

std::string CallsItself(const SurveyedCard& card) {
  uint16_t word = card.blockDevice ? card.identity.generalConfig : kCompactFlashSignature;
  if (card.blockDevice && !card.answered) return std::string();
  if (word & kRemovableMedia) return "removable";
  if (word & kFixedDevice) return "fixed";
  return std::string();
}

std::string CardModel(const SurveyedCard& card, TextSource* source) {
  *source = card.modelSource;
  const std::string reported = Unpadded(card.report.model);
  if (card.read && !reported.empty()) return reported;
  *source = card.answered ? TextSource::kIdentify : TextSource::kKernel;
  if (!card.identity.model.empty()) return card.identity.model;
  *source = TextSource::kPath;
  return card.path;
}

std::string CardSerial(const SurveyedCard& card, TextSource* source) {
  std::string serial = Unpadded(card.read ? card.report.serialNumber : card.identity.serialNumber);
  *source = serial.empty() ? TextSource::kNone
            : card.read    ? card.serialSource
                           : TextSource::kIdentify;
  return serial;
}

bool Writable(const SurveyedCard& card) {
  return card.opened && !card.empty && !card.readOnly;
}

std::string OpenFailureOf(const SurveyedCard& card) {
  if (card.opened) return std::string();
  return card.missing ? "no such file or device" : host::OpenFailure(card.openError);
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
    card.missing = medium.missing;
    card.openError = medium.openError;
    return card;
  }
  card.opened = true;
  if (medium.IsBlockDevice()) {
    ReadDeviceFacts(settings, medium, request, sysfs, &card);
  } else {
    card.bytes = static_cast<uint64_t>(medium.status.st_size);
    card.readOnly = (medium.status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  }
  if (card.empty || card.fixedDisk) return card;
  ReadWithTheSystem(settings, &card, request, sysfs);
  return card;
}

}  // namespace tool
