#include "sim/vwin32_device.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "support/support.h"

namespace {

// The drive map record the tests pass, and the caller's memory as the device
// is told it: this record alone.
uint8_t driveMapRecord[32];

uint8_t* RecordAddress(uint32_t address, uint32_t length) {
  bool ours = address == static_cast<uint32_t>(reinterpret_cast<uintptr_t>(driveMapRecord)) &&
              length <= sizeof driveMapRecord;
  return ours ? driveMapRecord : nullptr;
}

using testsupport::TempDir;

enum { kEbx, kEdx, kEcx, kEax, kEdi, kEsi, kFlags };

class Vwin32DeviceTest : public ::testing::Test {
 protected:
  Vwin32DeviceTest() {
    sim::CardSettings s;
    s.image = dir.File("card.img");
    s.identity = {4, 2, 4, "", "", ""};
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
    uint8_t* info = driveMapRecord;
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
  sim::Vwin32Device device({card.get()}, RecordAddress);
  EXPECT_EQ(0x83, UnitOf(device, 5)) << "E, listed in lower case";
  EXPECT_EQ(0x83, UnitOf(device, 6));
  EXPECT_EQ(0x80, UnitOf(device, 1));
  EXPECT_EQ(0x80, UnitOf(device, 3));
  EXPECT_EQ(0x80, UnitOf(device, 26));
  EXPECT_EQ(-1, UnitOf(device, 0));
  EXPECT_EQ(-1, UnitOf(device, 27));
  auto regs = Call(device, 0x086F, 5, 0);
  EXPECT_TRUE(Carry(regs)) << "no buffer";
  // An address that names nothing of the caller's fails the call.
  regs = Call(device, 0x086F, 5, 0x1234);
  EXPECT_TRUE(Carry(regs)) << "an address the map does not know";
}

TEST_F(Vwin32DeviceTest, OtherUnitsAndCallsAreAnsweredLikeWindows) {
  sim::Vwin32Device device({card.get()}, RecordAddress);
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
