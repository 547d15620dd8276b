// Machine files written from parts: the Windows version key, the simulated
// card driver's key with one key per card, and each card's devnodes in the
// device registry. Text only, without GoogleTest, so that the write benchmark
// and the fuzz targets build their machines with it too.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// One card key, ...\VxD\MIRT\Cards\<name>, the name being the card's first
// I/O port in hex. Values of empty or unset text are left out.
struct CardKey {
  std::string name = "0170";
  std::string image;  // left out when empty
  uint32_t controlPort = 0x376;
  uint32_t cylinders = 0x3F8;  // 1016
  uint32_t heads = 4;
  uint32_t sectors = 8;
  std::string model = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";  // 40, none blank
  std::string serialNumber = "KS10012345";
  std::string firmwareRevision = "REV 2.05";
  std::optional<std::string> keyDriveLetters;  // the card key's own "DriveLetters", even empty
  std::string badSectors;
  std::string extra;               // more value lines, each ending in a newline
  std::string driveLetters = "E";  // the card's disk in the device registry
};

// A card key of this image and geometry at ports 0x170 and 0x376 with its
// model and no other value.
inline CardKey BareCardKey(const std::string& image, uint32_t cylinders, uint32_t heads,
                           uint32_t sectors, const std::string& model) {
  CardKey card;
  card.image = image;
  card.cylinders = cylinders;
  card.heads = heads;
  card.sectors = sectors;
  card.model = model;
  card.serialNumber = card.firmwareRevision = "";
  return card;
}

// The device registry of one PC Card with one disk on it: the card devnode
// (named <number>000, its first I/O range ioBase to ioBase + 7 and its
// control register at controlPort) and the disk devnode (<number>100, the
// card's child) with their keys under HKEY_LOCAL_MACHINE\Enum, the disk's
// CurrentDriveLetterAssignment being letters. number tells several cards
// apart: "c1a0c", "c1a0d", ...
inline std::string CardDeviceTree(int ioBase, int controlPort, const std::string& letters,
                                  const std::string& number = "c1a0c") {
  auto hex16 = [](int value) {
    char text[8];
    snprintf(text, sizeof text, "%02x,%02x", value & 0xFF, (value >> 8) & 0xFF);
    return std::string(text);
  };
  // "Allocation": the I/O ranges at bytes 20 and 56, as Windows 9x lays
  // them out; everything else zero.
  std::string allocation = "40";
  for (int i = 1; i < 64; ++i) {
    if (i == 20) {
      allocation += "," + hex16(ioBase) + "," + hex16(ioBase + 7);
      i += 3;
    } else if (i == 56) {
      allocation += "," + hex16(controlPort) + "," + hex16(controlPort);
      i += 3;
    } else {
      allocation += ",00";
    }
  }
  // A REGEDIT4 string value: backslashes doubled.
  auto escaped = [](const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\\' ? "\\\\" : std::string(1, c);
    return out;
  };
  const std::string cardKey = "PCMCIA\\CARD_" + number + "\\1";
  const std::string diskKey =
      "ESDI\\CARD_" + number + "_DISK\\MF&CHILD0000&PCMCIA&CARD_" + number + "&1";
  std::string parent = number + "000";
  std::string parentBytes = parent.substr(6, 2) + "," + parent.substr(4, 2) + "," +
                            parent.substr(2, 2) + "," + parent.substr(0, 2);
  return "[HKEY_LOCAL_MACHINE\\Enum\\" + cardKey + "]\n\"Class\"=\"hdc\"\n\n" +
         "[HKEY_LOCAL_MACHINE\\Enum\\" + diskKey + "]\n\"Class\"=\"DiskDrive\"\n" +
         "\"CurrentDriveLetterAssignment\"=\"" + letters + "\"\n\n" +
         "[HKEY_DYN_DATA\\Config Manager\\Enum\\" + parent + "]\n\"HardWareKey\"=\"" +
         escaped(cardKey) + "\"\n\"Allocation\"=hex:" + allocation + "\n\n" +
         "[HKEY_DYN_DATA\\Config Manager\\Enum\\" + number + "100]\n\"HardWareKey\"=\"" +
         escaped(diskKey) + "\"\n\"Parent\"=hex:" + parentBytes + "\n\n";
}

// The Windows version key; SubVersionNumber left out when subVersion is null.
inline std::string VersionKey(const std::string& number, const char* subVersion = nullptr) {
  std::string text = "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]\n";
  text += "\"VersionNumber\"=\"" + number + "\"\n";
  if (subVersion != nullptr) text += "\"SubVersionNumber\"=\"" + std::string(subVersion) + "\"\n";
  return text + "\n";
}

// A machine file: the version key (none when empty), the driver's key with
// the cards' keys, and, with devices, each card's devnodes numbered c1a0c,
// c1a0d, ... in turn. Without the driver, the version key alone.
inline std::string CardMachine(const std::vector<CardKey>& cards,
                               const std::string& versionKey = "", bool devices = true,
                               bool driverInstalled = true) {
  // Spelled out as a machine file spells it, not built from the reader's
  // cards::CardsKeyPath(): a wrong path there must fail to find these cards.
  const std::string driverKey =
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\VxD\\MIRT";
  std::string text = "REGEDIT4\n\n" + versionKey;
  if (!driverInstalled) return text;
  text += driverKey + "]\n\n";
  auto value = [&text](const char* name, const std::string& v) {
    if (!v.empty()) text += "\"" + std::string(name) + "\"=\"" + v + "\"\n";
  };
  for (const CardKey& card : cards) {
    char dwords[200];
    snprintf(dwords, sizeof dwords,
             "\"ControlPort\"=dword:%08x\n\"Cylinders\"=dword:%08x\n"
             "\"Heads\"=dword:%08x\n\"SectorsPerTrack\"=dword:%08x\n",
             card.controlPort, card.cylinders, card.heads, card.sectors);
    text += driverKey + "\\Cards\\" + card.name + "]\n";
    if (!card.image.empty()) text += "\"Image\"=\"" + card.image + "\"\n";
    text += dwords;
    value("Model", card.model);
    value("SerialNumber", card.serialNumber);
    value("FirmwareRevision", card.firmwareRevision);
    if (card.keyDriveLetters) text += "\"DriveLetters\"=\"" + *card.keyDriveLetters + "\"\n";
    value("BadSectors", card.badSectors);
    text += card.extra + "\n";
  }
  for (size_t i = 0; devices && i < cards.size(); ++i) {
    std::string number = "c1a0" + std::string(1, static_cast<char>('c' + i));
    text += CardDeviceTree(std::stoi(cards[i].name, nullptr, 16),
                           static_cast<int>(cards[i].controlPort), cards[i].driveLetters, number);
  }
  return text;
}

}  // namespace testsupport
