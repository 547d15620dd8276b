// The card as it is: its geometry from one rule and said where it came from,
// the restore that runs as it is printed, names and labels that reach
// scripts and terminals whole, the old signatures a write would leave
// cleared, and listings that list loop devices only when asked and say what
// they could not open. The cards are made by sfdisk, mkfs.fat, mtools and
// mkfs.ext2, as they come from elsewhere.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/golden.h"
#include "support/image.h"
#include "support/loop_device.h"
#include "support/machine_text.h"
#include "support/program_run.h"
#include "support/support.h"
#include "support/undo_run.h"
#include "tool/command/message.h"
#include "tool/mode_run.h"
#include "tool/modes/dos_text.h"
#include "tool/modes/json_text.h"
#include "tool/undo/restore_advice.h"
#include "tool/undo/restore_plan.h"
#include "tool/undo/undo_format.h"

using namespace testsupport;

namespace {

const std::string kClock = "--clock 1000000000";

// Whether the text holds a control character (a byte below 0x20 but the
// line end, DEL, a C1 character) or a byte that is not UTF-8: anything a
// terminal could act on.
bool HoldsControls(const std::string& text) {
  for (size_t at = 0; at < text.size();) {
    uint32_t code = 0;
    size_t length = tool::Utf8SequenceAt(text, at, &code);
    if (length == 0 || (code != '\n' && tool::IsControlCharacter(code))) return true;
    at += length;
  }
  return false;
}

// The command a write printed for putting its card back: the rest of the
// line after "this puts it back: ".
std::string PrintedRestore(const std::string& err) {
  const std::string mark = "this puts it back: ";
  size_t at = err.find(mark);
  if (at == std::string::npos) return std::string();
  at += mark.size();
  return err.substr(at, err.find('\n', at) - at);
}

// Runs a line as a user types it into a shell in dir, with the dunmore under
// test the one on the PATH, input on its standard input.
ModeRun RunTyped(const TempDir& dir, const std::string& line, const std::string& environment,
                 const std::string& input) {
  const std::string bin = dir.File("bin");
  Shell("mkdir -p '" + bin + "' && ln -sf '" DUNMORE_EXE "' '" + bin + "/dunmore'");
  WriteFile(dir.File("typed.sh"), line + "\n");
  WriteFile(dir.File("typed.in"), input);
  ModeRun run;
  std::string output;
  run.code = RunCommand("{ cd '" + dir.path() + "' && env PATH='" + bin + "':\"$PATH\" " +
                            environment + " sh typed.sh <typed.in >typed.out 2>typed.err; }",
                        &output);
  run.out = ReadFile(dir.File("typed.out"));
  run.err = ReadFile(dir.File("typed.err"));
  return run;
}

}  // namespace

