// One command model: every combination of the modes' options either means
// something or is refused before anything is opened; --yes answers every
// question a mode asks and --dry-run writes, creates and keeps nothing, for
// the write, --restore and --make-bootable alike; and a failed write to
// standard output fails the run.
#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <string>

#include "support/image.h"
#include "support/loop_device.h"
#include "support/machine_text.h"
#include "support/support.h"
#include "tool/mode_run.h"
#include "tool/undo/undo_format.h"

using namespace testsupport;

namespace {

const std::string kClock = "--clock 1000000000";

// Every file and folder below the folders, hidden ones too, but the run's
// own output files.
std::string Tree(const std::string& folders) {
  std::string output;
  RunCommand("find " + folders + " ! -name 'mode.*' 2>/dev/null | LC_ALL=C sort", &output);
  return output;
}

}  // namespace

TEST(CommandModel, EachCombinationMeansWhatItSaysOrIsRefused) {
  TempDir dir;
  const std::string card = dir.File("card.img");
  // A card written by the program, with what the write overwrote kept: the
  // system's 280 sectors, and the 31 between the MBR and the volume, which
  // the pattern filled and the write clears.
  CreateImage(card, MachineCard());
  WriteSectorBytes(card, 0, std::vector<uint8_t>(64 * 512, 0x5A));
  const std::string fresh = ImageFingerprint(card);
  ModeRun write = RunDunmore(dir, "--yes " + kClock + " --undo u.undo card.img");
  ASSERT_EQ(0, write.code) << write.err;
  const std::string written = ImageFingerprint(card);
  ASSERT_NE(fresh, written);
  const std::string writtenCopy = dir.File("written.img");
  ASSERT_EQ("0:", Shell("cp --sparse=always '" + card + "' '" + writtenCopy + "'"));

  enum Card { kUnchanged, kChanged, kAsBeforeTheWrite };
  const struct {
    const char* what;
    std::string arguments;
    int code;
    std::string said;  // in standard output (when the run writes or lists) or standard error
    Card after;
  } rows[] = {
      // --yes answers the restore's question, as it answers the write's.
      {"--restore with --yes restores", "--restore u.undo --yes --force card.img", 0,
       "311 sectors in 2 records restored from u.undo", kAsBeforeTheWrite},
      {"--restore with --dry-run lists its sectors", "--restore u.undo --dry-run --force card.img",
       0, "card.img: what --restore u.undo would write\n     Writes   64-310, 1-63, 0 (311 sectors",
       kUnchanged},
      {"--restore with --list", "--restore u.undo --list card.img", 1,
       "dunmore: --list and --restore go one at a time\n", kUnchanged},
      {"--restore with --boot", "--restore u.undo --boot card.img", 1,
       "dunmore: --boot does not go with --restore", kUnchanged},
      {"--make-bootable with --dry-run writes nothing", "--make-bootable --dry-run card.img", 0,
       "card.img: what --make-bootable would write\n     Writes   32, 0 (2 sectors", kUnchanged},
      {"--make-bootable with --yes finishes unasked", "--make-bootable --yes card.img", 0,
       "Make the card bootable (Y/N)? Y (--yes)\n", kChanged},
      {"--make-bootable with --clock", "--make-bootable --clock 1 card.img", 1,
       "dunmore: --clock 1 does not go with --make-bootable", kUnchanged},
      {"--make-bootable without undo on a fixed disk",
       "--make-bootable --no-undo --fixed-disk /dev/sdz /dev/sdz", 1,
       "dunmore: --no-undo with --fixed-disk /dev/sdz: a fixed disk is written only with its "
       "undo file kept\n",
       kUnchanged},
      {"--force alone", "--force --yes card.img", 1, "dunmore: --force goes with --restore alone",
       kUnchanged},
      {"an option given twice", "--list --list card.img", 1, "dunmore: --list is given twice\n",
       kUnchanged},
      {"a clock past its range", "--clock 4294967296 --yes card.img", 1,
       "dunmore: --clock 4294967296: not a count of seconds since 1970 from 0 to 4294967295\n",
       kUnchanged},
      {"--dry-run with --yes", "--dry-run --yes card.img", 1,
       "dunmore: --list, --dry-run and --yes go one at a time\n", kUnchanged},
      {"--json with a restore that writes", "--restore u.undo --json card.img", 1,
       "dunmore: --json goes with --list, --undo-files or --dry-run\n", kUnchanged},
      {"--list with undo options", "--list --no-verify card.img", 1,
       "dunmore: --no-verify does not go with --list", kUnchanged},
      {"--undo-files with a card", "--undo-files card.img", 1,
       "dunmore: card card.img does not go with --undo-files: it lists the undo files of the "
       "default folder\n",
       kUnchanged},
      {"--undo-files with --yes", "--undo-files --yes", 1,
       "dunmore: --undo-files, --dry-run and --yes go one at a time\n", kUnchanged},
      {"--forget-undo with a number that is none", "--forget-undo 3x", 1,
       "dunmore: --forget-undo 3x: not a number of days from 0 to 36500\n", kUnchanged},
      {"--forget-undo with --restore", "--forget-undo 3 --restore u.undo card.img", 1,
       "dunmore: --restore and --forget-undo go one at a time\n", kUnchanged},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_EQ("0:", Shell("cp --sparse=always '" + writtenCopy + "' '" + card + "'"));
    ModeRun run = RunDunmore(dir, row.arguments);
    EXPECT_EQ(row.code, run.code) << run.out << run.err;
    if (row.code == 1) {
      // A refusal is one line, and nothing else is said but, for a mistake
      // of the command line's own, where to read more.
      EXPECT_EQ(0u, run.err.find(row.said)) << run.err;
      std::string more = run.err.substr(run.err.find('\n') + 1);
      EXPECT_TRUE(more.empty() || more == "Try 'dunmore --help' for more information.\n")
          << run.err;
      EXPECT_EQ("", run.out);
    } else {
      EXPECT_TRUE(Contains(run.out + run.err, row.said)) << run.out << run.err;
    }
    const std::string now = ImageFingerprint(card);
    switch (row.after) {
      case kUnchanged:
        EXPECT_EQ(written, now);
        break;
      case kChanged:
        EXPECT_NE(written, now);
        break;
      case kAsBeforeTheWrite:
        EXPECT_EQ(fresh, now);
        break;
    }
  }
}

