#include "support/machine_text.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "support/support.h"

namespace testsupport {

namespace {

void Replace(std::string* text, const std::string& from, const std::string& to) {
  size_t at = text->find(from);
  if (at == std::string::npos) throw std::runtime_error("default machine lacks " + from);
  text->replace(at, from.size(), to);
}

// A REGEDIT4 string value: backslashes doubled.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += '\\';
    out += c;
  }
  return out;
}

std::string Dword(int value) {
  char text[32];
  snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(value));
  return text;
}

}  // namespace

std::string MachineText(const CardSpec& card, const std::string& versionNumber,
                        const std::string& subVersion) {
  std::string text = ReadFile(std::string(DUNMORE_SOURCE_DIR) + "/machines/default.reg");
  Replace(&text, "\"VersionNumber\"=\"4.10.2222\"", "\"VersionNumber\"=\"" + versionNumber + "\"");
  Replace(&text, "\"SubVersionNumber\"=\" A \"", "\"SubVersionNumber\"=\"" + subVersion + "\"");
  Replace(&text, "\"Image\"=\"pccard.img\"", "\"Image\"=\"" + card.image + "\"");
  Replace(&text, "\"Cylinders\"=dword:000001ea", "\"Cylinders\"=" + Dword(card.cylinders));
  Replace(&text, "\"Heads\"=dword:00000008", "\"Heads\"=" + Dword(card.heads));
  Replace(&text, "\"SectorsPerTrack\"=dword:00000020",
          "\"SectorsPerTrack\"=" + Dword(card.sectors));
  Replace(&text, "\"Model\"=\"KESTREL CF 64MB\"", "\"Model\"=\"" + card.model + "\"");
  Replace(&text, "\"SerialNumber\"=\"KS10012345\"",
          "\"SerialNumber\"=\"" + card.serialNumber + "\"");
  std::string values = "\"FirmwareRevision\"=\"REV 2.05\"";
  if (card.cardKeyDriveLetters) {
    values += "\n\"DriveLetters\"=\"" + *card.cardKeyDriveLetters + "\"";
  }
  if (!card.badSectors.empty()) values += "\n\"BadSectors\"=\"" + card.badSectors + "\"";
  Replace(&text, "\"FirmwareRevision\"=\"REV 2.05\"", values);
  // The card's disk devnode in the static hardware tree gives its letters.
  size_t card_key = text.find("KESTREL_CF_CARD");
  size_t assignment = text.find("\"CurrentDriveLetterAssignment\"=\"E\"", card_key);
  if (assignment == std::string::npos) throw std::runtime_error("default machine lacks the card");
  text.replace(assignment, 34, "\"CurrentDriveLetterAssignment\"=\"" + card.driveLetters + "\"");
  return text;
}

std::string CardDeviceTree(int ioBase, int controlPort, const std::string& letters,
                           const std::string& number) {
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
         Escaped(cardKey) + "\"\n\"Allocation\"=hex:" + allocation + "\n\n" +
         "[HKEY_DYN_DATA\\Config Manager\\Enum\\" + number + "100]\n\"HardWareKey\"=\"" +
         Escaped(diskKey) + "\"\n\"Parent\"=hex:" + parentBytes + "\n\n";
}

std::string WriteMachine(const std::string& dir, const std::string& name, const std::string& text) {
  std::string path = dir + "/" + name;
  WriteFile(path, text);
  return path;
}

void CreateImage(const std::string& path, const CardSpec& card) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  off_t size = static_cast<off_t>(card.cylinders) * card.heads * card.sectors * 512;
  if (ftruncate(fd, size) != 0) throw std::runtime_error("cannot size " + path);
  close(fd);
}

}  // namespace testsupport