// One rule gives each card its geometry, and every output outside the
// system's screens says where it came from: a card that says none gets the
// one a card of its size reports, and the plan covers it.
TEST(CardAsItIs, TheGeometryComesFromOneRuleAndIsSaid) {
  const struct {
    const char* what;
    std::string size;  // of an image made elsewhere; empty: the default machine's own
    bool loop;         // the card is a loop device over the image
    std::string geometry;
    std::string from;  // the text outputs' words
    std::string json;  // geometry_from
  } cards[] = {
      {"an existing 256 MB image", "256M", false, "1024 x 16 x 32",
       "derived from the size; --geometry sets another", "derived"},
      {"a loop device", "300M", true, "609 x 16 x 63",
       "derived from the size; --geometry sets another", "derived"},
      {"the default machine", "", false, "490 x 8 x 32", "from the machine file's card key",
       "card key"},
  };
  for (const auto& c : cards) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string image = dir.File(c.size.empty() ? "pccard.img" : "card.img");
    std::unique_ptr<LoopDevice> loop;
    std::string card;
    if (!c.size.empty()) {
      ASSERT_EQ("0:", Shell("truncate -s " + c.size + " '" + image + "'"));
      ASSERT_EQ("0:", MakeElsewhere(image, kMadeFat16Camera));
      card = "card.img";
      if (c.loop) {
        loop = std::make_unique<LoopDevice>(image);
        if (!loop->usable()) GTEST_SKIP() << loop->reason();
        card = loop->path();
      }
    }
    const std::string state = "XDG_STATE_HOME='" + dir.File("state") + "'";
    int cylinders = 0, heads = 0, sectors = 0;
    ASSERT_EQ(3, sscanf(c.geometry.c_str(), "%d x %d x %d", &cylinders, &heads, &sectors));
    char physical[80];
    std::snprintf(physical, sizeof physical,
                  "     Physical %5d cylinders x %3d heads x %2d sectors\n", cylinders, heads,
                  sectors);
    const std::string said = "     Geometry " + c.from + "\n";
    if (!card.empty()) {
      ModeRun list = RunDunmore(dir, "--list " + card);
      EXPECT_EQ(0, list.code) << list.err;
      EXPECT_TRUE(Contains(list.out, physical + std::string()) && Contains(list.out, said))
          << list.out;
    }
    // The write first: the default machine's image is made by it.
    ModeRun yes = RunDunmore(dir, "--yes " + kClock + " " + card, state);
    ASSERT_EQ(0, yes.code) << yes.out << yes.err;
    if (c.size.empty()) ExpectGoldenImage(image, "default_card");
    ModeRun dry = RunDunmore(dir, "--dry-run " + card, state);
    ModeRun json = RunDunmore(dir, "--dry-run --json " + card, state);
    EXPECT_EQ(0, dry.code) << dry.err;
    EXPECT_TRUE(Contains(dry.out, said)) << dry.out;
    EXPECT_TRUE(Contains(yes.out, said)) << yes.out;
    if (c.loop) {
      // A device that gives no model text is named by its path, in the
      // system's own warning too.
      EXPECT_TRUE(Contains(yes.out, "WARNING, ALL DATA ON\n" + card + "\nWILL BE LOST!\n"))
          << yes.out;
      EXPECT_TRUE(Contains(dry.out, "     Model    " + card +
                                        " (its path: the card gives no "
                                        "model text)\n"))
          << dry.out;
    }
    // The plan covers the card's geometry, from its second track on.
    const uint64_t geometrySectors = uint64_t{1} * cylinders * heads * sectors;
    EXPECT_EQ(c.json + " " + std::to_string(sectors) + " " +
                  std::to_string(geometrySectors - sectors) + "\n",
              FromJson(dir, json.out,
                       "p = d['partition']; print(d['geometry_from'], p['start'], p['size'])"));
    ExpectJudgedPartition(dir, image, static_cast<uint32_t>(sectors),
                          static_cast<uint32_t>(geometrySectors - sectors), "6");
  }
}

// The interactive run says a derived geometry on standard error before the
// screens take the terminal.
TEST(CardAsItIs, TheInteractiveRunSaysADerivedGeometryFirst) {
  TempDir dir;
  ASSERT_EQ("0:", Shell("truncate -s 256M '" + dir.File("card.img") + "'"));
  ProgramRun run(dir.path(), "", {{"DUNMORE_CARD", "card.img"}});
  ASSERT_TRUE(run.WaitForKeyWait(nullptr));
  EXPECT_EQ(2, run.TypeAndWaitExit(kEsc));
  EXPECT_EQ(0u, run.TerminalOutput().find("dunmore: card.img: 1024 x 16 x 32, derived from the "
                                          "size; --geometry sets another\r\n"))
      << run.TerminalOutput();
}

