// Start-up failures and choices: each reached by a machine, checked on the
// screen, by exit code, and on the card, which must stay as it was.
#include <gtest/gtest.h>

#include <string>

#include "support/image.h"
#include "support/machine_text.h"
#include "support/program_run.h"
#include "support/support.h"

using namespace testsupport;

namespace {

struct Refusal {
  const char* name;
  MachineCard card;
  std::string version;
  std::string exampleMachine;  // instead of a made-up one, when set
  const char* message;
  std::vector<uint8_t> mbr = std::vector<uint8_t>(512, 0xA5);  // sector 0 of the card
};

// Runs to the first key wait, checks the message and the exit prompt, then
// Esc and the exit code; the card must not change.
void ExpectRefusal(const Refusal& refusal) {
  TempDir dir;
  std::string image = dir.File("pccard.img");
  CreateImage(image, refusal.card);
  // Something on the card that a write would disturb.
  WriteSectorBytes(image, 0, refusal.mbr);
  std::string before = ImageFingerprint(image);

  std::string machine =
      refusal.exampleMachine.empty()
          ? WriteMachine(dir.path(), "machine.reg", MachineText(refusal.card, refusal.version))
          : Example(refusal.exampleMachine);
  ProgramRun run(dir.path(), machine);
  Screen screen;
  ASSERT_TRUE(run.WaitForKeyWait(&screen)) << refusal.name;
  std::string message = refusal.message;
  EXPECT_EQ(message, screen.At(20, 15, message.size())) << refusal.name << "\n" << screen.Text();
  EXPECT_EQ(std::string(80 - 20 - message.size(), ' '),
            screen.At(20 + static_cast<int>(message.size()), 15, 80))
      << "row 15 holds more than the message: " << refusal.name;
  EXPECT_EQ("Press Esc to exit DUNMORE", screen.At(5, 24, 25)) << refusal.name;
  EXPECT_EQ(1, run.TypeAndWaitExit(kEsc)) << refusal.name;
  EXPECT_EQ(before, ImageFingerprint(image)) << refusal.name << ": the card was written";
}

}  // namespace

TEST(CardStartUp, RefusalsShowTheirMessageAndEndWithOne) {
  const Refusal refusals[] = {
      {"no card", MachineCard(), "", "no-card.reg", "PC Card HDD not exist!"},
      {"two KESTREL cards of one name", MachineCard(), "", "two-kestrel-cards.reg",
       "PC Card HDD not only one!"},
      {"card without I/O ports", MachineCard(), "", "no-io-resources.reg",
       "Resource of PC Card is not I/O!"},
      {"Windows 95 above 2 GB", MachineCardOf(4162, 16, 63), "4.00.950", "",
       "Windows95 is to 2GB."},
      {"unreadable MBR", MachineCardOf(490, 8, 32, "0"), "4.10.2222", "",
       "PC Card HDD access error!"},
      {"no cylinders", MachineCardOf(0, 8, 32), "4.10.2222", "", "PC Card HDD access error!"},
      {"no heads", MachineCardOf(490, 0, 32), "4.10.2222", "", "PC Card HDD access error!"},
      {"64 sectors per track", MachineCardOf(490, 8, 64), "4.10.2222", "",
       "PC Card HDD access error!"},
      {"negative cylinders", MachineCardOf(0x8000, 8, 32), "4.10.2222", "",
       "PC Card HDD access error!"},
      {"more than 256 logical heads", MachineCardOf(2048, 129, 63), "4.10.2222", "",
       "PC Card HDD access error!"},
      // More than 256 heads over more than 1024 cylinders: no translation.
      {"an untranslatable geometry", MachineCardOf(4096, 300, 63), "4.10.2222", "",
       "PC Card HDD access error!"},
      // One FAT16 entry from (0, 1, 1) to (489, 7, 32): its boot sector is sector 32.
      {"unreadable boot sector of a listed partition", MachineCardOf(490, 8, 32, "32"), "", "",
       "PC Card HDD access error!", Mbr({MbrEntry(0x06, {0, 1, 1}, {489, 7, 32}, 32, 125408)})},
  };
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.name);
    Refusal r = refusal;
    if (r.version.empty()) r.version = "4.10.2222";
    ExpectRefusal(r);
  }
}

TEST(CardStartUp, TwoGigabyteRuleCountsExactlyTwoGigabytesAsSmall) {
  TempDir dir;
  MachineCard card = MachineCardOf(8192, 16, 32);  // exactly 4,194,304 sectors
  CreateImage(dir.File("pccard.img"), card);
  ProgramRun run(dir.path(), WriteMachine(dir.path(), "m.reg", MachineText(card, "4.00.950", "")));
  Screen screen;
  ASSERT_TRUE(run.WaitForKeyWait(&screen));
  EXPECT_EQ("Microsoft Windows 95 4.00.950", screen.At(14, 3, 29));
  EXPECT_EQ("Physical  8192 cylinders x  16 heads x 32 sectors", screen.At(5, 7, 49));
  EXPECT_EQ(2, run.TypeAndWaitExit(kEsc));
}

TEST(CardStartUp, ChoosesAmongSeveralCards) {
  for (const char* machine : {"two-cards.reg", "card-without-parent.reg"}) {
    SCOPED_TRACE(machine);
    TempDir dir;
    ProgramRun run(dir.path(), Example(machine));
    Screen screen;
    ASSERT_TRUE(run.WaitForKeyWait(&screen)) << screen.Text();
    EXPECT_EQ("Choose one of the following:", screen.At(5, 16, 28)) << screen.Text();
    EXPECT_EQ(2, run.TypeAndWaitExit(kEsc));
  }
}

TEST(CardStartUp, ACardSingledOutAmongSeveralNeedsItsIoPortsToo) {
  TempDir dir;
  std::string text = ReadFile(Example("two-cards.reg"));
  // The first card, the one chosen, gets an Allocation of four ports.
  const std::string eightPorts = "70,01,77,01";
  size_t at = text.find(eightPorts);
  ASSERT_NE(std::string::npos, at);
  text.replace(at, eightPorts.size(), "70,01,73,01");
  ProgramRun run(dir.path(), WriteMachine(dir.path(), "m.reg", text));
  Screen screen;
  ASSERT_TRUE(run.WaitForKeyWait(&screen));
  EXPECT_EQ("Resource of PC Card is not I/O!", screen.At(20, 15, 31));
  EXPECT_EQ(1, run.TypeAndWaitExit(kEsc));
}
