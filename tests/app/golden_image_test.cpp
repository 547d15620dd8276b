// Whole cards written under a fixed clock and compared byte for byte with
// committed images, volume serial included. DUNMORE_UPDATE_GOLDEN=1 writes
// the images anew (review the difference before committing it).
#include <gtest/gtest.h>

#include <string>

#include "support/golden.h"
#include "support/image.h"
#include "support/machine_text.h"
#include "support/program_run.h"
#include "support/support.h"

using namespace testsupport;

namespace {

// 2001-09-09 01:46:40 UTC: a clock any of the supported cards could show.
constexpr uint32_t kClock = 1000000000;

// Re-partitions and writes the card of a fresh folder under the fixed clock;
// returns the image's path.
std::string WriteCard(const TempDir& dir, const MachineCard& card) {
  std::string machine = WriteMachine(dir.path(), "machine.reg", MachineText(card));
  ProgramRun run(dir.path(), machine, {{"DUNMORE_CLOCK", std::to_string(kClock)}});
  EXPECT_EQ(0, WriteWholeCard(run));
  return dir.File(card.image);
}

}  // namespace

TEST(GoldenImage, WrittenCardsMatchTheCommittedImages) {
  const struct {
    const char* name;
    MachineCard card;
    uint32_t serialOffset;  // of the volume's boot sector, from the card's start
  } cards[] = {
      // The default machine's card: FAT16 at sector 32.
      {"default_card", MachineCard(), 32 * 512 + 39},
      // FAT16 with 16 sectors per cluster and a FAT of 250 sectors at 63.
      {"fat16_1016x16x63", MachineCardOf(1016, 16, 63), 63 * 512 + 39},
      // Logical 1024 x 128 x 63: FAT32 with 8 sectors per cluster and a FAT of
      // 8,057 sectors at 63.
      {"fat32_8192x16x63", MachineCardOf(8192, 16, 63), 63 * 512 + 67},
  };
  for (const auto& c : cards) {
    TempDir dir;
    std::string image = WriteCard(dir, c.card);
    EXPECT_EQ(kClock, Le32(ReadSectors(image, c.serialOffset / 512, 1), c.serialOffset % 512))
        << c.name << ": the serial is not the clock";
    ExpectGoldenImage(image, c.name);
  }
}

TEST(GoldenImage, EqualCardsUnderOneClockAreWrittenAlike) {
  TempDir first, second;
  EXPECT_EQ(ImageFingerprint(WriteCard(first, MachineCard())),
            ImageFingerprint(WriteCard(second, MachineCard())));
}

TEST(GoldenImage, AClockThatIsNoCountOfSecondsIsRefusedAtBoot) {
  for (const char* clock : {"12x", "-1", "4294967296", " 7"}) {
    SCOPED_TRACE(clock);
    TempDir dir;
    ExpectRefusedAtBoot(RunToRefusal(dir.path(), "", {{"DUNMORE_CLOCK", clock}}),
                        {std::string("DUNMORE_CLOCK=") + clock + ": not a count"});
    EXPECT_EQ("missing", ImageFingerprint(dir.File("pccard.img"))) << "a card was made";
  }
}