// The command a write prints for its undo file, run as it is printed and
// answered Y, puts the card back byte for byte; --force is in it only where
// the card's identity cannot be checked, and the line says why.
TEST(CardAsItIs, TheRestorePrintedAfterAWriteRestoresAsPrinted) {
  const struct {
    const char* what;
    std::string image;
    std::string made;   // after the image is created as the card of `create`
    std::string write;  // the write's arguments
    bool loop;
    bool force;
  } cards[] = {
      {"the default machine", "pccard.img", "", "--undo u.undo", false, false},
      // Another geometry than the one its size would give: the restore
      // takes the undo file's.
      {"an image made with --geometry", "card.img", "--yes --geometry 2000x8x32 card.img",
       "--undo u.undo --geometry 2000x8x32 card.img", false, true},
      {"a loop device with a derived geometry", "card.img", "", "", true, true},
  };
  for (const auto& c : cards) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string image = dir.File(c.image);
    const std::string state = "XDG_STATE_HOME='" + dir.File("state") + "'";
    if (c.made.empty()) {
      CreateImage(image, MachineCard());
    } else {
      ASSERT_EQ(0, RunDunmore(dir, c.made + " " + kClock).code);
    }
    // What the card held before: a volume of another tool's.
    ASSERT_EQ("0:", MakeElsewhere(image, kMadeFat16Camera));
    const std::string before = ImageFingerprint(image);
    std::unique_ptr<LoopDevice> loop;
    std::string write = c.write;
    if (c.loop) {
      loop = std::make_unique<LoopDevice>(image);
      if (!loop->usable()) GTEST_SKIP() << loop->reason();
      write = loop->path();
    }
    ModeRun written = RunDunmore(dir, "--yes " + kClock + " " + write, state);
    ASSERT_EQ(0, written.code) << written.err;
    ASSERT_NE(before, ImageFingerprint(image));
    const std::string printed = PrintedRestore(written.err);
    ASSERT_EQ(0u, printed.find("dunmore --restore ")) << written.err;
    EXPECT_EQ(c.force, Contains(printed, " --force")) << printed;
    EXPECT_EQ(c.force, Contains(written.err,
                                "the card names no serial number, so the restore "
                                "cannot tell the card from another of its size"))
        << written.err;
    ModeRun restored = RunTyped(dir, printed, state, "y\n");
    EXPECT_EQ(0, restored.code) << printed << "\n" << restored.out << restored.err;
    EXPECT_EQ(before, ImageFingerprint(image)) << printed;
  }
}

// A serial number a machine file's card key gives a real device names the
// machine file, not the device: the undo file says so, and its restore onto
// another device of the same key is refused without --force.
TEST(CardAsItIs, AMachineFilesSerialNumberIsNoDevicesIdentity) {
  TempDir dir;
  MachineCard card;
  std::vector<std::unique_ptr<LoopDevice>> loops;
  for (const char* name : {"a.img", "b.img"}) {
    CreateImage(dir.File(name), card);
    ASSERT_EQ("0:", MakeElsewhere(dir.File(name), kMadeFat16Camera));
    loops.push_back(std::make_unique<LoopDevice>(dir.File(name)));
    if (!loops.back()->usable()) GTEST_SKIP() << loops.back()->reason();
  }
  card.image = loops[0]->path();
  WriteMachine(dir.path(), "a.reg", MachineText(card));
  card.image = loops[1]->path();
  WriteMachine(dir.path(), "b.reg", MachineText(card));
  const std::string state = "XDG_STATE_HOME='" + dir.File("state") + "'";
  ModeRun write = RunDunmore(dir, "--yes " + kClock + " --undo a.undo --machine a.reg", state);
  ASSERT_EQ(0, write.code) << write.err;
  tool::UndoContents contents;
  std::string why;
  const std::string bytes = ReadFile(dir.File("a.undo"));
  ASSERT_TRUE(
      tool::ParseUndoFile(std::vector<uint8_t>(bytes.begin(), bytes.end()), &contents, &why))
      << why;
  EXPECT_EQ("KS10012345", contents.header.serialNumber);
  EXPECT_TRUE(contents.header.serialFromMachineFile);
  EXPECT_FALSE(contents.header.identityKnown);

  const struct {
    const char* what;
    std::string arguments;
    int code;
    std::string said;
    bool changed;
  } restores[] = {
      {"without --force", "", 1,
       "dunmore: " + loops[1]->path() +
           ": the card's identity is unknown (the card's serial number is the machine file's, not "
           "its own), so it cannot be told from another card of its size; give --force",
       false},
      {"with --force", "--force", 0, "restored from a.undo and read back", true},
  };
  for (const auto& r : restores) {
    SCOPED_TRACE(r.what);
    const std::string other = ImageFingerprint(dir.File("b.img"));
    ModeRun restore =
        RunDunmore(dir, "--restore a.undo --yes --machine b.reg " + r.arguments, state);
    EXPECT_EQ(r.code, restore.code) << restore.out << restore.err;
    EXPECT_TRUE(Contains(restore.err, r.said)) << restore.err;
    EXPECT_EQ(r.changed, other != ImageFingerprint(dir.File("b.img")));
  }
}

