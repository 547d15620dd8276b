// The cost of the write: the format and MBR write of the largest FAT32 card
// the planner makes and of a 512 MB FAT16 card, side by side with mkfs.fat
// formatting the same volume in an image of the same card. Each side runs in
// a process of its own, so that its peak memory is its own.
//
//   write_bench [runs]
//
// For each card: the median time of the write (dunmore's own writers called
// directly, without the pauses of the screens) and of the mkfs.fat process,
// their ratio, the bytes each wrote against the bytes the layout needs, the
// peak memory of each process, and whether the image stayed sparse; and, as
// root, the same write through a loop device, plain and with its undo file
// and read-back beside that one's floor, runs interleaved.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "app/run_utility.h"
#include "common/ata_commands.h"
#include "common/little_endian.h"
#include "device/disk_channel.h"
#include "discovery/card_device_table.h"
#include "discovery/drive_letter_map.h"
#include "disk/card_disk.h"
#include "disk/raw_partition_entry.h"
#include "format/fat_layout.h"
#include "host/host.h"
#include "host/testing.h"
#include "sim/medium_posix.h"
#include "tests/support/card_key.h"
#include "tool/run/tool_run.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kSectorBytes = kAtaSectorBytes;
// A Windows 98 build, on which the start-up allows FAT32 above 2 GB.
constexpr unsigned kWindows98Build = 1998;

struct Card {
  const char* name;
  int cylinders;
  int heads;
  int sectors;
};

uint64_t CardBytes(const Card& card) {
  return static_cast<uint64_t>(card.cylinders) * card.heads * card.sectors * kSectorBytes;
}

// What the dunmore side reports back through its pipe.
struct WriteReport {
  int result;
  double seconds;
  uint64_t bytesWritten;
  uint32_t writeCommands;
  uint64_t directWrites;   // write calls that went straight to the device (O_DIRECT)
  uint64_t durablePoints;  // times the device's writes were made durable (fdatasync)
};

// What either side's process cost.
struct ProcessCost {
  double seconds;
  long maxRssKb;
  int status;
};

// The card's key and its disk in the device registry, which is where the
// machine takes the card's drive letter (E) from.
std::string MachineText(const Card& card, const std::string& image) {
  testsupport::CardKey key =
      testsupport::BareCardKey(image, card.cylinders, card.heads, card.sectors, "BENCH CARD");
  return testsupport::CardMachine({key});
}

