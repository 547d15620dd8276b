// The whole utility: from start-up to a rewritten card, judged by the screen,
// by the exit code, and by tools nobody here wrote.
#include <gtest/gtest.h>

#include <string>

#include "support/golden.h"
#include "support/image.h"
#include "support/machine_text.h"
#include "support/program_run.h"
#include "support/support.h"

using namespace testsupport;

namespace {

// Types one key and expects the program to wait for the next one.
struct PlannedCard {
  const char* name;
  int cylinders, heads, sectors;
  const char* version;
  uint8_t type;
  uint32_t firstSector;
  uint32_t sectorCount;
};

}  // namespace

TEST(Repartition, DefaultMachineFromEmptyFolderToRewrittenCard) {
  TempDir dir;
  ProgramRun run(dir.path(), "");
  Screen screen;
  ASSERT_TRUE(run.WaitForKeyWait(&screen));
  EXPECT_EQ(490u * 8 * 32 * 512, ReadFile(dir.File("pccard.img")).size());
  EXPECT_EQ("Brackenfold 1.20", screen.At(1, 1, 16));
  EXPECT_EQ("Microsoft Windows 98 4.10.2222 A ", screen.At(14, 3, 33));
  EXPECT_EQ("Physical   490 cylinders x   8 heads x 32 sectors", screen.At(5, 7, 49));
  EXPECT_EQ("Logical    490 cylinders x   8 heads x 32 sectors", screen.At(5, 8, 49));
  EXPECT_EQ("[1]", screen.At(20, 20, 3));
  EXPECT_EQ(21, screen.cursorColumn);
  EXPECT_EQ(20, screen.cursorRow);
  ExpectGoldenScreen(screen, "default_main");

  Key(run, "1");
  Key(run, kEnter, &screen);
  ExpectGoldenScreen(screen, "default_planned");
  Key(run, "2");
  Key(run, kEnter, &screen);
  ExpectGoldenScreen(screen, "default_confirm");
  Key(run, "y", &screen);
  EXPECT_EQ("[Y]", screen.At(52, 13, 3));
  Key(run, kEnter, &screen);
  // Shown while the card is written, gone with the re-insert lines.
  EXPECT_NE(std::string::npos, run.TerminalOutput().find("Writing PC Card HDD partition info."));
  ExpectGoldenScreen(screen, "default_reinsert");
  EXPECT_EQ(0, run.TypeAndWaitExit(kEsc));

  std::string image = dir.File("pccard.img");
  std::vector<uint8_t> mbr = ReadSectors(image, 0, 1);
  const uint8_t entry[16] = {0, 1, 1, 0, 6, 7, 0x60, 0xE9, 32, 0, 0, 0, 0xE0, 0xE9, 1, 0};
  for (size_t i = 0; i < 512; ++i) {
    uint8_t expected = 0;
    if (i >= 446 && i < 462) expected = entry[i - 446];
    if (i == 510) expected = 0x55;
    if (i == 511) expected = 0xAA;
    ASSERT_EQ(expected, mbr[i]) << "MBR byte " << i;
  }
  ExpectJudgedPartition(dir, image, 32, 125408, "6");
  ExpectFileRoundTrip(dir, image, 32);

  // A second run lists what the first one wrote.
  ProgramRun again(dir.path(), "");
  ASSERT_TRUE(again.WaitForKeyWait(&screen));
  // System "FAT16   " and an empty label.
  EXPECT_EQ("     FAT16big    0    1    1  489    7   32   61 FAT16", screen.rows[12]);
  EXPECT_EQ(2, again.TypeAndWaitExit(kEsc));
}