// Labels in the DOS code page with control characters, and a card whose
// name holds a line end, a quote, a backslash and a byte that is not UTF-8:
// the JSON documents parse, say what they hold, and hold no "" for a value
// that is absent; the text outputs hold nothing a terminal could act on.
TEST(CardAsItIs, NamesAndLabelsReachScriptsAndTerminalsWhole) {
  TempDir dir;
  const std::string made = dir.File("made.img");
  CreateImage(made, MachineCard());
  const std::string mtools = "MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 mlabel -i '" + made + "@@";
  ASSERT_EQ("0:",
            Shell("printf 'start=32,size=60000,type=6\\nstart=60032,type=6\\n' | sfdisk -q '" +
                  made + "' && mkfs.fat -F 16 --offset 32 '" + made +
                  "' 30000 >/dev/null && mkfs.fat -F 16 --offset 60032 '" + made +
                  "' 30000 >/dev/null && " + mtools + "16384' '::CAFÉ½' && " + mtools +
                  std::to_string(60032 * 512) + "' \"::$(printf 'RED\\033\\007X')\""));
  const std::string name = "card \"q\" \\\n\xff.img";
  ASSERT_EQ(0, rename(made.c_str(), dir.File(name).c_str()));
  auto loop = std::make_unique<LoopDevice>(dir.File(name));
  if (!loop->usable()) GTEST_SKIP() << loop->reason();
  // The name as JSON carries it: the byte that is not UTF-8 as the text \xff.
  const std::string shown = "card \"q\" \\\\\\n\\\\xff.img";
  const std::string noEmpty =
      "def walk(x):\n"
      "    if isinstance(x, dict): [walk(v) for v in x.values()]\n"
      "    elif isinstance(x, list): [walk(v) for v in x]\n"
      "    else: assert x != '', d\n"
      "walk(d)\n";
  const std::string labels =
      "c = d['cards'][0]\n"
      "assert [p['label'] for p in c['partitions']] == ['CAF\\u00c9\\u00bd', 'RED\\x1b\\x07X'], c\n"
      "assert [(p['start'], p['size'], p['type']) for p in c['partitions']] == "
      "[(32, 60000, '6'), (60032, 65408, '6')], c\n";
  const struct {
    const char* what;
    std::string card;  // as given to the program, for the shell
    std::string check;
  } cards[] = {
      {"the image", "'" + name + "'",
       "assert c['path'] == '" + shown + "' and c['model'] == c['path'], c\n"},
      {"a loop device over it", loop->path(),
       "assert c['loop_backing_file'] == '" + dir.path() + "/" + shown + "', c\n"},
  };
  for (const auto& c : cards) {
    SCOPED_TRACE(c.what);
    ModeRun text = RunDunmore(dir, "--list " + c.card);
    ModeRun json = RunDunmore(dir, "--list --json " + c.card);
    EXPECT_EQ(0, json.code) << json.err;
    EXPECT_EQ("ok\n", FromJson(dir, json.out, noEmpty + labels + c.check + "print('ok')"));
    EXPECT_FALSE(HoldsControls(text.out + text.err)) << text.out;
    EXPECT_TRUE(Contains(text.out, "RED\\x1b\\x07X")) << text.out;
  }
  // The runs that write, and their plan, on the image alone.
  loop.reset();
  ModeRun dry = RunDunmore(dir, "--dry-run '" + name + "'");
  ModeRun plan = RunDunmore(dir, "--dry-run --json '" + name + "'");
  EXPECT_EQ("ok\n",
            FromJson(dir, plan.out, noEmpty + "assert d['path'] == '" + shown + "'\nprint('ok')"));
  ModeRun yes = RunDunmore(dir, "--yes " + kClock + " --undo u.undo '" + name + "'");
  ASSERT_EQ(0, yes.code) << yes.err;
  ModeRun restore = RunDunmore(dir, "--restore u.undo --yes --force '" + name + "'");
  EXPECT_EQ(0, restore.code) << restore.err;
  for (const ModeRun* run : {&dry, &yes, &restore}) {
    EXPECT_FALSE(HoldsControls(run->out + run->err)) << run->out << run->err;
    EXPECT_TRUE(Contains(run->out, "card \"q\" \\\\x0a\\xff.img")) << run->out;
  }
}

