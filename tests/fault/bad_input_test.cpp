// Bad input at every read: images cut short, tables that point off the card
// or hold nothing but extended partitions, and garbage. The whole program
// refuses at boot (an image shorter than its card) or at start-up with a
// clear message, or lists what is there; it never crashes and never writes:
// the image is the same afterwards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/image.h"
#include "support/machine_text.h"
#include "support/program_run.h"
#include "support/support.h"

using namespace testsupport;

namespace {

const char kAccessError[] = "PC Card HDD access error!";

struct Outcome {
  int exitCode = -1;
  Screen first;  // the first key wait: a refusal or the main screen
  bool unchanged = false;
};

// Starts the program on the card (whose image the caller has made), looks at
// the first screen, types keys if the main screen came, and ends with Esc.
Outcome RunCard(const TempDir& dir, const MachineCard& card,
                const std::vector<const char*>& keys = {}) {
  std::string image = dir.File(card.image);
  std::string before = ImageFingerprint(image);
  Outcome outcome;
  {
    ProgramRun run(dir.path(), WriteMachine(dir.path(), "m.reg", MachineText(card)));
    EXPECT_TRUE(run.WaitForKeyWait(&outcome.first)) << "no key wait";
    bool menu = outcome.first.At(5, 16, 28) == "Choose one of the following:";
    for (const char* key : keys) {
      if (menu) {
        EXPECT_TRUE(run.Type(key)) << "ended after " << key;
      }
    }
    outcome.exitCode = run.TypeAndWaitExit(kEsc);
  }
  outcome.unchanged = ImageFingerprint(image) == before;
  return outcome;
}

// A FAT16 boot sector with a label, as the listing reads it.
std::vector<uint8_t> BootSector(const std::string& label) {
  std::vector<uint8_t> boot(512, 0);
  std::string fields = label + "FAT16   ";
  std::copy(fields.begin(), fields.end(), boot.begin() + 43);
  return boot;
}

void Truncate(const std::string& path, off_t length) {
  ASSERT_EQ(0, truncate(path.c_str(), length));
}

// The default card, 490 x 8 x 32, with a partition of type 6 from (0, 1, 1)
// to (489, 7, 32) whose boot sector is at 32.
const std::vector<uint8_t> kWholeCard = MbrEntry(0x06, {0, 1, 1}, {489, 7, 32}, 32, 125408);

}  // namespace

TEST(BadInput, ImagesCutShortAreRefusedAtBootNeverGrown) {
  struct Case {
    const char* name;
    off_t length;  // bytes left of the image
  };
  for (const Case& c : {Case{"an empty image", 0}, Case{"half an MBR", 300},
                        Case{"the MBR alone, its partition's boot sector beyond the end", 512},
                        Case{"the boot sector cut in half", 32 * 512 + 256},
                        Case{"all but the last sector", 490 * 8 * 32 * 512 - 512}}) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    MachineCard card;
    CreateImage(dir.File(card.image), card);
    WriteSectorBytes(dir.File(card.image), 0, Mbr({kWholeCard}));
    WriteSectorBytes(dir.File(card.image), 32, BootSector("SHORT CARD "));
    Truncate(dir.File(card.image), c.length);
    std::string before = ImageFingerprint(dir.File(card.image));
    std::string machine = WriteMachine(dir.path(), "m.reg", MachineText(card));
    ExpectRefusedAtBoot(RunToRefusal(dir.path(), machine),
                        {"dunmore: " + machine + ": ",
                         "\"Image\" (pccard.img) holds " + std::to_string(c.length) + " bytes"});
    EXPECT_EQ(before, ImageFingerprint(dir.File(card.image)));
  }
}

