#include "cards/card_drive_letters.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/little_endian.h"
#include "win32/win32.h"

namespace cards {
namespace {

// The same registry places and buffer sizes as the system's own scan
// (discovery/card_device_table.cpp) names, kept apart on purpose: this is the
// machine's side, which must not take its facts from the program it hosts, so
// that a wrong name in the scan shows as a card the machine cannot map.
constexpr char kDevnodeTree[] = "Config Manager\\Enum";
constexpr char kHardwareTree[] = "Enum\\";
constexpr char kPcCardEnumerator[] = "PCMCIA";
// The buffers Windows 9x's own readers use: a longer value does not count.
constexpr DWORD kDevnodeValueBuffer = 1024;
constexpr DWORD kHardwareValueBuffer = 256;
constexpr DWORD kSubkeyNameBuffer = 1024;
// "Allocation": the first I/O range's start is the 16-bit word at byte 20.
constexpr DWORD kAllocationFirstIoStart = 20;

// A key opened for reading, closed when it goes.
class Key {
 public:
  Key(HKEY parent, const std::string& path) {
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;

  bool open() const { return key_ != nullptr; }
  HKEY get() const { return key_; }

  // The value's bytes, read into a buffer of capacity bytes; false when it
  // is absent or does not fit.
  bool Bytes(const char* name, DWORD capacity, std::string* out) const {
    if (key_ == nullptr) return false;
    std::string data(capacity, '\0');
    DWORD size = capacity;
    DWORD type = 0;
    if (RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<LPBYTE>(&data[0]), &size) !=
        ERROR_SUCCESS) {
      return false;
    }
    data.resize(size < capacity ? size : capacity);
    *out = data;
    return true;
  }

  // A text value up to its first zero.
  bool Text(const char* name, DWORD capacity, std::string* out) const {
    if (!Bytes(name, capacity, out)) return false;
    out->resize(std::strlen(out->c_str()));
    return true;
  }

 private:
  HKEY key_ = nullptr;
};

std::string DevnodePath(const std::string& name) {
  return std::string(kDevnodeTree) + "\\" + name;
}

// The names of all devnodes, in the order the registry lists them.
std::vector<std::string> DevnodeNames() {
  std::vector<std::string> names;
  Key tree(HKEY_DYN_DATA, kDevnodeTree);
  if (!tree.open()) return names;
  for (DWORD index = 0;; ++index) {
    char name[kSubkeyNameBuffer + 1];
    DWORD size = kSubkeyNameBuffer;
    if (RegEnumKeyExA(tree.get(), index, name, &size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    name[size < kSubkeyNameBuffer ? size : kSubkeyNameBuffer] = '\0';
    names.push_back(name);
  }
  return names;
}

// True when the devnode is a PC Card whose first I/O range starts at ioBase.
bool IsTheCard(const Key& devnode, uint16_t ioBase) {
  std::string hardwareKey;
  if (!devnode.Text("HardWareKey", kDevnodeValueBuffer, &hardwareKey)) return false;
  size_t backslash = hardwareKey.find('\\');
  if (backslash == std::string::npos || hardwareKey.substr(0, backslash) != kPcCardEnumerator) {
    return false;
  }
  std::string allocation;
  if (!devnode.Bytes("Allocation", kDevnodeValueBuffer, &allocation) ||
      allocation.size() < kAllocationFirstIoStart + 2) {
    return false;
  }
  return GetLe16(reinterpret_cast<const uint8_t*>(allocation.data()) + kAllocationFirstIoStart) ==
         ioBase;
}

// The card's hardware key as a device on it carries it: from "PCMCIA" on,
// with '&' for '\', up to the card's instance number (which is 0 or 1).
bool CardKeyPrefix(const std::string& hardwareKey, std::string* prefix) {
  size_t from = hardwareKey.find(kPcCardEnumerator);
  if (from == std::string::npos) return false;
  prefix->clear();
  int replaced = 0;
  for (size_t i = from; i < hardwareKey.size() && replaced < 2; ++i) {
    char c = hardwareKey[i];
    if (c == '&') {
      c = '\\';
      ++replaced;
    }
    prefix->push_back(c);
  }
  return true;
}

// True when the device devnode sits on the card at ioBase.
bool OnTheCard(const Key& device, const std::string& hardwareKey,
               const std::vector<std::string>& devnodes, uint16_t ioBase) {
  std::string parent;
  if (device.Bytes("Parent", kDevnodeValueBuffer, &parent)) {
    parent.resize(parent.size() < 4 ? 4 : parent.size(), '\0');
    char name[16];
    std::snprintf(name, sizeof name, "%08x",
                  static_cast<unsigned>(GetLe32(reinterpret_cast<const uint8_t*>(parent.data()))));
    Key card(HKEY_DYN_DATA, DevnodePath(name));
    return card.open() && IsTheCard(card, ioBase);
  }
  std::string prefix;
  if (!CardKeyPrefix(hardwareKey, &prefix)) return false;
  for (const std::string& name : devnodes) {
    Key card(HKEY_DYN_DATA, DevnodePath(name));
    std::string cardKey;
    if (!card.Text("HardWareKey", kDevnodeValueBuffer, &cardKey)) continue;
    if (cardKey == prefix + "0" || cardKey == prefix + "1") return IsTheCard(card, ioBase);
  }
  return false;
}

}  // namespace

std::string CardDriveLetters(uint16_t ioBase) {
  std::string letters;
  const std::vector<std::string> devnodes = DevnodeNames();
  for (const std::string& name : devnodes) {
    Key device(HKEY_DYN_DATA, DevnodePath(name));
    std::string hardwareKey;
    if (!device.Text("HardWareKey", kDevnodeValueBuffer, &hardwareKey)) continue;
    Key hardware(HKEY_LOCAL_MACHINE, kHardwareTree + hardwareKey);
    std::string deviceClass;
    if (!hardware.Text("Class", kHardwareValueBuffer, &deviceClass) ||
        (deviceClass != "DiskDrive" && deviceClass != "CDROM")) {
      continue;
    }
    if (!OnTheCard(device, hardwareKey, devnodes, ioBase)) continue;
    std::string assignment;
    if (!hardware.Text("CurrentDriveLetterAssignment", kHardwareValueBuffer, &assignment)) continue;
    for (char c : assignment)
      letters.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return letters;
}

}  // namespace cards