// A dry run, of a write, a restore or the finishing step, on a block device
// (whose write keeps an undo file by default) and on a machine whose image
// is not there: no undo folder, no undo file, no image.
TEST(CommandModel, ADryRunCreatesNothing) {
  TempDir dir;
  const std::string image = dir.File("card.img");
  CreateImage(image, MachineCard());
  ASSERT_EQ(0, RunDunmore(dir, "--yes " + kClock + " --undo u.undo card.img").code);
  LOOP_DEVICE_OR_SKIP(loop, image);
  MachineCard missing;
  missing.image = "missing.img";
  WriteMachine(dir.path(), "missing.reg", MachineText(missing));
  const std::string environment =
      "HOME='" + dir.File("home") + "' XDG_STATE_HOME='" + dir.File("state") + "' ";
  const std::string before = Tree("'" + dir.path() + "'");
  const std::string fingerprint = ImageFingerprint(image);
  const struct {
    const char* what;
    std::string arguments;
    int code;
  } runs[] = {
      {"the write", "--dry-run --geometry 490x8x32 " + loop.path(), 0},
      {"the write with the finishing step", "--dry-run --boot --geometry 490x8x32 " + loop.path(),
       0},
      {"a restore", "--dry-run --force --restore u.undo --geometry 490x8x32 " + loop.path(), 0},
      {"the finishing step", "--dry-run --make-bootable --geometry 490x8x32 " + loop.path(), 0},
      {"a machine whose image is not there", "--dry-run --machine missing.reg", 1},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run.what);
    ModeRun dry = RunDunmore(dir, run.arguments, environment);
    EXPECT_EQ(run.code, dry.code) << dry.out << dry.err;
    EXPECT_EQ(before, Tree("'" + dir.path() + "'"));
    EXPECT_EQ(fingerprint, ImageFingerprint(image));
  }
}

