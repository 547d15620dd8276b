// What an undo file cannot do, and a card that does not keep its writes.
// --restore refuses a card that is not the undo file's and a file that is no
// whole undo file, in one line and with nothing written; and a card that
// acknowledges writes it loses fails the write at the first read-back,
// before the MBR, after which its undo file puts back what it did keep.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "support/image.h"
#include "support/loop_device.h"
#include "support/machine_text.h"
#include "support/program_run.h"
#include "support/support.h"
#include "support/undo_run.h"
#include "tool/undo/undo_format.h"

using namespace testsupport;

namespace {

// How many lines the program began with "dunmore: ".
int SaidLines(const std::string& output) {
  int lines = 0;
  for (size_t at = output.find("dunmore: "); at != std::string::npos;
       at = output.find("dunmore: ", at + 1)) {
    ++lines;
  }
  return lines;
}

// "1", "2", "Y", then Esc once the program waits again; the exit code, the
// last screen and what the terminal showed.
int Rewrite(const std::string& dir, const std::string& machine,
            const std::vector<std::string>& arguments, Screen* screen, std::string* output) {
  RunOptions options;
  options.arguments = arguments;
  ProgramRun run(dir, machine, {}, options);
  int exitCode = -1;
  if (run.WaitForKeyWait(screen)) {
    for (const char* key : {"1", kEnter, "2", kEnter, "y"}) run.Type(key);
    exitCode = run.Type(kEnter, screen) ? run.TypeAndWaitExit(kEsc, 60000) : run.WaitExit(60000);
  }
  *output = run.TerminalOutput();
  return exitCode;
}

// Where each record of an undo file of version 2 begins, and its first
// sector.
std::vector<std::pair<size_t, uint32_t>> Records(const std::string& file) {
  std::vector<std::pair<size_t, uint32_t>> records;
  size_t at = tool::kUndoHeaderBytes;
  while (at + 16 <= file.size()) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(file.data()) + at;
    const uint32_t kind = GetLe32(p);
    if (kind == tool::kUndoRecordClosing) break;
    records.emplace_back(at, GetLe32(p + 4));
    at += kind == tool::kUndoRecordZeros ? 16 : 16 + GetLe32(p + 8) * 512;
  }
  return records;
}

}  // namespace

