#include "cards/card_registry.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "cards/card_drive_letters.h"
#include "common/little_endian.h"
#include "sim/sector_list.h"
#include "sim/vwin32_device.h"
#include "win32/win32.h"

namespace cards {
namespace {

// The BIOS numbers hard disks from 0x80; the machine's own disk has that one,
// so the cards follow it in the order they are listed.
constexpr uint8_t kFirstCardUnit = sim::kFixedDiskUnit + 1;
constexpr size_t kIoBaseDigits = 4;

// The values of one open card key; every failure sets the problem text.
class CardKey {
 public:
  CardKey(HKEY key, std::string name, std::string* problem)
      : key_(key), name_(std::move(name)), problem_(problem) {}

  bool Fail(const std::string& what) {
    *problem_ = CardsKeyShown() + "\\" + name_ + ": " + what;
    return false;
  }

  // 1 when found, 0 when absent, -1 (failed) when present but unusable.
  int String(const char* value, std::string* out) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key_, value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return 0;
    if (type != REG_SZ) {
      Fail(Quoted(value) + " is not a string");
      return -1;
    }
    std::string data(size + 1, '\0');
    DWORD got = size;
    if (RegQueryValueExA(key_, value, nullptr, &type, reinterpret_cast<LPBYTE>(&data[0]), &got) !=
        ERROR_SUCCESS) {
      Fail(Quoted(value) + " cannot be read");
      return -1;
    }
    out->assign(data.c_str());
    return 1;
  }

  int Dword(const char* value, DWORD* out) {
    DWORD type = 0;
    BYTE data[4] = {};
    DWORD size = sizeof data;
    LONG result = RegQueryValueExA(key_, value, nullptr, &type, data, &size);
    if (result == ERROR_FILE_NOT_FOUND) return 0;
    if (result != ERROR_SUCCESS || type != REG_DWORD || size != sizeof data) {
      Fail(Quoted(value) + " is not a dword");
      return -1;
    }
    *out = GetLe32(data);
    return 1;
  }

  // A dword that must be there and fit 16 bits (an I/O port, an IDENTIFY
  // DEVICE word).
  bool Word(const char* value, uint16_t* out) {
    DWORD read = 0;
    int found = Dword(value, &read);
    if (found < 0) return false;
    if (found == 0) return Fail(Quoted(value) + " is missing");
    if (read > 0xFFFF) return Fail(Quoted(value) + " is out of range");
    *out = static_cast<uint16_t>(read);
    return true;
  }

 private:
  static std::string Quoted(const char* value) { return std::string("\"") + value + "\""; }

