#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "channel_fixture.h"
#include "common/little_endian.h"
#include "device/ata_request.h"
#include "device/disk_channel.h"
#include "support/support.h"

namespace {

using channeltest::ChannelTest;
using testsupport::ReadFile;

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

// The expected 32-byte request: command, cylinder, head, sector, count, the
// 6000 every request carries and, for writes, the 10 after it.
std::vector<uint8_t> Request(int command, int c, int h, int s, int n, int writeParameter) {
  std::vector<uint8_t> r(32, 0);
  int fields[][2] = {{0, command},        {4, c}, {6, h}, {8, s}, {10, n}, {14, 6000},
                     {16, writeParameter}};
  for (auto& f : fields) PutLe16(&r[f[0]], static_cast<uint16_t>(f[1]));
  return r;
}

std::vector<uint8_t> Pattern(int sectors) {
  std::vector<uint8_t> data(sectors * 512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + i / 512);
  return data;
}

TEST(SwapBytePairsTest, SwapsWholePairsOnly) {
  uint8_t buffer[] = {1, 2, 3, 4, 5};
  SwapBytePairs(buffer, 5);
  EXPECT_EQ(Bytes({2, 1, 4, 3, 5}), std::vector<uint8_t>(buffer, buffer + 5));
  SwapBytePairs(buffer, 0);
  EXPECT_EQ(2, buffer[0]);
}

TEST(ClosedChannel, FailsEveryTransferWithoutCallingTheDriver) {
  DiskChannel channel;
  std::memset(&channel, 0, sizeof channel);
  int cylinders = 77;
  char model[41] = "untouched";
  uint8_t sector[512];
  EXPECT_EQ(-1, channel.SetPorts(0x170, 0x376));
  EXPECT_EQ(-1, channel.IdentifyDrive(&cylinders, nullptr, nullptr, nullptr, nullptr, model));
  EXPECT_EQ(-1, channel.ReadSectors(0, 0, 1, 1, sector));
  EXPECT_EQ(-1, channel.WriteSectors(0, 0, 1, 1, sector));
  EXPECT_EQ(77, cylinders);
  EXPECT_STREQ("untouched", model);
  channel.Close();  // never opened: harmless
  EXPECT_EQ(INVALID_HANDLE_VALUE, channel.vwin32Handle);
}

TEST_F(ChannelTest, OpenWithoutTheDriverRaisesTheStartUpMessage) {
  LoadMachine({DefaultCard()}, false);
  try {
    theDiskChannel.Open();
    FAIL() << "no exception";
  } catch (const char* message) {
    EXPECT_STREQ("VXD not found.", message);
  }
  EXPECT_EQ(INVALID_HANDLE_VALUE, theDiskChannel.passThroughHandle);
  EXPECT_EQ(INVALID_HANDLE_VALUE, theDiskChannel.vwin32Handle);
  theDiskChannel.Close();
  EXPECT_EQ(nullptr, theDiskChannel.passThroughHandle);
}

TEST_F(ChannelTest, SendsTheExactRecordsOfEachCommand) {
  theDiskChannel.Open();
  EXPECT_EQ(0, theDiskChannel.driveLetter);
  EXPECT_EQ(0, theDiskChannel.SetPorts(0x10170, 0x0376)) << "only the low 16 bits travel";
  EXPECT_EQ(0, theDiskChannel.IdentifyDrive(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  std::vector<uint8_t> data = Pattern(7);
  EXPECT_EQ(0, theDiskChannel.WriteSectors(3, 2, 5, 7, data.data()));
  EXPECT_EQ(0, theDiskChannel.ReadSectors(3, 2, 5, 7, data.data()));

  const auto& calls = DriverCalls();
  ASSERT_EQ(4u, calls.size());
  EXPECT_EQ(6u, calls[0].code);
  EXPECT_EQ(Bytes({0x70, 0x01, 0x76, 0x03}), calls[0].input);
  EXPECT_FALSE(calls[0].outputPresent);
  EXPECT_EQ(0u, calls[0].outputSize);

  EXPECT_EQ(3u, calls[1].code);
  EXPECT_EQ(Request(0xEC, 0, 0, 0, 1, 0), calls[1].input);
  EXPECT_EQ(4u, calls[2].code);
  EXPECT_EQ(Request(0x30, 3, 2, 5, 7, 10), calls[2].input);
  EXPECT_EQ(3u, calls[3].code);
  EXPECT_EQ(Request(0x20, 3, 2, 5, 7, 0), calls[3].input);
  for (size_t i = 1; i < calls.size(); ++i) {
    EXPECT_TRUE(calls[i].outputPresent);
    EXPECT_EQ(4u, calls[i].outputSize) << "the sector buffer always travels with length 4";
  }
}

TEST_F(ChannelTest, IdentifyReadsGeometryUnswappedAndTextAsGiven) {
  theDiskChannel.Open();
  ASSERT_EQ(0, theDiskChannel.SetPorts(0x170, 0x376));
  int cylinders = 0, heads = 0, sectors = 0;
  char serial[21], firmware[9], model[41];
  ASSERT_EQ(0, theDiskChannel.IdentifyDrive(&cylinders, &heads, &sectors, serial, firmware, model));
  EXPECT_EQ(1016, cylinders) << "word 1 = 0x03F8";
  EXPECT_EQ(4, heads);
  EXPECT_EQ(8, sectors);
  EXPECT_STREQ("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd", model);
  EXPECT_STREQ("KS10012345          ", serial) << "the padding blanks stay";
  EXPECT_STREQ("REV 2.05", firmware);

  // A NUL at the 3rd character of the serial number ends the text after 2.
  sim::CardSettings& card = host::FindOpenCard(0x170)->mutable_settings();
  card.identity.serialNumber = std::string("AB\0DEFGH", 8);
  card.identity.cylinders = 0x8001;
  card.identity.model = "SHORT";
  std::memset(model, 'x', sizeof model);
  ASSERT_EQ(0, theDiskChannel.IdentifyDrive(&cylinders, nullptr, nullptr, serial, nullptr, model));
  EXPECT_STREQ("AB", serial);
  EXPECT_EQ(-32767, cylinders) << "geometry words are signed 16-bit";
  EXPECT_EQ(std::string("SHORT") + std::string(35, ' '), model);
}

TEST_F(ChannelTest, PortsOfNoCardFailEveryCommandAndLeaveOutputsAlone) {
  theDiskChannel.Open();
  EXPECT_EQ(0, theDiskChannel.SetPorts(0x1E0, 0x3EE));
  int heads = 99;
  char firmware[9] = "unread";
  EXPECT_EQ(-1, theDiskChannel.IdentifyDrive(nullptr, &heads, nullptr, nullptr, firmware, nullptr));
  EXPECT_EQ(99, heads);
  EXPECT_STREQ("unread", firmware);
  std::vector<uint8_t> data(512, 0xAB);
  EXPECT_EQ(-1, theDiskChannel.ReadSectors(0, 0, 1, 1, data.data()));
  EXPECT_EQ(std::vector<uint8_t>(512, 0), data) << "the first 512 bytes are cleared first";
  EXPECT_EQ(-1, theDiskChannel.WriteSectors(0, 0, 1, 1, data.data()));
  EXPECT_TRUE(host::FindOpenCard(0x170)->transfers.empty());
}

TEST_F(ChannelTest, MovesTwoHundredFiftyFiveSectorsInOneCallAcrossTrackAndCylinderEnds) {
  theDiskChannel.Open();
  ASSERT_EQ(0, theDiskChannel.SetPorts(0x170, 0x376));
  // Cylinder 5, head 3, sector 6 is sector (5*4+3)*8+5 = 189; 255 sectors run
  // over 8 cylinder ends.
  std::vector<uint8_t> data = Pattern(255);
  ASSERT_EQ(0, theDiskChannel.WriteSectors(5, 3, 6, 255, data.data()));
  EXPECT_EQ(Pattern(255), data) << "the write leaves the buffer unchanged";
  std::string written = ReadFile(image);
  ASSERT_EQ(1016u * 4 * 8 * 512, written.size());
  EXPECT_EQ(0, std::memcmp(written.data() + 189 * 512, data.data(), data.size()));

  std::vector<uint8_t> back(255 * 512, 0xEE);
  ASSERT_EQ(0, theDiskChannel.ReadSectors(5, 3, 6, 255, back.data()));
  EXPECT_EQ(data, back);

  const auto& transfers = host::FindOpenCard(0x170)->transfers;
  ASSERT_EQ(2u, transfers.size());
  for (const sim::Transfer& t : transfers) {
    EXPECT_EQ(189u, t.firstSector);
    EXPECT_EQ(255u, t.count);
  }
  EXPECT_EQ(0x30, transfers[0].command);
  EXPECT_EQ(0x20, transfers[1].command);
}

TEST_F(ChannelTest, BadSectorsAndTheEndOfTheMediumFailTransfers) {
  channeltest::CardKey card = DefaultCard();
  card.extra += "\"BadSectors\"=\"40,100-101\"\n";
  // An existing image of 120 sectors, shorter than its geometry.
  testsupport::WriteFile(image, std::string(120 * 512, '\0'));
  LoadMachine({card});
  theDiskChannel.Open();
  ASSERT_EQ(0, theDiskChannel.SetPorts(0x170, 0x376));

  std::vector<uint8_t> data = Pattern(10);
  EXPECT_EQ(-1, theDiskChannel.WriteSectors(1, 0, 1, 10, data.data())) << "sectors 32-41";
  std::string written = ReadFile(image);
  EXPECT_EQ(0, std::memcmp(written.data() + 32 * 512, data.data(), 8 * 512));
  EXPECT_EQ(std::string(512, '\0'), written.substr(41 * 512, 512));
  EXPECT_EQ(0, theDiskChannel.WriteSectors(1, 1, 2, 10, data.data())) << "sectors 41-50";
  EXPECT_EQ(-1, theDiskChannel.ReadSectors(3, 0, 5, 1, data.data())) << "sector 100";
  EXPECT_EQ(0, theDiskChannel.ReadSectors(3, 2, 8, 1, data.data())) << "sector 119, the last";
  EXPECT_EQ(-1, theDiskChannel.ReadSectors(3, 3, 1, 1, data.data())) << "sector 120";
  EXPECT_EQ(120u * 512, ReadFile(image).size());
}

}  // namespace
