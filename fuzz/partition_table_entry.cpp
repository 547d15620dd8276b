// The start-up's reading of a card, and the plan and write after it, on a
// card of any geometry holding any bytes. The input:
//
//   bytes 0-5   IDENTIFY words 1, 3 and 6: cylinders, heads, sectors per
//               track, little-endian, as the card reports them
//   byte 6      bit 0: the image has the geometry's size (sparse) instead of
//               just the bytes given; bit 1: one sector is bad; bit 2: the
//               card has no drive letter; bit 3: plan over the disk read;
//               bit 4: the machine runs Windows 95, without FAT32 (else 98);
//               bit 5: write the plan
//   bytes 7-10  the bad sector, little-endian
//   the rest    the image from sector 0: the MBR, boot sectors, anything
//
// Opening refuses what cannot be addressed; what is accepted is read and
// listed within the listing's room, every sector read is the MBR or a
// partition's first sector (at its start when that names a sector of the
// card, else at its first-sector field when that lies on the card), and a
// plan that is written reads back as the one FAT partition planned.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "app/run_utility.h"
#include "common/ata_commands.h"
#include "common/little_endian.h"
#include "console/console_screen.h"
#include "device/disk_channel.h"
#include "discovery/card_device_table.h"
#include "discovery/drive_letter_map.h"
#include "disk/card_disk.h"
#include "fuzz/fuzz_entries.h"
#include "host/testing.h"
#include "host/host.h"
#include "host/testing.h"
#include "sim/ata_card.h"
#include "tests/support/card_key.h"

