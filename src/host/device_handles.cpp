#include "host/device_handles.h"

#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"
#include "sim/sector_list.h"
#include "win32/win32.h"

namespace host {
namespace {

constexpr char kPassThroughName[] = "\\\\.\\MIRT.VXD";
constexpr char kVwin32Name[] = "\\\\.\\vwin32";
constexpr char kDriverKey[] = "System\\CurrentControlSet\\Services\\VxD\\MIRT";
constexpr char kCardsKey[] = "System\\CurrentControlSet\\Services\\VxD\\MIRT\\Cards";
constexpr char kCardsKeyShown[] =
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\VxD\\MIRT\\Cards";
// The BIOS numbers hard disks from 0x80; the machine's own disk has that one,
// so the cards follow it in the order they are listed.
constexpr uint8_t kFirstCardUnit = 0x81;

// The cards of the machine while any device handle is open.
struct CardSet {
  bool driverInstalled = false;
  bool usable = true;  // false when a card key could not be used
  std::vector<std::unique_ptr<sim::AtaCard>> cards;

  std::vector<sim::AtaCard*> Pointers() const {
    std::vector<sim::AtaCard*> out;
    for (const auto& card : cards) out.push_back(card.get());
    return out;
  }
};

struct DeviceHandle {
  std::unique_ptr<sim::PassThroughDriver> driver;  // one of the two is set
  std::unique_ptr<sim::Vwin32Device> vwin32;
};

std::unique_ptr<CardSet> cardSet;
std::vector<std::unique_ptr<DeviceHandle>> openHandles;

class CardKeyReader {
 public:
  CardKeyReader(HKEY key, std::string name) : key_(key), name_(std::move(name)) {}

  // Every failure is reported on stderr naming the key and what is wrong.
  int Unusable(const std::string& what) {
    Fail(what);
    return -1;
  }

  bool Fail(const std::string& what) {
    std::fprintf(stderr, "%s\\%s: %s\n", kCardsKeyShown, name_.c_str(), what.c_str());
    return false;
  }

  // 1 when found, 0 when absent, -1 (reported) when present but unusable.
  int String(const char* value, std::string* out) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key_, value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return 0;
    if (type != REG_SZ) return Unusable(std::string("\"") + value + "\" is not a string");
    std::vector<char> data(size + 1, 0);
    DWORD got = size;
    if (RegQueryValueExA(key_, value, nullptr, &type, reinterpret_cast<LPBYTE>(data.data()),
                         &got) != ERROR_SUCCESS) {
      return Unusable(std::string("\"") + value + "\" cannot be read");
    }
    out->assign(data.data());
    return 1;
  }

  int Dword(const char* value, DWORD* out) {
    DWORD type = 0;
    DWORD size = sizeof *out;
    BYTE data[4] = {};
    LONG result = RegQueryValueExA(key_, value, nullptr, &type, data, &size);
    if (result == ERROR_FILE_NOT_FOUND) return 0;
    if (result != ERROR_SUCCESS || type != REG_DWORD || size != 4) {
      return Unusable(std::string("\"") + value + "\" is not a dword");
    }
    *out = static_cast<DWORD>(data[0] | (data[1] << 8) | (data[2] << 16)) |
           (static_cast<DWORD>(data[3]) << 24);
    return 1;
  }

  bool RequiredDword(const char* value, DWORD limit, DWORD* out) {
    int found = Dword(value, out);
    if (found < 0) return false;
    if (found == 0) return Fail(std::string("\"") + value + "\" is missing");
    if (*out > limit) return Fail(std::string("\"") + value + "\" is out of range");
    return true;
  }

 private:
  HKEY key_;
  std::string name_;
};

// The power cut a card's "KillAtWrite" asks for: the process ends at once,
// with no chance to finish, flush or clean up anything.
void CutPower() {
  kill(getpid(), SIGKILL);
}

bool ParseIoBase(const std::string& name, uint16_t* ioBase) {
  if (name.size() != 4) return false;
  unsigned value = 0;
  for (char c : name) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    value = value * 16 + static_cast<unsigned>(digit);
  }
  *ioBase = static_cast<uint16_t>(value);
  return true;
}

