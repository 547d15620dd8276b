// Cards on block devices, with loop devices standing in for card readers (as
// root; each test says it is skipped where losetup refuses): the checks at
// boot, the identity a card gives of itself, the exclusive open that is the
// volume lock, and writes that reach the device one command at a time.
#include "host/real_card.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "cards/card_registry.h"
#include "host/device_handles.h"
#include "host/host.h"
#include "sim/medium_posix.h"
#include "support/loop_device.h"
#include "support/machine_text.h"
#include "support/support.h"
#include "win32/win32.h"

using namespace testsupport;

namespace {

// The card a stand-in reader answers for, as a CompactFlash card fills its
// identify block.
sim::CardSettings answeringCard;

int AnsweringReader(int, sg_io_hdr_t* request) {
  sim::AtaCard card(answeringCard);
  card.Identify(static_cast<uint8_t*>(request->dxferp));
  request->status = 0;
  request->host_status = 0;
  request->driver_status = 0;
  request->resid = 0;
  request->sb_len_wr = 0;
  return 0;
}

void Erase(std::string* text, const std::string& line) {
  size_t at = text->find(line);
  ASSERT_NE(std::string::npos, at) << line;
  text->erase(at, text->find('\n', at) + 1 - at);
}

// The default machine's card on device, its geometry and texts as asked.
std::string Machine(const std::string& device, int cylinders, bool geometry, bool texts) {
  CardSpec card;
  card.image = device;
  card.cylinders = cylinders;
  std::string text = MachineText(card);
  if (!geometry) {
    for (const char* value : {"\"Cylinders\"", "\"Heads\"", "\"SectorsPerTrack\""}) {
      Erase(&text, value);
    }
  }
  if (!texts) {
    for (const char* value : {"\"Model\"", "\"SerialNumber\"", "\"FirmwareRevision\""}) {
      Erase(&text, value);
    }
  }
  return text;
}

bool Load(const std::string& text) {
  std::string error;
  bool loaded = host::LoadMachineText(text, "test machine", &error);
  EXPECT_TRUE(loaded) << error;
  return loaded;
}

// A 64 MB image (490 x 8 x 32) behind a loop device.
#define LOOP_CARD(dir, loop)                     \
  TempDir dir;                                   \
  CreateImage(dir.File("card.img"), CardSpec()); \
  LoopDevice loop(dir.File("card.img"));         \
  if (!loop.usable()) GTEST_SKIP() << loop.reason()

TEST(RealCard, BlockDeviceCardsAreCheckedBeforeTheRun) {
  LOOP_CARD(dir, loop);
  const std::string& device = loop.path();
  std::string error;

  ASSERT_TRUE(Load(Machine(device, 490, true, true)));
  EXPECT_TRUE(host::PrepareBlockDeviceCards(&error)) << error;

  // One cylinder more than the device holds.
  ASSERT_TRUE(Load(Machine(device, 491, true, true)));
  EXPECT_FALSE(host::PrepareBlockDeviceCards(&error));
  EXPECT_EQ(device +
                ": the device holds 125440 sectors (64225280 bytes), fewer than the geometry "
                "491 x 8 x 32 needs (125696 sectors, 64356352 bytes)",
            error);

  // No geometry in the key and no IDENTIFY answer from a loop device.
  ASSERT_TRUE(Load(Machine(device, 490, false, true)));
  EXPECT_FALSE(host::PrepareBlockDeviceCards(&error));
  EXPECT_EQ(0u, error.find(device + ": the card does not answer ATA IDENTIFY DEVICE (SG_IO"))
      << error;
  EXPECT_NE(std::string::npos, error.find("\"Cylinders\", \"Heads\" and \"SectorsPerTrack\""));
  EXPECT_EQ(std::string::npos, error.find('\n'));

  // The geometry given and only the texts missing: no answer is no refusal.
  ASSERT_TRUE(Load(Machine(device, 490, true, false)));
  EXPECT_TRUE(host::PrepareBlockDeviceCards(&error)) << error;
}

TEST(RealCard, AKeyWithoutGeometryTakesTheCardsOwnIdentity) {
  LOOP_CARD(dir, loop);
  answeringCard = sim::CardSettings();
  answeringCard.identity = {245, 16, 32, "HERON CF 64MB", "HR-77001", "V3.10"};
  std::string error;

  // Geometry and texts from the answer.
  ASSERT_TRUE(Load(Machine(loop.path(), 490, false, false)));
  ASSERT_TRUE(host::PrepareBlockDeviceCards(&error, AnsweringReader)) << error;
  cards::DriverRegistry registry;
  ASSERT_TRUE(cards::ReadDriverRegistry(&registry, &error)) << error;
  ASSERT_EQ(1u, registry.cards.size());
  const sim::CardSettings& read = registry.cards[0];
  EXPECT_EQ(245, read.identity.cylinders);
  EXPECT_EQ(16, read.identity.heads);
  EXPECT_EQ(32, read.identity.sectorsPerTrack);
  EXPECT_EQ("HERON CF 64MB", read.identity.model);
  EXPECT_EQ("HR-77001", read.identity.serialNumber);
  EXPECT_EQ("V3.10", read.identity.firmwareRevision);

  // The key's own values stay; the answer fills only what it leaves out.
  ASSERT_TRUE(Load(Machine(loop.path(), 490, true, false)));
  ASSERT_TRUE(host::PrepareBlockDeviceCards(&error, AnsweringReader)) << error;
  ASSERT_TRUE(cards::ReadDriverRegistry(&registry, &error)) << error;
  EXPECT_EQ(490, registry.cards[0].identity.cylinders);
  EXPECT_EQ(8, registry.cards[0].identity.heads);
  EXPECT_EQ("HERON CF 64MB", registry.cards[0].identity.model);

  // A card that claims more than the reader holds is refused.
  answeringCard.identity.cylinders = 491;
  answeringCard.identity.heads = 8;
  ASSERT_TRUE(Load(Machine(loop.path(), 490, false, true)));
  EXPECT_FALSE(host::PrepareBlockDeviceCards(&error, AnsweringReader));
  EXPECT_NE(std::string::npos, error.find("fewer than the geometry 491 x 8 x 32")) << error;
}

TEST(RealCard, EachWriteSectorsReachesTheDeviceBeforeTheNext) {
  LOOP_CARD(dir, loop);
  ASSERT_TRUE(Load(Machine(loop.path(), 490, true, true)));
  HANDLE mirt = CreateFileA("\\\\.\\MIRT.VXD", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, mirt);
  sim::AtaCard* card = host::FindOpenCard(0x170);
  ASSERT_NE(nullptr, card);
  int flags = fcntl(card->mediumDescriptor(), F_GETFL);
  EXPECT_EQ(O_DSYNC, flags & O_DSYNC);

  uint8_t sectors[255 * 512];
  std::memset(sectors, 0xA5, sizeof sectors);
  uint64_t before = sim::SynchronousWrites();
  // Commands of 1, 255 and 7 sectors, the last one running across a track.
  EXPECT_TRUE(card->WriteSectors(0, 0, 1, 1, sectors));
  EXPECT_TRUE(card->WriteSectors(3, 2, 1, 255, sectors));
  EXPECT_TRUE(card->WriteSectors(10, 1, 30, 7, sectors));
  EXPECT_EQ(3u, sim::SynchronousWrites() - before);
  // Reads are no writes, and a refused command writes nothing.
  EXPECT_TRUE(card->ReadSectors(0, 0, 1, 1, sectors));
  EXPECT_FALSE(card->WriteSectors(490, 0, 1, 1, sectors));
  EXPECT_EQ(3u, sim::SynchronousWrites() - before);
  EXPECT_TRUE(CloseHandle(mirt));

  // The sectors are on the loop device's backing file.
  std::string image = ReadFile(dir.File("card.img"));
  EXPECT_EQ(std::string(512, '\xA5'), image.substr(0, 512));
  EXPECT_EQ(std::string(512, '\xA5'), image.substr(((3 * 8 + 2) * 32) * 512, 512));

  // An image file is written as before, not synchronously.
  CardSpec spec2;
  spec2.image = dir.File("plain.img");
  ASSERT_TRUE(Load(MachineText(spec2)));
  mirt = CreateFileA("\\\\.\\MIRT.VXD", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  card = host::FindOpenCard(0x170);
  ASSERT_NE(nullptr, card);
  before = sim::SynchronousWrites();
  EXPECT_TRUE(card->WriteSectors(0, 0, 1, 1, sectors));
  EXPECT_EQ(0u, sim::SynchronousWrites() - before);
  EXPECT_TRUE(CloseHandle(mirt));
}

TEST(RealCard, TheVolumeLockOnABlockDeviceIsAnExclusiveOpen) {
  LOOP_CARD(dir, loop);
  sim::CardSettings settings;
  settings.image = loop.path();
  settings.identity.cylinders = 490;
  settings.identity.heads = 8;
  settings.identity.sectorsPerTrack = 32;
  sim::AtaCard card(settings);
  std::string error;
  ASSERT_TRUE(card.OpenMedium(&error)) << error;
  {
    ExclusiveHolder other(loop.path());
    ASSERT_TRUE(other.holding());
    EXPECT_FALSE(card.HoldVolumeLock()) << "another process holds the device";
  }
  ASSERT_TRUE(card.HoldVolumeLock());
  EXPECT_TRUE(card.HoldVolumeLock()) << "holds in one process nest";
  {
    ExclusiveHolder other(loop.path());
    EXPECT_FALSE(other.holding()) << "the lock keeps other programs out";
  }
  EXPECT_TRUE(card.ReleaseVolumeLock());
  EXPECT_TRUE(card.ReleaseVolumeLock());
  ExclusiveHolder after(loop.path());
  EXPECT_TRUE(after.holding()) << "the last release gives the device back";
}

}  // namespace