TEST(BadInput, EntriesPointingPastTheCardAreListedAsTheyAre) {
  struct Case {
    const char* name;
    std::vector<uint8_t> entry;
    const char* listed;  // the listing row
  };
  // Four entries of one shape, each past the card in its own way.
  const Case cases[] = {
      {"starting on the cylinder after the last, first sector 0 (the MBR, not a FAT)",
       MbrEntry(0x06, {490, 0, 1}, {490, 7, 32}, 0, 256),
       "     FAT16big  490    0    1  490    7   32    0 UNKNOWN"},
      {"starting on the last cylinder a 10-bit field holds, first sector past the card",
       MbrEntry(0x06, {1023, 254, 63}, {1023, 254, 63}, 0xFFFFFFFF, 0xFFFFFFFF),
       // The size's seven digits run into the system column, which writes over them.
       "     FAT16big 1023  254   63 1023  254   63 20971UNKNOWN"},
      {"starting on the cylinder after the last, first sector on the card",
       MbrEntry(0x06, {490, 0, 1}, {490, 7, 32}, 100, 256),
       "     FAT16big  490    0    1  490    7   32    0 FAT16    PAST"},
      {"starting on the card's last cylinder and ending far past it",
       MbrEntry(0x04, {489, 0, 1}, {1023, 254, 63}, 0, 0xFFFFFF),
       "     FAT16     489    0    1 1023  254   63 8191 UNKNOWN"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    MachineCard card;
    CreateImage(dir.File(card.image), card);
    WriteSectorBytes(dir.File(card.image), 0, Mbr({std::vector<uint8_t>(16), c.entry}));
    WriteSectorBytes(dir.File(card.image), 100, BootSector("PAST       "));
    Outcome outcome = RunCard(dir, card);
    EXPECT_EQ(c.listed, outcome.first.rows[12]) << outcome.first.Text();
    EXPECT_EQ(2, outcome.exitCode);
    EXPECT_TRUE(outcome.unchanged);
  }
}

TEST(BadInput, FourExtendedEntriesAreListedAndReplacedOnlyInThePlan) {
  // The same extended partition four times, then four different ones.
  for (bool same : {true, false}) {
    SCOPED_TRACE(same ? "four equal entries" : "four entries");
    TempDir dir;
    MachineCard card;
    CreateImage(dir.File(card.image), card);
    std::vector<std::vector<uint8_t>> entries;
    for (int i = 0; i < 4; ++i) {
      int c = same ? 10 : 10 + 60 * i;
      entries.push_back(MbrEntry(0x05, {c, 0, 1}, {c + 49, 7, 32}, 0, 0x3200));
    }
    WriteSectorBytes(dir.File(card.image), 0, Mbr(entries));
    Screen planned;
    std::string image = dir.File(card.image);
    std::string before = ImageFingerprint(image);
    int exitCode;
    Screen first;
    {
      ProgramRun run(dir.path(), WriteMachine(dir.path(), "m.reg", MachineText(card)));
      ASSERT_TRUE(run.WaitForKeyWait(&first));
      ASSERT_TRUE(run.Type("1"));
      ASSERT_TRUE(run.Type(kEnter, &planned));
      exitCode = run.TypeAndWaitExit(kEsc);
    }
    for (int i = 0; i < 4; ++i) {
      int c = same ? 10 : 10 + 60 * i;
      char row[80];
      snprintf(row, sizeof row, "     EXT      %4d    0    1 %4d    7   32    6", c, c + 49);
      EXPECT_EQ(row, first.rows[12 + i]) << first.Text();
    }
    // The plan is the one partition over the card, whatever was listed.
    EXPECT_EQ("     FAT16big    0    0    1  489    7   32   61", planned.Row(12).substr(0, 48))
        << planned.Text();
    EXPECT_EQ("", planned.rows[13]);
    EXPECT_EQ(2, exitCode);
    EXPECT_EQ(before, ImageFingerprint(image));
  }
}

TEST(BadInput, GarbageEverywhereIsRefusedOrListedNeverWritten) {
  for (uint32_t seed : {1u, 7u, 42u, 1999u}) {
    SCOPED_TRACE(seed);
    TempDir dir;
    MachineCard card;
    CreateImage(dir.File(card.image), card);
    // A linear congruential sequence over the first 256 sectors: table,
    // boot sectors and whatever the entries point at.
    std::vector<uint8_t> garbage(256 * 512);
    uint32_t x = seed;
    for (uint8_t& byte : garbage) {
      x = x * 1103515245u + 12345u;
      byte = static_cast<uint8_t>(x >> 16);
    }
    WriteSectorBytes(dir.File(card.image), 0, garbage);
    Outcome outcome = RunCard(dir, card, {"1", kEnter});
    bool refused = outcome.first.At(20, 15, 25) == kAccessError;
    bool listed = outcome.first.At(5, 16, 28) == "Choose one of the following:";
    EXPECT_TRUE(refused || listed) << outcome.first.Text();
    EXPECT_EQ(refused ? 1 : 2, outcome.exitCode);
    EXPECT_TRUE(outcome.unchanged);
  }
}