namespace {

constexpr size_t kHeaderBytes = 11;
constexpr uint64_t kSectorBytes = kAtaSectorBytes;
// The host's file system holds sparse files up to some terabytes; a larger
// geometry gets an image shorter than itself, which is one of the cases.
constexpr uint64_t kLargestImage = 1ull << 40;
// Writing formats FATs of up to some megabytes: only cards a little over
// 2 GB, the smallest that take FAT32, are written.
constexpr uint64_t kLargestWrittenCard = 0x480000;
// The main screen lists eight entries; the MBR holds four.
constexpr int kListingRoom = 8;

// The image's folder, made once a process and removed as the process exits
// (a plain array: it outlives every destructor that runs at exit).
char imageFolder[] = "/tmp/dunmore-fuzz-XXXXXX";
constexpr char kImageName[] = "/card.img";

void RemoveImage() {
  char image[sizeof imageFolder + sizeof kImageName];
  std::snprintf(image, sizeof image, "%s%s", imageFolder, kImageName);
  unlink(image);
  rmdir(imageFolder);
}

const std::string& ImagePath() {
  static const std::string path = [] {
    if (mkdtemp(imageFolder) == nullptr) abort();
    std::atexit(RemoveImage);
    return std::string(imageFolder) + kImageName;
  }();
  return path;
}

bool WriteImage(const uint8_t* bytes, size_t size, uint64_t length) {
  int fd = open(ImagePath().c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  bool ok = size == 0 || pwrite(fd, bytes, size, 0) == static_cast<ssize_t>(size);
  ok = ok && ftruncate(fd, static_cast<off_t>(std::max<uint64_t>(length, size))) == 0;
  close(fd);
  return ok;
}

// The card at ports 0x170-0x177 and 0x376; with a letter, its disk is drive
// E: in the device registry.
std::string Machine(uint32_t cylinders, uint32_t heads, uint32_t sectors, bool letter, bool bad,
                    uint32_t badSector) {
  testsupport::CardKey card =
      testsupport::BareCardKey(ImagePath(), cylinders, heads, sectors, "FUZZ CARD");
  if (bad) card.badSectors = std::to_string(badSector);
  return testsupport::CardMachine({card}, "", letter);
}

CardDisk* OpenCard(bool letter, int fat32Allowed) {
  CardDeviceRecord record = {};
  record.ioBase = 0x170;
  record.controlPort = 0x376;
  std::strcpy(record.driveLetters, letter ? "E" : "");
  CardDisk* disk = new (std::nothrow) CardDisk;
  FUZZ_CHECK(disk != nullptr);
  disk->partitions = nullptr;
  if (disk->Open(record, theDriveLetterMap, fat32Allowed) == nullptr) {
    disk->Destroy();
    delete disk;
    return nullptr;
  }
  return disk;
}

// Windows 95 before OSR2 and Windows 98, as the version record numbers them.
constexpr unsigned kWindows95Build = 950;
constexpr unsigned kWindows98Build = 1998;

void Close(CardDisk* disk) {
  theCardDisk = disk;
  CloseCard();
}

// The listing as the main screen draws it: at most the MBR's four entries,
// each with terminated texts and a position on the disk.
int CheckListing(CardDisk* disk) {
  PartitionEntry* list[PartitionList::kSlots];
  int count = disk->ListPartitions(0, list);
  FUZZ_CHECK(count >= 0 && count <= 4 && count <= kListingRoom);
  for (int i = 0; i < count; ++i) {
    FUZZ_CHECK(std::memchr(list[i]->label, 0, sizeof list[i]->label) != nullptr);
    FUZZ_CHECK(std::memchr(list[i]->system, 0, sizeof list[i]->system) != nullptr);
    FUZZ_CHECK(list[i]->type != 0);
  }
  theCardDisk = disk;
  ShowPartitionTable(10);
  return count;
}

// The sectors the table's reading may read, from the MBR as the image holds
// it: the MBR itself and each non-extended entry's first sector; those of
// entries whose start names no sector of the card must all be read when the
// reading succeeded.
void CheckTableReads(const CardDisk* disk, const uint8_t* image, size_t imageSize,
                     size_t firstTransfer, bool succeeded) {
  uint8_t mbr[kAtaSectorBytes] = {};
  std::memcpy(mbr, image, std::min<size_t>(imageSize, sizeof mbr));
  const uint64_t pc = static_cast<uint64_t>(disk->physicalCylinders);
  const uint64_t ph = static_cast<uint64_t>(disk->physicalHeads);
  const uint64_t ps = static_cast<uint64_t>(disk->physicalSectors);
  uint64_t allowed[5] = {0};
  int allowedCount = 1;
  uint64_t required[4];
  int requiredCount = 0;
  for (int i = 0; i < 4; ++i) {
    const uint8_t* e = mbr + kMbrEntriesOffset + sizeof(RawPartitionEntry) * i;
    const uint8_t type = e[kEntryType];
    if (type == 0 || type == kPartitionTypeExtended || type == kPartitionTypeExtendedLba) continue;
    const int32_t cylinder =
        (e[kEntryStartSector] & kEntryCylinderHighMask) * 4 + e[kEntryStartCylinder];
    const int32_t head = e[kEntryStartHead];
    const int32_t sector = e[kEntryStartSector] & kEntrySectorMask;
    if (sector >= 1 && sector <= disk->logicalSectors && head < disk->logicalHeads &&
        cylinder < disk->logicalCylinders) {
      const uint64_t ratio = pc / static_cast<uint64_t>(disk->logicalCylinders);
      const uint64_t physicalCylinder = cylinder * ratio + head / ph;
      allowed[allowedCount++] = (physicalCylinder * ph + head % ph) * ps + sector - 1;
    } else if (GetLe32(e + kEntryFirstSector) < pc * ph * ps) {
      allowed[allowedCount++] = GetLe32(e + kEntryFirstSector);
      required[requiredCount++] = GetLe32(e + kEntryFirstSector);
    }
  }
  const std::vector<sim::Transfer>& transfers = host::FindOpenCard(0x170)->transfers;
  for (size_t t = firstTransfer; t < transfers.size(); ++t) {
    FUZZ_CHECK(transfers[t].command == kAtaReadSectors && transfers[t].count == 1);
    FUZZ_CHECK(std::find(allowed, allowed + allowedCount, transfers[t].firstSector) !=
               allowed + allowedCount);
  }
  if (!succeeded) return;
  for (int r = 0; r < requiredCount; ++r) {
    bool read = false;
    for (size_t t = firstTransfer; t < transfers.size(); ++t) {
      read = read || transfers[t].firstSector == required[r];
    }
    FUZZ_CHECK(read);
  }
}

}  // namespace

int FuzzPartitionTable(const uint8_t* data, size_t size) {
  if (size < kHeaderBytes) return 0;
  const uint32_t cylinders = GetLe16(data);
  const uint32_t heads = GetLe16(data + 2);
  const uint32_t sectors = GetLe16(data + 4);
  const uint8_t flags = data[6];
  const bool fullImage = (flags & 1) != 0;
  const bool bad = (flags & 2) != 0;
  const bool letter = (flags & 4) == 0;
  const bool plan = (flags & 8) != 0;
  const bool windows95 = (flags & 16) != 0;
  const bool write = (flags & 32) != 0;
  const uint32_t badSector = GetLe32(data + 7);
  const uint64_t geometrySectors = static_cast<uint64_t>(cylinders) * heads * sectors;

  host::StartHeadlessConsole();
  theConsole = ConsoleScreen();
  if (theConsole.Init() != 0) abort();
  uint64_t length = fullImage ? std::min(geometrySectors * kSectorBytes, kLargestImage) : 0;
  if (!WriteImage(data + kHeaderBytes, size - kHeaderBytes, length)) abort();
  std::string error;
  if (!host::LoadMachineText(Machine(cylinders, heads, sectors, letter, bad, badSector), "fuzz.reg",
                             &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    abort();
  }
  theDiskChannel.Open();
  theDriveLetterMap.Reset();

  CardDisk* disk = OpenCard(letter, 0);
  if (disk == nullptr) {
    // Refused: a card the conversions cannot address.
    FUZZ_CHECK(cylinders == 0 || heads == 0 || sectors == 0 || sectors > kMaxEntrySectors ||
               cylinders >= 0x8000 || heads >= 0x8000 || sectors >= 0x8000 ||
               heads > kMaxEntryHeads || cylinders > kMaxEntryCylinders);
    Close(nullptr);
    return 0;
  }
  FUZZ_CHECK(disk->logicalCylinders >= 1 && disk->logicalCylinders <= 0xFFFF);
  FUZZ_CHECK(disk->logicalHeads >= 1 && disk->logicalHeads <= kMaxEntryHeads);
  FUZZ_CHECK(disk->logicalSectors == disk->physicalSectors);
  // Each logical cylinder is one or more whole physical ones.
  FUZZ_CHECK(disk->logicalCylinders <= disk->physicalCylinders);
  FUZZ_CHECK(host::FindOpenCard(0x170) != nullptr);

  const size_t firstTransfer = host::FindOpenCard(0x170)->transfers.size();
  int read = disk->ReadPartitionTable();
  FUZZ_CHECK(read == 0 || read == -1 || read == kVolumeLockRefused);
  if (letter)
    CheckTableReads(disk, data + kHeaderBytes, size - kHeaderBytes, firstTransfer, read == 0);
  if (!letter) FUZZ_CHECK(read == 0 && CheckListing(disk) == 0);
  CheckListing(disk);
  if (read != 0 || !plan) {
    Close(disk);
    return 0;
  }

  // The start-up's rule: FAT32 for a card above 2 GB on Windows 98, and
  // such a card refused on Windows 95.
  if (ApplyLargeDiskRule(*disk, windows95 ? kWindows95Build : kWindows98Build) != 0) {
    Close(disk);
    return 0;
  }
  disk->ClearPartitions();
  FUZZ_CHECK(CheckListing(disk) == 0);
  theCardDisk = disk;
  if (Repartition() != 0) {
    Close(disk);
    return 0;
  }
  FUZZ_CHECK(CheckListing(disk) == 1);
  PartitionEntry* list[PartitionList::kSlots];
  disk->ListPartitions(0, list);
  const uint8_t planned = list[0]->type;
  FUZZ_CHECK(disk->UsableSectors() <= kPartitionSizeCap);
  if (!write || geometrySectors > kLargestWrittenCard) {
    Close(disk);
    return 0;
  }

  int written = disk->WritePartitionTable();
  Close(disk);
  // A card without a drive letter is never read back; one with a letter
  // reads back as the one partition planned, with the system name of its
  // FAT.
  if (written != 0 || !letter) return 0;
  theDiskChannel.Open();
  disk = OpenCard(letter, 0);
  FUZZ_CHECK(disk != nullptr);
  FUZZ_CHECK(disk->ReadPartitionTable() == 0);
  FUZZ_CHECK(CheckListing(disk) == 1);
  disk->ListPartitions(0, list);
  FUZZ_CHECK(list[0]->type == planned);
  FUZZ_CHECK(std::strncmp(list[0]->system, "FAT", 3) == 0);
  Close(disk);
  return 0;
}
