#include "host/card/real_card.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cards/card_registry.h"
#include "common/ata_commands.h"
#include "common/little_endian.h"
#include "disk/geometry_rule.h"
#include "host/boot/machine_options.h"
#include "host/card/block_device.h"
#include "host/card/card_holders.h"
#include "host/card/card_medium.h"
#include "host/card/sat_identify.h"
#include "host/card/sysfs_disk.h"
#include "host/machine_hooks.h"
#include "host/registry/registry.h"

namespace host {
namespace {

// Where the card key names its values.
constexpr char kImage[] = "Image";
constexpr char kCylinders[] = "Cylinders";
constexpr char kHeads[] = "Heads";
constexpr char kSectorsPerTrack[] = "SectorsPerTrack";
constexpr char kModel[] = "Model";
constexpr char kSerialNumber[] = "SerialNumber";
constexpr char kFirmwareRevision[] = "FirmwareRevision";
constexpr char kStopAfterOpen[] = "StopAfterOpen";

constexpr char kGeometryHint[] =
    "words 1, 3 and 6 of the card's IDENTIFY DEVICE block, which hdparm -I shows as cylinders, "
    "heads and sectors/track in a reader that passes ATA commands, or the card maker's data sheet";

void SetText(RegKey* key, const char* name, const std::string& text) {
  RegValue value;
  value.name = name;
  value.type = REG_SZ;
  value.data.assign(text.begin(), text.end());
  value.data.push_back(0);
  key->values[name] = value;
}

void SetDword(RegKey* key, const char* name, uint32_t number) {
  RegValue value;
  value.name = name;
  value.type = REG_DWORD;
  value.data.assign(4, 0);
  PutLe32(value.data.data(), number);
  key->values[name] = value;
}

// A REG_DWORD value's number, or -1 when it is missing or not a dword.
long Dword(const RegKey* key, const char* name) {
  const RegValue* value = key->Value(name);
  if (value == nullptr || value->type != REG_DWORD || value->data.size() != 4) return -1;
  return static_cast<long>(GetLe32(value->data.data()));
}

// The cards' keys in the order the registry lists them.
std::vector<std::pair<std::string, RegKey*>> CardKeys() {
  std::vector<std::pair<std::string, RegKey*>> keys;
  RegKey* cardsKey = FindKeyToChange(HKEY_LOCAL_MACHINE, cards::CardsKeyPath());
  if (cardsKey == nullptr) return keys;
  for (auto& entry : cardsKey->subkeys) keys.emplace_back(entry.first, entry.second.get());
  return keys;
}

std::string GeometryText(unsigned long c, unsigned long h, unsigned long s) {
  return std::to_string(c) + " x " + std::to_string(h) + " x " + std::to_string(s);
}

// The card key that DUNMORE_CARD filled: what is refused about it names the
// variable, which the user wrote, not the key, which the user never saw.
const RegKey*& EnvironmentCard() {
  static const RegKey* key = nullptr;
  return key;
}

bool FromEnvironment(const RegKey* key) {
  return key != nullptr && key == EnvironmentCard();
}

// How a refusal names the card's medium.
std::string Subject(const MachineOptions& settings, const RegKey* key, const std::string& device) {
  return FromEnvironment(key) ? settings.card.Shown(device) : device;
}

// Whether the fixed-disk setting names the same device as the card.
bool FixedDiskAllowed(const MachineOptions& settings, dev_t device) {
  const std::string& allowed = settings.fixedDisk.value;
  struct stat status;
  return !allowed.empty() && stat(allowed.c_str(), &status) == 0 && S_ISBLK(status.st_mode) &&
         status.st_rdev == device;
}

// The one line that refuses a fixed disk: what it is, the removable disks
// present (the card may be one of them), and how to write it all the same.
std::string FixedDiskRefusal(const std::string& subject, const std::string& device,
                             const SysfsDisk& disk, bool known, const std::string& sysfs) {
  std::string what = known ? DiskText(disk) : device;
  std::string text = subject + ": not a card: " + what +
                     " is a fixed disk (the kernel does not mark it removable and it does not "
                     "answer IDENTIFY DEVICE as a CompactFlash card), and everything on it would "
                     "be erased";
  std::vector<SysfsDisk> removable = RemovableDisks(sysfs);
  if (removable.empty()) {
    text += "; no removable disk is present";
  } else {
    text += "; removable disks present:";
    for (size_t i = 0; i < removable.size(); ++i) {
      text += (i == 0 ? " " : ", ") + DiskText(removable[i]);
    }
  }
  return text + "; to write this disk anyway, give " + MachineOptions().fixedDisk.option + " " +
         device + " (or " + MachineOptions().fixedDisk.variable + "=" + device + ") as well";
}

bool IsReadOnly(int fd) {
  int readOnly = 0;
  return ioctl(fd, BLKROGET, &readOnly) == 0 && readOnly != 0;
}

// What the boot learns of a card reader's block device, all of it on the
// descriptor the card is written through.
struct BlockDeviceFacts {
  SysfsDisk disk;
  bool known = false;  // sysfs has an entry for its device number
  uint32_t sectorBytes = 0;
  uint64_t bytes = 0;
  bool answered = false;  // it answered IDENTIFY DEVICE
  sim::CardIdentity identity;
  std::string why;  // why it gave no answer
};

bool GivesGeometry(const RegKey* key) {
  return key->Value(kCylinders) != nullptr || key->Value(kHeads) != nullptr ||
         key->Value(kSectorsPerTrack) != nullptr;
}

bool GivesTexts(const RegKey* key) {
  return key->Value(kModel) != nullptr && key->Value(kSerialNumber) != nullptr &&
         key->Value(kFirmwareRevision) != nullptr;
}

bool IsCardByKernel(const BlockDeviceFacts& facts) {
  return facts.known && (facts.disk.loop || facts.disk.removable);
}

// The device as sysfs knows it by its number; a partition is refused: a
// new table inside it would be read by nobody, and the card's own table
// would point at it.
bool ReadKernelView(const CardMedium& medium, const std::string& subject, const std::string& sysfs,
                    BlockDeviceFacts* facts, std::string* error) {
  facts->known = ReadSysfsDisk(sysfs, medium.status.st_rdev, &facts->disk);
  if (facts->known && !facts->disk.wholeDisk.empty()) {
    *error = subject + ": a partition of /dev/" + facts->disk.wholeDisk +
             ", not a whole card; a card is written whole: name /dev/" + facts->disk.wholeDisk +
             " (every partition on it is erased)";
    return false;
  }
  return true;
}

// Its size, sectors and write protection, read on the open device.
bool CheckWritable(const CardMedium& medium, const std::string& subject, BlockDeviceFacts* facts,
                   std::string* error) {
  std::string why;
  if (!ReadBlockDeviceSize(medium.fd, &facts->sectorBytes, &facts->bytes, &why)) {
    *error = subject + ": the size of the device is unknown (" + why + ")";
    return false;
  }
  if (IsReadOnly(medium.fd)) {
    *error = subject +
             ": the device is read-only (a write-protected card, or a reader set "
             "read-only); nothing could be written to it";
    return false;
  }
  if (facts->sectorBytes != kAtaSectorBytes) {
    // Every ATA transfer the utility sends addresses 512-byte sectors.
    *error = subject + ": the device has logical sectors of " + std::to_string(facts->sectorBytes) +
             " bytes; a PC Card ATA disk has 512-byte sectors";
    return false;
  }
  return true;
}

// Only a card is written: a disk the kernel marks removable, a loop device,
// a CompactFlash card by its own answer, or the fixed disk the user named.
bool CheckIsCard(const MachineOptions& settings, const CardMedium& medium,
                 const std::string& subject, const BlockDeviceFacts& facts,
                 const std::string& sysfs, std::string* error) {
  if (IsCardByKernel(facts) || (facts.answered && facts.identity.compactFlash) ||
      FixedDiskAllowed(settings, medium.status.st_rdev)) {
    return true;
  }
  *error = FixedDiskRefusal(subject, medium.path, facts.disk, facts.known, sysfs);
  return false;
}

void SetGeometry(RegKey* key, const uint16_t geometry[3]) {
  SetDword(key, kCylinders, geometry[0]);
  SetDword(key, kHeads, geometry[1]);
  SetDword(key, kSectorsPerTrack, geometry[2]);
}

// The geometry setting's and the recorded geometry's words, where given.
struct GivenGeometries {
  uint16_t option[3] = {};
  uint16_t recorded[3] = {};

