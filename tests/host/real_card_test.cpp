// Cards on block devices, with loop devices standing in for card readers (as
// root; each test says it is skipped where losetup refuses): the checks at
// boot, the identity a card gives of itself, the exclusive open that is the
// volume lock, and writes that go straight to the device, one a command, with
// the device's cache flushed around the MBR alone.
#include "host/card/real_card.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "cards/card_registry.h"
#include "host/card/card_medium.h"
#include "host/host.h"
#include "host/testing.h"
#include "sim/medium_posix.h"
#include "support/image.h"
#include "support/loop_device.h"
#include "support/machine_text.h"
#include "support/support.h"
#include "win32/win32.h"

using namespace testsupport;

namespace {

// The card a stand-in reader answers for, as a CompactFlash card fills its
// identify block.
sim::CardSettings answeringCard;

int AnsweringReader(int, sg_io_hdr_t* request) {
  sim::AtaCard card(answeringCard);
  card.Identify(static_cast<uint8_t*>(request->dxferp));
  request->status = 0;
  request->host_status = 0;
  request->driver_status = 0;
  request->resid = 0;
  request->sb_len_wr = 0;
  return 0;
}

void Erase(std::string* text, const std::string& line) {
  size_t at = text->find(line);
  ASSERT_NE(std::string::npos, at) << line;
  text->erase(at, text->find('\n', at) + 1 - at);
}

// The default machine's card on device, its geometry and texts as asked.
std::string Machine(const std::string& device, int cylinders, bool geometry, bool texts) {
  MachineCard card;
  card.image = device;
  card.cylinders = cylinders;
  std::string text = MachineText(card);
  if (!geometry) {
    for (const char* value : {"\"Cylinders\"", "\"Heads\"", "\"SectorsPerTrack\""}) {
      Erase(&text, value);
    }
  }
  if (!texts) {
    for (const char* value : {"\"Model\"", "\"SerialNumber\"", "\"FirmwareRevision\""}) {
      Erase(&text, value);
    }
  }
  return text;
}

bool Load(const std::string& text) {
  std::string error;
  bool loaded = host::LoadMachineText(text, "test machine", &error);
  EXPECT_TRUE(loaded) << error;
  return loaded;
}

// A 64 MB image (490 x 8 x 32) behind a loop device.
#define LOOP_CARD(dir, loop)                        \
  TempDir dir;                                      \
  CreateImage(dir.File("card.img"), MachineCard()); \
  LOOP_DEVICE_OR_SKIP(loop, dir.File("card.img"))

TEST(RealCard, BlockDeviceCardsAreCheckedBeforeTheRun) {
  host::MachineOptions settings;
  LOOP_CARD(dir, loop);
  const std::string& device = loop.path();
  std::string error;

  ASSERT_TRUE(Load(Machine(device, 490, true, true)));
  EXPECT_TRUE(host::PrepareBlockDeviceCards(settings, &error)) << error;

  // No geometry in the key and no IDENTIFY answer from a loop device.
  ASSERT_TRUE(Load(Machine(device, 490, false, true)));
  EXPECT_FALSE(host::PrepareBlockDeviceCards(settings, &error));
  EXPECT_EQ(0u, error.find(device + ": the card does not answer ATA IDENTIFY DEVICE (SG_IO"))
      << error;
  EXPECT_NE(std::string::npos, error.find("\"Cylinders\", \"Heads\" and \"SectorsPerTrack\""));
  EXPECT_EQ(std::string::npos, error.find('\n'));

  // The geometry given and only the texts missing: no answer is no refusal.
  ASSERT_TRUE(Load(Machine(device, 490, true, false)));
  EXPECT_TRUE(host::PrepareBlockDeviceCards(settings, &error)) << error;
}

TEST(RealCard, AKeyWithoutGeometryTakesTheCardsOwnIdentity) {
  host::MachineOptions settings;
  LOOP_CARD(dir, loop);
  answeringCard = sim::CardSettings();
  answeringCard.identity = {245, 16, 32, "HERON CF 64MB", "HR-77001", "V3.10"};
  std::string error;

  // Geometry and texts from the answer.
  ASSERT_TRUE(Load(Machine(loop.path(), 490, false, false)));
  ASSERT_TRUE(host::PrepareBlockDeviceCards(settings, &error, AnsweringReader)) << error;
  cards::DriverRegistry registry;
  ASSERT_TRUE(cards::ReadDriverRegistry(&registry, &error)) << error;
  ASSERT_EQ(1u, registry.cards.size());
  const sim::CardSettings& read = registry.cards[0];
  EXPECT_EQ(245, read.identity.cylinders);
  EXPECT_EQ(16, read.identity.heads);
  EXPECT_EQ(32, read.identity.sectorsPerTrack);
  EXPECT_EQ("HERON CF 64MB", read.identity.model);
  EXPECT_EQ("HR-77001", read.identity.serialNumber);
  EXPECT_EQ("V3.10", read.identity.firmwareRevision);

  // The key's own values stay; the answer fills only what it leaves out.
  ASSERT_TRUE(Load(Machine(loop.path(), 490, true, false)));
  ASSERT_TRUE(host::PrepareBlockDeviceCards(settings, &error, AnsweringReader)) << error;
  ASSERT_TRUE(cards::ReadDriverRegistry(&registry, &error)) << error;
  EXPECT_EQ(490, registry.cards[0].identity.cylinders);
  EXPECT_EQ(8, registry.cards[0].identity.heads);
  EXPECT_EQ("HERON CF 64MB", registry.cards[0].identity.model);

  // A card that claims more than the reader holds is refused.
  answeringCard.identity.cylinders = 491;
  answeringCard.identity.heads = 8;
  ASSERT_TRUE(Load(Machine(loop.path(), 490, false, true)));
  EXPECT_FALSE(host::PrepareBlockDeviceCards(settings, &error, AnsweringReader));
  EXPECT_NE(std::string::npos, error.find("fewer than the geometry 491 x 8 x 32")) << error;
}

// 512-byte sectors that each differ from the others, in a buffer one byte
// off any alignment, as the system's buffers may lie.
struct Pattern {
  std::vector<uint8_t> storage = std::vector<uint8_t>(255 * 512 + 1);
  uint8_t* sectors = storage.data() + 1;
  explicit Pattern(uint8_t seed) {
    for (size_t i = 0; i + 1 < storage.size(); ++i) {
      sectors[i] = static_cast<uint8_t>(seed + i / 512 * 31 + i);
    }
  }
};

TEST(RealCard, EachWriteSectorsIsOneDirectWriteAndOnlyTheMbrIsFlushed) {
  LOOP_CARD(dir, loop);
  ASSERT_TRUE(Load(Machine(loop.path(), 490, true, true)));
  HANDLE mirt = CreateFileA("\\\\.\\MIRT.VXD", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, mirt);
  sim::AtaCard* card = host::FindOpenCard(0x170);
  ASSERT_NE(nullptr, card);
  const bool writeCache =
      ReadFile("/sys/block/" + loop.Name() + "/queue/write_cache").find("write back") == 0;

  // Runs at odd sectors, none of them on a 4 KB page boundary: 1 sector at
  // 1, 255 at 833 and 7 at 2621, both of the last across track ends.
  const struct {
    int cylinder, head, sector, count;
    uint32_t lba;
  } runs[] = {{0, 0, 2, 1, 1}, {3, 2, 2, 255, 833}, {10, 1, 30, 7, 2621}};
  Pattern written(0x11);
  BlockCounts kernelBefore = loop.Counts();
  uint64_t writesBefore = sim::DirectWrites();
  uint64_t durableBefore = sim::DurablePoints();
  for (const auto& run : runs) {
    EXPECT_TRUE(card->WriteSectors(run.cylinder, run.head, run.sector, run.count, written.sectors))
        << run.lba;
  }
  BlockCounts kernelAfter = loop.Counts();
  // The medium is opened by the card's first transfer.
  int flags = fcntl(card->mediumDescriptor(), F_GETFL);
  ASSERT_NE(-1, flags);
  EXPECT_EQ(O_DIRECT, flags & O_DIRECT);
  EXPECT_EQ(0, flags & O_DSYNC) << "no flush after every command";
  EXPECT_EQ(3u, sim::DirectWrites() - writesBefore);
  EXPECT_EQ(0u, sim::DurablePoints() - durableBefore);
  EXPECT_EQ(kernelBefore.reads, kernelAfter.reads) << "the kernel read pages to write sectors";
  EXPECT_EQ(kernelBefore.flushes, kernelAfter.flushes);
  EXPECT_LE(3u, kernelAfter.writes - kernelBefore.writes);

  // On the backing file, and read back from the device through unaligned
  // buffers.
  const std::string backing = ReadFile(dir.File("card.img"));
  for (const auto& run : runs) {
    std::string expected(reinterpret_cast<const char*>(written.sectors), run.count * 512);
    EXPECT_EQ(expected, backing.substr(run.lba * 512, run.count * 512)) << run.lba;
    Pattern read(0);
    EXPECT_TRUE(card->ReadSectors(run.cylinder, run.head, run.sector, run.count, read.sectors));
    EXPECT_EQ(expected, std::string(reinterpret_cast<const char*>(read.sectors), run.count * 512))
        << run.lba;
  }
  // A read gives what the card holds now, not what a cache kept of the write.
  WriteSectorBytes(dir.File("card.img"), 1, std::vector<uint8_t>(512, 0x5A));
  Pattern read(0);
  EXPECT_TRUE(card->ReadSectors(0, 0, 2, 1, read.sectors));
  EXPECT_EQ(std::string(512, '\x5A'), std::string(reinterpret_cast<char*>(read.sectors), 512));

  // The MBR: what came before made durable, then the MBR itself; a refused
  // command writes nothing.
  kernelBefore = loop.Counts();
  writesBefore = sim::DirectWrites();
  durableBefore = sim::DurablePoints();
  EXPECT_TRUE(card->WriteSectors(0, 0, 1, 1, written.sectors));
  EXPECT_FALSE(card->WriteSectors(490, 0, 1, 1, written.sectors));
  kernelAfter = loop.Counts();
  EXPECT_EQ(1u, sim::DirectWrites() - writesBefore);
  EXPECT_EQ(2u, sim::DurablePoints() - durableBefore);
  EXPECT_EQ(kernelBefore.reads, kernelAfter.reads);
  if (kernelAfter.flushesCounted) {
    // The kernel sends no flush to a device without a write cache.
    EXPECT_EQ(writeCache ? 2u : 0u, kernelAfter.flushes - kernelBefore.flushes);
  }
  EXPECT_TRUE(CloseHandle(mirt));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(written.sectors), 512),
            ReadFile(dir.File("card.img")).substr(0, 512));

  // An image file is written as before: in place, with no flush.
  MachineCard plainCard;
  plainCard.image = dir.File("plain.img");
  ASSERT_TRUE(Load(MachineText(plainCard)));
  mirt = CreateFileA("\\\\.\\MIRT.VXD", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  card = host::FindOpenCard(0x170);
  ASSERT_NE(nullptr, card);
  writesBefore = sim::DirectWrites();
  durableBefore = sim::DurablePoints();
  EXPECT_TRUE(card->WriteSectors(0, 0, 1, 1, written.sectors));
  EXPECT_TRUE(card->WriteSectors(0, 0, 2, 1, written.sectors));
  flags = fcntl(card->mediumDescriptor(), F_GETFL);
  ASSERT_NE(-1, flags);
  EXPECT_EQ(0, flags & O_DIRECT);
  EXPECT_EQ(0u, sim::DirectWrites() - writesBefore);
  EXPECT_EQ(0u, sim::DurablePoints() - durableBefore);
  EXPECT_TRUE(CloseHandle(mirt));
}

