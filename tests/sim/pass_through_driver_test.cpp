#include "sim/pass_through_driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/little_endian.h"
#include "support/support.h"

namespace {

using testsupport::TempDir;

// The settings as ata_card_test.cpp and real_card_test.cpp fill them, for
// two cards at other ports (a parallel: each test its own card).
sim::CardSettings Card(const std::string& image, uint16_t ioBase, uint16_t controlPort,
                       const char* model) {
  sim::CardSettings s;
  s.image = image;
  s.ioBase = ioBase;
  s.controlPort = controlPort;
  s.identity = {10, 2, 4, model, "", ""};
  return s;
}

struct Request {
  uint8_t bytes[32] = {};
  Request(uint16_t command, uint16_t c, uint16_t h, uint16_t s, uint16_t count) {
    uint16_t fields[] = {command, 0, c, h, s, count, 0, 6000};
    for (int i = 0; i < 8; ++i) PutLe16(bytes + 2 * i, fields[i]);
  }
};

class PassThroughDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(first.OpenMedium(&error)) << error;
    ASSERT_TRUE(second.OpenMedium(&error)) << error;
  }

  bool SetPorts(uint16_t ioBase, uint16_t control) {
    uint8_t ports[4];
    PutLe16(ports, ioBase);
    PutLe16(ports + 2, control);
    return driver.Control(6, ports, 4, nullptr, 0);
  }

  std::string Model() {
    uint8_t block[512];
    Request identify(0xEC, 0, 0, 0, 1);
    if (!driver.Control(3, identify.bytes, 32, block, 4)) return "(failed)";
    std::string text;
    for (int i = 0; i < 40; ++i) text += static_cast<char>(block[54 + (i ^ 1)]);
    return text.substr(0, text.find(' '));
  }

  TempDir dir;
  sim::AtaCard first{Card(dir.File("a.img"), 0x170, 0x376, "FIRST")};
  sim::AtaCard second{Card(dir.File("b.img"), 0x1E0, 0x3EE, "SECOND")};
  sim::PassThroughDriver driver{{&first, &second}};
};

TEST_F(PassThroughDriverTest, CommandsGoToTheCardAtThePortsLastSet) {
  EXPECT_EQ("(failed)", Model()) << "no ports set yet";
  ASSERT_TRUE(SetPorts(0x170, 0x376));
  EXPECT_EQ("FIRST", Model());
  ASSERT_TRUE(SetPorts(0x1E0, 0x3EE));
  EXPECT_EQ("SECOND", Model());
  ASSERT_TRUE(SetPorts(0x170, 0x3EE));
  EXPECT_EQ("(failed)", Model()) << "a command block without its control port";
  EXPECT_EQ(nullptr, driver.SelectedCard());

  uint8_t sector[512];
  Request read(0x20, 0, 0, 1, 1);
  EXPECT_FALSE(driver.Control(3, read.bytes, 32, sector, 4));
  EXPECT_TRUE(first.transfers.empty());
  EXPECT_TRUE(second.transfers.empty());
}

TEST_F(PassThroughDriverTest, RefusesMismatchedCodesAndShortRecords) {
  ASSERT_TRUE(SetPorts(0x170, 0x376));
  uint8_t data[512] = {};
  Request write(0x30, 0, 0, 1, 1);
  EXPECT_FALSE(driver.Control(3, write.bytes, 32, data, 4)) << "a write sent as a read";
  Request read(0x20, 0, 0, 1, 1);
  EXPECT_FALSE(driver.Control(4, read.bytes, 32, data, 4)) << "a read sent as a write";
  EXPECT_FALSE(driver.Control(3, read.bytes, 31, data, 4));
  EXPECT_FALSE(driver.Control(3, read.bytes, 32, nullptr, 0));
  EXPECT_FALSE(driver.Control(5, read.bytes, 32, data, 4));
  EXPECT_FALSE(driver.Control(6, read.bytes, 3, nullptr, 0));
  EXPECT_TRUE(first.transfers.empty());
  EXPECT_TRUE(driver.Control(3, read.bytes, 32, data, 4));
}

}  // namespace