// A card that held a GPT, or a file system made over the whole card,
// rewritten: blkid and wipefs find only the new DOS table and the FAT volume;
// the undo file puts the card back byte for byte.
TEST(CardAsItIs, TheOldSignaturesAWriteWouldLeaveAreCleared) {
  const struct {
    const char* what;
    std::string size;
    std::string make;  // on $IMAGE
    std::string clears;
  } cards[] = {
      {"a GPT made by sfdisk", "64M", "echo 'start=2048,type=L' | sfdisk -q --label gpt \"$IMAGE\"",
       "1-2, 131071"},
      // 1219 x 16 x 63 leaves the card's last 528 sectors, the backup header
      // among them, past its geometry.
      {"a GPT whose backup lies past the geometry", "600M",
       "echo 'start=2048,type=L' | sfdisk -q --label gpt \"$IMAGE\"", "1-2, 1228799"},
      {"ext2 made over the whole card", "64M", "mkfs.ext2 -q -F \"$IMAGE\"", "2-30"},
  };
  for (const auto& c : cards) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string image = dir.File("card.img");
    ASSERT_EQ("0:",
              Shell("IMAGE='" + image + "'; truncate -s " + c.size + " \"$IMAGE\" && " + c.make));
    const std::string before = ImageFingerprint(image);
    LOOP_DEVICE_OR_SKIP(loop, image);
    const std::string state = "XDG_STATE_HOME='" + dir.File("state") + "'";
    ModeRun dry = RunDunmore(dir, "--dry-run " + loop.path(), state);
    EXPECT_TRUE(Contains(dry.out, "     Clears   " + c.clears + " (")) << dry.out;
    ModeRun yes = RunDunmore(dir, "--yes " + kClock + " " + loop.path(), state);
    ASSERT_EQ(0, yes.code) << yes.err;
    EXPECT_TRUE(Contains(yes.err, ": sectors " + c.clears + ", an old table's")) << yes.err;
    EXPECT_EQ("0:dos 0x1fe\n",
              Shell("wipefs -n --noheadings -O TYPE,OFFSET " + loop.path() + " | tr -s ' '"));
    EXPECT_EQ("0:" + loop.path() + ": PTTYPE=\"dos\"\n", Shell("blkid -p " + loop.path()));
    const std::string entry =
        Shell("sfdisk -d " + loop.path() + " | sed -n 's/.*start= *\\([0-9]*\\),.*/\\1/p'");
    ASSERT_EQ(0u, entry.find("0:")) << entry;
    const uint64_t start = std::stoull(entry.substr(2));
    EXPECT_EQ("0:vfat\n", Shell("blkid -p -o value -s TYPE -O " + std::to_string(start * 512) +
                                " " + loop.path()));
    ModeRun restore = RunDunmore(
        dir, "--restore '" + UndoFileNamed(yes.err) + "' --yes --force " + loop.path(), state);
    EXPECT_EQ(0, restore.code) << restore.err;
    EXPECT_EQ(before, ImageFingerprint(image));
  }
}