TEST(CommandModel, AStandardOutputThatCannotBeWrittenFailsTheRun) {
  TempDir dir;
  CreateImage(dir.File("card.img"), MachineCard());
  for (const char* arguments : {"--help", "--version", "--dry-run card.img",
                                "--list --json card.img", "--yes --clock 1 card.img"}) {
    SCOPED_TRACE(arguments);
    std::string output;
    int status = RunCommand("{ cd '" + dir.path() + "' && '" DUNMORE_EXE "' " + arguments +
                                " </dev/null >/dev/full 2>err; }",
                            &output);
    EXPECT_EQ(1, status);
    std::string error = ReadFile(dir.File("err"));
    EXPECT_EQ(0u, error.find("dunmore: standard output: cannot be written")) << error;
    EXPECT_EQ(1, std::count(error.begin(), error.end(), '\n')) << error;
  }
}

// The default folder's undo files listed, as text and as JSON, and those
// begun more than DAYS days ago removed only when the user says so; a
// file that is no undo file is listed and never removed.
TEST(CommandModel, TheUndoFolderIsListedAndOldFilesGoOnlyWhenAsked) {
  TempDir dir;
  const std::string folder = dir.File("state/dunmore");
  ASSERT_EQ("0:", Shell("mkdir -p '" + folder + "'"));
  tool::UndoHeader header;
  header.sectors = 125440;
  header.model = "KESTREL CF 64MB";
  header.serialNumber = "KS10012345";
  header.identityKnown = true;
  const std::vector<uint8_t> sectors(2 * 512, 0x5A);
  auto file = [&](int64_t begun) {
    header.time = begun;
    uint32_t records = 0, count = 0;
    std::vector<uint8_t> bytes =
        tool::EncodeUndoFile(header, {{32, 2, sectors.data()}}, &records, &count);
    return std::string(bytes.begin(), bytes.end());
  };
  const int64_t now = time(nullptr);
  const std::string old = file(now - 40 * 24 * 3600);
  WriteFile(folder + "/old.undo", old);
  WriteFile(folder + "/cut.undo", file(now - 60).substr(0, old.size() - 16));
  std::string damaged = file(now);
  damaged[200] ^= 0x01;
  WriteFile(folder + "/damaged.undo", damaged);
  WriteFile(folder + "/notes.txt", "mine");
  const std::string state = "XDG_STATE_HOME='" + dir.File("state") + "'";

  ModeRun text = RunDunmore(dir, "--undo-files", state);
  ASSERT_EQ(0, text.code) << text.err;
  EXPECT_TRUE(Contains(text.out, folder + "/old.undo\n     KESTREL CF 64MB, S/N KS10012345, 125440 "
                                          "sectors, begun "))
      << text.out;
  EXPECT_TRUE(Contains(text.out, std::to_string(old.size()) + " bytes, whole\n")) << text.out;
  EXPECT_TRUE(Contains(text.out, " bytes, cut short\n")) << text.out;
  EXPECT_TRUE(Contains(text.out, " bytes, damaged (the undo file's record 1")) << text.out;
  EXPECT_TRUE(Contains(text.out, "notes.txt\n     no undo file (")) << text.out;
  EXPECT_TRUE(Contains(text.out, "4 files, ")) << text.out;
  ModeRun json = RunDunmore(dir, "--undo-files --json", state);
  ASSERT_EQ(0, json.code) << json.err;
  EXPECT_EQ("['whole', 'cut short', 'damaged', 'no undo file'] KS10012345 2\n",
            FromJson(dir, json.out,
                     "print([f['state'] for f in d['files']], d['files'][0]['serial'], "
                     "d['files'][0]['version'])"));

  auto left = [&] {
    std::string names;
    RunCommand("ls '" + folder + "' | tr '\\n' ' '", &names);
    return names;
  };
  const std::string all = "cut.undo damaged.undo notes.txt old.undo ";
  ASSERT_EQ(all, left());
  const struct {
    const char* what;
    std::string arguments;
    std::string said;
    std::string remaining;
  } steps[] = {
      {"a dry run lists what would go", "--forget-undo 30 --dry-run", "old.undo", all},
      {"not answered", "--forget-undo 30", "Nothing removed.", all},
      {"older than 30 days", "--forget-undo 30 --yes", "Removed 1 undo file.",
       "cut.undo damaged.undo notes.txt "},
      {"every undo file", "--forget-undo 0 --yes", "Removed 2 undo files.", "notes.txt "},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    ModeRun run = RunDunmore(dir, step.arguments, state);
    EXPECT_EQ(0, run.code) << run.err;
    EXPECT_TRUE(Contains(run.out, step.said)) << run.out;
    EXPECT_EQ(step.remaining, left());
  }
}
