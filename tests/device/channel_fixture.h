// A simulated machine for the disk channel tests: one card at ports
// 0x170/0x376 over an image in a temporary folder, drive E:, Int 13h unit
// 0x83, and the pass-through driver installed unless a test says otherwise.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "device/disk_channel.h"
#include "host/device_handles.h"
#include "host/host.h"
#include "support/machine_text.h"
#include "support/support.h"

namespace channeltest {

struct CardKey {
  std::string name = "0170";
  std::string image;
  uint32_t controlPort = 0x376;
  uint32_t cylinders = 0x3F8;  // 1016
  uint32_t heads = 4;
  uint32_t sectors = 8;
  std::string model = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";  // 40, none blank
  std::string serialNumber = "KS10012345";
  std::string firmwareRevision = "REV 2.05";
  std::string driveLetters = "E";              // the card's disk in the device registry
  std::optional<std::string> keyDriveLetters;  // the card key's own "DriveLetters"
  std::string extra;                           // more value lines, such as "BadSectors"
};

inline std::string MachineText(const std::vector<CardKey>& cards, bool driverInstalled = true) {
  const std::string driverKey =
      "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\VxD\\MIRT";
  std::string text = "REGEDIT4\n\n";
  text += "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]\n";
  text += "\"VersionNumber\"=\"4.10.2222\"\n\n";
  if (!driverInstalled) return text;
  text += driverKey + "]\n\n";
  for (const CardKey& card : cards) {
    char dwords[200];
    std::snprintf(dwords, sizeof dwords,
                  "\"ControlPort\"=dword:%08x\n\"Cylinders\"=dword:%08x\n"
                  "\"Heads\"=dword:%08x\n\"SectorsPerTrack\"=dword:%08x\n",
                  card.controlPort, card.cylinders, card.heads, card.sectors);
    text += driverKey + "\\Cards\\" + card.name + "]\n";
    if (!card.image.empty()) text += "\"Image\"=\"" + card.image + "\"\n";
    text += dwords;
    text += "\"Model\"=\"" + card.model + "\"\n";
    text += "\"SerialNumber\"=\"" + card.serialNumber + "\"\n";
    text += "\"FirmwareRevision\"=\"" + card.firmwareRevision + "\"\n";
    if (card.keyDriveLetters) text += "\"DriveLetters\"=\"" + *card.keyDriveLetters + "\"\n";
    text += card.extra + "\n";
  }
  // Each card's disk in the device registry, with its drive letters.
  for (size_t i = 0; i < cards.size(); ++i) {
    std::string number = "c1a0" + std::string(1, static_cast<char>('c' + i));
    text += testsupport::CardDeviceTree(std::stoi(cards[i].name, nullptr, 16),
                                        static_cast<int>(cards[i].controlPort),
                                        cards[i].driveLetters, number);
  }
  return text;
}

// True when another open file description could take the lock on path now.
inline bool FreeForOthers(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return free;
}

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Replaces the machine; the channel must be closed.
  void LoadMachine(const std::vector<CardKey>& cards, bool driverInstalled = true);
  CardKey DefaultCard() const;

  // The exact call log of the open driver and VWIN32 device.
  const std::vector<sim::DriverCall>& DriverCalls();
  const std::vector<sim::RegisterCall>& Vwin32Calls();

  testsupport::TempDir dir;
  std::string image;
};

inline void ChannelTest::SetUp() {
  image = dir.File("pccard.img");
  // The card's image, of its full size: a medium is opened on its first use.
  CardKey card;
  int fd = open(image.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, ftruncate(fd, static_cast<off_t>(card.cylinders) * card.heads * card.sectors * 512));
  close(fd);
  LoadMachine({DefaultCard()});
}

inline void ChannelTest::TearDown() {
  theDiskChannel.Close();
  std::memset(&theDiskChannel, 0, sizeof theDiskChannel);
}

inline CardKey ChannelTest::DefaultCard() const {
  CardKey card;
  card.image = image;
  card.extra = "\"Int13Unit\"=dword:00000083\n";
  return card;
}

inline void ChannelTest::LoadMachine(const std::vector<CardKey>& cards, bool driverInstalled) {
  std::string error;
  ASSERT_TRUE(host::LoadMachineText(MachineText(cards, driverInstalled), "test.reg", &error))
      << error;
}

inline const std::vector<sim::DriverCall>& ChannelTest::DriverCalls() {
  static const std::vector<sim::DriverCall> none;
  sim::PassThroughDriver* driver = host::OpenPassThroughDriver();
  return driver != nullptr ? driver->calls : none;
}

inline const std::vector<sim::RegisterCall>& ChannelTest::Vwin32Calls() {
  static const std::vector<sim::RegisterCall> none;
  sim::Vwin32Device* device = host::OpenVwin32Device();
  return device != nullptr ? device->calls : none;
}

}  // namespace channeltest