// --list lists a loop device only when named or with --all, and never offers
// a read-only one as a card to write.
TEST(CardAsItIs, LoopDevicesAreListedOnlyWhenAskedFor) {
  TempDir dir;
  CreateImage(dir.File("card.img"), MachineCard());
  CreateImage(dir.File("read-only.img"), MachineCard());
  LoopDevice loop(dir.File("card.img"));
  LoopDevice readOnly(dir.File("read-only.img"), false, true);
  if (!loop.usable() || !readOnly.usable()) GTEST_SKIP() << loop.reason() << readOnly.reason();
  ModeRun present = RunDunmore(dir, "--list");
  EXPECT_EQ(0, present.code) << present.err;
  EXPECT_FALSE(Contains(present.out, loop.path() + "\n")) << present.out;
  EXPECT_FALSE(Contains(present.out, readOnly.path() + "\n")) << present.out;
  ModeRun all = RunDunmore(dir, "--list --all --json");
  const std::string query =
      "w = {c['path']: (c['writable'], c['read_only']) for c in d['cards']}\n"
      "print(w['" +
      loop.path() + "'], w['" + readOnly.path() + "'])";
  EXPECT_EQ("(True, False) (False, True)\n", FromJson(dir, all.out, query));
}

// Not root: the cards that cannot be opened say why, with errno's text, and
// the listing still lists and prints a document.
TEST(CardAsItIs, ACardThatCannotBeOpenedSaysWhy) {
  if (geteuid() != 0 || Shell("command -v setpriv")[0] != '0') {
    GTEST_SKIP() << "needs root and setpriv to run the program as nobody";
  }
  TempDir dir;
  CreateImage(dir.File("card.img"), MachineCard());
  LOOP_DEVICE_OR_SKIP(loop, dir.File("card.img"));
  const std::string why = "cannot open: Permission denied (run as root)";
  const struct {
    std::string arguments;
    std::string said;   // the start of standard error
    std::string query;  // over the JSON document, when there is one
  } runs[] = {
      {"--list " + loop.path(), "dunmore: card " + loop.path() + ": " + why + "\n", ""},
      {"--list --json " + loop.path(), "dunmore: card " + loop.path() + ": " + why + "\n",
       "c = d['cards'][0]; print(c['opened'], c['open_error'], c['writable'])"},
      {"--list --all", "dunmore: ", ""},
      {"--list --all --json", "dunmore: ",
       "print([c['open_error'] for c in d['cards'] if c['path'] == '" + loop.path() + "'][0])"},
      {"--dry-run " + loop.path(), "dunmore: card " + loop.path() + ": " + why + "\n", ""},
  };
  for (const auto& r : runs) {
    SCOPED_TRACE(r.arguments);
    ModeRun run;
    std::string output;
    run.code = RunCommand(
        "{ cd / && setpriv --reuid=nobody --regid=nogroup --clear-groups '" DUNMORE_EXE "' " +
            r.arguments + " </dev/null >'" + dir.File("out") + "' 2>'" + dir.File("err") + "'; }",
        &output);
    run.out = ReadFile(dir.File("out"));
    run.err = ReadFile(dir.File("err"));
    EXPECT_EQ(1, run.code) << run.out << run.err;
    EXPECT_EQ(0u, run.err.find(r.said)) << run.err;
    EXPECT_TRUE(Contains(run.out + run.err, why)) << run.out << run.err;
    if (!r.query.empty()) {
      EXPECT_TRUE(Contains(FromJson(dir, run.out, r.query), why)) << run.out;
    }
  }
}

