// Cards as they come to the utility: partitioned and formatted elsewhere by
// sfdisk, mkfs.fat and mtools, run here on the same image. Each starts to
// the main screen with its listing, stays byte for byte as it was until the
// user confirms, and is then rewritten into a card that fsck.fat, mtools and
// sfdisk accept.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/golden.h"
#include "support/image.h"
#include "support/machine_text.h"
#include "support/program_run.h"
#include "support/support.h"

using namespace testsupport;

namespace {

struct CorpusCard {
  const char* name;  // also the golden screen's: corpus_<name>
  int cylinders, heads, sectors;
  const char* model;
  const char* driveLetters;
  // Shell commands run in the card's folder; $IMG is the card's image.
  const char* tools;
};

MachineCard CardOf(int cylinders, int heads, int sectors, const char* model = "KESTREL CF 64MB",
                   const char* driveLetters = "E") {
  MachineCard card = MachineCardOf(cylinders, heads, sectors);
  card.model = model;
  card.driveLetters = driveLetters;
  return card;
}

// The card as the utility wrote it: the MBR's one entry is the whole
// partition table sfdisk sees, its volume passes fsck.fat with FATs of the
// entry's kind, and a file copied onto it with mtools comes back the same.
void ExpectRewrittenCardPasses(const TempDir& dir, const std::string& image) {
  std::vector<uint8_t> mbr = ReadSectors(image, 0, 1);
  const uint8_t type = mbr[446 + 4];
  const uint32_t first = Le32(mbr, 446 + 8);
  const uint32_t count = Le32(mbr, 446 + 12);
  ASSERT_TRUE(type == 0x04 || type == 0x06 || type == 0x0B) << int(type);

  std::string sfdisk = Shell("sfdisk -d '" + image + "'");
  char line[80];
  std::snprintf(line, sizeof line, "start=%12u, size=%12u, type=%x\n", first, count, type);
  EXPECT_EQ(0u, sfdisk.find("0:label: dos\n")) << sfdisk;
  EXPECT_NE(std::string::npos, sfdisk.find(line)) << sfdisk;
  EXPECT_EQ(sfdisk.find("start="), sfdisk.rfind("start=")) << "one partition: " << sfdisk;

  std::string volume = dir.File("volume.img");
  ExtractVolume(image, first, count, volume);
  std::string fsck = Shell("fsck.fat -n -v '" + volume + "'");
  EXPECT_EQ('0', fsck[0]) << fsck;
  EXPECT_NE(std::string::npos,
            fsck.find(type == 0x0B ? "2 FATs, 32 bit entries" : "2 FATs, 16 bit entries"))
      << fsck;

  ExpectFileRoundTrip(dir, image, first);
}

// Runs the utility on a card already made: the main screen, then "1", "2",
// the image unchanged up to there, "Y", the re-insert screen and Esc.
void RepartitionCard(const TempDir& dir, const MachineCard& card, const std::string& golden,
                     const std::string& version = "4.10.2222") {
  std::string image = dir.File(card.image);
  const std::string before = ImageFingerprint(image);
  ProgramRun run(dir.path(), WriteMachine(dir.path(), "m.reg", MachineText(card, version)));
  Screen screen;
  ASSERT_TRUE(run.WaitForKeyWait(&screen));
  ASSERT_EQ("Choose one of the following:", screen.At(5, 16, 28)) << screen.Text();
  if (!golden.empty()) ExpectGoldenScreen(screen, golden);
  for (const char* key : {"1", kEnter, "2", kEnter, "y"}) Key(run, key);
  EXPECT_EQ(before, ImageFingerprint(image)) << "written before the confirmation";
  Key(run, kEnter, &screen);
  EXPECT_EQ("You must remove and re-insert from/to your system ", screen.At(10, 10, 50))
      << screen.Text();
  EXPECT_EQ(0, run.TypeAndWaitExit(kEsc, 120000));
}

}  // namespace