TEST(RealCard, TheVolumeLockOnABlockDeviceIsAnExclusiveOpen) {
  LOOP_CARD(dir, loop);
  sim::CardSettings settings;
  settings.image = loop.path();
  settings.identity.cylinders = 490;
  settings.identity.heads = 8;
  settings.identity.sectorsPerTrack = 32;
  sim::AtaCard card(settings);
  std::string error;
  ASSERT_TRUE(card.OpenMedium(&error)) << error;
  {
    ExclusiveHolder other(loop.path());
    ASSERT_TRUE(other.holding());
    EXPECT_FALSE(card.HoldVolumeLock()) << "another process holds the device";
  }
  ASSERT_TRUE(card.HoldVolumeLock());
  EXPECT_TRUE(card.HoldVolumeLock()) << "holds in one process nest";
  {
    ExclusiveHolder other(loop.path());
    EXPECT_FALSE(other.holding()) << "the lock keeps other programs out";
  }
  EXPECT_TRUE(card.ReleaseVolumeLock());
  EXPECT_TRUE(card.ReleaseVolumeLock());
  ExclusiveHolder after(loop.path());
  EXPECT_TRUE(after.holding()) << "the last release gives the device back";
}

// A folder shaped as sysfs, in which the loop device of a test appears as
// whatever disk the test describes: a card reader, a fixed disk, a
// partition. Only the attributes the boot reads are written.
class FakeSysfs {
 public:
  FakeSysfs(const TempDir& dir, const std::string& device) : root_(dir.File("sys")) {
    struct stat status;
    EXPECT_EQ(0, stat(device.c_str(), &status));
    number_ = std::to_string(major(status.st_rdev)) + ":" + std::to_string(minor(status.st_rdev));
    EXPECT_EQ("0:", Shell("mkdir -p '" + root_ + "/dev/block' '" + root_ + "/block'"));
  }
  const std::string& root() const { return root_; }

