// A fault at every write. The whole program rewrites an old card through
// "1", "2", "Y" while a sector of each region it writes refuses the write, or
// while the power fails as each WRITE SECTORS command arrives. Whatever
// happens, the old MBR stays in place until the very last write, and nothing
// at or after the failing sector is touched: the card holds the old table and
// exactly the sectors written before the fault. The FAT32 power cuts also
// keep an undo file (--undo), which then restores the card exactly, kept
// whole as the write made it before its first command. After the MBR the write clears the old card's pattern
// between the MBR and the volume (an old signature's place): a power cut
// there leaves the new card whole. One line per fault site says what was
// left on the card.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fault/fault_card.h"
#include "support/image.h"
#include "support/machine_text.h"
#include "support/program_run.h"
#include "support/support.h"
#include "support/undo_run.h"

using namespace testsupport;
using faulttest::OldCard;
using faulttest::Write;

namespace {

const int kKilled = 128 + 9;  // what ProgramRun reports for SIGKILL

struct Region {
  std::string name;
  uint32_t first;
  uint32_t count;
  bool Holds(uint32_t lba) const { return lba >= first && lba < first + count; }
};

// A card with its reference write and the regions of the volume as planned
// below, never read from what the program wrote.
struct Layout {
  std::string name;
  OldCard card;
  std::vector<Write> writes;
  std::vector<Region> regions;  // in the order they are written, the MBR last
  // After the MBR: the old sectors between it and the volume, cleared.
  std::vector<Write> clears;

