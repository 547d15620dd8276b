// The finishing step on a whole card: its one FAT partition found and
// checked through the master boot record, the boot code and active flag
// and/or a BIOS geometry put in, and the sectors written back, the master
// boot record last. Works on any card through SectorIo, so that the native
// program runs it on the card's model and the tests on a buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/ata_card.h"
#include "tool/finish/boot_patch.h"

namespace tool {

// Whole 512-byte sectors of a card, by their number from 0.
class SectorIo {
 public:
  virtual ~SectorIo() = default;
  virtual bool Read(uint32_t sector, uint8_t data[kAtaSectorBytes]) = 0;
  virtual bool Write(uint32_t sector, const uint8_t data[kAtaSectorBytes]) = 0;
};

// A card through its model, sector by sector, as the system's commands
// reach it: the steps a run takes around each of its writes (the undo file,
// the read-back) and the model's own (the MBR made durable after all before
// it) apply to these too.
class CardSectorIo : public SectorIo {
 public:
  explicit CardSectorIo(sim::AtaCard* card) : card_(card) {}
  bool Read(uint32_t sector, uint8_t data[kAtaSectorBytes]) override;
  bool Write(uint32_t sector, const uint8_t data[kAtaSectorBytes]) override;

 private:
  sim::AtaCard* card_;
};

struct FinishOptions {
  bool bootCode = false;      // --boot: the boot code, the entry active
  bool withGeometry = false;  // --bios, --bios-geometry: the CHS values
  BiosGeometry geometry;
};

// The card as found: its master boot record, its one FAT partition and
// that partition's boot sector (and a FAT32 volume's copy of it).
struct FinishedCard {
  int entry = -1;  // 0 to 3
  uint8_t type = 0;
  uint32_t firstSector = 0;
  uint32_t sectorCount = 0;
  FatKind kind = FatKind::kNone;
  uint32_t backupSector = 0;  // the copy's absolute sector; 0: none
  uint8_t mbr[kAtaSectorBytes] = {};
  uint8_t boot[kAtaSectorBytes] = {};
  uint8_t backup[kAtaSectorBytes] = {};
};

// Reads and checks the card of cardSectors sectors: a master boot record
// (55 AA) with exactly one entry in use, a FAT16 or FAT32 type, within the
// card, whose first sector is a FAT boot sector of that kind. False with
// *why, one phrase, for anything else.
bool InspectCard(SectorIo* io, uint64_t cardSectors, FinishedCard* card, std::string* why);

// Whether options can describe the card (the partition's first sector needs
// a CHS address of its own). False with *why.
bool CheckFinishOptions(const FinishedCard& card, const FinishOptions& options, std::string* why);

// What FinishCard will change, one line each, for the user to confirm.
std::vector<std::string> DescribeFinish(const FinishedCard& card, const FinishOptions& options);

// Writes the finished sectors: the boot sector's copy, the boot sector, and
// the master boot record last, so that a card cut off in between still
// starts from nowhere and holds the same volume. False with *why when a
// sector does not write.
bool FinishCard(SectorIo* io, const FinishedCard& card, const FinishOptions& options,
                std::string* why);

// "255 heads x 63 sectors"
std::string GeometryWords(const BiosGeometry& geometry);

}  // namespace tool