  // A whole disk; sectors as sysfs counts them, in 512-byte units.
  void AddDisk(const std::string& name, bool removable, const std::string& vendor,
               const std::string& model, uint64_t sectors) {
    std::string folder = root_ + "/block/" + name;
    EXPECT_EQ("0:", Shell("mkdir -p '" + folder + "/device'"));
    WriteFile(folder + "/removable", removable ? "1\n" : "0\n");
    WriteFile(folder + "/size", std::to_string(sectors) + "\n");
    WriteFile(folder + "/device/vendor", vendor + "\n");
    WriteFile(folder + "/device/model", model + "\n");
  }
  void AddLoop(const std::string& name, const std::string& backingFile) {
    AddDisk(name, false, "", "", 125440);
    EXPECT_EQ("0:", Shell("mkdir -p '" + root_ + "/block/" + name + "/loop'"));
    WriteFile(root_ + "/block/" + name + "/loop/backing_file", backingFile + "\n");
  }
  void AddPartition(const std::string& disk, const std::string& name) {
    std::string folder = root_ + "/block/" + disk + "/" + name;
    EXPECT_EQ("0:", Shell("mkdir -p '" + folder + "'"));
    WriteFile(folder + "/partition", "1\n");
    WriteFile(folder + "/size", "125408\n");
  }
  // The test's device is the disk or partition at entry ("sdb", "sdb/sdb1").
  void Point(const std::string& entry) {
    std::string link = root_ + "/dev/block/" + number_;
    unlink(link.c_str());
    EXPECT_EQ(0, symlink(("../../block/" + entry).c_str(), link.c_str()));
  }

