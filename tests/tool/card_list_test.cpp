// --list and --list --json on loop devices standing in for card readers:
// what they show is what the interactive main screen shows of the same card,
// and no card is changed. The cards are made by sfdisk, mkfs.fat and
// mkfs.ext2, as they come from elsewhere.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/card/sat_identify.h"
#include "support/image.h"
#include "support/loop_device.h"
#include "support/machine_text.h"
#include "support/program_run.h"
#include "tool/mode_run.h"
#include "tool/modes/card_scan.h"
#include "tool/modes/report_output.h"

using namespace testsupport;

namespace {

const char kGeometry[] = "490x8x32";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string RightTrimmed(std::string text) {
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

// The main screen's rows of both geometries and of each partition, as the
// interactive program shows the card before any key.
std::vector<std::string> MainScreenRows(const TempDir& dir, const std::string& device) {
  ProgramRun run(dir.path(), "", {{"DUNMORE_CARD", device}, {"DUNMORE_GEOMETRY", kGeometry}});
  Screen screen;
  std::vector<std::string> rows;
  EXPECT_TRUE(run.WaitForKeyWait(&screen));
  rows.push_back(RightTrimmed(screen.Row(7)));
  rows.push_back(RightTrimmed(screen.Row(8)));
  for (int row = 12; row < 16 && !RightTrimmed(screen.Row(row)).empty(); ++row) {
    rows.push_back(RightTrimmed(screen.Row(row)));
  }
  EXPECT_EQ(2, run.TypeAndWaitExit(kEsc));
  return rows;
}

// The same rows out of --list's text.
std::vector<std::string> ListedRows(const std::string& text) {
  std::vector<std::string> rows;
  bool inTable = false;
  for (const std::string& line : Lines(text)) {
    if (line.find("     Physical") == 0 || line.find("     Logical") == 0) rows.push_back(line);
    if (inTable && (line.empty() || line.find("     Mounted") == 0)) inTable = false;
    if (inTable) rows.push_back(line);
    if (line.find("     Type      Cyl") == 0) inTable = true;
  }
  return rows;
}

// Each screen row's words: what the JSON must say of the card, field by field.
std::string Words(const std::vector<std::string>& rows) {
  std::string words;
  for (const std::string& row : rows) {
    std::istringstream in(row);
    for (std::string word; in >> word;) {
      if (word != "Physical" && word != "Logical" && word != "cylinders" && word != "x" &&
          word != "heads" && word != "sectors") {
        words += word + " ";
      }
    }
    words += "\n";
  }
  return words;
}

// The JSON's card in the same words: a file system found nowhere is the
// screen's UNKNOWN, an extended partition's none at all.
const char kJsonWords[] = R"(c = d["cards"][0]
assert c["geometry_from"] == "--geometry", c
for g in (c["physical"], c["logical"]):
    print("%d %d %d " % (g["cylinders"], g["heads"], g["sectors"]))
for p in c["partitions"]:
    system = p["system"] or ("" if p["type"] in ("5", "f") else "UNKNOWN")
    w = [p["type_name"], p["chs_start"]["cylinder"], p["chs_start"]["head"], p["chs_start"]["sector"],
         p["chs_end"]["cylinder"], p["chs_end"]["head"], p["chs_end"]["sector"], p["mb"], system,
         p["label"]]
    print("".join("%s " % x for x in w if x not in (None, "")))
)";

// Each partition's first sector, size and type, as sfdisk's JSON gives
// them and as the listing's does.
const char kSfdiskEntries[] = R"(print(sorted((p["start"], p["size"], p["type"])
             for p in d["partitiontable"]["partitions"])))";
const char kListedEntries[] = R"(print(sorted((p["start"], p["size"], p["type"])
             for p in d["cards"][0]["partitions"])))";

struct MadeCard {
  const char* name;
  std::string make;  // shell commands on $IMAGE (before the loop device)
  int partitions;
  // The entries the listing gives, where sfdisk reads another table than
  // the MBR (a GPT); else sfdisk's.
  std::string entries;
};

}  // namespace

