// Machines for tests: the default machine with its card and version changed.
#pragma once

#include <optional>
#include <string>

#include "support/card_key.h"

namespace testsupport {

// The card as a machine file states it. Its geometry and texts are the
// fields of sim::CardIdentity again on purpose: here they are what the test
// writes into the file, beside what only the file says (the image, the drive
// letters); the identity is what the card model answers from them.
struct MachineCard {
  int cylinders = 490;
  int heads = 8;
  int sectors = 32;
  std::string image = "pccard.img";
  std::string model = "KESTREL CF 64MB";
  std::string serialNumber = "KS10012345";
  std::string driveLetters = "E";  // the card's disk devnode's letters
  // The card key's own "DriveLetters", left out when not set.
  std::optional<std::string> cardKeyDriveLetters;
  std::string badSectors;   // the card's BadSectors value, if any
  std::string extraValues;  // more value lines of the card key, if any
};

// The default card with another geometry and, if given, bad sectors.
MachineCard MachineCardOf(int cylinders, int heads, int sectors,
                          const std::string& badSectors = "");

// machines/default.reg with the card and the Windows 9x version replaced.
std::string MachineText(const MachineCard& card, const std::string& versionNumber = "4.10.2222",
                        const std::string& subVersion = " A ");

// Writes the text to dir/name and returns the path.
std::string WriteMachine(const std::string& dir, const std::string& name, const std::string& text);

// Creates a sparse image of cylinders x heads x sectors x 512 bytes.
void CreateImage(const std::string& path, const MachineCard& card);

}  // namespace testsupport