  HKEY key_;
  std::string name_;
  std::string* problem_;
};

bool ParseIoBase(const std::string& name, uint16_t* ioBase) {
  if (name.size() != kIoBaseDigits) return false;
  unsigned value = 0;
  for (char c : name) {
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
    value = value * 16 + digit;
  }
  *ioBase = static_cast<uint16_t>(value);
  return true;
}

bool IsDriveLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string UpperCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

bool ReadCardValues(CardKey& card, uint8_t defaultUnit, sim::CardSettings* settings) {
  int found = card.String("Image", &settings->image);
  if (found < 0) return false;
  if (found == 0 || settings->image.empty()) return card.Fail("\"Image\" is missing");
  if (!card.Word("ControlPort", &settings->controlPort) ||
      !card.Word("Cylinders", &settings->identity.cylinders) ||
      !card.Word("Heads", &settings->identity.heads) ||
      !card.Word("SectorsPerTrack", &settings->identity.sectorsPerTrack)) {
    return false;
  }
  if (card.String("Model", &settings->identity.model) < 0 ||
      card.String("SerialNumber", &settings->identity.serialNumber) < 0 ||
      card.String("FirmwareRevision", &settings->identity.firmwareRevision) < 0) {
    return false;
  }
  // The drives on the card are the ones the device registry gives it, as
  // Windows assigned them. A card key may name them too, as a check on the
  // machine file: letters that disagree would have the utility lock one
  // drive while it writes another.
  settings->driveLetters = CardDriveLetters(settings->ioBase);
  std::string keyLetters;
  found = card.String("DriveLetters", &keyLetters);
  if (found < 0) return false;
  for (char c : keyLetters) {
    if (!IsDriveLetter(c)) {
      return card.Fail("\"DriveLetters\" holds something that is not a drive letter");
    }
  }
  if (found > 0 && UpperCase(keyLetters) != settings->driveLetters) {
    return card.Fail("\"DriveLetters\" is \"" + keyLetters +
                     "\" but the device registry gives the card \"" + settings->driveLetters +
                     "\" (CurrentDriveLetterAssignment of its disk devnodes)");
  }
  DWORD unit = defaultUnit;
  found = card.Dword("Int13Unit", &unit);
  if (found < 0) return false;
  if (unit > 0xFF) return card.Fail("\"Int13Unit\" is out of range");
  if (unit == sim::kFixedDiskUnit) return card.Fail("\"Int13Unit\" 0x80 is the fixed disk's unit");
  settings->int13Unit = static_cast<uint8_t>(unit);

  // Sectors that fail every transfer, sectors that refuse writes only, and
  // sectors whose writes the card acknowledges and loses.
  const struct {
    const char* value;
    std::vector<sim::SectorRange>* list;
  } sectorLists[] = {{"BadSectors", &settings->badSectors},
                     {"BadWriteSectors", &settings->badWriteSectors},
                     {"LostWriteSectors", &settings->lostWriteSectors}};
  for (const auto& sectors : sectorLists) {
    std::string text;
    found = card.String(sectors.value, &text);
    if (found < 0) return false;
    std::string error;
    if (found > 0 && !sim::ParseSectorList(text, sectors.list, &error)) {
      return card.Fail(std::string("\"") + sectors.value + "\": " + error);
    }
  }
  // The write at which the power fails, and the one before which the process
  // stops for a test; the host decides what each does.
  DWORD killAt = 0;
  if (card.Dword("KillAtWrite", &killAt) < 0) return false;
  settings->killAtWrite = killAt;
  DWORD stopAt = 0;
  if (card.Dword("StopAtWrite", &stopAt) < 0) return false;
  settings->stopAtWrite = stopAt;
  return true;
}

bool ReadCard(HKEY cards, const std::string& name, uint8_t defaultUnit, sim::CardSettings* settings,
              std::string* problem) {
  CardKey named(nullptr, name, problem);
  if (!ParseIoBase(name, &settings->ioBase)) {
    return named.Fail("the key name is not an I/O base of 4 hex digits");
  }
  HKEY key = nullptr;
  if (RegOpenKeyExA(cards, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return named.Fail("the key cannot be opened");
  }
  CardKey card(key, name, problem);
  bool ok = ReadCardValues(card, defaultUnit, settings);
  RegCloseKey(key);
  return ok;
}

}  // namespace

bool ReadDriverRegistry(DriverRegistry* out, std::string* problem) {
  *out = DriverRegistry();
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDriverKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return true;
  }
  RegCloseKey(key);
  out->installed = true;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, CardsKeyPath().c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return true;  // installed with no card behind it
  }
  bool ok = true;
  for (DWORD index = 0; ok; ++index) {
    char name[256];
    DWORD nameSize = sizeof name;
    LONG result = RegEnumKeyExA(key, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) {
      *problem = CardsKeyShown() + ": card " + std::to_string(index) + " cannot be listed";
      ok = false;
      break;
    }
    sim::CardSettings settings;
    uint8_t defaultUnit = static_cast<uint8_t>(kFirstCardUnit + out->cards.size());
    ok = ReadCard(key, name, defaultUnit, &settings, problem);
    for (const sim::CardSettings& other : out->cards) {
      if (ok && other.int13Unit == settings.int13Unit) {
        // VWIN32 would lock one card for the other's drives.
        char otherKey[8];
        std::snprintf(otherKey, sizeof otherKey, "%04X", other.ioBase);
        CardKey(nullptr, name, problem)
            .Fail(std::string("\"Int13Unit\" is also the unit of card ") + otherKey);
        ok = false;
      }
    }
    if (ok) out->cards.push_back(settings);
  }
  RegCloseKey(key);
  return ok;
}

}  // namespace cards