  explicit GivenGeometries(const MachineOptions& settings) {
    if (settings.geometry.given()) ParseGeometry(settings.geometry.value, option);
    for (int i = 0; i < 3; ++i) recorded[i] = settings.recordedGeometry[i];
  }
  GeometryCandidates Candidates(uint64_t sectors) const {
    GeometryCandidates from;
    from.option = option;
    from.recorded = recorded;
    from.sectors = sectors;
    return from;
  }
};

// The model text a card that gives none is named by: its path, as outputs
// show it, the end of it where it is longer than the field.
std::string PathStandIn(const CardMedium& medium) {
  const std::string& path = medium.shownName;
  return path.size() <= static_cast<size_t>(kModelChars) ? path
                                                         : path.substr(path.size() - kModelChars);
}

// The geometry of the card the card setting names, by the one rule: its own
// answer, the geometry setting, the recorded one, one derived from its size.
bool ResolveNamedCard(const MachineOptions& settings, RegKey* key, const CardMedium& medium,
                      const std::string& subject, const BlockDeviceFacts& facts,
                      std::string* error) {
  GivenGeometries given(settings);
  GeometryCandidates from = given.Candidates(facts.bytes / kAtaSectorBytes);
  const uint16_t answer[3] = {facts.identity.cylinders, facts.identity.heads,
                              facts.identity.sectorsPerTrack};
  if (facts.answered) from.card = answer;
  uint16_t geometry[3] = {};
  GeometrySource source = ResolveGeometry(from, geometry);
  if (source == GeometrySource::kNone) {
    *error = subject + ": holds " + std::to_string(facts.bytes) +
             " bytes, fewer than one track of a card";
    return false;
  }
  SetGeometry(key, geometry);
  const bool setAside = source == GeometrySource::kIdentify && settings.geometry.given() &&
                        !std::equal(answer, answer + 3, given.option);
  NoteGeometrySource(medium.path, source, setAside);
  return true;
}

// What the card key leaves out comes from the card's answer; a card that
// gives none of a machine file must have its geometry in the key. A reader
// that passes no ATA command still names itself to the kernel, and a card
// that gives no model text at all is named by its path, so that the warning
// before the write names the device it erases.
bool FillCardKey(const MachineOptions& settings, RegKey* key, const CardMedium& medium,
                 const std::string& subject, const BlockDeviceFacts& facts, std::string* error) {
  if (FromEnvironment(key)) {
    if (!ResolveNamedCard(settings, key, medium, subject, facts, error)) return false;
  } else if (GivesGeometry(key)) {
    NoteGeometrySource(medium.path, GeometrySource::kCardKey, false);
  } else if (facts.answered) {
    const uint16_t answer[3] = {facts.identity.cylinders, facts.identity.heads,
                                facts.identity.sectorsPerTrack};
    SetGeometry(key, answer);
    NoteGeometrySource(medium.path, GeometrySource::kIdentify, false);
  } else {
    *error =
        subject + ": the card does not answer ATA IDENTIFY DEVICE (" + facts.why +
        "); give the card key's \"Cylinders\", \"Heads\" and \"SectorsPerTrack\": " + kGeometryHint;
    return false;
  }
  TextSource model = key->Value(kModel) != nullptr ? TextSource::kCardKey : TextSource::kNone;
  TextSource serial =
      key->Value(kSerialNumber) != nullptr ? TextSource::kCardKey : TextSource::kNone;
  if (facts.answered) {
    const std::pair<const char*, const std::string*> texts[] = {
        {kModel, &facts.identity.model},
        {kSerialNumber, &facts.identity.serialNumber},
        {kFirmwareRevision, &facts.identity.firmwareRevision}};
    for (const auto& text : texts) {
      if (key->Value(text.first) == nullptr) SetText(key, text.first, *text.second);
    }
    if (model == TextSource::kNone && !facts.identity.model.empty()) model = TextSource::kIdentify;
    if (serial == TextSource::kNone && !facts.identity.serialNumber.empty()) {
      serial = TextSource::kIdentify;
    }
  }
  if (model == TextSource::kNone && facts.known && !facts.disk.model.empty()) {
    SetText(key, kModel, facts.disk.model.substr(0, kModelChars));
    model = TextSource::kKernel;
  }
  if (model == TextSource::kNone) {
    SetText(key, kModel, PathStandIn(medium));
    model = TextSource::kPath;
  }
  NoteTextSources(medium.path, model, serial);
  return true;
}

// The geometry the key now gives must be addressable and fit the device.
bool CheckGeometryFits(const RegKey* key, bool keyGaveGeometry, const std::string& subject,
                       const BlockDeviceFacts& facts, std::string* error) {
  long c = Dword(key, kCylinders);
  long h = Dword(key, kHeads);
  long s = Dword(key, kSectorsPerTrack);
  if (c < 0 || h < 0 || s < 0) return true;  // the card key's reader names what is wrong
  if (keyGaveGeometry && !FromEnvironment(key)) {
    std::string fault = GeometryFault(c, h, s);
    if (!fault.empty()) {
      *error = subject + ": the card key's geometry " + GeometryText(c, h, s) +
               " cannot be addressed: " + fault;
      return false;
    }
  }
  uint64_t needed = static_cast<uint64_t>(c) * static_cast<uint64_t>(h) * static_cast<uint64_t>(s);
  uint64_t held = facts.bytes / kAtaSectorBytes;
  if (held < needed) {
    *error = subject + ": the device holds " + std::to_string(held) + " sectors (" +
             std::to_string(facts.bytes) + " bytes), fewer than the geometry " +
             GeometryText(c, h, s) + " needs (" + std::to_string(needed) + " sectors, " +
             std::to_string(needed * kAtaSectorBytes) + " bytes)";
    return false;
  }
  return true;
}

bool PrepareBlockDevice(const MachineOptions& settings, RegKey* key, const CardMedium& medium,
                        SgIoRequest request, const std::string& sysfs, std::string* error) {
  const std::string subject = Subject(settings, key, medium.path);
  if (medium.loopDevice && !medium.loopBacked) {
    *error = subject + ": no medium: " + medium.path + " has no file attached";
    return false;
  }
  BlockDeviceFacts facts;
  if (!ReadKernelView(medium, subject, sysfs, &facts, error)) return false;
  // A loop device over the card (a file system mounted through one with an
  // offset among them) does not keep the card from being opened
  // exclusively: it is found by its numbers, and the card refused here.
  if (CardMediaUse() != MediaUse::kLook) {
    std::vector<std::string> over = LoopDevicesOverCard(medium.status.st_rdev, sysfs);
    if (!over.empty()) {
      *error = subject + ": the card is in use: " + over[0] +
               (over.size() > 1 ? " and " + std::to_string(over.size() - 1) + " more" : "") +
               " stand" + (over.size() > 1 ? "" : "s") + " over it; detach " +
               (over.size() > 1 ? "them" : "it") + " first";
      return false;
    }
  }
  bool writable = CheckWritable(medium, subject, &facts, error);
  // A device the kernel does not mark as a card is asked whether it is a
  // CompactFlash card even when its key gives all else.
  bool keyGaveGeometry = GivesGeometry(key);
  if (writable && (!keyGaveGeometry || !GivesTexts(key) || !IsCardByKernel(facts))) {
    facts.answered = AskCardIdentity(medium.fd, &facts.identity, &facts.why, request);
  }
  return writable && CheckIsCard(settings, medium, subject, facts, sysfs, error) &&
         FillCardKey(settings, key, medium, subject, facts, error) &&
         CheckGeometryFits(key, keyGaveGeometry, subject, facts, error);
}

// The fixed-disk setting, when given, names the card's own device: it lets
// that fixed disk be written and nothing else.
bool CheckFixedDiskSetting(const MachineOptions& settings, const CardMedium& medium,
                           std::string* error) {
  if (!settings.fixedDisk.given()) return true;
  struct stat named;
  if (medium.IsBlockDevice() && stat(settings.fixedDisk.value.c_str(), &named) == 0 &&
      S_ISBLK(named.st_mode) && named.st_rdev == medium.status.st_rdev) {
    return true;
  }
  *error = settings.fixedDisk.Shown() + ": not the device of " + settings.card.Shown() +
           "; it must name the card itself";
  return false;
}

}  // namespace

bool ApplyCardSettings(const MachineOptions& settings, std::string* error) {
  const std::string& card = settings.card.value;
  EnvironmentCard() = nullptr;
  if (card.empty()) return true;
  uint16_t geometry[3] = {};
  if (settings.geometry.given() && !ParseGeometry(settings.geometry.value, geometry)) {
    *error = settings.geometry.Shown() + ": not a geometry";
    return false;
  }
  std::vector<std::pair<std::string, RegKey*>> keys = CardKeys();
  if (keys.size() != 1) {
    *error = settings.card.Shown() + ": the default machine has no single card to put it in";
    return false;
  }
  RegKey* key = keys[0].second;
  SetText(key, kImage, card);
  EnvironmentCard() = key;
  // The default card's texts and geometry are the default card's alone: a
  // real card shows its own, and an image the user named is named by its
  // file, so that the warning before the write says what it erases.
  const CardMedium& medium = CardMediumAt(card);
  for (const char* name : {kModel, kSerialNumber, kFirmwareRevision}) key->values.erase(name);
  if (medium.IsBlockDevice()) {
    // A real card tells its own geometry, or the boot resolves one for it
    // (PrepareBlockDeviceCards).
    for (const char* name : {kCylinders, kHeads, kSectorsPerTrack}) key->values.erase(name);
    return CheckFixedDiskSetting(settings, medium, error);
  }
  size_t slash = card.find_last_of('/');
  SetText(key, kModel, card.substr(slash == std::string::npos ? 0 : slash + 1, kModelChars));
  NoteTextSources(card, TextSource::kFileName, TextSource::kNone);
  // An image says no geometry of its own: the geometry setting, the
  // recorded one, or the one a card of its size reports; never the default
  // card's. A path that names nothing keeps the key's until the checks of
  // the boot refuse it, unless the geometry setting makes a new image.
  GivenGeometries given(settings);
  GeometryCandidates from = given.Candidates(0);
  if (medium.IsRegularFile()) {
    from.sectors = static_cast<uint64_t>(medium.status.st_size) / kAtaSectorBytes;
  } else {
    from.recorded = nullptr;
  }
  GeometrySource source = ResolveGeometry(from, geometry);
  if (source == GeometrySource::kNone && medium.IsRegularFile()) {
    *error = settings.card.Shown() + ": holds " + std::to_string(medium.status.st_size) +
             " bytes, fewer than one track of a card";
    return false;
  }
  if (source != GeometrySource::kNone) {
    SetGeometry(key, geometry);
    NoteGeometrySource(card, source, false);
  }
  return CheckFixedDiskSetting(settings, medium, error);
}

std::string SettingsCardName(const MachineOptions& settings, const std::string& image) {
  if (EnvironmentCard() == nullptr) return std::string();
  std::string named;
  return ReadText(EnvironmentCard(), kImage, &named) && named == image ? settings.card.Shown(image)
                                                                       : std::string();
}

bool PrepareBlockDeviceCards(const MachineOptions& settings, std::string* error,
                             SgIoRequest request, const std::string& sysfs) {
  for (auto& entry : CardKeys()) {
    std::string image;
    if (!ReadText(entry.second, kImage, &image)) continue;
    const CardMedium& medium = CardMediumAt(image);
    if (!medium.IsBlockDevice()) continue;
    if (!PrepareBlockDevice(settings, entry.second, medium, request, sysfs, error)) return false;
  }
  return true;
}

void OpenCardMedia() {
  for (auto& entry : CardKeys()) {
    std::string image;
    if (!ReadText(entry.second, kImage, &image)) continue;
    const CardMedium& medium = CardMediumAt(image);
    // A card key over an image is that card's own IDENTIFY answer; one that
    // names no model is named by its path.
    if (!FromEnvironment(entry.second) && !medium.IsBlockDevice()) {
      if (GivesGeometry(entry.second)) {
        NoteGeometrySource(image, GeometrySource::kCardKey, false);
      }
      TextSource model = TextSource::kCardKey;
      if (entry.second->Value(kModel) == nullptr) {
        SetText(entry.second, kModel, PathStandIn(medium));
        model = TextSource::kPath;
      }
      NoteTextSources(
          image, model,
          entry.second->Value(kSerialNumber) != nullptr ? TextSource::kCardKey : TextSource::kNone);
    }
    // A test's pause between the open and everything after it.
    if (Dword(entry.second, kStopAfterOpen) > 0) raise(SIGSTOP);
  }
}

bool CardWasWritten(const sim::AtaCard& card) {
  for (const sim::Transfer& transfer : card.transfers) {
    if (transfer.command == kAtaWriteSectors && transfer.succeeded) return true;
  }
  return false;
}

void NoteHolder(const sim::CardSettings& card) {
  Note(card.image + ": the card was in use: " + DescribeHolder(card.image, card.lockedWith));
}

void AfterCardsClosed(const std::vector<std::string>& rewrittenMedia) {
  for (const std::string& medium : rewrittenMedia) {
    std::string why;
    const CardMedium& opened = CardMediumAt(medium);
    // A loop device attached without partition scanning has no partitions
    // for the kernel to read.
    if (!opened.IsBlockDevice() || (opened.loopDevice && !opened.loopScansPartitions) ||
        RereadPartitionTable(opened.fd, &why)) {
      continue;
    }
    Note(medium + ": the kernel did not read the new partition table (" + why +
         "); remove and re-insert the card to see its partition");
  }
}

void NoteEndedAfterWrite(const std::string& medium) {
  Note(medium +
       ": the new partition and volume are written whole; the run was ended by a signal that "
       "waited for the write to finish");
}

}  // namespace host
