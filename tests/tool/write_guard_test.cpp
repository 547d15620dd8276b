// The steps around each write to a card's block device, in this process on
// a loop device: each WRITE SECTORS command costs one read of the sectors it
// overwrites and one read back, the card's cache is still flushed around the
// MBR alone, and the undo file holds each command's old sectors in order,
// closed once the cards are released. An image is neither kept nor read
// back without --undo.
#include "tool/undo/write_guard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host.h"
#include "host/testing.h"
#include "sim/ata_card.h"
#include "sim/medium_posix.h"
#include "support/image.h"
#include "support/loop_device.h"
#include "support/machine_text.h"
#include "support/support.h"
#include "tool/command/mode.h"
#include "tool/run/tool_run.h"
#include "tool/undo/undo_format.h"
#include "win32/win32.h"

using namespace testsupport;

namespace {

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

// The machine without a run's hooks once a test's run is gone.
struct HooksReset {
  ~HooksReset() { host::KeepHooks(host::MachineHooks()); }
};

// A run of these settings whose hooks guard the writes to the machine just
// loaded, prepared as the start-up prepares it.
bool Guard(tool::ToolRun* run, std::string* error) {
  std::vector<sim::CardSettings> cards;
  if (!host::MachineCards(&cards, error) ||
      !run->guard.Prepare(run->settings, cards, false, error)) {
    return false;
  }
  host::KeepHooks(tool::HooksFor(run));
  return true;
}

}  // namespace

TEST(WriteGuard, EachCommandIsReadOnceBeforeAndOnceAfterAndTheMbrAloneIsFlushed) {
  TempDir dir;
  const std::string image = dir.File("card.img");
  CreateImage(image, MachineCard());
  // Old data worth keeping where the commands go.
  std::vector<uint8_t> old(300 * 512);
  for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<uint8_t>(i * 7 + i / 512);
  WriteSectorBytes(image, 0, old);
  LoopDevice loop(image);
  if (!loop.usable()) GTEST_SKIP() << loop.reason();
  MachineCard machineCard;
  machineCard.image = loop.path();
  std::string error;
  ASSERT_TRUE(host::LoadMachineText(MachineText(machineCard), "test", &error)) << error;
  tool::Settings settings;
  settings.undo.value = dir.File("write.undo");
  tool::ToolRun run(settings, tool::Mode());
  HooksReset reset;
  ASSERT_TRUE(Guard(&run, &error)) << error;

  HANDLE mirt = CreateFileA("\\\\.\\MIRT.VXD", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, mirt);
  sim::AtaCard* card = host::FindOpenCard(0x170);
  ASSERT_NE(nullptr, card);
  std::vector<uint8_t> sent(255 * 512, 0xC3);
  // 255 sectors at 33, 7 at 288 (across a track end), then the MBR.
  const struct {
    int cylinder, head, sector, count;
    uint32_t lba;
  } runs[] = {{0, 1, 2, 255, 33}, {1, 1, 1, 7, 288}, {0, 0, 1, 1, 0}};
  BlockCounts before = loop.Counts();
  uint64_t writesBefore = sim::DirectWrites();
  uint64_t durableBefore = sim::DurablePoints();
  for (const auto& at : runs) {
    EXPECT_TRUE(card->WriteSectors(at.cylinder, at.head, at.sector, at.count, sent.data()))
        << at.lba;
  }
  BlockCounts after = loop.Counts();
  EXPECT_EQ(3u, sim::DirectWrites() - writesBefore);
  EXPECT_EQ(2u, sim::DurablePoints() - durableBefore) << "the card flushed around the MBR alone";
  EXPECT_EQ(6u, after.reads - before.reads) << "one read before and one after each command";
  EXPECT_TRUE(CloseHandle(mirt));  // the cards are released: the file is closed

  tool::UndoContents contents;
  ASSERT_TRUE(tool::ParseUndoFile(Bytes(ReadFile(settings.undo.value)), &contents, &error))
      << error;
  EXPECT_TRUE(contents.closed);
  EXPECT_EQ(125440u, contents.header.sectors);
  EXPECT_EQ("KS10012345", contents.header.serialNumber);
  ASSERT_EQ(3u, contents.records.size());
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(runs[i].lba, contents.records[i].first);
    EXPECT_EQ(static_cast<uint32_t>(runs[i].count), contents.records[i].count);
    std::vector<uint8_t> expected(old.begin() + runs[i].lba * 512,
                                  old.begin() + (runs[i].lba + runs[i].count) * 512);
    EXPECT_EQ(expected, contents.records[i].data) << "record " << i;
  }
}

TEST(WriteGuard, AnImageIsKeptOnlyWhenAnUndoFileIsNamed) {
  TempDir dir;
  MachineCard machineCard;
  machineCard.image = dir.File("card.img");
  CreateImage(machineCard.image, machineCard);
  std::string error;
  ASSERT_TRUE(host::LoadMachineText(MachineText(machineCard), "test", &error)) << error;
  tool::Settings settings;
  settings.stateHome.value = dir.File("state");
  tool::ToolRun run(settings, tool::Mode());
  HooksReset reset;
  ASSERT_TRUE(Guard(&run, &error)) << error;
  EXPECT_FALSE(Exists(dir.File("state"))) << "no folder made for a machine without block devices";
  HANDLE mirt = CreateFileA("\\\\.\\MIRT.VXD", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, mirt);
  std::vector<uint8_t> sent(512, 0xC3);
  EXPECT_TRUE(host::FindOpenCard(0x170)->WriteSectors(0, 0, 2, 1, sent.data()));
  EXPECT_TRUE(CloseHandle(mirt));
  EXPECT_FALSE(Exists(dir.File("state")));

  // The settings that cannot go together are refused before anything is
  // opened; an undo file that is there when the cards are.
  const struct {
    const char* what;
    void (*set)(tool::Settings*);
    const char* said;
  } refusals[] = {
      {"--no-undo with --fixed-disk",
       [](tool::Settings* s) {
         s->noUndo.value = "1";
         s->machine.card.value = "/dev/sda";
         s->machine.fixedDisk.value = "/dev/sda";
       },
       "a fixed disk is written only with its undo file kept"},
      {"--undo with --no-undo",
       [](tool::Settings* s) {
         s->noUndo.value = "1";
         s->undo.value = "u.undo";
       },
       "disagree"},
      {"an undo file that is there", [](tool::Settings* s) { s->undo.value = "/etc/hostname"; },
       "never written over"},
      {"an undo file in no folder",
       [](tool::Settings* s) { s->undo.value = "/nonexistent-folder/u.undo"; },
       "there is no folder /nonexistent-folder"},
  };
  for (const auto& refusal : refusals) {
    tool::Settings refused;
    refusal.set(&refused);
    tool::Mode mode;
    tool::ToolRun guarded(refused, mode);
    HooksReset resetGuarded;
    EXPECT_FALSE(tool::ChooseMode(refused, &mode, &error) && Guard(&guarded, &error))
        << refusal.what;
    EXPECT_NE(std::string::npos, error.find(refusal.said)) << refusal.what << ": " << error;
  }
}