 private:
  std::string root_;
  std::string number_;
};

// A fixed disk's answer: an ATA disk says "not removable" in word 0.
int FixedDiskReader(int fd, sg_io_hdr_t* request) {
  AnsweringReader(fd, request);
  uint8_t* block = static_cast<uint8_t*>(request->dxferp);
  block[0] = 0x40;
  block[1] = 0x00;
  return 0;
}

TEST(RealCard, OnlyACardIsWritten) {
  host::MachineOptions settings;
  LOOP_CARD(dir, loop);
  answeringCard = sim::CardSettings();
  answeringCard.identity = {490, 8, 32, "HERON CF 64MB", "HR-77001", "V3.10"};
  FakeSysfs sysfs(dir, loop.path());
  sysfs.AddDisk("sda", false, "ATA", "QEMU HARDDISK", 134217728);
  sysfs.AddDisk("sdb", false, "ATA     ", "  WDC WD640   ", 125440);
  sysfs.AddDisk("sdc", true, "Generic", "CF Reader", 7864320);
  sysfs.AddDisk("sdd", true, "Generic", "SD Reader", 0);  // a reader without a card
  sysfs.AddLoop("loop7", dir.File("card.img"));
  std::string error;
  ASSERT_TRUE(Load(Machine(loop.path(), 490, true, true)));

  // A fixed disk: its model and size, the removable disks present (a reader
  // without a card is none), and how to go on all the same.
  sysfs.Point("sdb");
  EXPECT_FALSE(host::PrepareBlockDeviceCards(settings, &error, FixedDiskReader, sysfs.root()));
  EXPECT_EQ(loop.path() +
                ": not a card: /dev/sdb (ATA WDC WD640, 61 MiB) is a fixed disk (the "
                "kernel does not mark it removable and it does not answer IDENTIFY "
                "DEVICE as a CompactFlash card), and everything on it would be erased; "
                "removable disks present: /dev/sdc (Generic CF Reader, 3.8 GiB); to "
                "write this disk anyway, give --fixed-disk " +
                loop.path() + " (or DUNMORE_FIXED_DISK=" + loop.path() + ") as well",
            error);
  // A reader that passes no ATA command is no CompactFlash card either.
  EXPECT_FALSE(host::PrepareBlockDeviceCards(settings, &error, host::KernelSgIo, sysfs.root()));
  EXPECT_NE(std::string::npos, error.find(": not a card: /dev/sdb")) << error;

  // The override names this very device, not another.
  settings.fixedDisk.value = "/dev/null";
  EXPECT_FALSE(host::PrepareBlockDeviceCards(settings, &error, FixedDiskReader, sysfs.root()));
  settings.fixedDisk.value = loop.path();
  EXPECT_TRUE(host::PrepareBlockDeviceCards(settings, &error, FixedDiskReader, sysfs.root()))
      << error;
  settings.fixedDisk.value.clear();

  // What makes a card: a removable medium, a CompactFlash answer, a loop device.
  EXPECT_TRUE(host::PrepareBlockDeviceCards(settings, &error, AnsweringReader, sysfs.root()))
      << error;
  sysfs.Point("sdc");
  EXPECT_TRUE(host::PrepareBlockDeviceCards(settings, &error, FixedDiskReader, sysfs.root()))
      << error;
  sysfs.Point("loop7");
  EXPECT_TRUE(host::PrepareBlockDeviceCards(settings, &error, FixedDiskReader, sysfs.root()))
      << error;
  // The file to lock with a loop device is the one the kernel says it
  // stands over, found from the open device's number.
  EXPECT_EQ(dir.File("card.img"), host::CardMediumAt(loop.path()).loopBackingFile);

  // No card is found without sysfs: IDENTIFY alone decides.
  EXPECT_TRUE(
      host::PrepareBlockDeviceCards(settings, &error, AnsweringReader, dir.File("no-sysfs")));
  EXPECT_FALSE(
      host::PrepareBlockDeviceCards(settings, &error, FixedDiskReader, dir.File("no-sysfs")));
  EXPECT_EQ(0u, error.find(loop.path() + ": not a card: " + loop.path() + " is a fixed disk"))
      << error;
}