// The dunmore side, in its own process: open the card as the start-up does,
// then time the plan, the format and the MBR write.
// With undoFile, the write keeps its undo file there and reads back what it
// wrote, as the program does by default on a block device.
int RunDunmoreSide(const Card& card, const std::string& image, int reportFd,
                   const std::string& undoFile) {
  std::string error;
  if (!host::LoadMachineText(MachineText(card, image), "bench", &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  tool::Settings settings;
  settings.undo.value = undoFile;
  tool::ToolRun run(settings, tool::Mode());
  if (!undoFile.empty()) {
    std::vector<sim::CardSettings> cards;
    if (!host::MachineCards(&cards, &error) || !run.guard.Prepare(settings, cards, false, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    host::KeepHooks(tool::HooksFor(&run));
  }
  host::StartHeadlessConsole();
  theDiskChannel.Open();
  CardDeviceRecord record = {};
  record.ioBase = 0x170;
  record.controlPort = 0x376;
  std::strcpy(record.driveLetters, "E");
  theDriveLetterMap.Reset();
  CardDisk* disk = new (std::nothrow) CardDisk;
  if (disk == nullptr || disk->Open(record, theDriveLetterMap, 0) == nullptr) return 1;
  theCardDisk = disk;
  ApplyLargeDiskRule(*disk, kWindows98Build);

  WriteReport report = {};
  auto start = Clock::now();
  disk->ClearPartitions();
  report.result = Repartition();
  if (report.result == 0) report.result = disk->WritePartitionTable();
  // The undo file's closing record is part of the write's cost.
  if (!undoFile.empty()) run.guard.Finish();
  report.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (const sim::Transfer& t : host::FindOpenCard(0x170)->transfers) {
    if (t.command != kAtaWriteSectors) continue;
    report.bytesWritten += t.count * kSectorBytes;
    ++report.writeCommands;
  }
  report.directWrites = sim::DirectWrites();
  report.durablePoints = sim::DurablePoints();
  CloseCard();
  if (write(reportFd, &report, sizeof report) != static_cast<ssize_t>(sizeof report)) return 1;
  return report.result == 0 ? 0 : 1;
}

// Runs argv in a child and waits for it with its resource use.
ProcessCost RunProcess(const std::vector<std::string>& args, int keepFd = -1) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  auto start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    if (keepFd < 0) dup2(null, STDERR_FILENO);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  ProcessCost cost = {};
  struct rusage usage = {};
  wait4(pid, &cost.status, 0, &usage);
  cost.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  cost.maxRssKb = usage.ru_maxrss;
  return cost;
}

uint64_t AllocatedBytes(const std::string& path) {
  struct stat st = {};
  if (stat(path.c_str(), &st) != 0) return 0;
  return static_cast<uint64_t>(st.st_blocks) * 512;
}

uint64_t FileSize(const std::string& path) {
  struct stat st = {};
  if (stat(path.c_str(), &st) != 0) return 0;
  return static_cast<uint64_t>(st.st_size);
}

std::vector<uint8_t> ReadSector(const std::string& path, uint64_t lba) {
  std::vector<uint8_t> sector(kSectorBytes, 0);
  int fd = open(path.c_str(), O_RDONLY);
  if (fd >= 0) {
    if (pread(fd, sector.data(), sector.size(), static_cast<off_t>(lba * kSectorBytes)) < 0) {
      sector.assign(kSectorBytes, 0);
    }
    close(fd);
  }
  return sector;
}

uint32_t Le16(const std::vector<uint8_t>& b, size_t at) {
  return GetLe16(&b[at]);
}
uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return GetLe32(&b[at]);
}

// The volume dunmore wrote, as its boot sector describes it.
struct Volume {
  bool fat32;
  uint32_t start;
  uint32_t total;
  uint32_t sectorsPerCluster;
  uint32_t reserved;
  uint32_t fatSectors;
  // The sectors the layout needs written: boot region (and its backup), two
  // FATs, the root directory, and the MBR.
  // Those sectors as the runs the write makes them, the MBR last.
  std::vector<std::pair<uint64_t, uint64_t>> Runs() const {
    const uint64_t fats = start + reserved;
    if (fat32) {
      return {{start, fat::kFat32BootRegionSectors},
              {start + fat::kFat32BackupBootSector, fat::kFat32BootRegionSectors},
              {fats, 2ull * fatSectors + sectorsPerCluster},
              {0, 1}};
    }
    return {{start, 1}, {fats, 2ull * fatSectors + fat::kFat16RootSectors}, {0, 1}};
  }
  uint64_t NeededBytes() const {
    uint64_t sectors =
        fat32 ? 2 * fat::kFat32BootRegionSectors + 2ull * fatSectors + sectorsPerCluster + 1
              : 1 + 2ull * fatSectors + fat::kFat16RootSectors + 1;
    return sectors * kSectorBytes;
  }
};

Volume ReadVolume(const std::string& image) {
  std::vector<uint8_t> mbr = ReadSector(image, 0);
  Volume v = {};
  v.start = Le32(mbr, kMbrEntriesOffset + kEntryFirstSector);
  std::vector<uint8_t> boot = ReadSector(image, v.start);
  v.fat32 = Le16(boot, fat::kFatSectors16Offset) == 0;
  v.sectorsPerCluster = boot[fat::kSectorsPerClusterOffset];
  v.reserved = Le16(boot, fat::kReservedSectorsOffset);
  const uint32_t total16 = Le16(boot, fat::kTotalSectors16Offset);
  v.total = total16 != 0 ? total16 : Le32(boot, fat::kTotalSectors32Offset);
  v.fatSectors =
      v.fat32 ? Le32(boot, fat::kFat32FatSectorsOffset) : Le16(boot, fat::kFatSectors16Offset);
  return v;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

long MedianKb(std::vector<long> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string Megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f MB", bytes / 1048576.0);
  return text;
}

// Runs the dunmore side once on medium: its report comes back through a
// pipe, the cost of its process from the wait.
bool SpawnDunmoreSide(const std::string& self, const Card& card, const std::string& medium,
                      WriteReport* report, ProcessCost* cost, const std::string& undoFile = "") {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return false;
  std::vector<std::string> args = {self,
                                   "--dunmore-side",
                                   std::to_string(card.cylinders),
                                   std::to_string(card.heads),
                                   std::to_string(card.sectors),
                                   medium,
                                   std::to_string(pipeFds[1])};
  if (!undoFile.empty()) args.push_back(undoFile);
  *cost = RunProcess(args, pipeFds[1]);
  close(pipeFds[1]);
  ssize_t got = read(pipeFds[0], report, sizeof *report);
  close(pipeFds[0]);
  return got == static_cast<ssize_t>(sizeof *report) && cost->status == 0 && report->result == 0;
}

// What the kernel has counted for a block device: write requests and flush
// requests completed (fields 5 and 16 of /sys/block/NAME/stat; 12 to 15
// count discards).
struct DeviceCounts {
  uint64_t writes = 0;
  uint64_t flushes = 0;
  uint64_t reads = 0;
};

DeviceCounts CountsOf(const std::string& device) {
  DeviceCounts counts;
  FILE* stat =
      std::fopen(("/sys/block/" + device.substr(device.rfind('/') + 1) + "/stat").c_str(), "r");
  if (stat == nullptr) return counts;
  unsigned long long fields[16] = {};
  int got = 0;
  while (got < 16 && std::fscanf(stat, "%llu", &fields[got]) == 1) ++got;
  std::fclose(stat);
  counts.reads = fields[0];
  counts.writes = fields[4];
  counts.flushes = fields[15];
  return counts;
}

DeviceCounts Since(const DeviceCounts& before, const DeviceCounts& after) {
  return {after.writes - before.writes, after.flushes - before.flushes, after.reads - before.reads};
}

// The least a write of bytes can cost on device: one O_DIRECT write of them
// at offset from an aligned buffer, then one fsync. Seconds, or -1.
double OneDirectWrite(const std::string& device, uint64_t offset, uint64_t bytes) {
  void* buffer = nullptr;
  if (posix_memalign(&buffer, 4096, bytes) != 0) return -1;
  std::memset(buffer, 0xF6, bytes);
  double seconds = -1;
  int fd = open(device.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC);
  if (fd >= 0) {
    auto start = Clock::now();
    if (pwrite(fd, buffer, bytes, static_cast<off_t>(offset)) == static_cast<ssize_t>(bytes) &&
        fsync(fd) == 0) {
      seconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
    close(fd);
  }
  std::free(buffer);
  return seconds;
}

// Fills the sectors the write changes with a pattern, so that a write with
// its undo file finds something to keep in every one (untimed).
bool FillWithPattern(const std::string& device, const Volume& volume) {
  int fd = open(device.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = true;
  for (const auto& run : volume.Runs()) {
    std::vector<uint8_t> data(run.second * kSectorBytes);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i % 251 + 1);
    ok = ok && pwrite(fd, data.data(), data.size(), static_cast<off_t>(run.first * kSectorBytes)) ==
                   static_cast<ssize_t>(data.size());
  }
  ok = fsync(fd) == 0 && ok;
  close(fd);
  return ok;
}

// The least the write with its undo file and read-back can cost on device:
// the old sectors read (one O_DIRECT read a run), written to a new undo file
// in one write and made durable with one fdatasync and one fsync of its
// folder, the runs written (one O_DIRECT write each, the device flushed
// before and after the MBR), and read back (one read a run). Seconds, or -1.
double UndoFloor(const std::string& device, const Volume& volume, const std::string& undoFile) {
  const auto runs = volume.Runs();
  uint64_t sectors = 0;
  for (const auto& run : runs) sectors += run.second;
  const size_t bytes = sectors * kSectorBytes;
  void* memory = nullptr;
  if (posix_memalign(&memory, 4096, bytes) != 0) return -1;
  uint8_t* buffer = static_cast<uint8_t*>(memory);
  std::memset(buffer, 0xF6, bytes);
  double seconds = -1;
  int fd = open(device.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC);
  const std::string folder = undoFile.substr(0, undoFile.rfind('/'));
  if (fd >= 0) {
    auto start = Clock::now();
    bool ok = true;
    auto each = [&](bool write) {
      uint8_t* at = buffer;
      for (const auto& run : runs) {
        const size_t length = run.second * kSectorBytes;
        const off_t offset = static_cast<off_t>(run.first * kSectorBytes);
        if (write && run.first == 0) ok = ok && fdatasync(fd) == 0;
        ok = ok && (write ? pwrite(fd, at, length, offset) : pread(fd, at, length, offset)) ==
                       static_cast<ssize_t>(length);
        if (write && run.first == 0) ok = ok && fdatasync(fd) == 0;
        at += length;
      }
    };
    each(false);
    int undo = open(undoFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ok = ok && undo >= 0 && dir >= 0 && write(undo, buffer, bytes) == static_cast<ssize_t>(bytes) &&
         fdatasync(undo) == 0 && fsync(dir) == 0;
    if (undo >= 0) close(undo);
    if (dir >= 0) close(dir);
    each(true);
    each(false);
    if (ok) seconds = std::chrono::duration<double>(Clock::now() - start).count();
    close(fd);
    unlink(undoFile.c_str());
  }
  std::free(buffer);
  return seconds;
}

// The same write through a loop device over an image, as through a card
// reader: each WRITE SECTORS command one O_DIRECT write, the device's cache
// flushed around the MBR. Against it: one O_DIRECT write of the same bytes
// and an fsync, and sfdisk, mkfs.fat and sync making the same layout on the
// same device. Needs root and losetup.
void BenchLoopDevice(const std::string& self, const std::string& folder, const Card& card, int runs,
                     double imageWrite, const Volume& volume, std::vector<std::string> mkfs) {
  const std::string backing = folder + "/loop.img";
  const uint64_t cardBytes = CardBytes(card);
  int fd = open(backing.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0 || ftruncate(fd, static_cast<off_t>(cardBytes)) != 0) return;
  close(fd);
  std::string device;
  FILE* losetup = popen(("losetup -f --show '" + backing + "' 2>&1").c_str(), "r");
  if (losetup != nullptr) {
    char line[256] = {};
    if (fgets(line, sizeof line, losetup) != nullptr) device = line;
    int status = pclose(losetup);
    while (!device.empty() && device.back() == '\n') device.pop_back();
    if (status != 0 || device.compare(0, 9, "/dev/loop") != 0) {
      std::printf("  loop device          not measured: losetup failed (%s)\n", device.c_str());
      device.clear();
    }
  }
  if (!device.empty()) {
    std::vector<double> loopWrites, guardedWrites, floorWrites, directWrites, toolRuns;
    // Each run's guarded write against its own floor, and against its own
    // plain write, taken moments apart: a machine whose load changes
    // between runs changes both alike.
    std::vector<double> toFloor, toPlain;
    WriteReport report = {}, guarded = {};
    DeviceCounts dunmoreCounts, guardedCounts, directCounts, toolCounts;
    const std::string undoFile = folder + "/bench.undo";
    uint64_t undoBytes = 0;
    bool ok = true;
    // mkfs.fat on the whole device, at the volume's offset past the table
    // sfdisk wrote (-I: a device with a table is no mistake here).
    mkfs[mkfs.size() - 2] = device;
    mkfs.insert(mkfs.begin() + 1, "-I");
    const std::string table = "echo 'start=" + std::to_string(volume.start) +
                              ",size=" + std::to_string(volume.total) +
                              ",type=" + (volume.fat32 ? "c" : "6") +
                              "' | sfdisk -q --no-tell-kernel " + device + " >/dev/null";
    for (int run = 0; run < runs && ok; ++run) {
      DeviceCounts before = CountsOf(device);
      ProcessCost cost = {};
      ok = SpawnDunmoreSide(self, card, device, &report, &cost);
      dunmoreCounts = Since(before, CountsOf(device));
      loopWrites.push_back(report.seconds);

      // The same write keeping its undo file and reading back, over a card
      // whose every sector written holds something to keep.
      unlink(undoFile.c_str());
      ok = ok && FillWithPattern(device, volume);
      before = CountsOf(device);
      ok = ok && SpawnDunmoreSide(self, card, device, &guarded, &cost, undoFile);
      guardedCounts = Since(before, CountsOf(device));
      guardedWrites.push_back(guarded.seconds);
      undoBytes = FileSize(undoFile);
      unlink(undoFile.c_str());

      // Its floor, over the same pattern.
      ok = ok && FillWithPattern(device, volume);
      double floor = UndoFloor(device, volume, undoFile);
      ok = ok && floor >= 0;
      floorWrites.push_back(floor);
      toFloor.push_back(guarded.seconds / floor);
      toPlain.push_back(guarded.seconds / report.seconds);

      before = CountsOf(device);
      double direct = OneDirectWrite(device, volume.start * kSectorBytes, report.bytesWritten);
      directCounts = Since(before, CountsOf(device));
      ok = ok && direct >= 0;
      directWrites.push_back(direct);

      before = CountsOf(device);
      auto start = Clock::now();
      ok = ok && std::system(table.c_str()) == 0;
      ProcessCost tool = RunProcess(mkfs);
      ok =
          ok && WIFEXITED(tool.status) && WEXITSTATUS(tool.status) == 0 && std::system("sync") == 0;
      toolRuns.push_back(std::chrono::duration<double>(Clock::now() - start).count());
      toolCounts = Since(before, CountsOf(device));
    }
    if (ok) {
      const double loopWrite = Median(loopWrites);
      const double direct = Median(directWrites);
      const double tools = Median(toolRuns);
      std::printf(
          "  loop device          dunmore write %.4f s (%.1fx the image): %llu direct writes for "
          "%u WRITE SECTORS commands, %llu durable points; the kernel counted %llu writes, "
          "%llu flushes\n",
          loopWrite, loopWrite / imageWrite, static_cast<unsigned long long>(report.directWrites),
          report.writeCommands, static_cast<unsigned long long>(report.durablePoints),
          static_cast<unsigned long long>(dunmoreCounts.writes),
          static_cast<unsigned long long>(dunmoreCounts.flushes));
      const double guardedWrite = Median(guardedWrites);
      const double floor = Median(floorWrites);
      std::printf(
          "                       with undo file + read-back %.4f s (%.2fx its floor, %.2fx the "
          "plain write, %.2fx sfdisk + mkfs.fat + sync): undo file %llu bytes; the kernel "
          "counted %llu reads, %llu writes, %llu flushes\n",
          guardedWrite, guardedWrite / floor, guardedWrite / loopWrite,
          guardedWrite / Median(toolRuns), static_cast<unsigned long long>(undoBytes),
          static_cast<unsigned long long>(guardedCounts.reads),
          static_cast<unsigned long long>(guardedCounts.writes),
          static_cast<unsigned long long>(guardedCounts.flushes));
      std::printf(
          "                       its floor (old sectors read, one undo file write + "
          "fdatasync + folder fsync, the runs written with 2 flushes, read back) %.4f s "
          "(%.2fx the plain write)\n",
          floor, floor / loopWrite);
      std::printf(
          "                       run by run, with undo file + read-back / its floor: median "
          "%.2f (%.2f to %.2f); / the plain write: median %.2f\n",
          Median(toFloor), *std::min_element(toFloor.begin(), toFloor.end()),
          *std::max_element(toFloor.begin(), toFloor.end()), Median(toPlain));
      std::printf(
          "                       one O_DIRECT write of the same bytes + fsync %.4f s (%llu "
          "writes, %llu flushes): dunmore %.2fx\n",
          direct, static_cast<unsigned long long>(directCounts.writes),
          static_cast<unsigned long long>(directCounts.flushes), loopWrite / direct);
      std::printf(
          "                       sfdisk + mkfs.fat + sync %.4f s (%llu writes, %llu flushes): "
          "dunmore %.2fx\n",
          tools, static_cast<unsigned long long>(toolCounts.writes),
          static_cast<unsigned long long>(toolCounts.flushes), loopWrite / tools);
    } else {
      std::printf("  loop device          a side failed on %s\n", device.c_str());
    }
    std::string detach = "losetup -d '" + device + "'";
    if (std::system(detach.c_str()) != 0) std::fprintf(stderr, "%s failed\n", detach.c_str());
  }
  unlink(backing.c_str());
}

bool Bench(const std::string& self, const std::string& folder, const Card& card, int runs) {
  const std::string image = folder + "/dunmore.img";
  const std::string mkfsImage = folder + "/mkfs.img";
  const uint64_t cardBytes = CardBytes(card);

  std::vector<double> dunmoreWrite;
  std::vector<double> dunmoreProcess;
  std::vector<long> dunmoreRss;
  WriteReport report = {};
  for (int run = 0; run < runs; ++run) {
    unlink(image.c_str());
    ProcessCost cost = {};
    if (!SpawnDunmoreSide(self, card, image, &report, &cost)) {
      std::fprintf(stderr, "%s: the dunmore side failed\n", card.name);
      return false;
    }
    dunmoreWrite.push_back(report.seconds);
    dunmoreProcess.push_back(cost.seconds);
    dunmoreRss.push_back(cost.maxRssKb);
  }
  const Volume volume = ReadVolume(image);
  const uint64_t dunmoreAllocated = AllocatedBytes(image);

  // mkfs.fat: the same volume at the same place of an image of the same
  // card, with the same cluster size, reserved sectors, FAT count, hidden
  // sectors and root directory, and no alignment of its own.
  std::vector<std::string> mkfs = {"mkfs.fat",
                                   "-F",
                                   volume.fat32 ? "32" : "16",
                                   "-s",
                                   std::to_string(volume.sectorsPerCluster),
                                   "-R",
                                   std::to_string(volume.reserved),
                                   "-f",
                                   std::to_string(fat::kFatCount),
                                   "-h",
                                   std::to_string(volume.start),
                                   "-a",
                                   "--offset=" + std::to_string(volume.start)};
  if (!volume.fat32) {
    mkfs.push_back("-r");
    mkfs.push_back(std::to_string(fat::kFat16RootEntries));
  }
  mkfs.push_back(mkfsImage);
  mkfs.push_back(std::to_string(volume.total / 2));
  std::vector<double> mkfsProcess;
  std::vector<long> mkfsRss;
  for (int run = 0; run < runs; ++run) {
    unlink(mkfsImage.c_str());
    int fd = open(mkfsImage.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(cardBytes)) != 0) return false;
    close(fd);
    ProcessCost cost = RunProcess(mkfs);
    if (!WIFEXITED(cost.status) || WEXITSTATUS(cost.status) != 0) {
      std::fprintf(stderr, "%s: mkfs.fat failed\n", card.name);
      return false;
    }
    mkfsProcess.push_back(cost.seconds);
    mkfsRss.push_back(cost.maxRssKb);
  }
  const std::vector<uint8_t> mkfsBoot = ReadSector(mkfsImage, volume.start);
  const uint32_t mkfsFat = volume.fat32 ? Le32(mkfsBoot, 36) : Le16(mkfsBoot, 22);
  const uint64_t mkfsAllocated = AllocatedBytes(mkfsImage);

  const double write = Median(dunmoreWrite);
  const double process = Median(dunmoreProcess);
  const double mkfsTime = Median(mkfsProcess);
  const long rss = MedianKb(dunmoreRss);
  const long mkfsPeak = MedianKb(mkfsRss);
  std::printf("\n%s: %d x %d x %d, %s volume of %u sectors at %u, %u sectors a cluster\n",
              card.name, card.cylinders, card.heads, card.sectors, volume.fat32 ? "FAT32" : "FAT16",
              volume.total, volume.start, volume.sectorsPerCluster);
  std::printf("  FAT sectors          dunmore %u, mkfs.fat %u\n", volume.fatSectors, mkfsFat);
  std::printf("  time (median of %d)  dunmore write %.4f s (its process %.4f s), mkfs.fat %.4f s\n",
              runs, write, process, mkfsTime);
  std::printf("  ratio                write / mkfs.fat %.2f, process / mkfs.fat %.2f\n",
              write / mkfsTime, process / mkfsTime);
  std::printf(
      "  bytes written        dunmore %s (%llu bytes in %u commands), layout needs %s "
      "(%llu bytes)%s\n",
      Megabytes(report.bytesWritten).c_str(), static_cast<unsigned long long>(report.bytesWritten),
      report.writeCommands, Megabytes(volume.NeededBytes()).c_str(),
      static_cast<unsigned long long>(volume.NeededBytes()),
      report.bytesWritten == volume.NeededBytes() ? ", not a byte more" : ", DIFFERENT");
  std::printf("  allocated in image   dunmore %s, mkfs.fat %s (4 KB blocks)\n",
              Megabytes(dunmoreAllocated).c_str(), Megabytes(mkfsAllocated).c_str());
  std::printf("  peak memory          dunmore %ld KB, mkfs.fat %ld KB, ratio %.2f\n", rss, mkfsPeak,
              static_cast<double>(rss) / mkfsPeak);
  std::printf("  sparse               dunmore %s (%s of %s), mkfs.fat %s\n",
              dunmoreAllocated < FileSize(image) ? "yes" : "NO",
              Megabytes(dunmoreAllocated).c_str(), Megabytes(FileSize(image)).c_str(),
              mkfsAllocated < FileSize(mkfsImage) ? "yes" : "NO");
  BenchLoopDevice(self, folder, card, runs, write, volume, mkfs);
  unlink(image.c_str());
  unlink(mkfsImage.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 7 || argc == 8) && std::strcmp(argv[1], "--dunmore-side") == 0) {
    Card card = {"", std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4])};
    return RunDunmoreSide(card, argv[5], std::atoi(argv[6]), argc == 8 ? argv[7] : "");
  }
  int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  char folder[] = "/tmp/dunmore-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return 1;
  self[length] = '\0';

  // 16383 x 16 x 63 (8 GB) is cut to the planner's cap of 0xA00000 sectors;
  // 1016 x 16 x 63 is 500 MB of FAT16.
  const Card cards[] = {{"Largest card (0xA00000-sector cap, FAT32)", 16383, 16, 63},
                        {"512 MB card (FAT16)", 1016, 16, 63}};
  bool ok = true;
  for (const Card& card : cards) ok = Bench(self, folder, card, runs) && ok;
  rmdir(folder);
  return ok ? 0 : 1;
}
