// Machines for tests: the default machine with its card and version changed.
#pragma once

#include <optional>
#include <string>

namespace testsupport {

struct CardSpec {
  int cylinders = 490;
  int heads = 8;
  int sectors = 32;
  std::string image = "pccard.img";
  std::string model = "KESTREL CF 64MB";
  std::string serialNumber = "KS10012345";
  std::string driveLetters = "E";  // the card's disk devnode's letters
  // The card key's own "DriveLetters", left out when not set.
  std::optional<std::string> cardKeyDriveLetters;
  std::string badSectors;  // the card's BadSectors value, if any
};

// machines/default.reg with the card and the Windows 9x version replaced.
std::string MachineText(const CardSpec& card, const std::string& versionNumber = "4.10.2222",
                        const std::string& subVersion = " A ");

// The device registry of one PC Card with one disk on it: the card devnode
// (named <number>000, its first I/O range ioBase to ioBase + 7 and its
// control register at controlPort) and the disk devnode (<number>100, the
// card's child) with their keys under HKEY_LOCAL_MACHINE\Enum, the disk's
// CurrentDriveLetterAssignment being letters. number tells several cards
// apart: "c1a0c", "c1a0d", ...
std::string CardDeviceTree(int ioBase, int controlPort, const std::string& letters,
                           const std::string& number = "c1a0c");

// Writes the text to dir/name and returns the path.
std::string WriteMachine(const std::string& dir, const std::string& name, const std::string& text);

// Creates a sparse image of cylinders x heads x sectors x 512 bytes.
void CreateImage(const std::string& path, const CardSpec& card);

}  // namespace testsupport
