// The steps around each write to a card's block device, in this process on
// a loop device: the planned sectors read ahead (one read a run) into an
// undo file that is whole before the first command; then each WRITE
// SECTORS command costs one read back, the card's cache is still flushed
// around the MBR alone, and a command outside the plan has its old sectors
// read and kept in a record of its own first. An image is neither kept nor
// read back without --undo.
#include "tool/undo/write_guard.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <regex>
#include <sstream>
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

TEST(WriteGuard, ThePlanIsKeptAheadAndACommandOutsideItGetsARecordOfItsOwn) {
  TempDir dir;
  const std::string image = dir.File("card.img");
  CreateImage(image, MachineCard());
  // Old data worth keeping where the commands go.
  std::vector<uint8_t> old(500 * 512);
  for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<uint8_t>(i * 7 + i / 512);
  WriteSectorBytes(image, 0, old);
  LOOP_DEVICE_OR_SKIP(loop, image);
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
  ASSERT_TRUE(card->OpenMedium(&error)) << error;
  // 255 sectors at 33, 7 at 288 (across a track end), then the MBR: the
  // plan; then 5 sectors at 400, which it did not foresee.
  const struct {
    int cylinder, head, sector, count;
    uint32_t lba;
  } runs[] = {{0, 1, 2, 255, 33}, {1, 1, 1, 7, 288}, {0, 0, 1, 1, 0}, {1, 4, 17, 5, 400}};
  tool::PlannedSectors plan;
  for (int i = 0; i < 3; ++i) plan.Add(runs[i].lba, static_cast<uint32_t>(runs[i].count));
  ASSERT_EQ(2u, plan.runs.size()) << "the MBR, and 33-294";

  BlockCounts before = loop.Counts();
  ASSERT_TRUE(run.guard.KeepAhead(card->settings(), card->medium(), plan, &error)) << error;
  EXPECT_EQ(2u, loop.Counts().reads - before.reads) << "one read a planned run";
  const std::string ahead = ReadFile(settings.undo.value);
  tool::UndoContents contents;
  ASSERT_TRUE(tool::ParseUndoFile(Bytes(ahead), &contents, &error)) << error;
  EXPECT_TRUE(contents.closed) << "whole before the first command";
  EXPECT_EQ(263u, contents.Sectors());

  std::vector<uint8_t> sent(255 * 512, 0xC3);
  uint64_t writesBefore = sim::DirectWrites();
  uint64_t durableBefore = sim::DurablePoints();
  for (int i = 0; i < 3; ++i) {
    before = loop.Counts();
    EXPECT_TRUE(card->WriteSectors(runs[i].cylinder, runs[i].head, runs[i].sector, runs[i].count,
                                   sent.data()))
        << runs[i].lba;
    EXPECT_EQ(1u, loop.Counts().reads - before.reads) << "the read-back alone";
  }
  EXPECT_EQ(3u, sim::DirectWrites() - writesBefore);
  EXPECT_EQ(2u, sim::DurablePoints() - durableBefore) << "the card flushed around the MBR alone";
  EXPECT_EQ(ahead, ReadFile(settings.undo.value)) << "the plan's commands add nothing";

  // Outside the plan: what the command overwrites is read and kept first.
  before = loop.Counts();
  EXPECT_TRUE(card->WriteSectors(runs[3].cylinder, runs[3].head, runs[3].sector, runs[3].count,
                                 sent.data()));
  EXPECT_EQ(2u, loop.Counts().reads - before.reads) << "one read before, one back";
  EXPECT_TRUE(CloseHandle(mirt));  // the cards are released: the file is closed

  ASSERT_TRUE(tool::ParseUndoFile(Bytes(ReadFile(settings.undo.value)), &contents, &error))
      << error;
  EXPECT_TRUE(contents.closed);
  EXPECT_EQ(125440u, contents.header.sectors);
  EXPECT_EQ("KS10012345", contents.header.serialNumber);
  ASSERT_EQ(4u, contents.records.size());
  const uint32_t firsts[] = {0, 33, 288, 400}, counts[] = {1, 255, 7, 5};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(firsts[i], contents.records[i].first);
    EXPECT_EQ(counts[i], contents.records[i].count);
    std::vector<uint8_t> expected(old.begin() + firsts[i] * 512,
                                  old.begin() + (firsts[i] + counts[i]) * 512);
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

// A default FAT32 write on a loop device, traced: its undo file is made
// durable once (one fdatasync, one fsync of its folder), the card's cache
// is flushed twice, and a WRITE SECTORS command costs one write and one
// read back of the card and no other call on it: what the medium is was
// learnt at its open.
TEST(WriteGuard, ADefaultFat32WriteMakesItsUndoFileDurableOnce) {
  TempDir dir;
  MachineCard fat32 = MachineCardOf(4162, 16, 63);
  const std::string image = dir.File("card.img");
  CreateImage(image, fat32);
  LOOP_DEVICE_OR_SKIP(loop, image);
  std::string strace;
  if (RunCommand("command -v strace", &strace) != 0) GTEST_SKIP() << "no strace";
  const std::string trace = dir.File("trace");
  std::string output;
  // A sanitized build's leak check cannot run under a tracer.
  ASSERT_EQ(0,
            RunCommand("cd '" + dir.path() +
                           "' && ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" XDG_STATE_HOME='" +
                           dir.File("state") + "' strace -f -y -qq -o '" + trace +
                           "' -e trace=fdatasync,fsync,fcntl,ioctl,lseek,pread64,pwrite64 '" +
                           DUNMORE_EXE "' --yes --clock 1 --geometry 4162x16x63 " + loop.path() +
                           " </dev/null >out 2>err",
                       &output))
      << output << ReadFile(dir.File("err"));
  std::map<std::string, int> onCard, onUndoFile;
  int folderSyncs = 0;
  std::istringstream lines(ReadFile(trace));
  const std::regex call(R"re(^\d+\s+(\w+)\(\d+<([^>]*)>)re");
  std::smatch m;
  for (std::string line; std::getline(lines, line);) {
    if (!std::regex_search(line, m, call)) continue;
    const std::string name = m[1], file = m[2];
    if (file == loop.path()) ++onCard[name];
    if (file.size() > 5 && file.compare(file.size() - 5, 5, ".undo") == 0) ++onUndoFile[name];
    if (name == "fsync" && file == dir.File("state") + "/dunmore") ++folderSyncs;
  }
  const int commands = onCard["pwrite64"];
  EXPECT_EQ(38, commands) << "the FAT32 write's WRITE SECTORS commands";
  EXPECT_EQ(1, onUndoFile["fdatasync"]);
  EXPECT_EQ(1, folderSyncs);
  EXPECT_EQ(2, onCard["fdatasync"]);
  // The read-backs, the reads ahead (one a run of at most 2048 sectors) and
  // the system's own reads at its start-up.
  EXPECT_LT(onCard["pread64"], commands + 15);
  // A few where the card is opened and looked at (its size, its sector
  // size, how it was opened), none a command.
  EXPECT_LT(onCard["fcntl"] + onCard["ioctl"] + onCard["lseek"], 16)
      << "calls that ask what is known from the open";
  std::printf(
      "traced FAT32 write: %d commands; the card %d pwrite64, %d pread64, %d fdatasync, "
      "%d fcntl, %d ioctl, %d lseek; the undo file %d fdatasync, its folder %d fsync\n",
      commands, onCard["pwrite64"], onCard["pread64"], onCard["fdatasync"], onCard["fcntl"],
      onCard["ioctl"], onCard["lseek"], onUndoFile["fdatasync"], folderSyncs);
}