TEST(RealCard, AReaderThatPassesNoAtaCommandIsNamedByItsModel) {
  host::MachineOptions settings;
  LOOP_CARD(dir, loop);
  FakeSysfs sysfs(dir, loop.path());
  sysfs.AddDisk("sdc", true, "Generic ", "CF  Reader  ", 125440);
  sysfs.Point("sdc");
  std::string error;
  // The geometry given, no texts, and a loop device answers no IDENTIFY.
  ASSERT_TRUE(Load(Machine(loop.path(), 490, true, false)));
  ASSERT_TRUE(host::PrepareBlockDeviceCards(settings, &error, host::KernelSgIo, sysfs.root()))
      << error;
  cards::DriverRegistry registry;
  ASSERT_TRUE(cards::ReadDriverRegistry(&registry, &error)) << error;
  EXPECT_EQ("Generic CF Reader", registry.cards[0].identity.model);
  EXPECT_EQ("", registry.cards[0].identity.serialNumber);
}

// A card key over a block device that the card cannot be written as.
TEST(RealCard, AKeyTheDeviceCannotBeWrittenAsIsRefused) {
  LOOP_CARD(dir, loop);
  FakeSysfs sysfs(dir, loop.path());
  sysfs.AddDisk("sdc", true, "Generic", "CF Reader", 125440);
  sysfs.AddPartition("sdc", "sdc1");
  MachineCard tooManySectors;
  tooManySectors.image = loop.path();
  tooManySectors.sectors = 64;
  const struct {
    const char* what;
    std::string machine;
    std::string point;  // the device as sysfs knows it; empty: the real sysfs
    std::string said;
  } cases[] = {
      {"one cylinder more than the device holds", Machine(loop.path(), 491, true, true), "",
       ": the device holds 125440 sectors (64225280 bytes), fewer than the geometry 491 x 8 x "
       "32 needs (125696 sectors, 64356352 bytes)"},
      {"a partition", Machine(loop.path(), 490, true, true), "sdc/sdc1",
       ": a partition of /dev/sdc, not a whole card; a card is written whole: name /dev/sdc "
       "(every partition on it is erased)"},
      {"a geometry the card disk cannot address", MachineText(tooManySectors), "",
       ": the card key's geometry 490 x 8 x 64 cannot be addressed: more than 63 sectors per "
       "track, which a CHS address cannot name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(Load(c.machine));
    if (!c.point.empty()) sysfs.Point(c.point);
    std::string error;
    EXPECT_FALSE(host::PrepareBlockDeviceCards(host::MachineOptions(), &error, AnsweringReader,
                                               c.point.empty() ? host::kSysfsRoot : sysfs.root()));
    EXPECT_EQ(loop.path() + c.said, error);
  }
}

}  // namespace