TEST(Repartition, CardsOfEverySizeArePlannedTypedAndWritten) {
  const PlannedCard cards[] = {
      {"64 MB", 490, 8, 32, "4.10.2222", 0x06, 32, 125408},
      {"500 MB", 1016, 16, 63, "4.10.2222", 0x06, 63, 1024065},
      {"486 MB, whose FAT needs room for its two reserved entries", 988, 16, 63, "4.10.2222", 0x06,
       63, 995841},
      {"2 GB, not large", 4161, 16, 63, "4.10.2222", 0x06, 63, 4193217},
      {"above 2 GB on Windows 98", 4162, 16, 63, "4.10.2222", 0x0B, 63, 4193217},
      {"8 GB, capped", 16383, 16, 63, "4.10.2222", 0x0B, 63, 10483137},
      {"4096 x 255 x 63, brought under 1025 cylinders by the cap", 4096, 255, 63, "4.10.2222", 0x0B,
       63, (652u * 255 - 1) * 63},
      {"32767 x 17 x 63, kept within 1024 cylinders", 32767, 17, 63, "4.10.2222", 0x0B, 63,
       (1024u * 136 - 1) * 63},
  };
  for (const PlannedCard& c : cards) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    MachineCard card = MachineCardOf(c.cylinders, c.heads, c.sectors);
    CreateImage(dir.File("pccard.img"), card);
    ProgramRun run(dir.path(), WriteMachine(dir.path(), "m.reg", MachineText(card, c.version)));
    Screen screen;
    ASSERT_EQ(0, WriteWholeCard(run, nullptr, &screen)) << screen.Text();
    EXPECT_EQ("You must remove and re-insert from/to your system ", screen.At(10, 10, 50));
    EXPECT_EQ("Press Esc to exit DUNMORE", screen.At(5, 24, 25));
    EXPECT_EQ("for your change to take effect.", screen.At(10, 11, 31));

    std::string image = dir.File("pccard.img");
    std::vector<uint8_t> mbr = ReadSectors(image, 0, 1);
    EXPECT_EQ(c.type, mbr[446 + 4]);
    EXPECT_EQ(c.firstSector, Le32(mbr, 446 + 8));
    EXPECT_EQ(c.sectorCount, Le32(mbr, 446 + 12));
    std::string mdir = Shell("MTOOLS_SKIP_CHECK=1 mdir -i '" + image + "@@" +
                             std::to_string(c.firstSector * 512ull) + "' ::");
    EXPECT_EQ('0', mdir[0]) << mdir;
    if (c.sectorCount <= 4200000) {
      std::string volume = dir.File("volume.img");
      ExtractVolume(image, c.firstSector, c.sectorCount, volume);
      std::string fsck = Shell("fsck.fat -n -v '" + volume + "'");
      EXPECT_EQ('0', fsck[0]) << fsck;
      const char* entries = c.type == 0x0B ? "2 FATs, 32 bit entries" : "2 FATs, 16 bit entries";
      EXPECT_NE(std::string::npos, fsck.find(entries)) << fsck;
    }
  }
}

TEST(Repartition, CappedCardEntryBytes) {
  TempDir dir;
  MachineCard card = MachineCardOf(16383, 16, 63);
  CreateImage(dir.File("pccard.img"), card);
  ProgramRun run(dir.path(), WriteMachine(dir.path(), "m.reg", MachineText(card)));
  Screen screen;
  ASSERT_TRUE(run.WaitForKeyWait(&screen));
  EXPECT_EQ("Logical   1023 cylinders x 256 heads x 63 sectors", screen.At(5, 8, 49));
  Key(run, "1");
  Key(run, kEnter, &screen);
  // The listing shows the plan over 650 cylinders; the geometry lines stay.
  EXPECT_EQ("     FAT32       0    0    1  649  255   63 5118 UNKNOWN", screen.rows[12]);
  EXPECT_EQ("Logical   1023 cylinders x 256 heads x 63 sectors", screen.At(5, 8, 49));
  for (const char* key : {"2", kEnter, "Y", kEnter}) Key(run, key);
  EXPECT_EQ(0, run.TypeAndWaitExit(kEsc, 120000));
  std::vector<uint8_t> mbr = ReadSectors(dir.File("pccard.img"), 0, 1);
  const uint8_t expected[16] = {0x00, 0x01, 0x01, 0x00, 0x0B, 0xFF, 0xBF, 0x89,
                                0x3F, 0x00, 0x00, 0x00, 0xC1, 0xF5, 0x9F, 0x00};
  EXPECT_EQ(std::vector<uint8_t>(expected, expected + 16),
            std::vector<uint8_t>(mbr.begin() + 446, mbr.begin() + 462));
}

