// The scan of the Windows 9x device registry: every disk and CD-ROM devnode of
// the live device tree, with the PC Card it sits on and that card's I/O ports.
//
// Everything here only reads the registry. Every key is opened with KEY_READ
// and closed again on every path.

#include "discovery/card_device_table.h"

#include <cstdio>
#include <cstring>

#include "common/little_endian.h"

CardDeviceTable theCardDeviceTable;

namespace {

// Before the run starts the table is empty.
struct CardDeviceTableStaticStart {
  CardDeviceTableStaticStart() { std::memset(&theCardDeviceTable, 0, sizeof theCardDeviceTable); }
};
CardDeviceTableStaticStart cardDeviceTableStaticStart;

// The live device tree under HKEY_DYN_DATA: one subkey per devnode.
const char kDevnodeTree[] = "Config Manager\\Enum";
// The static hardware tree under HKEY_LOCAL_MACHINE, keyed by hardware key.
const char kHardwareTree[] = "Enum\\";

// Buffer sizes the registry is read with. A value that does not fit its
// buffer fails to read and counts as absent.
const DWORD kSubkeyNameBuffer = 1024;
const DWORD kDevnodeValueBuffer = 1024;  // "HardWareKey", "Parent", "Allocation"
const DWORD kHardwareValueBuffer = 256;  // "Class", "CurrentDriveLetterAssignment"

// The enumerator of PC Card devnodes.
const char kPcCardEnumerator[] = "PCMCIA";

// The "Allocation" value of a devnode: its allocated resources. Only the
// first two I/O ranges are looked at; each field is a signed 16-bit word.
const int kAllocFirstIoStart = 20;   // start of the first I/O range
const int kAllocFirstIoEnd = 22;     // end of the first I/O range, inclusive
const int kAllocSecondIoStart = 56;  // start of the second I/O range
// A card with an 8-port range holds the ATA command block alone, and its
// control register is the start of the second range. A 16-port range holds
// both, with the control register at offset 14 of the range.
const int kCommandBlockOnlySpan = 7;
const int kCommandAndControlSpan = 15;
const int kControlOffsetInRange = 14;

// The port fields are signed 16-bit, widened with their sign.
int ReadLe16Signed(const uint8_t* bytes) {
  return static_cast<int16_t>(GetLe16(bytes));
}

// Copies text into a field of fieldSize characters, cut to fit and always
// zero-terminated.
void CopyCut(char* field, size_t fieldSize, const char* text) {
  size_t length = std::strlen(text);
  if (length > fieldSize - 1) length = fieldSize - 1;
  std::memcpy(field, text, length);
  field[length] = '\0';
}

// Reads a value's bytes into data, given to the registry as a buffer of
// capacity bytes. *length receives the value's length. False when the value
// is absent or does not fit.
bool ReadBytes(HKEY key, const char* name, uint8_t* data, DWORD capacity, DWORD* length) {
  DWORD type = REG_NONE;
  DWORD size = capacity;
  if (RegQueryValueExA(key, name, nullptr, &type, data, &size) != ERROR_SUCCESS) return false;
  *length = size < capacity ? size : capacity;
  return true;
}

// Reads a text value; text must hold capacity + 1 characters so that the
// text is terminated even when the stored value carries no terminating zero.
bool ReadText(HKEY key, const char* name, char* text, DWORD capacity) {
  DWORD length = 0;
  if (!ReadBytes(key, name, reinterpret_cast<uint8_t*>(text), capacity, &length)) return false;
  text[length] = '\0';
  return true;
}

// The card's name from its devnode's hardware key (enumerator, device and
// instance): the device part without the instance's last character, cut at
// the first underscore, where the maker's name ends and the model begins.
// PCMCIA\MAKER_MODEL-1A2B\1 gives MAKER. name holds CardDeviceRecord's 100
// characters; a longer name is cut to 99.
void CardNameFromHardwareKey(const char* hardwareKey, char* name) {
  char part[kDevnodeValueBuffer + 1];
  const char* backslash = std::strchr(hardwareKey, '\\');
  CopyCut(part, sizeof part, backslash != nullptr ? backslash + 1 : "");
  size_t length = std::strlen(part);
  if (length > 0) part[length - 1] = '\0';
  char* underscore = std::strchr(part, '_');
  if (underscore != nullptr) *underscore = '\0';
  CopyCut(name, sizeof(CardDeviceRecord{}.cardName), part);
}

// The hardware key of a card devnode, derived from the hardware key of a
// device on that card: the child's key carries the card's key from "PCMCIA"
// on, with '&' where the card's key has backslashes. The text from "PCMCIA"
// is taken with every '&' turned into a backslash, and it ends right after
// the second one, where the card's instance number begins:
// ...&PCMCIA&MAKER_MODEL-1A2B&1 gives PCMCIA\MAKER_MODEL-1A2B\.
// False when the key has no "PCMCIA" in it.
bool CardKeyPrefix(const char* hardwareKey, char* prefix, size_t prefixSize) {
  const char* from = std::strstr(hardwareKey, kPcCardEnumerator);
  if (from == nullptr) return false;
  size_t out = 0;
  int replaced = 0;
  for (; *from != '\0' && out < prefixSize - 1 && replaced < 2; ++from) {
    char c = *from;
    if (c == '&') {
      c = '\\';
      ++replaced;
    }
    prefix[out++] = c;
  }
  prefix[out] = '\0';
  return true;
}

// Lists the devnode at index of the device tree: false after the last one.
// The name buffer's length is given afresh for every call.
bool NextDevnodeName(HKEY tree, DWORD index, char (&name)[kSubkeyNameBuffer + 1]) {
  DWORD nameSize = kSubkeyNameBuffer;
  if (RegEnumKeyExA(tree, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  name[kSubkeyNameBuffer] = '\0';
  return true;
}

}  // namespace

int CardDeviceTable::Scan() {
  recordCount = 0;
  HKEY tree = nullptr;
  if (RegOpenKeyExA(HKEY_DYN_DATA, kDevnodeTree, 0, KEY_READ, &tree) != ERROR_SUCCESS) return -1;

  for (DWORD index = 0;; ++index) {
    // The table has room for kCapacity records; devnodes beyond that are not
    // filed, so that no record is ever written past the table.
    if (recordCount >= kCapacity) break;
    char subkeyName[kSubkeyNameBuffer + 1];
    if (!NextDevnodeName(tree, index, subkeyName)) break;

    HKEY devnode = nullptr;
    if (RegOpenKeyExA(tree, subkeyName, 0, KEY_READ, &devnode) != ERROR_SUCCESS) continue;

    char hardwareKey[kDevnodeValueBuffer + 1];
    // Fresh for every devnode: a device without a letter assignment must not
    // inherit the letters of the devnode before it.
    char letters[sizeof(CardDeviceRecord{}.driveLetters)] = {};
    if (!ReadText(devnode, "HardWareKey", hardwareKey, kDevnodeValueBuffer) ||
        ReadDiskEntry(hardwareKey, letters) != 1) {
      RegCloseKey(devnode);
      continue;
    }

    // The slot may hold a record of an earlier scan; start it from zero so
    // that hasIoPorts is 0 unless the card's ports are found below.
    CardDeviceRecord& record = records[recordCount];
    std::memset(&record, 0, sizeof record);

    int ioBase = 0;
    int controlPort = 0;
    char name[sizeof record.cardName] = {};
    int onCard = 0;
    uint8_t parent[kDevnodeValueBuffer] = {};
    DWORD parentLength = 0;
    if (ReadBytes(devnode, "Parent", parent, kDevnodeValueBuffer, &parentLength)) {
      // The parent's devnode is named by its number in eight lower-case hex
      // digits. A value shorter than four bytes reads as zeros beyond its end.
      char parentName[16];
      std::snprintf(parentName, sizeof parentName, "%08x",
                    static_cast<unsigned int>(GetLe32(parent)));
      onCard = ReadParentCard(parentName, &ioBase, &controlPort, name);
    } else {
      char prefix[kDevnodeValueBuffer + 1];
      if (CardKeyPrefix(hardwareKey, prefix, sizeof prefix)) {
        onCard = FindCardByHardwareKey(prefix, &ioBase, &controlPort, name);
      }
    }

    if (onCard == 1) {
      record.isPcCard = 1;
      CopyCut(record.cardName, sizeof record.cardName, name);
    } else {
      record.isPcCard = 0;
      record.cardName[0] = '\0';
    }
    record.ioBase = ioBase;
    record.controlPort = controlPort;
    CopyCut(record.driveLetters, sizeof record.driveLetters, letters);
    ++recordCount;
    RegCloseKey(devnode);
  }

  RegCloseKey(tree);
  return 0;
}

int CardDeviceTable::ReadDiskEntry(const char* hardwareKey, char* letters) {
  char path[sizeof kHardwareTree + kDevnodeValueBuffer + 1];
  std::snprintf(path, sizeof path, "%s%s", kHardwareTree, hardwareKey);
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;

  int result;
  char deviceClass[kHardwareValueBuffer + 1];
  if (!ReadText(key, "Class", deviceClass, kHardwareValueBuffer)) {
    result = -1;
  } else if (std::strcmp(deviceClass, "DiskDrive") != 0 && std::strcmp(deviceClass, "CDROM") != 0) {
    // Windows writes the class names with these exact capitals.
    result = 0;
  } else {
    result = 1;
    char assignment[kHardwareValueBuffer + 1];
    if (!ReadText(key, "CurrentDriveLetterAssignment", assignment, kHardwareValueBuffer)) {
      assignment[0] = '\0';
    }
    CopyCut(letters, sizeof(CardDeviceRecord{}.driveLetters), assignment);
  }
  RegCloseKey(key);
  return result;
}

// Built as ReadDiskEntry above is, on purpose: open one key, judge it by one
// text value (-1 when that value cannot be read, 0 when the key is not what
// the scan looks for), read the rest, close the key on every path. The two
// keys sit in different trees and are judged by different values.
int CardDeviceTable::ReadParentCard(const char* parentKeyName, int* ioBase, int* controlPort,
                                    char* name) {
  char path[sizeof kDevnodeTree + kSubkeyNameBuffer + 1];
  std::snprintf(path, sizeof path, "%s\\%s", kDevnodeTree, parentKeyName);
  HKEY parent = nullptr;
  if (RegOpenKeyExA(HKEY_DYN_DATA, path, 0, KEY_READ, &parent) != ERROR_SUCCESS) return 0;

  int result;
  char hardwareKey[kDevnodeValueBuffer + 1];
  if (!ReadText(parent, "HardWareKey", hardwareKey, kDevnodeValueBuffer)) {
    result = -1;
  } else {
    const char* backslash = std::strchr(hardwareKey, '\\');
    size_t enumeratorLength = backslash != nullptr ? backslash - hardwareKey : 0;
    if (backslash == nullptr || enumeratorLength != std::strlen(kPcCardEnumerator) ||
        std::memcmp(hardwareKey, kPcCardEnumerator, enumeratorLength) != 0) {
      result = 0;
    } else {
      result = 1;
      int found = ReadAllocation(parent, ioBase, controlPort);
      if (recordCount >= 0 && recordCount < kCapacity) {
        records[recordCount].hasIoPorts = found == 0 ? 1 : 0;
      }
      CardNameFromHardwareKey(hardwareKey, name);
    }
  }
  RegCloseKey(parent);
  return result;
}

int CardDeviceTable::FindCardByHardwareKey(const char* keyPrefix, int* ioBase, int* controlPort,
                                           char* name) {
  // The card's own instance is 0 or 1 in the sockets Windows 9x numbers.
  char candidate0[kDevnodeValueBuffer + 2];
  char candidate1[kDevnodeValueBuffer + 2];
  std::snprintf(candidate0, sizeof candidate0, "%s0", keyPrefix);
  std::snprintf(candidate1, sizeof candidate1, "%s1", keyPrefix);

  HKEY tree = nullptr;
  if (RegOpenKeyExA(HKEY_DYN_DATA, kDevnodeTree, 0, KEY_READ, &tree) != ERROR_SUCCESS) return -1;

  int result = 0;
  for (DWORD index = 0; result == 0; ++index) {
    char subkeyName[kSubkeyNameBuffer + 1];
    if (!NextDevnodeName(tree, index, subkeyName)) break;

    HKEY devnode = nullptr;
    if (RegOpenKeyExA(tree, subkeyName, 0, KEY_READ, &devnode) != ERROR_SUCCESS) continue;
    char hardwareKey[kDevnodeValueBuffer + 1];
    if (ReadText(devnode, "HardWareKey", hardwareKey, kDevnodeValueBuffer) &&
        (std::strcmp(hardwareKey, candidate0) == 0 || std::strcmp(hardwareKey, candidate1) == 0)) {
      int found = ReadAllocation(devnode, ioBase, controlPort);
      if (recordCount >= 0 && recordCount < kCapacity) {
        records[recordCount].hasIoPorts = found == 0 ? 1 : 0;
      }
      CardNameFromHardwareKey(hardwareKey, name);
      result = 1;
    }
    RegCloseKey(devnode);
  }

  RegCloseKey(tree);
  return result;
}

int CardDeviceTable::ReadAllocation(HKEY devnode, int* ioBase, int* controlPort) {
  uint8_t allocation[kDevnodeValueBuffer];
  DWORD length = 0;
  if (!ReadBytes(devnode, "Allocation", allocation, sizeof allocation, &length)) return -1;
  // Too short to hold the first I/O range: no ports, and the outputs stay as
  // they were, as for a missing value.
  if (length < kAllocFirstIoEnd + 2) return -1;

  int start = ReadLe16Signed(allocation + kAllocFirstIoStart);
  int end = ReadLe16Signed(allocation + kAllocFirstIoEnd);
  *ioBase = start;
  *controlPort = end;
  int16_t span = static_cast<int16_t>(end - start);
  if (span == kCommandBlockOnlySpan) {
    // An 8-port range without a second range to name the control register
    // leaves the card without usable ports, like any other range shape.
    if (length < kAllocSecondIoStart + 2) return -1;
    *controlPort = ReadLe16Signed(allocation + kAllocSecondIoStart);
    return 0;
  }
  if (span == kCommandAndControlSpan) {
    *controlPort = start + kControlOffsetInRange;
    return 0;
  }
  return -1;
}

namespace {

// Letter case of A to Z only; every other byte compares as it is.
char FoldCase(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

int CardDeviceTable::FindByName(const char* text) const {
  size_t length = std::strlen(text);
  for (int i = 0; i < recordCount && i < kCapacity; ++i) {
    const CardDeviceRecord& record = records[i];
    if (record.isPcCard != 1) continue;
    // A name shorter than the text stops at its terminating zero, which
    // never equals a character of the text.
    size_t k = 0;
    while (k < length && k < sizeof record.cardName &&
           FoldCase(record.cardName[k]) == FoldCase(text[k])) {
      ++k;
    }
    if (k == length) return i;
  }
  return -1;
}

int CardDeviceTable::IsDistinct(int index) const {
  // An index outside the filed records names no card that could be chosen.
  if (index < 0 || index >= recordCount || index >= kCapacity) return -1;
  const char* name = records[index].cardName;
  for (int i = 0; i < recordCount && i < kCapacity; ++i) {
    if (i == index || records[i].isPcCard != 1) continue;
    if (std::strncmp(records[i].cardName, name, sizeof records[i].cardName) == 0) return -1;
  }
  return 0;
}

void CardDeviceTable::Select(int index) {
  if (index < 0 || index >= recordCount || index >= kCapacity) return;
  for (int i = 0; i < recordCount && i < kCapacity; ++i) records[i].isPcCard = 0;
  records[index].isPcCard = 1;
}