TEST(UndoFaults, RestoreRefusesWhatIsNotTheUndoFilesCardOrNoUndoFile) {
  TempDir dir;
  MachineCard card;  // the default card, 490 x 8 x 32, S/N KS10012345
  CreateImage(dir.File(card.image), card);
  ASSERT_EQ("0:", MakeElsewhere(dir.File(card.image), kMadeFat16Camera));
  // Something to keep amid the zeros the write changes: the file holds the
  // MBR, zeros, these sectors and zeros again.
  WriteSectorBytes(dir.File(card.image), 100, std::vector<uint8_t>(21 * 512, 0x5C));
  const std::string old = ImageFingerprint(dir.File(card.image));
  const std::string machine = WriteMachine(dir.path(), "m.reg", MachineText(card));
  const std::string undo = dir.File("write.undo");
  Screen screen;
  std::string output;
  ASSERT_EQ(0, Rewrite(dir.path(), machine, {"--undo", undo}, &screen, &output)) << output;

  // The same card on other machines, and other cards.
  MachineCard otherSerial = card;
  otherSerial.serialNumber = "KS99999999";
  MachineCard bigger = MachineCardOf(980, 16, 63);
  bigger.image = "bigger.img";
  CreateImage(dir.File(bigger.image), bigger);
  std::string damaged = ReadFile(undo);
  damaged[128 + 12 + 100] ^= 0x01;  // a byte of the first record's old data
  WriteFile(dir.File("damaged.undo"), damaged);
  WriteFile(dir.File("short.undo"), damaged.substr(0, 40));
  // A count changed, in the MBR's record and in one amid the others: read
  // as they say, each would run past the end of the file.
  const std::string whole = ReadFile(undo);
  const std::vector<std::pair<size_t, uint32_t>> records = Records(whole);
  ASSERT_EQ(4u, records.size()) << "the MBR, zeros, sectors 100-120, zeros";
  ASSERT_EQ(0u, records[0].second);
  ASSERT_EQ(100u, records[2].second);
  std::string flipped = whole;
  flipped[records[0].first + 8] ^= 0x80;
  WriteFile(dir.File("mbr-count.undo"), flipped);
  flipped = whole;
  flipped[records[2].first + 8] ^= 0x40;
  WriteFile(dir.File("middle-count.undo"), flipped);
  WriteFile(dir.File("longer.undo"), whole + std::string(512, '\0'));
  ASSERT_EQ(0, mkfifo(dir.File("fifo").c_str(), 0600));
  // A card whose medium holds more than its geometry addresses, and a file
  // of it with a record past even the medium.
  MachineCard past = card;
  past.image = "past.img";
  CreateImage(dir.File(past.image), past);
  ASSERT_EQ(0, truncate(dir.File(past.image).c_str(), (125440 + 64) * 512));
  tool::UndoHeader header;
  header.sectors = 125440 + 64;
  header.cylinders = 490;
  header.heads = 8;
  header.sectorsPerTrack = 32;
  header.model = card.model;
  header.serialNumber = card.serialNumber;
  header.identityKnown = true;
  const std::vector<uint8_t> sector(512, 0x11);
  uint32_t count = 0, sectors = 0;
  const std::vector<uint8_t> pastFile = tool::EncodeUndoFile(
      header, {{0, 1, sector.data()}, {125510, 1, sector.data()}}, &count, &sectors);
  WriteFile(dir.File("past.undo"), std::string(pastFile.begin(), pastFile.end()));
  // A version 1 header, which says no length, before 200 MB: more than a
  // file for a card of 125440 sectors can hold (each sector twice, in
  // records of one), refused before it is read.
  tool::UndoHeader first = header;
  first.version = tool::kUndoVersion1;
  first.sectors = 125440;
  const std::vector<uint8_t> firstHeader = tool::EncodeUndoHeader(first);
  WriteFile(dir.File("huge.undo"), std::string(firstHeader.begin(), firstHeader.end()));
  ASSERT_EQ(0, truncate(dir.File("huge.undo").c_str(), 200 << 20));

  struct Refusal {
    const char* what;
    std::string machine;
    std::string file;
    std::vector<std::string> arguments;
    std::string said;
  };
  const Refusal refusals[] = {
      {"a card of another size",
       WriteMachine(dir.path(), "big.reg", MachineText(bigger)),
       undo,
       {},
       "another card: it has 987840 sectors, the undo file's card had 125440"},
      {"a card with another serial number",
       WriteMachine(dir.path(), "serial.reg", MachineText(otherSerial)),
       undo,
       {},
       "another card: its serial number is 'KS99999999', the undo file's card's was "
       "'KS10012345'"},
      {"a card that names no serial number",
       "",
       undo,
       {"pccard.img"},
       "the card's identity is unknown (the card names no serial number)"},
      {"a damaged record",
       machine,
       dir.File("damaged.undo"),
       {},
       "record 1 (byte 128) is damaged (its CRC-32 does not match)"},
      {"a file that is no undo file",
       machine,
       machine,
       {},
       "not an undo file (it does not begin with DUNMUNDO)"},
      {"a header cut short", machine, dir.File("short.undo"), {}, "header is cut short"},
      {"the count flipped in the MBR's record",
       machine,
       dir.File("mbr-count.undo"),
       {},
       "record 1 (byte 128) is damaged (it says 129 sectors, and its CRC-32 holds for 1)"},
      {"the count flipped in a middle record",
       machine,
       dir.File("middle-count.undo"),
       {},
       "record 3 (byte " + std::to_string(records[2].first) +
           ") is damaged (it says 85 sectors, and its CRC-32 holds for 21)"},
      {"a record past the card's medium",
       WriteMachine(dir.path(), "past.reg", MachineText(past)),
       dir.File("past.undo"),
       {},
       "past.undo: the undo file's record 2 (byte 656) lies past the end of its card"},
      {"/dev/zero", machine, "/dev/zero", {}, "/dev/zero: is a character device, not an undo file"},
      {"a FIFO", machine, dir.File("fifo"), {}, "fifo: is a FIFO, not an undo file"},
      {"a file longer than a file for its card can be",
       machine,
       dir.File("huge.undo"),
       {},
       "is longer (" + std::to_string(200 << 20) +
           " bytes) than one of a card of 125440 sectors "
           "can be (" +
           std::to_string(112 + 2 * 125440 * 528 + 16) + ")"},
      {"a file longer than its header says",
       machine,
       dir.File("longer.undo"),
       {},
       "is longer (" + std::to_string(whole.size() + 512) + " bytes) than its header says (" +
           std::to_string(whole.size()) + ")"},
  };
  const std::string card0 = ImageFingerprint(dir.File(card.image));
  const std::string card1 = ImageFingerprint(dir.File(bigger.image));
  const std::string card2 = ImageFingerprint(dir.File(past.image));
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.what);
    const auto begun = std::chrono::steady_clock::now();
    RestoreRun restore = RunRestore(dir.path(), refusal.machine, refusal.file, refusal.arguments);
    // Refused at once: nothing waits for a writer of the FIFO.
    if (refusal.file == dir.File("fifo")) {
      EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(1));
    }
    EXPECT_EQ(1, restore.exitCode) << restore.output;
    EXPECT_EQ(1, SaidLines(restore.output)) << restore.output;
    EXPECT_NE(std::string::npos, restore.output.find(refusal.said)) << restore.output;
    EXPECT_NE(std::string::npos, restore.output.find("; nothing was written")) << restore.output;
    EXPECT_EQ(std::string::npos, restore.output.find("Proceed")) << restore.output;
    EXPECT_EQ(card0, ImageFingerprint(dir.File(card.image)));
    EXPECT_EQ(card1, ImageFingerprint(dir.File(bigger.image)));
    EXPECT_EQ(card2, ImageFingerprint(dir.File(past.image)));
    std::printf("refused, %s: %s", refusal.what,
                restore.output.substr(restore.output.find("dunmore: ")).c_str());
  }
  // The card with no serial number is the undo file's card when forced, and
  // the file itself was whole all along.
  RestoreRun forced = RunRestore(dir.path(), "", undo, {"--force", "pccard.img"});
  EXPECT_EQ(0, forced.exitCode) << forced.output;
  EXPECT_EQ(old, ImageFingerprint(dir.File(card.image))) << forced.output;
}