TEST(CardList, ACardIsListedAsTheMainScreenShowsItAndLeftAsItWas) {
  const MadeCard cards[] = {
      {"an empty card", "true", 0, ""},
      {"a FAT16 card with a label",
       "echo 'start=32,type=6' | sfdisk -q \"$IMAGE\" && "
       "mkfs.fat -F 16 -n FLEET01 --offset 32 \"$IMAGE\" >/dev/null",
       1, ""},
      {"four partitions",
       "printf 'start=32,size=20000,type=6\\nstart=20032,size=20000,type=b\\n"
       "start=40032,size=20000,type=83\\nstart=60032,type=5\\n' | sfdisk -q \"$IMAGE\" && "
       "mkfs.fat -F 16 -n FIRST --offset 32 \"$IMAGE\" 10000 >/dev/null",
       4, ""},
      {"a GPT card", "echo 'start=2048,type=L' | sfdisk -q --label gpt \"$IMAGE\"", 1,
       "[(1, 125439, 'ee')]\n"},
  };
  for (const MadeCard& made : cards) {
    SCOPED_TRACE(made.name);
    TempDir dir;
    std::string image = dir.File("card.img");
    CreateImage(image, MachineCard());
    ASSERT_EQ("0:", Shell("IMAGE='" + image + "'; " + made.make));
    std::string before = ImageFingerprint(image);
    {
      LOOP_DEVICE_OR_SKIP(loop, image);
      ModeRun text =
          RunDunmore(dir, std::string("--list --geometry ") + kGeometry + " " + loop.path());
      ModeRun json =
          RunDunmore(dir, std::string("-l --json --geometry ") + kGeometry + " " + loop.path());
      ASSERT_EQ(0, text.code) << text.err;
      ASSERT_EQ(0, json.code) << json.err;
      std::vector<std::string> screen = MainScreenRows(dir, loop.path());
      EXPECT_EQ(2u + made.partitions, screen.size());
      EXPECT_EQ(screen, ListedRows(text.out)) << text.out;
      EXPECT_EQ(Words(screen), FromJson(dir, json.out, kJsonWords)) << json.out;
      EXPECT_EQ(loop.path() + "\n", FromJson(dir, json.out,
                                             "print(d['cards'][0]['path']); "
                                             "assert d['cards'][0]['mounts'] == []"));
      std::string expected = made.partitions == 0 ? "[]\n" : made.entries;
      if (expected.empty()) {
        std::string sfdisk;
        ASSERT_EQ(0, RunCommand("sfdisk -J '" + image + "'", &sfdisk)) << sfdisk;
        expected = FromJson(dir, sfdisk, kSfdiskEntries);
      }
      EXPECT_EQ(expected, FromJson(dir, json.out, kListedEntries));
      EXPECT_NE(std::string::npos, text.out.find("1 card; "));
    }
    EXPECT_EQ(before, ImageFingerprint(image)) << "the card was changed";
  }
}

