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

std::string Dword(int value) {
  char text[32];
  snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(value));
  return text;
}

}  // namespace

std::string MachineText(const MachineCard& card, const std::string& versionNumber,
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
  if (!card.extraValues.empty()) values += "\n" + card.extraValues;
  Replace(&text, "\"FirmwareRevision\"=\"REV 2.05\"", values);
  // The card's disk devnode in the static hardware tree gives its letters.
  size_t card_key = text.find("KESTREL_CF_CARD");
  size_t assignment = text.find("\"CurrentDriveLetterAssignment\"=\"E\"", card_key);
  if (assignment == std::string::npos) throw std::runtime_error("default machine lacks the card");
  text.replace(assignment, 34, "\"CurrentDriveLetterAssignment\"=\"" + card.driveLetters + "\"");
  return text;
}

MachineCard MachineCardOf(int cylinders, int heads, int sectors, const std::string& badSectors) {
  MachineCard card;
  card.cylinders = cylinders;
  card.heads = heads;
  card.sectors = sectors;
  card.badSectors = badSectors;
  return card;
}

std::string WriteMachine(const std::string& dir, const std::string& name, const std::string& text) {
  std::string path = dir + "/" + name;
  WriteFile(path, text);
  return path;
}

void CreateImage(const std::string& path, const MachineCard& card) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  off_t size = static_cast<off_t>(card.cylinders) * card.heads * card.sectors * 512;
  if (ftruncate(fd, size) != 0) throw std::runtime_error("cannot size " + path);
  close(fd);
}

}  // namespace testsupport
