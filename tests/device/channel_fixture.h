// A simulated machine for the disk channel tests: one card at ports
// 0x170/0x376 over an image in a temporary folder, drive E:, Int 13h unit
// 0x83, and the pass-through driver installed unless a test says otherwise.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "device/disk_channel.h"
#include "host/host.h"
#include "host/testing.h"
#include "support/machine_text.h"
#include "support/support.h"

namespace channeltest {

using testsupport::CardKey;

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
  testsupport::CreateImage(image,
                           testsupport::MachineCardOf(card.cylinders, card.heads, card.sectors));
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
  std::string text =
      testsupport::CardMachine(cards, testsupport::VersionKey("4.10.2222"), true, driverInstalled);
  ASSERT_TRUE(host::LoadMachineText(text, "test.reg", &error)) << error;
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