// What reaches a terminal and what reaches a JSON document, byte by byte.
TEST(CardAsItIs, TextIsEscapedAndJsonIsUtf8) {
  const struct {
    std::string bytes;
    std::string text;  // tool::Escaped
    std::string json;  // tool::JsonString
  } rows[] = {
      {"plain /dev/sdc", "plain /dev/sdc", "\"plain /dev/sdc\""},
      {"caf\xc3\xa9", "caf\xc3\xa9", "\"caf\xc3\xa9\""},
      {"a\nb\tc", "a\\x0ab\\x09c", "\"a\\nb\\tc\""},
      {"\x1b[31mred", "\\x1b[31mred", "\"\\u001b[31mred\""},
      {"\"q\" \\", "\"q\" \\", "\"\\\"q\\\" \\\\\""},
      {"\xff", "\\xff", "\"\\\\xff\""},
      {"\xc2\x9b", "\\xc2\\x9b", "\"\\u009b\""},                         // C1 CSI
      {"\xc0\xaf", "\\xc0\\xaf", "\"\\\\xc0\\\\xaf\""},                  // an overlong '/'
      {"\xed\xa0\x80", "\\xed\\xa0\\x80", "\"\\\\xed\\\\xa0\\\\x80\""},  // a surrogate
      {"\xe2\x82", "\\xe2\\x82", "\"\\\\xe2\\\\x82\""},                  // cut short
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(row.text, tool::Escaped(row.bytes));
    EXPECT_EQ(row.json, tool::JsonString(row.bytes).text);
  }
  EXPECT_EQ("CAF\xc3\x89\xc2\xbd \xe2\x96\x91\xce\xb1",
            tool::FromCodePage437("CAF\x90\xab \xb0\xe0"));
}

// The command that restores a card, word by word as a shell reads it back,
// and what a restore asks of a card's identity.
TEST(CardAsItIs, TheRestoreNamesTheCardAndChecksOnlyWhatCanBeChecked) {
  EXPECT_EQ("/dev/sdc", tool::ShellWord("/dev/sdc"));
  EXPECT_EQ("'my card.img'", tool::ShellWord("my card.img"));
  EXPECT_EQ("'it'\\''s'", tool::ShellWord("it's"));
  EXPECT_EQ("''", tool::ShellWord(""));

  tool::UndoHeader header;
  header.sectors = 125440;
  header.cylinders = 490;
  header.heads = 8;
  header.sectorsPerTrack = 32;
  header.model = "KESTREL CF 64MB";
  header.serialNumber = "KS1";
  tool::RestoreCard card{125440, 490, 8, 32, "KESTREL CF 64MB", "KS1", true};
  const struct {
    const char* what;
    bool headerKnown, headerFromMachineFile, cardsOwn;
    std::string said;  // without --force; empty: restored
  } rows[] = {
      {"both the card's own", true, false, true, ""},
      {"the card's a machine file's", true, false, false,
       "(the card's serial number is the machine file's, not its own)"},
      {"the file's a machine file's", false, true, true,
       "(the undo file's serial number was the machine file's)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    header.identityKnown = row.headerKnown;
    header.serialFromMachineFile = row.headerFromMachineFile;
    card.serialIsTheCards = row.cardsOwn;
    std::string difference = tool::CardDifference(header, card, false);
    EXPECT_TRUE(row.said.empty() ? difference.empty() : Contains(difference, row.said))
        << difference;
    EXPECT_EQ("", tool::CardDifference(header, card, true));
    // The flag goes through the file and back; a file of before it reads
    // as one whose serial is no machine file's.
    tool::UndoContents read;
    std::string why;
    ASSERT_TRUE(tool::ParseUndoFile(tool::EncodeUndoHeader(header), &read, &why)) << why;
    EXPECT_EQ(row.headerFromMachineFile, read.header.serialFromMachineFile);
    EXPECT_EQ(row.headerKnown, read.header.identityKnown);
  }
}
