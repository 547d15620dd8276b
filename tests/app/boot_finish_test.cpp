// The finishing step of --boot, --bios and --make-bootable: on cards made by
// sfdisk and mkfs.fat and by the program itself, every byte outside the boot
// code areas, the active flag and (with --bios) the CHS values stays; the
// refusals; and a card cut off between the finishing writes.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "support/image.h"
#include "support/program_run.h"
#include "support/support.h"
#include "tool/finish/boot_code.h"
#include "tool/finish/finish_card.h"

using namespace testsupport;

namespace {

constexpr int kSector = 512;

// A card image of `megabytes` MB with one partition at 2048 of sfdisk's
// type, formatted by mkfs.fat with the options.
std::string SfdiskCard(const TempDir& dir, int megabytes, const std::string& type,
                       const std::string& mkfs) {
  std::string image = dir.File("card.img");
  std::string volume = dir.File("volume.img");
  uint64_t sectors = static_cast<uint64_t>(megabytes) * 2048;
  EXPECT_EQ("0:", Shell("truncate -s " + std::to_string(megabytes) + "M '" + image + "'"));
  EXPECT_EQ('0', Shell("echo 'start=2048, type=" + type + "' | sfdisk -q '" + image + "'")[0]);
  EXPECT_EQ('0', Shell("truncate -s " + std::to_string((sectors - 2048) * kSector) + " '" + volume +
                       "' && mkfs.fat " + mkfs + " -h 2048 -i 12345678 '" + volume + "'")[0]);
  EXPECT_EQ('0', Shell("dd if='" + volume + "' of='" + image +
                       "' bs=512 seek=2048 conv=notrunc,sparse status=none")[0]);
  unlink(volume.c_str());
  return image;
}

std::vector<uint8_t> WholeImage(const std::string& image) {
  std::string bytes = ReadFile(image);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// The byte offsets where before and after differ.
std::set<uint64_t> Changed(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after) {
  std::set<uint64_t> changed;
  EXPECT_EQ(before.size(), after.size());
  for (size_t i = 0; i < before.size() && i < after.size(); ++i) {
    if (before[i] != after[i]) changed.insert(i);
  }
  return changed;
}

// Whether offset lies in a place the finishing step may change: the MBR's
// code, the first entry's flag (and CHS bytes with a geometry), a boot
// sector's jump and code area (and heads and sectors with a geometry).
bool MayChange(uint64_t offset, const std::vector<uint64_t>& bootSectors, int codeArea,
               bool geometry) {
  if (offset < 440 || offset == 446) return true;
  if (geometry && ((offset >= 447 && offset <= 449) || (offset >= 451 && offset <= 453)))
    return true;
  for (uint64_t sector : bootSectors) {
    uint64_t at = sector * kSector;
    if (offset < at || offset >= at + kSector) continue;
    uint64_t in = offset - at;
    if (in < 3 || (in >= static_cast<uint64_t>(codeArea) && in < 510)) return true;
    if (geometry && in >= 24 && in < 28) return true;
  }
  return false;
}

int MakeBootable(const TempDir& dir, const std::string& arguments, const std::string& answer,
                 std::string* out, std::string* err) {
  std::string output;
  int status = RunCommand("(cd '" + dir.path() + "' && printf '" + answer +
                              "' | '" DUNMORE_EXE "' --make-bootable " + arguments + " >out 2>err)",
                          &output);
  *out = ReadFile(dir.File("out"));
  *err = ReadFile(dir.File("err"));
  return status;
}

TEST(BootFinish, MakeBootableChangesOnlyTheBootCodeAndTheFlag) {
  const struct {
    const char* what;
    int megabytes;
    const char* type;
    const char* mkfs;
    std::vector<uint64_t> bootSectors;  // the boot sector and its copy
    int codeArea;
    const char* bios;  // extra arguments
    int heads;         // the BPB's afterwards; 0: as mkfs.fat made it
    uint8_t start[3];  // the entry's start CHS bytes afterwards, with heads
  } cases[] = {
      {"FAT16", 64, "6", "-F 16", {2048}, 0x3E, "", 0, {}},
      {"FAT32", 64, "c", "-F 32 -s 1", {2048, 2054}, 0x5A, "", 0, {}},
      // Sector 2048 is (2, 0, 33) under 16 heads and (0, 32, 33) under 255.
      {"FAT16 for LBA-assist", 64, "6", "-F 16", {2048}, 0x3E, "--bios lba", 16, {0, 33, 2}},
      {"FAT32 for 255 x 63",
       300,
       "c",
       "-F 32",
       {2048, 2054},
       0x5A,
       "--bios-geometry 255x63",
       255,
       {32, 33, 0}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    std::string image = SfdiskCard(dir, c.megabytes, c.type, c.mkfs);
    std::vector<uint8_t> before = WholeImage(image);
    std::string out, err;
    // Declined: nothing written.
    EXPECT_EQ(0, MakeBootable(dir, std::string(c.bios) + " card.img", "n\\n", &out, &err))
        << c.what << err;
    EXPECT_TRUE(Contains(out, "Nothing written")) << out;
    EXPECT_TRUE(Changed(before, WholeImage(image)).empty()) << c.what;

    EXPECT_EQ(0, MakeBootable(dir, std::string(c.bios) + " card.img", "Y\\n", &out, &err))
        << c.what << err;
    EXPECT_TRUE(Contains(out, "marked active")) << out;
    std::vector<uint8_t> after = WholeImage(image);
    std::set<uint64_t> changed = Changed(before, after);
    EXPECT_FALSE(changed.empty()) << c.what;
    for (uint64_t offset : changed) {
      EXPECT_TRUE(MayChange(offset, c.bootSectors, c.codeArea, c.heads != 0))
          << c.what << ": byte " << offset << " changed";
    }
    EXPECT_EQ(0x80, after[446]) << c.what;
    EXPECT_EQ(0, std::memcmp(after.data(), tool::kMbrBootCode.bytes, tool::kMbrBootCode.size));
    const tool::BootCode& code = c.codeArea == 0x3E ? tool::kFat16BootCode : tool::kFat32BootCode;
    for (uint64_t sector : c.bootSectors) {
      const uint8_t* boot = after.data() + sector * kSector;
      EXPECT_EQ(0xEB, boot[0]) << c.what;
      EXPECT_EQ(c.codeArea, boot[1] + 2) << c.what << ": the jump leads elsewhere";
      EXPECT_EQ(0, std::memcmp(boot + c.codeArea, code.bytes, code.size)) << c.what;
      if (c.heads != 0) {
        EXPECT_EQ(c.heads, Le16(after, sector * kSector + 26)) << c.what;
        EXPECT_EQ(63u, Le16(after, sector * kSector + 24)) << c.what;
      }
    }
    if (c.heads != 0) {
      EXPECT_EQ(0, std::memcmp(after.data() + 447, c.start, 3)) << c.what;
    }
    ExpectJudgedPartition(dir, image, 2048, static_cast<uint32_t>(c.megabytes * 2048 - 2048),
                          std::string(c.type) + ", bootable");
  }
}

TEST(BootFinish, MakeBootableRefusesWhatItCannotFinish) {
  const struct {
    const char* what;
    const char* prepare;  // shell, in the folder, making card.img
    const char* arguments;
    const char* said;
  } cases[] = {
      {"no CARD", "truncate -s 1M card.img", "", "--make-bootable needs CARD"},
      {"no card there", "true", "missing.img", "missing.img: no such file"},
      {"a folder", "mkdir card.img", "card.img", "not an image file or a block device"},
      {"no partition table", "truncate -s 8M card.img", "card.img", "no partition table"},
      {"no partition", "truncate -s 8M card.img && echo 'label: dos' | sfdisk -q card.img",
       "card.img", "it has no partition"},
      {"two partitions",
       "truncate -s 64M card.img && printf 'start=2048,size=60000,type=6\\nstart=70000,type=6\\n' "
       "| sfdisk -q card.img",
       "card.img", "it has 2 partitions"},
      {"a Linux partition",
       "truncate -s 8M card.img && echo 'start=2048,type=83' | sfdisk -q card.img", "card.img",
       "of type 83h, not FAT16 or FAT32"},
      {"a FAT type without a FAT volume",
       "truncate -s 8M card.img && echo 'start=2048,type=6' | sfdisk -q card.img", "card.img",
       "holds no FAT boot sector"},
      {"a FAT16 volume under a FAT32 type",
       "truncate -s 64M card.img && echo 'start=2048,type=c' | sfdisk -q card.img && "
       "truncate -s 63M v.img && mkfs.fat -F 16 v.img >/dev/null && "
       "dd if=v.img of=card.img bs=512 seek=2048 conv=notrunc status=none && rm v.img",
       "card.img", "its partition's type is 0Ch but it holds a FAT12/16 volume"},
      {"a partition past the card's end",
       "truncate -s 64M card.img && echo 'start=2048,type=6' | sfdisk -q card.img && "
       "truncate -s 4M card.img",
       "card.img", "does not lie within the card's 8192 sectors"},
      {"a BIOS geometry of 256 heads", "truncate -s 1M card.img", "--bios-geometry 256x63 card.img",
       "--bios-geometry 256x63: 256 heads (a BIOS presents 1 to 255)"},
      {"64 sectors per track", "truncate -s 1M card.img", "--bios-geometry 16x64 card.img",
       "64 sectors per track"},
      {"no such preset", "truncate -s 1M card.img", "--bios large card.img",
       "--bios large: no such BIOS translation"},
      {"a preset and a geometry", "truncate -s 1M card.img",
       "--bios lba --bios-geometry 16x63 card.img", "give one of them"},
      {"NORMAL without the card's geometry", "truncate -s 1M card.img", "--bios normal card.img",
       "the card's own heads and sectors are not known"},
      {"NORMAL past 1024 cylinders", "truncate -s 2064384000 card.img",
       "--bios normal --geometry 4000x16x63 card.img", "more than the 1024"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    EXPECT_EQ('0', Shell("cd '" + dir.path() + "' && " + c.prepare)[0]) << c.what;
    std::string fingerprint = ImageFingerprint(dir.File("card.img"));
    std::string out, err;
    EXPECT_EQ(1, MakeBootable(dir, c.arguments, "Y\\n", &out, &err)) << c.what;
    EXPECT_EQ(0u, err.rfind("dunmore: ", 0)) << c.what << ": " << err;
    EXPECT_TRUE(Contains(err, c.said)) << c.what << ": " << err;
    EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << c.what << ": " << err;
    EXPECT_EQ("", out) << c.what;
    EXPECT_EQ(fingerprint, ImageFingerprint(dir.File("card.img"))) << c.what;
  }
}

// A card whose writes stop after the first n sectors, as a process killed
// in the middle of the finishing step leaves it.
class CutOffCard : public tool::SectorIo {
 public:
  CutOffCard(std::vector<uint8_t>* bytes, int writes) : bytes_(bytes), writes_(writes) {}
  bool Read(uint32_t sector, uint8_t data[kSector]) override {
    std::memcpy(data, bytes_->data() + static_cast<size_t>(sector) * kSector, kSector);
    return true;
  }
  bool Write(uint32_t sector, const uint8_t data[kSector]) override {
    if (writes_ == 0) return false;
    --writes_;
    std::memcpy(bytes_->data() + static_cast<size_t>(sector) * kSector, data, kSector);
    return true;
  }

 private:
  std::vector<uint8_t>* bytes_;
  int writes_;
};

TEST(BootFinish, ACardCutOffWhileFinishedStaysAValidCardThatDoesNotStart) {
  TempDir dir;
  std::string image = SfdiskCard(dir, 64, "c", "-F 32 -s 1");
  const std::vector<uint8_t> before = WholeImage(image);
  tool::FinishOptions options;
  options.bootCode = true;
  // Three writes: the boot sector's copy, the boot sector, the MBR.
  for (int writes = 0; writes <= 3; ++writes) {
    std::vector<uint8_t> bytes = before;
    CutOffCard card(&bytes, writes);
    tool::FinishedCard found;
    std::string why;
    ASSERT_TRUE(tool::InspectCard(&card, bytes.size() / kSector, &found, &why)) << why;
    EXPECT_EQ(writes == 3, tool::FinishCard(&card, found, options, &why)) << writes;
    // Until the last write the MBR is the one before: no code, no active
    // entry; the volume checks clean after every write.
    bool mbrSame = std::memcmp(bytes.data(), before.data(), kSector) == 0;
    EXPECT_EQ(writes < 3, mbrSame) << writes;
    std::string cut = dir.File("cut.img");
    WriteFile(cut, std::string(bytes.begin(), bytes.end()));
    ExpectJudgedPartition(dir, cut, 2048, 64 * 2048 - 2048, writes == 3 ? "c, bootable" : "c");
  }
}

TEST(BootFinish, BiosGeometries) {
  const uint64_t k504MB = 1024ull * 16 * 63;
  const struct {
    uint64_t sectors;
    int heads;
  } lba[] = {{1, 16},
             {k504MB, 16},
             {k504MB + 1, 32},
             {k504MB * 2, 32},
             {k504MB * 2 + 1, 64},
             {k504MB * 8, 128},
             {k504MB * 8 + 1, 255},
             {16383ull * 16 * 63, 255}};
  for (const auto& c : lba) {
    tool::BiosGeometry g = tool::LbaAssistGeometry(c.sectors);
    EXPECT_EQ(c.heads, g.heads) << c.sectors;
    EXPECT_EQ(63, g.sectors) << c.sectors;
  }
  const struct {
    uint32_t lba;
    int heads;
    uint8_t chs[3];
  } chs[] = {
      {63, 16, {1, 1, 0}},                                // (0, 1, 1)
      {2048, 255, {32, 33, 0}},                           // (0, 32, 33)
      {1024u * 16 * 63 - 1, 16, {15, 0xFF, 0xFF}},        // (1023, 15, 63): the last one
      {1024u * 16 * 63, 16, {15, 0xFF, 0xFF}},            // past it: 1023/15/63
      {1024u * 255 * 63, 255, {254, 0xFF, 0xFF}},         // 1023/254/63
      {300 * 255 * 63 + 5, 255, {0, 0x06 | 0x40, 0x2C}},  // (300, 0, 6)
  };
  for (const auto& c : chs) {
    uint8_t got[3];
    tool::EncodeBiosChs(c.lba, tool::BiosGeometry{c.heads, 63}, got);
    EXPECT_EQ(0, std::memcmp(got, c.chs, 3))
        << c.lba << ": " << int(got[0]) << " " << int(got[1]) << " " << int(got[2]);
  }
}

// The whole program: --boot and --bios on the card it writes, the note after
// the write, and the refusal at boot of a geometry that cannot describe it.
TEST(BootFinish, TheProgramFinishesTheCardItWrote) {
  TempDir plain, booted;
  const std::vector<std::string> card = {"card.img", "--geometry", "2000x16x63", "--clock",
                                         "1000000000"};
  for (const TempDir* dir : {&plain, &booted}) {
    RunOptions options;
    options.arguments = card;
    options.standardError = dir->File("err");
    if (dir == &booted) {
      options.arguments.insert(options.arguments.end(), {"--boot", "--bios", "lba"});
    }
    ProgramRun run(dir->path(), "", {}, options);
    Screen screen;
    ASSERT_TRUE(run.WaitForKeyWait(&screen));
    // The main screen's Logical line stays the system's own translation.
    EXPECT_TRUE(Contains(screen.Text(), "Logical   1000 cylinders x  32 heads x 63 sectors"))
        << screen.Text();
    for (const char* key : {"1", kEnter, "2", kEnter, "y", kEnter}) ASSERT_TRUE(run.Type(key));
    EXPECT_EQ(0, run.TypeAndWaitExit(kEsc, 120000));
  }
  std::string err = ReadFile(booted.File("err"));
  EXPECT_TRUE(Contains(err,
                       "card.img: finished with boot code, the partition active, for a BIOS "
                       "geometry of 32 heads x 63 sectors (--bios lba)"))
      << err;
  EXPECT_EQ("", ReadFile(plain.File("err")));
  std::vector<uint8_t> before = WholeImage(plain.File("card.img"));
  std::vector<uint8_t> after = WholeImage(booted.File("card.img"));
  for (uint64_t offset : Changed(before, after)) {
    EXPECT_TRUE(MayChange(offset, {63}, 0x3E, true)) << "byte " << offset << " changed";
  }
  EXPECT_EQ(0x80, after[446]);
  ExpectJudgedPartition(booted, booted.File("card.img"), 63, 2015937, "6, bootable");

  // 2000 x 16 x 63 has 2000 cylinders: NORMAL cannot address it.
  TempDir refused;
  std::string output;
  int status =
      RunCommand("(cd '" + refused.path() +
                     "' && '" DUNMORE_EXE
                     "' --bios normal --geometry 2000x16x63 card.img 2>err >out </dev/null)",
                 &output);
  EXPECT_EQ(1, status);
  std::string said = ReadFile(refused.File("err"));
  EXPECT_EQ(0u, said.find("dunmore: --bios normal cannot describe the card card.img (2000 x 16 x "
                          "63): the card has 2000 cylinders"))
      << said;
  EXPECT_EQ("", ReadFile(refused.File("out")));  // the terminal untouched
  EXPECT_EQ("missing", ImageFingerprint(refused.File("card.img")));
}

}  // namespace
