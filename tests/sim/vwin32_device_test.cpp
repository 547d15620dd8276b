#include "sim/vwin32_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <string>

#include "support/support.h"

namespace {

using testsupport::TempDir;

enum { kEbx, kEdx, kEcx, kEax, kEdi, kEsi, kFlags };

// True when another open file description can take the lock right now.
bool FreeForOthers(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return free;
}

class Vwin32DeviceTest : public ::testing::Test {
 protected:
  Vwin32DeviceTest() {
    sim::CardSettings s;
    s.image = dir.File("card.img");
    s.cylinders = 4;
    s.heads = 2;
    s.sectorsPerTrack = 4;
    s.driveLetters = "eF";
    s.int13Unit = 0x83;
    card = std::make_unique<sim::AtaCard>(s);
    std::string error;
    EXPECT_TRUE(card->OpenMedium(&error)) << error;
  }

  // Runs one DOS IOCTL call; returns the registers that came back.
  std::array<uint32_t, 7> Call(sim::Vwin32Device& device, uint32_t ecx, uint32_t ebx, uint32_t edx,
                               uint32_t eax = 0x440D) {
    uint8_t regs[28] = {};
    uint32_t values[7] = {ebx, edx, ecx, eax, 0, 0, 0};
    for (int r = 0; r < 7; ++r) {
      for (int b = 0; b < 4; ++b) regs[4 * r + b] = static_cast<uint8_t>(values[r] >> (8 * b));
    }
    EXPECT_TRUE(device.Control(1, regs, 28, regs, 28));
    std::array<uint32_t, 7> out{};
    for (int r = 0; r < 7; ++r) {
      for (int b = 0; b < 4; ++b) out[r] |= static_cast<uint32_t>(regs[4 * r + b]) << (8 * b);
    }
    return out;
  }

  bool Carry(const std::array<uint32_t, 7>& regs) { return (regs[kFlags] & 1) != 0; }

  int UnitOf(sim::Vwin32Device& device, int drive) {
    static uint8_t info[32];
    info[0] = 0x1F;
    info[3] = 0xEE;
    auto regs = Call(device, 0x086F, static_cast<uint32_t>(drive),
                     static_cast<uint32_t>(reinterpret_cast<uintptr_t>(info)));
    return Carry(regs) ? -1 : info[3];
  }

  TempDir dir;
  std::unique_ptr<sim::AtaCard> card;
};

TEST_F(Vwin32DeviceTest, DriveMapGivesTheCardUnitForItsLettersOnly) {
  sim::Vwin32Device device({card.get()});
  EXPECT_EQ(0x83, UnitOf(device, 5)) << "E, listed in lower case";
  EXPECT_EQ(0x83, UnitOf(device, 6));
  EXPECT_EQ(0x80, UnitOf(device, 1));
  EXPECT_EQ(0x80, UnitOf(device, 3));
  EXPECT_EQ(0x80, UnitOf(device, 26));
  EXPECT_EQ(-1, UnitOf(device, 0));
  EXPECT_EQ(-1, UnitOf(device, 27));
  auto regs = Call(device, 0x086F, 5, 0);
  EXPECT_TRUE(Carry(regs)) << "no buffer";
}

TEST_F(Vwin32DeviceTest, LocksNestInOneProcessAndShutOutOthers) {
  const std::string& image = card->settings().image;
  sim::Vwin32Device device({card.get()});
  EXPECT_TRUE(FreeForOthers(image)) << "the medium alone takes no lock";
  EXPECT_FALSE(Carry(Call(device, 0x084B, 0x83, 0)));
  EXPECT_FALSE(Carry(Call(device, 0x084B, 0x83, 4)));
  EXPECT_FALSE(FreeForOthers(image));
  EXPECT_EQ(2, card->volumeLockDepth());

  EXPECT_FALSE(Carry(Call(device, 0x086B, 0x83, 0)));
  EXPECT_FALSE(FreeForOthers(image)) << "one hold is left";
  EXPECT_FALSE(Carry(Call(device, 0x086B, 0x83, 0)));
  EXPECT_TRUE(FreeForOthers(image));
  EXPECT_TRUE(Carry(Call(device, 0x086B, 0x83, 0))) << "nothing left to unlock";
}

TEST_F(Vwin32DeviceTest, LockHeldElsewhereFailsWithCarry) {
  int other = open(card->settings().image.c_str(), O_RDONLY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(0, flock(other, LOCK_EX | LOCK_NB));
  sim::Vwin32Device device({card.get()});
  auto regs = Call(device, 0x084B, 0x83, 0);
  EXPECT_TRUE(Carry(regs));
  EXPECT_EQ(0, card->volumeLockDepth());
  close(other);
  EXPECT_FALSE(Carry(Call(device, 0x084B, 0x83, 0)));
}

TEST_F(Vwin32DeviceTest, ClosingTheDeviceGivesBackItsLocks) {
  {
    sim::Vwin32Device device({card.get()});
    Call(device, 0x084B, 0x83, 0);
    Call(device, 0x084B, 0x83, 4);
    ASSERT_FALSE(FreeForOthers(card->settings().image));
  }
  EXPECT_EQ(0, card->volumeLockDepth());
  EXPECT_TRUE(FreeForOthers(card->settings().image));
}

TEST_F(Vwin32DeviceTest, OtherUnitsAndCallsAreAnsweredLikeWindows) {
  sim::Vwin32Device device({card.get()});
  EXPECT_FALSE(Carry(Call(device, 0x084B, 0x80, 0))) << "the fixed disk";
  EXPECT_FALSE(Carry(Call(device, 0x086B, 0x80, 0)));
  EXPECT_TRUE(Carry(Call(device, 0x084B, 0x81, 0))) << "no such unit";
  EXPECT_TRUE(Carry(Call(device, 0x084B, 0x0183, 0))) << "lock level 1";
  EXPECT_TRUE(Carry(Call(device, 0x0866, 0x83, 0))) << "unknown minor code";
  EXPECT_TRUE(Carry(Call(device, 0x084B, 0x83, 0, 0x4400)));
  auto regs = Call(device, 0x0860, 5, 0);
  EXPECT_EQ(0x0001u, regs[kEax] & 0xFFFF) << "invalid function in AX";
  EXPECT_EQ(0, card->volumeLockDepth());

  uint8_t regs28[28] = {};
  EXPECT_FALSE(device.Control(2, regs28, 28, regs28, 28)) << "only the DOS IOCTL service";
  EXPECT_FALSE(device.Control(1, regs28, 27, regs28, 28));
  ASSERT_EQ(9u, device.calls.size());
  EXPECT_FALSE(device.calls.back().returned);
  EXPECT_TRUE(device.calls[6].returned) << "a DOS failure still completes the call";
}

}  // namespace
