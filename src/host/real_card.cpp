#include "host/real_card.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cards/card_registry.h"
#include "common/ata_commands.h"
#include "common/little_endian.h"
#include "host/block_device.h"
#include "host/command_line.h"
#include "host/registry.h"
#include "host/sat_identify.h"

namespace host {
namespace {

// IDENTIFY DEVICE words are 16 bits wide.
constexpr unsigned long kMaxGeometryValue = 0xFFFF;

// Where the card key names its values.
constexpr char kImage[] = "Image";
constexpr char kCylinders[] = "Cylinders";
constexpr char kHeads[] = "Heads";
constexpr char kSectorsPerTrack[] = "SectorsPerTrack";
constexpr char kModel[] = "Model";
constexpr char kSerialNumber[] = "SerialNumber";
constexpr char kFirmwareRevision[] = "FirmwareRevision";

constexpr char kGeometryHint[] =
    "words 1, 3 and 6 of the card's IDENTIFY DEVICE block, which hdparm -I shows as cylinders, "
    "heads and sectors/track in a reader that passes ATA commands, or the card maker's data sheet";

std::vector<std::string>& TeardownNotes() {
  static std::vector<std::string>* notes = new std::vector<std::string>;
  return *notes;
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

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

// "CxHxS", each from 1 to 65535.
bool ParseGeometry(const std::string& text, uint16_t values[3]) {
  size_t at = 0;
  for (int i = 0; i < 3; ++i) {
    if (i > 0) {
      if (at >= text.size() || (text[at] != 'x' && text[at] != 'X')) return false;
      ++at;
    }
    size_t start = at;
    unsigned long number = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 6) {
      number = number * 10 + static_cast<unsigned long>(text[at] - '0');
      ++at;
    }
    if (at == start || number == 0 || number > kMaxGeometryValue) return false;
    values[i] = static_cast<uint16_t>(number);
  }
  return at == text.size();
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

// The card keys that DUNMORE_CARD filled: their refusals point at
// DUNMORE_GEOMETRY rather than at the key's values.
std::vector<const RegKey*>& EnvironmentCards() {
  static std::vector<const RegKey*>* keys = new std::vector<const RegKey*>;
  return *keys;
}

bool FromEnvironment(const RegKey* key) {
  for (const RegKey* k : EnvironmentCards()) {
    if (k == key) return true;
  }
  return false;
}

bool PrepareBlockDevice(RegKey* key, const std::string& device, SgIoRequest request,
                        std::string* error) {
  int fd = open(device.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    *error = device +
             ": the card reader cannot be opened for reading and writing: " + std::strerror(errno);
    return false;
  }
  uint32_t sectorBytes = 0;
  uint64_t bytes = 0;
  std::string why;
  bool ok = ReadBlockDeviceSize(fd, &sectorBytes, &bytes, &why);
  if (!ok) {
    *error = device + ": the size of the device is unknown (" + why + ")";
  } else if (sectorBytes != kAtaSectorBytes) {
    // Every ATA transfer the utility sends addresses 512-byte sectors.
    *error = device + ": the device has logical sectors of " + std::to_string(sectorBytes) +
             " bytes; a PC Card ATA disk has 512-byte sectors";
    ok = false;
  }

  bool givesGeometry = key->Value(kCylinders) != nullptr || key->Value(kHeads) != nullptr ||
                       key->Value(kSectorsPerTrack) != nullptr;
  bool givesTexts = key->Value(kModel) != nullptr && key->Value(kSerialNumber) != nullptr &&
                    key->Value(kFirmwareRevision) != nullptr;
  if (ok && (!givesGeometry || !givesTexts)) {
    sim::CardIdentity identity;
    if (AskCardIdentity(fd, &identity, &why, request)) {
      if (!givesGeometry) {
        SetDword(key, kCylinders, identity.cylinders);
        SetDword(key, kHeads, identity.heads);
        SetDword(key, kSectorsPerTrack, identity.sectorsPerTrack);
      }
      const std::pair<const char*, const std::string*> texts[] = {
          {kModel, &identity.model},
          {kSerialNumber, &identity.serialNumber},
          {kFirmwareRevision, &identity.firmwareRevision}};
      for (const auto& text : texts) {
        if (key->Value(text.first) == nullptr) SetText(key, text.first, *text.second);
      }
    } else if (!givesGeometry) {
      std::string give = FromEnvironment(key) ? "give the card's geometry as --geometry CxHxS "
                                                "or DUNMORE_GEOMETRY=CxHxS"
                                              : "give the card key's \"Cylinders\", \"Heads\" and "
                                                "\"SectorsPerTrack\"";
      *error = device + ": the card does not answer ATA IDENTIFY DEVICE (" + why + "); " + give +
               ": " + kGeometryHint;
      ok = false;
    }
  }
  close(fd);
  if (!ok) return false;

  long c = Dword(key, kCylinders);
  long h = Dword(key, kHeads);
  long s = Dword(key, kSectorsPerTrack);
  if (c < 0 || h < 0 || s < 0) return true;  // the card key's reader names what is wrong
  uint64_t needed = static_cast<uint64_t>(c) * static_cast<uint64_t>(h) * static_cast<uint64_t>(s);
  uint64_t held = bytes / kAtaSectorBytes;
  if (held < needed) {
    *error = device + ": the device holds " + std::to_string(held) + " sectors (" +
             std::to_string(bytes) + " bytes), fewer than the geometry " + GeometryText(c, h, s) +
             " needs (" + std::to_string(needed) + " sectors, " +
             std::to_string(needed * kAtaSectorBytes) + " bytes)";
    return false;
  }
  return true;
}

}  // namespace

bool ApplyCardEnvironment(const std::string& machineFile, std::string* error) {
  std::string card = Environment("DUNMORE_CARD");
  std::string geometryText = Environment("DUNMORE_GEOMETRY");
  if (card.empty()) {
    if (geometryText.empty()) return true;
    *error = SettingText("DUNMORE_GEOMETRY", geometryText) +
             ": it gives the geometry of the card named by CARD or DUNMORE_CARD, which is not set";
    return false;
  }
  if (!machineFile.empty()) {
    *error = SettingText("DUNMORE_CARD", card) + ": it names the card of the default machine; " +
             SettingText("DUNMORE_MACHINE", machineFile) +
             " describes its cards in its own card keys";
    return false;
  }
  uint16_t geometry[3] = {};
  if (!geometryText.empty() && !ParseGeometry(geometryText, geometry)) {
    *error = SettingText("DUNMORE_GEOMETRY", geometryText) +
             ": not cylinders x heads x sectors per track, such as 490x8x32, each from 1 to 65535";
    return false;
  }
  std::vector<std::pair<std::string, RegKey*>> keys = CardKeys();
  if (keys.size() != 1) {
    *error =
        SettingText("DUNMORE_CARD", card) + ": the default machine has no single card to put it in";
    return false;
  }
  RegKey* key = keys[0].second;
  SetText(key, kImage, card);
  if (!geometryText.empty()) {
    SetDword(key, kCylinders, geometry[0]);
    SetDword(key, kHeads, geometry[1]);
    SetDword(key, kSectorsPerTrack, geometry[2]);
  }
  if (IsBlockDevice(card)) {
    // A real card tells its own identity, and its geometry unless
    // DUNMORE_GEOMETRY gives it; the default card's texts are not its own.
    for (const char* name : {kModel, kSerialNumber, kFirmwareRevision}) key->values.erase(name);
    if (geometryText.empty()) {
      for (const char* name : {kCylinders, kHeads, kSectorsPerTrack}) key->values.erase(name);
    }
    EnvironmentCards().push_back(key);
  }
  return true;
}

bool PrepareBlockDeviceCards(std::string* error, SgIoRequest request) {
  for (auto& entry : CardKeys()) {
    std::string image;
    if (!ReadText(entry.second, kImage, &image) || !IsBlockDevice(image)) continue;
    if (!PrepareBlockDevice(entry.second, image, request, error)) return false;
  }
  return true;
}

bool CardWasWritten(const sim::AtaCard& card) {
  for (const sim::Transfer& transfer : card.transfers) {
    if (transfer.command == kAtaWriteSectors && transfer.succeeded) return true;
  }
  return false;
}

void AfterCardsClosed(const std::vector<std::string>& rewrittenMedia) {
  for (const std::string& medium : rewrittenMedia) {
    std::string why;
    if (!IsBlockDevice(medium) || RereadPartitionTable(medium, &why)) continue;
    TeardownNotes().push_back(medium + ": the kernel did not read the new partition table (" + why +
                              "); remove and re-insert the card to see its partition");
  }
}

void PrintTeardownNotes() {
  for (const std::string& note : TeardownNotes()) std::fprintf(stderr, "%s\n", note.c_str());
  std::fflush(stderr);
  TeardownNotes().clear();
}

}  // namespace host