// An image that says no geometry gets the one a CompactFlash card of its
// size reports: the geometries of real cards of these sizes.
TEST(RealCard, AnImageWithoutAGeometryGetsACardsOfItsSize) {
  const struct {
    uint64_t sectors;
    uint16_t cylinders, heads, sectorsPerTrack;
  } cards[] = {
      {62720, 490, 4, 32},        // 32 MB
      {125440, 490, 8, 32},       // 64 MB, the default card
      {501760, 980, 16, 32},      // 256 MB
      {1000944, 993, 16, 63},     // 512 MB
      {2001888, 1986, 16, 63},    // 1 GB
      {16514064, 16383, 16, 63},  // 8 GB, the most a geometry says
      {62533296, 16383, 16, 63},  // 32 GB
      {2048, 64, 1, 32},          // 1 MB, an image of tests
  };
  for (const auto& card : cards) {
    uint16_t got[3] = {};
    ASSERT_TRUE(host::DerivedGeometry(card.sectors, got)) << card.sectors;
    EXPECT_EQ(card.cylinders, got[0]) << card.sectors;
    EXPECT_EQ(card.heads, got[1]) << card.sectors;
    EXPECT_EQ(card.sectorsPerTrack, got[2]) << card.sectors;
    EXPECT_LE(uint64_t{got[0]} * got[1] * got[2], card.sectors);
  }
  uint16_t none[3] = {};
  EXPECT_FALSE(host::DerivedGeometry(31, none)) << "less than one track";
}

// A card's geometry by one rule: the card's own, the option, the recorded
// one, the one derived from the size, the first that gives one.
TEST(RealCard, TheGeometryComesFromTheFirstThatGivesOne) {
  using host::GeometrySource;
  const uint16_t card[3] = {245, 16, 32}, option[3] = {980, 16, 32}, recorded[3] = {2000, 8, 32};
  const uint16_t broken[3] = {0, 0, 0};
  const struct {
    const char* what;
    const uint16_t* card;
    const uint16_t* option;
    const uint16_t* recorded;
    uint64_t sectors;
    GeometrySource source;
    uint16_t expected[3];
  } rows[] = {
      {"the card's own before the option",
       card,
       option,
       recorded,
       125440,
       GeometrySource::kIdentify,
       {245, 16, 32}},
      {"the option before the recorded one",
       nullptr,
       option,
       recorded,
       125440,
       GeometrySource::kOption,
       {980, 16, 32}},
      {"a card that gives none",
       broken,
       nullptr,
       recorded,
       125440,
       GeometrySource::kRecorded,
       {2000, 8, 32}},
      {"the size last", nullptr, nullptr, nullptr, 125440, GeometrySource::kDerived, {490, 8, 32}},
      {"nothing at all", nullptr, nullptr, nullptr, 31, GeometrySource::kNone, {0, 0, 0}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    host::GeometryCandidates from;
    from.card = row.card;
    from.option = row.option;
    from.recorded = row.recorded;
    from.sectors = row.sectors;
    uint16_t got[3] = {};
    EXPECT_EQ(row.source, host::ResolveGeometry(from, got));
    EXPECT_EQ(std::vector<uint16_t>(row.expected, row.expected + 3),
              std::vector<uint16_t>(got, got + 3));
  }
}
