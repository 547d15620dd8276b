#include "sim/ata_card.h"

#include <algorithm>
#include <cstring>

#include "common/ata_commands.h"
#include "common/little_endian.h"
#include "sim/identify_layout.h"
#include "sim/medium.h"

namespace sim {
namespace {

// IDENTIFY DEVICE words, as a CompactFlash card fills them.
constexpr int kWordSectorsPerCardHigh = 7;  // the card's capacity, high word first
constexpr int kWordSectorsPerCardLow = 8;
constexpr int kWordBufferType = 20;
constexpr uint16_t kDualPortedMultiSectorBuffer = 2;
constexpr int kWordBufferSize = 21;  // in 512-byte units
constexpr uint16_t kBufferSectors = 2;
constexpr int kWordEccBytes = 22;
constexpr uint16_t kEccBytes = 4;
constexpr int kWordMaxMultiple = 47;
constexpr uint16_t kOneSectorMultiple = 0x8001;
constexpr int kWordCapabilities = 49;
constexpr uint16_t kLbaSupported = 0x0200;
constexpr int kWordPioTiming = 51;
constexpr uint16_t kPioMode2 = 0x0200;
constexpr int kWordFieldValidity = 53;
constexpr uint16_t kCurrentGeometryValid = 0x0001;
constexpr int kWordCurrentCylinders = 54;
constexpr int kWordCurrentHeads = 55;
constexpr int kWordCurrentSectorsPerTrack = 56;
constexpr int kWordCurrentCapacity = 57;         // two words, low word first
constexpr int kWordUserAddressableSectors = 60;  // two words, low word first

void PutWord(uint8_t* block, int word, uint16_t value) {
  PutLe16(block + 2 * word, value);
}

void PutDoubleWord(uint8_t* block, int word, uint32_t value) {
  PutWord(block, word, static_cast<uint16_t>(value));
  PutWord(block, word + 1, static_cast<uint16_t>(value >> 16));
}

// ATA text: left-justified, padded with blanks, two characters a word with the
// first character in the word's high byte.
void PutAtaText(uint8_t* block, int word, int chars, const std::string& text) {
  uint8_t* field = block + 2 * word;
  for (int i = 0; i < chars; ++i) {
    char c = i < static_cast<int>(text.size()) ? text[i] : ' ';
    field[i ^ 1] = static_cast<uint8_t>(c);
  }
}

}  // namespace

AtaCard::AtaCard(const CardSettings& settings) : settings_(settings) {}

AtaCard::~AtaCard() {
  ReleaseVolumeLockNow();
  if (settings_.openMedium == nullptr) CloseMedium(medium_.fd);
}

bool AtaCard::OpenMedium(std::string* error) {
  if (medium_.fd >= 0) return true;
  uint64_t size = static_cast<uint64_t>(settings_.identity.cylinders) * settings_.identity.heads *
                  settings_.identity.sectorsPerTrack * kAtaSectorBytes;
  int fd = settings_.openMedium != nullptr ? settings_.openMedium(settings_.image, size, error)
                                           : sim::OpenMedium(settings_.image, size, error);
  if (fd < 0) return false;
  medium_ = DescribeMedium(fd);
  return true;
}

bool AtaCard::Identify(uint8_t block[kIdentifyBlockBytes]) {
  const CardIdentity& s = settings_.identity;
  uint32_t capacity = static_cast<uint32_t>(s.cylinders) * s.heads * s.sectorsPerTrack;
  std::memset(block, 0, kAtaSectorBytes);
  PutWord(block, kWordGeneralConfig, kCompactFlashSignature);
  PutWord(block, kWordCylinders, s.cylinders);
  PutWord(block, kWordHeads, s.heads);
  PutWord(block, kWordSectorsPerTrack, s.sectorsPerTrack);
  PutWord(block, kWordSectorsPerCardHigh, static_cast<uint16_t>(capacity >> 16));
  PutWord(block, kWordSectorsPerCardLow, static_cast<uint16_t>(capacity));
  PutAtaText(block, kWordSerialNumber, kSerialNumberChars, s.serialNumber);
  PutWord(block, kWordBufferType, kDualPortedMultiSectorBuffer);
  PutWord(block, kWordBufferSize, kBufferSectors);
  PutWord(block, kWordEccBytes, kEccBytes);
  PutAtaText(block, kWordFirmwareRevision, kFirmwareRevisionChars, s.firmwareRevision);
  PutAtaText(block, kWordModel, kModelChars, s.model);
  PutWord(block, kWordMaxMultiple, kOneSectorMultiple);
  PutWord(block, kWordCapabilities, kLbaSupported);
  PutWord(block, kWordPioTiming, kPioMode2);
  PutWord(block, kWordFieldValidity, kCurrentGeometryValid);
  PutWord(block, kWordCurrentCylinders, s.cylinders);
  PutWord(block, kWordCurrentHeads, s.heads);
  PutWord(block, kWordCurrentSectorsPerTrack, s.sectorsPerTrack);
  PutDoubleWord(block, kWordCurrentCapacity, capacity);
  PutDoubleWord(block, kWordUserAddressableSectors, capacity);
  return true;
}

bool AtaCard::ReadSectors(uint32_t cylinder, uint32_t head, uint32_t sector, uint32_t count,
                          uint8_t* data) {
  return Move(kAtaReadSectors, cylinder, head, sector, count, data, nullptr);
}

bool AtaCard::WriteSectors(uint32_t cylinder, uint32_t head, uint32_t sector, uint32_t count,
                           const uint8_t* data) {
  ++writeCommands_;
  if (writeCommands_ == settings_.stopAtWrite && settings_.stop != nullptr) settings_.stop();
  if (writeCommands_ == settings_.killAtWrite && settings_.powerCut != nullptr) {
    settings_.powerCut();
  }
  return Move(kAtaWriteSectors, cylinder, head, sector, count, nullptr, data);
}

// The sector number of the first listed bad sector in [first, first + count),
// or first + count when there is none. Sectors that only refuse writes count
// for writes alone.
uint32_t AtaCard::FirstBadSector(uint32_t first, uint32_t count, bool writing) const {
  uint32_t end = first + count;
  uint32_t bad = end;
  auto lower = [&](const std::vector<SectorRange>& ranges) {
    for (const SectorRange& range : ranges) {
      if (range.last < first || range.first >= end) continue;
      bad = std::min(bad, std::max(range.first, first));
    }
  };
  lower(settings_.badSectors);
  if (writing) lower(settings_.badWriteSectors);
  return bad;
}

bool AtaCard::Move(uint8_t command, uint32_t cylinder, uint32_t head, uint32_t sector,
                   uint32_t count, uint8_t* readInto, const uint8_t* writeFrom) {
  const uint64_t heads = settings_.identity.heads;
  const uint64_t perTrack = settings_.identity.sectorsPerTrack;
  const uint64_t geometrySectors = settings_.identity.cylinders * heads * perTrack;
  const uint64_t first = (cylinder * heads + head) * perTrack + sector - 1;
  Transfer record{command, static_cast<uint32_t>(first), count, false};

  // The medium is opened, or a new image created, on the card's first
  // transfer that the geometry allows. A count of 0, which a drive reads as
  // 256, fails here: the utility never sends it.
  std::string unused;
  bool addressable = count >= 1 && count <= kAtaMaxSectorCount && sector >= 1 &&
                     sector <= perTrack && head < heads &&
                     cylinder < settings_.identity.cylinders && OpenMedium(&unused);
  if (!addressable) {
    transfers.push_back(record);
    return false;
  }
  // The drive moves sector after sector, running on across track and cylinder
  // ends, until it meets a sector that the geometry, the medium or the bad
  // sector list does not allow; that one and the rest are not transferred.
  uint64_t usable = std::min<uint64_t>(count, geometrySectors - first);
  uint64_t mediumSectors = medium_.bytes / kAtaSectorBytes;
  usable = mediumSectors > first ? std::min(usable, mediumSectors - first) : 0;
  usable = FirstBadSector(static_cast<uint32_t>(first), static_cast<uint32_t>(usable),
                          writeFrom != nullptr) -
           first;

  uint64_t offset = first * kAtaSectorBytes;
  uint32_t bytes = static_cast<uint32_t>(usable) * kAtaSectorBytes;
  bool moved =
      bytes == 0 || (readInto != nullptr ? ReadMedium(medium_, offset, readInto, bytes)
                                         : Write(static_cast<uint32_t>(first),
                                                 static_cast<uint32_t>(usable), writeFrom));
  record.succeeded = moved && usable == count;
  transfers.push_back(record);
  return record.succeeded;
}

bool AtaCard::Write(uint32_t first, uint32_t count, const uint8_t* data) {
  if (settings_.beforeWrite != nullptr &&
      !settings_.beforeWrite(settings_, medium_, first, count)) {
    return false;
  }
  // The sectors the card keeps, in runs between those it loses; a card that
  // loses none writes the whole run at once.
  const uint32_t end = first + count;
  uint32_t at = first;
  while (at < end) {
    uint32_t lost = FirstLostSector(at, end);
    if (lost > at && !WriteMedium(medium_, static_cast<uint64_t>(at) * kAtaSectorBytes,
                                  data + static_cast<size_t>(at - first) * kAtaSectorBytes,
                                  (lost - at) * kAtaSectorBytes)) {
      return false;
    }
    at = lost;
    while (at < end && FirstLostSector(at, at + 1) == at) ++at;
  }
  return settings_.afterWrite == nullptr ||
         settings_.afterWrite(settings_, medium_, first, count, data);
}

uint32_t AtaCard::FirstLostSector(uint32_t first, uint32_t end) const {
  uint32_t lost = end;
  for (const SectorRange& range : settings_.lostWriteSectors) {
    if (range.last < first || range.first >= end) continue;
    lost = std::min(lost, std::max(range.first, first));
  }
  return lost;
}

bool AtaCard::HoldVolumeLock() {
  if (lockDepth_ == 0) {
    std::string unused;
    if (!OpenMedium(&unused)) return false;
    if (settings_.openMedium == nullptr) {
      lockFd_ = TryLockExclusive(settings_.image);
      locked_ = lockFd_ >= 0;
    } else {
      // A medium the host opened is locked on that one descriptor: held
      // already when the host has it exclusively, else taken on it now.
      locked_ = settings_.openedExclusively || LockOpenedMedium(medium_.fd);
      lockedOpened_ = locked_ && !settings_.openedExclusively;
    }
    if (locked_ && !settings_.lockedWith.empty()) {
      lockWithFd_ = TryLockExclusive(settings_.lockedWith);
      if (lockWithFd_ < 0) ReleaseVolumeLockNow();
    }
    if (!locked_) {
      lockRefused_ = true;
      return false;
    }
  }
  ++lockDepth_;
  return true;
}

bool AtaCard::ReleaseVolumeLock() {
  if (lockDepth_ == 0) return false;
  if (--lockDepth_ == 0) ReleaseVolumeLockNow();
  return true;
}

void AtaCard::ReleaseVolumeLockNow() {
  ReleaseLock(lockFd_);
  ReleaseLock(lockWithFd_);
  if (lockedOpened_) UnlockOpenedMedium(medium_.fd);
  lockFd_ = -1;
  lockWithFd_ = -1;
  locked_ = false;
  lockedOpened_ = false;
}

}  // namespace sim