// A mounted card is listed with its mount point while the interactive run
// refuses it; listing it takes nothing from the mount.
TEST(CardList, AMountedCardIsListedWithItsMountPoint) {
  TempDir dir;
  std::string image = dir.File("card.img");
  CreateImage(image, MachineCard());
  LOOP_DEVICE_OR_SKIP(loop, image);
  ASSERT_EQ("0:", Shell("mkfs.ext2 -q '" + loop.path() + "'"));
  std::string point = dir.File("mnt");
  ASSERT_EQ("0:", Shell("mkdir '" + point + "'"));
  if (mount(loop.path().c_str(), point.c_str(), "ext2", MS_RDONLY, nullptr) != 0) {
    GTEST_SKIP() << "this machine mounts no ext2 file system";
  }
  std::string before = ImageFingerprint(image);
  ModeRun text = RunDunmore(dir, std::string("--list --geometry ") + kGeometry + " " + loop.path());
  ModeRun json =
      RunDunmore(dir, std::string("--list --json --geometry ") + kGeometry + " " + loop.path());
  ProgramRun run(dir.path(), "", {{"DUNMORE_CARD", loop.path()}, {"DUNMORE_GEOMETRY", kGeometry}});
  Screen screen;
  EXPECT_TRUE(run.WaitForKeyWait(&screen));
  EXPECT_EQ("PC Card HDD used other!", screen.At(20, 15, 23));
  EXPECT_EQ(1, run.TypeAndWaitExit(kEsc));
  EXPECT_EQ(0, umount(point.c_str()));
  EXPECT_EQ(0, text.code) << text.err;
  EXPECT_NE(std::string::npos,
            text.out.find("     Mounted  " + loop.path() + " on " + point + "\n"))
      << text.out;
  EXPECT_EQ(loop.path() + " " + point + " 0\n",
            FromJson(dir, json.out,
                     "c = d['cards'][0]; m = c['mounts'][0]; print(m['device'], m['mount_point'], "
                     "len(c['partitions']))"));
  EXPECT_EQ(before, ImageFingerprint(image));
}

namespace {

// A folder shaped as sysfs with the disks of a machine, and a folder of
// device nodes in which only some can be opened.
struct FakeMachine {
  TempDir dir;
  std::string sysfs = dir.File("sys");
  std::string devices = dir.File("dev");

  void Disk(const std::string& name, const std::string& removable, uint64_t sectors,
            bool hardware = true) {
    std::string folder = sysfs + "/block/" + name;
    EXPECT_EQ("0:", Shell("mkdir -p '" + folder + (hardware ? "/device'" : "'")));
    WriteFile(folder + "/removable", removable + "\n");
    WriteFile(folder + "/size", std::to_string(sectors) + "\n");
  }
  void Loop(const std::string& name, const std::string& backingFile) {
    Disk(name, "0", 125440, false);
    EXPECT_EQ("0:", Shell("mkdir -p '" + sysfs + "/block/" + name + "/loop'"));
    if (!backingFile.empty()) {
      WriteFile(sysfs + "/block/" + name + "/loop/backing_file", backingFile + "\n");
    }
  }
  void Node(const std::string& name) {
    EXPECT_EQ("0:", Shell("mkdir -p '" + devices + "'"));
    WriteFile(devices + "/" + name, "");
  }
};

// Every device answers IDENTIFY DEVICE as a CompactFlash card.
int CompactFlashAnswer(int /*fd*/, sg_io_hdr_t* request) {
  uint8_t* block = static_cast<uint8_t*>(request->dxferp);
  std::fill(block, block + 512, 0);
  block[0] = 0x8A;
  block[1] = 0x84;
  block[2] = 16;   // word 1: cylinders
  block[6] = 4;    // word 3: heads
  block[12] = 32;  // word 6: sectors per track
  request->status = 0;
  request->resid = 0;
  return 0;
}

}  // namespace

TEST(CardList, FixedDisksAreLeftOutAndCounted) {
  FakeMachine machine;
  machine.Disk("sda", "0", 134217728);      // a fixed disk
  machine.Disk("sdb", "1", 7864320);        // a card reader with a card
  machine.Disk("sdc", "1", 0);              // a card reader without one
  machine.Disk("sdd", "0", 125440);         // a CompactFlash card in a bridge
  machine.Disk("sde", "0", 125440);         // a fixed disk that cannot be opened
  machine.Disk("zram0", "0", 8192, false);  // memory, no reader
  machine.Loop("loop0", "/srv/card.img");
  machine.Loop("loop1", "");  // no file attached
  machine.Node("sdd");
  const std::string d = machine.devices + "/";
  // A loop device is listed only when asked for: a machine has many that
  // are nobody's card.
  for (bool loops : {false, true}) {
    SCOPED_TRACE(loops ? "with the loop devices" : "without them");
    tool::CardScan scan =
        tool::ScanCards(loops, machine.sysfs, machine.devices, CompactFlashAnswer);
    std::vector<std::string> cards = {d + "sdb", d + "sdc", d + "sdd"};
    if (loops) cards.insert(cards.begin(), d + "loop0");
    EXPECT_EQ(cards, scan.cards);
    EXPECT_EQ((std::vector<std::string>{d + "sda", d + "sde"}), scan.fixedDisks);
    std::string text = tool::ListingText({}, scan.fixedDisks);
    EXPECT_EQ(0u, text.find("0 cards; 2 fixed disks left out: " + d + "sda " + d + "sde ("))
        << text;
  }
}