// Reads one card key into settings; false (reported) when it is malformed.
bool ReadCard(HKEY cards, const std::string& name, uint8_t defaultUnit,
              sim::CardSettings* settings) {
  HKEY key = nullptr;
  CardKeyReader reader(nullptr, name);
  if (!ParseIoBase(name, &settings->ioBase)) {
    return reader.Fail("the key name is not an I/O base of 4 hex digits");
  }
  if (RegOpenKeyExA(cards, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return reader.Fail("the key cannot be opened");
  }
  CardKeyReader card(key, name);
  DWORD value = 0;
  bool ok = true;
  int found = card.String("Image", &settings->image);
  if (found == 0 || (found > 0 && settings->image.empty())) ok = card.Fail("\"Image\" is missing");
  if (found < 0) ok = false;
  ok = ok && card.RequiredDword("ControlPort", 0xFFFF, &value);
  settings->controlPort = static_cast<uint16_t>(value);
  ok = ok && card.RequiredDword("Cylinders", 0xFFFF, &value);
  settings->cylinders = static_cast<uint16_t>(value);
  ok = ok && card.RequiredDword("Heads", 0xFFFF, &value);
  settings->heads = static_cast<uint16_t>(value);
  ok = ok && card.RequiredDword("SectorsPerTrack", 0xFFFF, &value);
  settings->sectorsPerTrack = static_cast<uint16_t>(value);
  ok = ok && card.String("Model", &settings->model) >= 0;
  ok = ok && card.String("SerialNumber", &settings->serialNumber) >= 0;
  ok = ok && card.String("FirmwareRevision", &settings->firmwareRevision) >= 0;
  ok = ok && card.String("DriveLetters", &settings->driveLetters) >= 0;
  if (ok) {
    for (char c : settings->driveLetters) {
      if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) {
        ok = card.Fail("\"DriveLetters\" holds something that is not a drive letter");
        break;
      }
    }
  }
  if (ok) {
    settings->int13Unit = defaultUnit;
    found = card.Dword("Int13Unit", &value);
    if (found < 0) ok = false;
    if (found > 0 && value > 0xFF) ok = card.Fail("\"Int13Unit\" is out of range");
    if (found > 0 && ok) settings->int13Unit = static_cast<uint8_t>(value);
  }
  if (ok) {
    std::string text;
    std::string error;
    found = card.String("BadSectors", &text);
    if (found < 0) ok = false;
    if (found > 0 && !sim::ParseSectorList(text, &settings->badSectors, &error)) {
      ok = card.Fail("\"BadSectors\": " + error);
    }
  }
  if (ok) {
    std::string text;
    std::string error;
    found = card.String("BadWriteSectors", &text);
    if (found < 0) ok = false;
    if (found > 0 && !sim::ParseSectorList(text, &settings->badWriteSectors, &error)) {
      ok = card.Fail("\"BadWriteSectors\": " + error);
    }
  }
  if (ok) {
    found = card.Dword("KillAtWrite", &value);
    if (found < 0) ok = false;
    if (found > 0) {
      settings->killAtWrite = value;
      settings->powerCut = CutPower;
    }
  }
  RegCloseKey(key);
  return ok;
}