// A card that acknowledges every write and keeps none, and a card that keeps
// what lies before its FAT 2 and loses the rest, as a card whose real
// capacity ends there: the first write read back fails with "WRITE ERROR!",
// the MBR is never written, and the undo file restores what was written.
TEST(UndoFaults, ACardThatLosesItsWritesFailsTheWriteBeforeTheMbr) {
  const struct {
    const char* what;
    const char* lost;
    int writtenBefore;  // sectors the card kept before the failing command
  } cards[] = {{"keeps none", "0-4294967295", 0},
               // The default card's FAT 2 begins at 156, after its boot
               // sector at 32 and FAT 1 of 123 sectors.
               {"loses from FAT 2 on", "156-4294967295", 1}};
  for (const auto& lossy : cards) {
    SCOPED_TRACE(lossy.what);
    TempDir dir;
    MachineCard card;
    std::string image = dir.File("card.img");
    CreateImage(image, card);
    ASSERT_EQ("0:", MakeElsewhere(image, kMadeFat16Camera));
    const std::string before = ImageFingerprint(image);
    const std::vector<uint8_t> mbr = ReadSectors(image, 0, 1);
    LOOP_DEVICE_OR_SKIP(loop, image);
    card.image = loop.path();
    card.extraValues = std::string("\"LostWriteSectors\"=\"") + lossy.lost + "\"";
    const std::string machine = WriteMachine(dir.path(), "m.reg", MachineText(card));
    Screen screen;
    std::string output;
    int exitCode = Rewrite(dir.path(), machine, {}, &screen, &output);
    EXPECT_EQ("WRITE ERROR!", screen.At(20, 16, 12)) << screen.Text();
    EXPECT_EQ(3, exitCode);
    EXPECT_NE(std::string::npos, output.find("read back other than written")) << output;
    EXPECT_EQ(mbr, ReadSectors(image, 0, 1));
    EXPECT_EQ(lossy.writtenBefore != 0, ImageFingerprint(image) != before);

    std::vector<std::string> undo = DefaultUndoFiles(dir.path());
    ASSERT_EQ(1u, undo.size()) << output;
    // The restore reads back what it puts back, of a card that keeps it.
    card.extraValues.clear();
    WriteMachine(dir.path(), "m.reg", MachineText(card));
    RestoreRun restore = RunRestore(dir.path(), machine, undo[0], {"--force"});
    EXPECT_EQ(0, restore.exitCode) << restore.output;
    EXPECT_EQ(before, ImageFingerprint(image));
    std::printf("a card that %s: exit %d, %s, old MBR %s, restored %s\n", lossy.what, exitCode,
                screen.At(20, 16, 12).c_str(),
                ReadSectors(image, 0, 1) == mbr ? "in place" : "CHANGED",
                ImageFingerprint(image) == before ? "exactly" : "NOT EXACTLY");
  }
}