  std::string RegionOf(uint32_t lba) const {
    for (const Region& region : regions) {
      if (region.Holds(lba)) return region.name;
    }
    return "outside the layout";
  }
  // The index of the write that holds lba.
  size_t WriteHolding(uint32_t lba) const {
    for (size_t i = 0; i < writes.size(); ++i) {
      if (lba >= writes[i].first && lba < writes[i].end()) return i;
    }
    return writes.size();
  }
};

// The regions of the card's new volume, in the order they are written and
// the MBR last, reckoned here from the card's geometry and the FAT rules:
// the partition runs from head 1 of cylinder 0 to the end of the last
// cylinder of the translated geometry (cylinders halved and heads doubled
// while there are more than 1024 cylinders). FAT16: one reserved sector,
// 64-sector clusters, FATs of ceil((T - 33) / (256 x 64 + 2)) sectors, a
// root directory of 512 entries. FAT32: 32 reserved sectors with the boot
// region at 0 and its backup at 6, 8-sector clusters, FATs of
// ceil((T - 32) / (128 x 8 + 1)) sectors, the root directory in the first
// cluster after them.
std::vector<Region> PlannedRegions(const MachineCard& card, bool fat32) {
  uint32_t cylinders = card.cylinders, heads = card.heads;
  while (cylinders > 1024) {
    cylinders /= 2;
    heads *= 2;
  }
  const uint32_t hidden = card.sectors;
  const uint32_t total = cylinders * heads * card.sectors - hidden;
  if (fat32) {
    const uint32_t fat = (total - 32 + 128 * 8) / (128 * 8 + 1);
    const uint32_t fat1 = hidden + 32;
    return {{"boot region", hidden, 3},         {"backup boot region", hidden + 6, 3},
            {"FAT 1", fat1, fat},               {"FAT 2", fat1 + fat, fat},
            {"root directory cluster", fat1 + 2 * fat, 8}, {"MBR", 0, 1}};
  }
  const uint32_t fat = (total - 33 + 256 * 64 + 1) / (256 * 64 + 2);
  const uint32_t fat1 = hidden + 1;
  return {{"boot sector", hidden, 1}, {"FAT 1", fat1, fat}, {"FAT 2", fat1 + fat, fat},
          {"root directory", fat1 + 2 * fat, 32}, {"MBR", 0, 1}};
}

// Sets the layout up for the card: the reference write on a scratch copy,
// which must fall in the planned regions in their order, then the old card
// with its pattern over everything the write touches.
void Prepare(const TempDir& dir, const MachineCard& machineCard, bool fat32,
             const std::string& name, Layout* layout) {
  layout->name = name;
  std::string scratch = dir.File("reference.img");
  CreateImage(scratch, machineCard);
  layout->writes = faulttest::ReferenceWrites(machineCard, scratch);
  ASSERT_FALSE(layout->writes.empty()) << "the reference write failed";

  const Write& mbr = layout->writes.back();
  ASSERT_EQ(0u, mbr.first) << "the MBR is not the last write";
  ASSERT_EQ(1u, mbr.count);
  uint32_t end = 0;
  for (const Write& w : layout->writes) end = std::max(end, w.end());

  const std::vector<Region>& r = layout->regions = PlannedRegions(machineCard, fat32);
  // Every write lies in one region, the regions are written in order, and
  // every sector of each is written.
  size_t region = 0;
  uint32_t covered = 0;
  for (const Write& w : layout->writes) {
    while (region < r.size() && !r[region].Holds(w.first)) ++region;
    ASSERT_LT(region, r.size()) << "write at " << w.first << " is out of order or outside";
    ASSERT_TRUE(r[region].Holds(w.end() - 1)) << "write at " << w.first << " spans regions";
    covered += w.count;
  }
  uint32_t planned = 0;
  for (const Region& each : r) planned += each.count;
  ASSERT_EQ(planned, covered) << "sectors written against the planned regions";

  // After the MBR, the old card's pattern between it and the volume's first
  // region is cleared.
  layout->clears.push_back({1, r.front().first - 1});
  layout->card.machineCard = machineCard;
  layout->card.image = dir.File(machineCard.image);
  layout->card.patternEnd = end + 64;
  layout->card.Create();
  std::printf("\n%s card of %d x %d x %d: %zu writes, the MBR last\n", name.c_str(),
              machineCard.cylinders, machineCard.heads, machineCard.sectors, layout->writes.size());
}

std::string Sectors(const std::vector<uint32_t>& sectors) {
  return faulttest::DescribeSectors(sectors) + " (" + std::to_string(sectors.size()) + " sectors)";
}

// The sectors of writes [0, count) and then of [partialFirst, partialEnd);
// a count past the system's writes takes that many of the clears after them.
std::vector<uint32_t> Expected(const Layout& layout, size_t count, uint32_t partialFirst = 0,
                               uint32_t partialEnd = 0) {
  std::vector<Write> writes = layout.writes;
  writes.insert(writes.end(), layout.clears.begin(), layout.clears.end());
  std::vector<uint32_t> sectors;
  for (size_t i = 0; i < count; ++i) {
    for (uint32_t s = writes[i].first; s < writes[i].end(); ++s) sectors.push_back(s);
  }
  for (uint32_t s = partialFirst; s < partialEnd; ++s) sectors.push_back(s);
  std::sort(sectors.begin(), sectors.end());
  return sectors;
}

// Runs "1", "2", "Y" on the card with extra card values; the exit code, and
// the screen of the last key wait.
int RunWrite(const TempDir& dir, const Layout& layout, const std::string& values, Screen* screen,
             const std::vector<std::string>& arguments = {}) {
  MachineCard card = layout.card.machineCard;
  card.extraValues = values;
  RunOptions options;
  options.arguments = arguments;
  ProgramRun run(dir.path(), WriteMachine(dir.path(), "m.reg", MachineText(card)), {}, options);
  return WriteWholeCard(run, nullptr, screen, 30000);
}

// A sector that refuses writes in each region, at the places a run of
// transfers can break: the first sector of a region, the middle of a FAT
// (inside a run that is followed by others), the last sector of a FAT (the
// end of its last run), and the MBR.
void BadSectorMatrix(const MachineCard& machineCard, const std::string& name) {
  TempDir dir;
  Layout layout;
  Prepare(dir, machineCard, name == "FAT32", name, &layout);
  if (::testing::Test::HasFatalFailure()) return;

  struct Site {
    std::string where;
    uint32_t sector;
  };
  std::vector<Site> sites;
  for (const Region& region : layout.regions) {
    if (region.name.rfind("FAT ", 0) == 0) {
      sites.push_back({region.name + ", first run", region.first});
      sites.push_back({region.name + ", a middle run", region.first + region.count / 2});
      sites.push_back({region.name + ", last run", region.first + region.count - 1});
    } else if (region.name.find("backup") != std::string::npos) {
      // Its second sector: the first one of the command goes out, the rest not.
      sites.push_back({region.name, region.first + 1});
    } else {
      sites.push_back({region.name, region.first});
    }
  }

  for (const Site& site : sites) {
    SCOPED_TRACE(name + " " + site.where);
    // The card reads its MBR at start-up: there the sector refuses writes only.
    std::string values = site.sector == 0
                             ? "\"BadWriteSectors\"=\"0\""
                             : "\"BadSectors\"=\"" + std::to_string(site.sector) + "\"";
    Screen screen;
    int exitCode = RunWrite(dir, layout, values, &screen);
    EXPECT_EQ("WRITE ERROR!", screen.At(20, 16, 12)) << screen.Text();
    EXPECT_EQ(3, exitCode);

    size_t failing = layout.WriteHolding(site.sector);
    ASSERT_LT(failing, layout.writes.size());
    std::vector<uint32_t> expected =
        Expected(layout, failing, layout.writes[failing].first, site.sector);
    std::vector<uint32_t> changed = layout.card.ChangedSectors();
    bool mbrKept = ReadSectors(layout.card.image, 0, 1) == layout.card.mbr;
    EXPECT_TRUE(mbrKept);
    EXPECT_EQ(Sectors(expected), Sectors(changed));
    bool nothingAfter = changed.empty() || site.sector == 0 || changed.back() < site.sector;
    EXPECT_TRUE(nothingAfter);
    bool restOfCard = layout.card.Restore();
    EXPECT_TRUE(restOfCard);
    std::printf("%-5s bad sector %7u in %-26s exit %d%s, %s, rewritten %s, %s\n", name.c_str(),
                site.sector, (site.where + ":").c_str(), exitCode,
                screen.At(20, 16, 12) == "WRITE ERROR!" ? " \"WRITE ERROR!\"" : "",
                mbrKept ? "old MBR in place" : "MBR CHANGED", Sectors(changed).c_str(),
                !(nothingAfter && restOfCard) ? "WRITTEN AFTER THE BAD SECTOR"
                : site.sector == 0            ? "the volume written, the MBR write refused"
                                              : "nothing at or after the bad sector");
    std::fflush(stdout);
  }
}

// The card put back from the undo file the run left: the card as created.
// The file is whole before the first write reaches the card, so every cut,
// the one at the first write too, leaves it whole. What the restore says of
// it.
std::string RestoreFromUndo(const TempDir& dir, const Layout& layout, const std::string& undo) {
  if (!Exists(undo)) {
    ADD_FAILURE() << "no undo file";
    return "NO UNDO FILE";
  }
  // On the same card with no power cut of its own.
  const std::string machine =
      WriteMachine(dir.path(), "restore.reg", MachineText(layout.card.machineCard));
  RestoreRun restore = RunRestore(dir.path(), machine, undo);
  EXPECT_EQ(0, restore.exitCode) << restore.output;
  bool whole = ImageFingerprint(layout.card.image) == layout.card.fingerprint;
  EXPECT_TRUE(whole) << restore.output;
  bool closed = restore.output.find("whole (its run ended)") != std::string::npos;
  EXPECT_TRUE(closed) << restore.output;
  std::remove(undo.c_str());
  return std::string(closed ? "a whole undo file" : "AN UNDO FILE CUT SHORT") +
         (whole ? " restores the card exactly" : " DOES NOT RESTORE THE CARD");
}

// The power fails as write N arrives, for every N until a run completes.
// With undo, each run keeps an undo file, which then restores the card.
void PowerCutMatrix(const MachineCard& machineCard, const std::string& name, bool undo = false) {
  TempDir dir;
  Layout layout;
  Prepare(dir, machineCard, name == "FAT32", name, &layout);
  if (::testing::Test::HasFatalFailure()) return;

  const size_t system = layout.writes.size();
  const size_t total = system + layout.clears.size();
  for (size_t n = 1;; ++n) {
    SCOPED_TRACE(name + " power cut at write " + std::to_string(n));
    char values[64];
    std::snprintf(values, sizeof values, "\"KillAtWrite\"=dword:%08zx", n);
    Screen screen;
    const std::string undoFile = dir.File("write.undo");
    std::vector<std::string> arguments;
    if (undo) arguments = {"--undo", undoFile};
    int exitCode = RunWrite(dir, layout, values, &screen, arguments);
    std::vector<uint32_t> changed = layout.card.ChangedSectors();
    bool mbrKept = ReadSectors(layout.card.image, 0, 1) == layout.card.mbr;
    std::string undone = undo ? "; " + RestoreFromUndo(dir, layout, undoFile) : "";

    if (n > total) {
      // No write was cut: the run is complete and the new MBR is in place.
      EXPECT_EQ(0, exitCode);
      EXPECT_EQ("You must remove and re-insert", screen.At(10, 10, 29)) << screen.Text();
      EXPECT_FALSE(mbrKept);
      EXPECT_EQ(Sectors(Expected(layout, total)), Sectors(changed));
      EXPECT_TRUE(layout.card.Restore());
      std::printf(
          "%-5s power cut at write %3zu: none, %zu writes done, exit %d, new MBR written%s\n",
          name.c_str(), n, total, exitCode, undone.c_str());
      std::fflush(stdout);
      break;
    }
    if (n > system) {
      // Cut while the old signatures are cleared: the new card is whole.
      const Write& cut = layout.clears[n - 1 - system];
      EXPECT_EQ(kKilled, exitCode);
      EXPECT_FALSE(mbrKept);
      EXPECT_EQ(Sectors(Expected(layout, n - 1)), Sectors(changed));
      EXPECT_TRUE(layout.card.Restore());
      std::printf(
          "%-5s power cut at write %3zu of %zu (old signatures, %u-%u): %s, new MBR written, "
          "rewritten %s%s\n",
          name.c_str(), n, total, cut.first, cut.end() - 1,
          exitCode == kKilled ? "killed" : "NOT KILLED", Sectors(changed).c_str(), undone.c_str());
      std::fflush(stdout);
      continue;
    }
    const Write& cut = layout.writes[n - 1];
    EXPECT_EQ(kKilled, exitCode);
    EXPECT_TRUE(mbrKept);
    EXPECT_EQ(Sectors(Expected(layout, n - 1)), Sectors(changed));
    bool nothingAfter = true;
    for (uint32_t s : changed) nothingAfter = nothingAfter && (cut.first == 0 || s < cut.first);
    EXPECT_TRUE(nothingAfter);
    bool restOfCard = layout.card.Restore();
    EXPECT_TRUE(restOfCard);
    std::printf(
        "%-5s power cut at write %3zu of %zu (%s, %u-%u): %s, %s, rewritten %s, %s%s\n",
        name.c_str(), n, total, layout.RegionOf(cut.first).c_str(), cut.first, cut.end() - 1,
        exitCode == kKilled ? "killed" : "NOT KILLED", mbrKept ? "old MBR in place" : "MBR CHANGED",
        Sectors(changed).c_str(),
        nothingAfter && restOfCard ? "nothing at or after the cut write" : "WRITTEN AFTER THE CUT",
        undone.c_str());
    std::fflush(stdout);
    if (::testing::Test::HasFailure()) break;
  }
}

// 2 GB of FAT16: the largest FAT16 volume, whose FATs of 256 sectors take a
// run of 255 sectors and one of 1.
MachineCard Fat16Card() {
  return MachineCardOf(4161, 16, 63);
}

// Just over 2 GB on Windows 98: FAT32, whose FATs take 17 runs each.
MachineCard Fat32Card() {
  return MachineCardOf(4162, 16, 63);
}

}  // namespace

TEST(FaultMatrix, Fat16BadSectorInEveryRegion) {
  BadSectorMatrix(Fat16Card(), "FAT16");
}

TEST(FaultMatrix, Fat32BadSectorInEveryRegion) {
  BadSectorMatrix(Fat32Card(), "FAT32");
}

TEST(FaultMatrix, Fat16PowerCutAtEveryWrite) {
  PowerCutMatrix(Fat16Card(), "FAT16");
}

TEST(FaultMatrix, Fat32PowerCutAtEveryWrite) {
  PowerCutMatrix(Fat32Card(), "FAT32", true);
}