TEST(Repartition, NothingIsWrittenUnlessTheUserChoosesTwoAndAnswersY) {
  struct Path {
    const char* name;
    std::vector<const char*> keys;
    int exitCode;
  } paths[] = {
      {"Esc at the menu", {kEsc}, 2},
      {"2 without 1", {"2", kEnter}, 0},
      {"1 then Esc at the menu", {"1", kEnter, kEsc}, 2},
      {"N at the confirmation", {"1", kEnter, "2", kEnter, "n", kEnter}, 0},
      {"Enter on the default N", {"1", kEnter, "2", kEnter, kEnter}, 0},
      {"Y then Esc at the confirmation", {"1", kEnter, "2", kEnter, "y", kEsc}, 0},
      {"L redraws", {"l", kEnter, "2", kEnter}, 0},
  };
  for (const Path& path : paths) {
    SCOPED_TRACE(path.name);
    TempDir dir;
    MachineCard card;
    std::string image = dir.File("pccard.img");
    CreateImage(image, card);
    WriteSectorBytes(image, 0, std::vector<uint8_t>(512, 0));
    std::string before = ImageFingerprint(image);
    ProgramRun run(dir.path(), WriteMachine(dir.path(), "m.reg", MachineText(card)));
    ASSERT_TRUE(run.WaitForKeyWait(nullptr));
    for (size_t i = 0; i + 1 < path.keys.size(); ++i) Key(run, path.keys[i]);
    EXPECT_EQ(path.exitCode, run.TypeAndWaitExit(path.keys.back()));
    EXPECT_EQ(before, ImageFingerprint(image));
  }
}

TEST(Repartition, FailedWriteShowsWriteErrorAndKeepsTheOldMbr) {
  struct Fault {
    const char* name;
    MachineCard card;
  };
  MachineCard fatRun;  // the second sector of the first FAT
  fatRun.badSectors = "34";
  MachineCard tiny;  // at most 32680 usable sectors: no formatter
  tiny.cylinders = 60;
  tiny.heads = 16;
  tiny.sectors = 32;
  for (const Fault& fault :
       {Fault{"bad sector in the FAT", fatRun}, Fault{"card too small", tiny}}) {
    SCOPED_TRACE(fault.name);
    TempDir dir;
    std::string image = dir.File("pccard.img");
    CreateImage(image, fault.card);
    // An old table with one small FAT12 partition at (0, 1, 1).
    const std::vector<uint8_t> oldMbr = Mbr({MbrEntry(0x01, {0, 1, 1}, {0, 1, 1}, 32, 1)});
    WriteSectorBytes(image, 0, oldMbr);
    std::string before = ImageFingerprint(image);
    ProgramRun run(dir.path(), WriteMachine(dir.path(), "m.reg", MachineText(fault.card)));
    Screen screen;
    ASSERT_TRUE(run.WaitForKeyWait(&screen));
    for (const char* key : {"1", kEnter, "2", kEnter, "Y"}) Key(run, key);
    Key(run, kEnter, &screen);
    EXPECT_EQ("WRITE ERROR!", screen.At(20, 16, 12)) << screen.Text();
    EXPECT_EQ("Press Esc to exit DUNMORE", screen.At(5, 24, 25));
    EXPECT_EQ(3, run.TypeAndWaitExit(kEsc));
    EXPECT_EQ(oldMbr, ReadSectors(image, 0, 1));
    if (fault.card.badSectors.empty()) {
      EXPECT_EQ(before, ImageFingerprint(image)) << "a card without a formatter stays untouched";
    }
  }
}