TEST(CardCorpus, CardsFromOtherToolsAreListedAndRewritten) {
  const CorpusCard cards[] = {
      // Every current tool aligns the first partition to 1 MiB and writes
      // its start CHS, (0, 32, 33), in a 255-head geometry.
      {"sfdisk_fat16", 490, 8, 32, "KESTREL CF 64MB", "E", kMadeFat16Camera},
      // Past cylinder 1023 of that geometry the CHS fields hold FE FF FF.
      {"lba_only_fat16", 16383, 16, 63, "KESTREL CF 8GB", "E",
       "echo 'start=16451584, size=62480, type=6' | sfdisk -q $IMG &&"
       " mkfs.fat -F 16 -n LBAONLY --offset 16451584 $IMG 31240"},
      {"lba_only_fat32", 32767, 17, 63, "KESTREL CF 16GB", "EF",
       "printf 'start=2048, size=2097152, type=6\\nstart=20000768, size=8388608, type=b\\n'"
       " | sfdisk -q $IMG && mkfs.fat -F 16 -n FIRST --offset 2048 $IMG 1048576 &&"
       " mkfs.fat -F 32 -n LBAFAT32 --offset 20000768 $IMG 4194304"},
      // A 128 MB card's table and volume copied onto the 64 MB card: the
      // second partition starts past its end.
      {"past_the_card", 490, 8, 32, "KESTREL CF 64MB", "EF",
       "truncate -s 128M $IMG &&"
       " printf 'start=2048, size=100000, type=6\\nstart=161792, size=40000, type=6\\n'"
       " | sfdisk -q $IMG && mkfs.fat -F 16 -n CLONED --offset 2048 $IMG 50000 &&"
       " truncate -s 64225280 $IMG"},
      {"gpt", 490, 8, 32, "KESTREL CF 64MB", "E", kMadeGpt},
      // One volume over the whole card, as cameras format it: no table.
      {"superfloppy", 490, 8, 32, "KESTREL CF 64MB", "E", "mkfs.fat -F 16 -n WHOLECARD $IMG"},
      // sfdisk's table with a partition mpartition added in the card's own
      // 16 x 63 geometry, formatted by mkfs.fat and mformat; one Linux
      // partition never formatted.
      {"four_primaries", 1016, 16, 63, "KESTREL CF 512MB", "EFGH",
       "printf \"${IMG}1 : start=2048, size=204800, type=6\\n"
       "${IMG}2 : start=206848, size=204800, type=b\\n"
       "${IMG}4 : start=821248, size=202880, type=83\\n\" | sfdisk -q $IMG &&"
       " printf 'drive x: file=\"%s\" partition=3 heads=16 sectors=63 cylinders=1016 filter\\n'"
       " \"$PWD/$IMG\" > mtoolsrc && MTOOLSRC=mtoolsrc mpartition -c -b 411648 -l 204800 x: &&"
       " MTOOLS_SKIP_CHECK=1 mformat -i $IMG@@210763776 -T 204800 -h 16 -s 63 -H 411648"
       " -v MTOOLS :: && mkfs.fat -F 16 -n MKFS16 --offset 2048 $IMG 102400 &&"
       " mkfs.fat -F 32 -n MKFS32 --offset 206848 $IMG 102400"},
  };
  for (const CorpusCard& c : cards) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    MachineCard card = CardOf(c.cylinders, c.heads, c.sectors, c.model, c.driveLetters);
    std::string image = dir.File(card.image);
    CreateImage(image, card);
    ASSERT_EQ("0:", MakeElsewhere(image, c.tools)) << c.tools;
    RepartitionCard(dir, card, std::string("corpus_") + c.name);
    ExpectRewrittenCardPasses(dir, image);
  }
}

// The largest FAT16 volumes the planner makes, at the top of the 64-sector
// band, keep to 65,524 clusters; the 512 MB card of the worked example keeps
// its 250-sector FAT.
TEST(CardCorpus, LargestFat16CardsAreWrittenAsFat16) {
  struct Card {
    const char* name;
    MachineCard card;
    const char* version;
    uint32_t fatSectors;
  };
  const Card cards[] = {
      {"8192 x 16 x 32 on Windows 98 SE", CardOf(8192, 16, 32), "4.10.2222", 320},
      {"16384 x 16 x 16 on Windows 95", CardOf(16384, 16, 16), "4.00.950", 328},
      {"1016 x 16 x 63", CardOf(1016, 16, 63), "4.10.2222", 250},
  };
  for (const Card& c : cards) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::string image = dir.File(c.card.image);
    CreateImage(image, c.card);
    RepartitionCard(dir, c.card, "", c.version);
    std::vector<uint8_t> mbr = ReadSectors(image, 0, 1);
    std::vector<uint8_t> boot = ReadSectors(image, Le32(mbr, 446 + 8), 1);
    EXPECT_EQ(c.fatSectors, Le16(boot, 22));
    ExpectRewrittenCardPasses(dir, image);
  }
}