// Reads the driver's key and its cards, and opens every card's medium.
std::unique_ptr<CardSet> LoadCards() {
  auto set = std::make_unique<CardSet>();
  HKEY driver = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDriverKey, 0, KEY_READ, &driver) != ERROR_SUCCESS) {
    return set;
  }
  RegCloseKey(driver);
  set->driverInstalled = true;
  HKEY cards = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCardsKey, 0, KEY_READ, &cards) != ERROR_SUCCESS) {
    return set;  // the driver is installed with no card behind it
  }
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD nameSize = sizeof name;
    LONG result = RegEnumKeyExA(cards, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) {
      std::fprintf(stderr, "%s: card %u cannot be listed\n", kCardsKeyShown,
                   static_cast<unsigned>(index));
      set->usable = false;
      break;
    }
    sim::CardSettings settings;
    uint8_t defaultUnit = static_cast<uint8_t>(kFirstCardUnit + set->cards.size());
    if (!ReadCard(cards, name, defaultUnit, &settings)) {
      set->usable = false;
      break;
    }
    auto card = std::make_unique<sim::AtaCard>(settings);
    std::string error;
    if (!card->OpenMedium(&error)) {
      CardKeyReader(nullptr, name).Fail("the image cannot be opened: " + error);
      set->usable = false;
      break;
    }
    set->cards.push_back(std::move(card));
  }
  RegCloseKey(cards);
  return set;
}

bool SameName(LPCSTR name, const char* device) {
  return name != nullptr && strcasecmp(name, device) == 0;
}

DeviceHandle* Find(HANDLE handle) {
  for (const auto& open : openHandles) {
    if (open.get() == handle) return open.get();
  }
  return nullptr;
}

HANDLE Adopt(std::unique_ptr<DeviceHandle> device) {
  HANDLE handle = device.get();
  openHandles.push_back(std::move(device));
  return handle;
}

void DropCardsWhenIdle() {
  if (openHandles.empty()) cardSet.reset();
}

}  // namespace

sim::AtaCard* FindOpenCard(uint16_t ioBase) {
  if (cardSet == nullptr || OpenPassThroughDriver() == nullptr) return nullptr;
  for (const auto& card : cardSet->cards) {
    if (card->settings().ioBase == ioBase) return card.get();
  }
  return nullptr;
}

sim::PassThroughDriver* OpenPassThroughDriver() {
  for (auto it = openHandles.rbegin(); it != openHandles.rend(); ++it) {
    if ((*it)->driver != nullptr) return (*it)->driver.get();
  }
  return nullptr;
}

sim::Vwin32Device* OpenVwin32Device() {
  for (auto it = openHandles.rbegin(); it != openHandles.rend(); ++it) {
    if ((*it)->vwin32 != nullptr) return (*it)->vwin32.get();
  }
  return nullptr;
}

}  // namespace host

using host::cardSet;
using host::openHandles;

HANDLE CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
  host::Boot();
  bool passThrough = host::SameName(name, host::kPassThroughName);
  bool vwin32 = host::SameName(name, host::kVwin32Name);
  if (!passThrough && !vwin32) return INVALID_HANDLE_VALUE;
  if (cardSet == nullptr) cardSet = host::LoadCards();

  auto device = std::make_unique<host::DeviceHandle>();
  if (passThrough) {
    if (!cardSet->driverInstalled || !cardSet->usable) {
      host::DropCardsWhenIdle();
      return INVALID_HANDLE_VALUE;
    }
    device->driver = std::make_unique<sim::PassThroughDriver>(cardSet->Pointers());
  } else {
    // VWIN32 is part of every Windows 9x machine.
    device->vwin32 = std::make_unique<sim::Vwin32Device>(cardSet->Pointers());
  }
  return host::Adopt(std::move(device));
}

BOOL CloseHandle(HANDLE handle) {
  host::Boot();
  for (auto it = openHandles.begin(); it != openHandles.end(); ++it) {
    if (it->get() == handle) {
      openHandles.erase(it);  // a VWIN32 device gives back its volume locks here
      host::DropCardsWhenIdle();
      return TRUE;
    }
  }
  return FALSE;
}

BOOL DeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                     LPDWORD returned, LPOVERLAPPED) {
  host::Boot();
  host::DeviceHandle* device = host::Find(handle);
  bool done = false;
  if (device != nullptr && device->driver != nullptr) {
    done = device->driver->Control(code, in, inSize, out, outSize);
  } else if (device != nullptr) {
    done = device->vwin32->Control(code, in, inSize, out, outSize);
  }
  if (returned != nullptr) *returned = done ? outSize : 0;
  return done ? TRUE : FALSE;
}