// A card that answers IDENTIFY DEVICE keeps its own geometry: --geometry is
// set aside, and the listing says so.
TEST(CardList, ACardThatAnswersKeepsItsOwnGeometry) {
  TempDir dir;
  CreateImage(dir.File("card.img"), MachineCard());
  LOOP_DEVICE_OR_SKIP(loop, dir.File("card.img"));
  host::MachineOptions settings;
  settings.geometry.value = kGeometry;
  tool::BeginSurvey();
  tool::SurveyedCard card = tool::SurveyCardAt(settings, loop.path(), CompactFlashAnswer);
  host::UseCardMedia(host::MediaUse::kWrite);
  ASSERT_TRUE(card.read) << card.refusal;
  EXPECT_EQ(host::GeometrySource::kIdentify, card.geometrySource);
  EXPECT_EQ(16, card.report.physicalCylinders);
  EXPECT_EQ(4, card.report.physicalHeads);
  EXPECT_NE(std::string::npos,
            tool::ListingText({card}, {})
                .find("     Geometry from IDENTIFY DEVICE, the card's own; --geometry is set "
                      "aside\n"))
      << tool::ListingText({card}, {});
}

// Each partition of the listing is named by the table entry behind it: its
// place in the table (the kernel's partition number, also when entries
// before it are empty), its LBA start and size, and the node the kernel made
// of it, found in sysfs by the device's number.
TEST(CardList, APartitionIsNamedByItsEntryAndTheKernelsNode) {
  TempDir dir;
  const std::string image = dir.File("card.img");
  CreateImage(image, MachineCard());
  ASSERT_EQ("0:", Shell("printf 'label: dos\\ncard.img2 : start=32, size=2000, type=6\\n"
                        "card.img4 : start=4096, size=8192, type=b\\n' | sfdisk -q '" +
                        image + "'"));
  LOOP_DEVICE_OR_SKIP(loop, image);
  struct stat status;
  ASSERT_EQ(0, stat(loop.path().c_str(), &status));
  const std::string name = loop.Name();
  const std::string sysfs = dir.File("sys");
  const std::string disk = sysfs + "/devices/virtual/block/" + name;
  ASSERT_EQ("0:", Shell("mkdir -p '" + disk + "/loop' '" + disk + "/" + name + "p2' '" + disk +
                        "/" + name + "p4' '" + sysfs + "/dev/block' && ln -s '" + disk + "' '" +
                        sysfs + "/dev/block/" + std::to_string(major(status.st_rdev)) + ":" +
                        std::to_string(minor(status.st_rdev)) + "'"));
  WriteFile(disk + "/" + name + "p2/partition", "2\n");
  WriteFile(disk + "/" + name + "p4/partition", "4\n");
  host::MachineOptions settings;
  settings.geometry.value = kGeometry;
  tool::BeginSurvey();
  tool::SurveyedCard card = tool::SurveyCardAt(settings, loop.path(), host::KernelSgIo, sysfs);
  host::UseCardMedia(host::MediaUse::kWrite);
  ASSERT_TRUE(card.read) << card.refusal;
  EXPECT_EQ("2 32 2000 6 /dev/" + name + "p2\n4 4096 8192 b /dev/" + name + "p4\n",
            FromJson(dir, tool::ListingJson({card}, {}),
                     "for p in d['cards'][0]['partitions']:\n"
                     "    print(p['number'], p['start'], p['size'], p['type'], p['node'])"));
}
