// Old signatures: what the system's write leaves on a card that other tools
// would still find beside the new table and volume, cleared after the
// system's write (its sectors written with zeros through the card, kept in
// the undo file and read back as every write is).
//
// The system writes its MBR over sector 0 and, from the second track on,
// the new volume's boot sector, FATs and root directory, which cover every
// place where a file-system prober looks inside the new partition. Two
// kinds of places stay as they were, and are cleared:
//   - a GPT's headers: sector 1 and the card's last sector (and the backup
//     the primary names, where that is elsewhere), when either holds a valid
//     header: tools that prefer a GPT to the DOS table would read the old
//     partitions;
//   - the sectors between the MBR and the new volume, from the first that is
//     not all zeros to the last, in one run: the primary GPT's entries, and
//     the superblocks and labels of a file system or volume made on the
//     whole card (ext2/3/4 at 1 KB, swap, LVM, RAID 1.1 and 1.2), which
//     blkid reports for the whole card next to the new DOS table. Nothing
//     of the new card lives there (the system's MBR carries no boot code
//     that would).
// Left as they are: signatures at the card's end other than the GPT's
// (RAID 0.90 and 1.0 superblocks, ZFS labels), which only disks taken into
// such arrays carry, and file systems of the old partitions past the new
// volume's first sectors, which no prober looks for where they are.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/ata_commands.h"
#include "format/volume_plan.h"
#include "sim/medium.h"
#include "tool/finish/finish_card.h"

namespace tool {

// The GPT header: "EFI PART", its size, its CRC-32 (with the field zero),
// the sector it says it is at and the sector of the other header.
constexpr char kGptSignature[8] = {'E', 'F', 'I', ' ', 'P', 'A', 'R', 'T'};
constexpr size_t kGptHeaderSizeAt = 12;
constexpr size_t kGptHeaderCrcAt = 16;
constexpr size_t kGptMyLbaAt = 24;
constexpr size_t kGptAlternateLbaAt = 32;
constexpr uint32_t kGptSmallestHeader = 92;
constexpr uint32_t kGptPrimaryHeaderSector = 1;

// Whether the sector holds a valid GPT header that says it is at sector lba;
// *alternate: where it says the other header is.
bool IsGptHeader(const uint8_t sector[kAtaSectorBytes], uint64_t lba, uint64_t* alternate);

// A card's sectors read from a descriptor of its medium, for what is on the
// card before anything writes it, a chunk at a time (the sectors before the
// volume are read one after the other); it writes nothing.
class MediumSectorIo : public SectorIo {
 public:
  explicit MediumSectorIo(int fd) : medium_(sim::DescribeMedium(fd)) {}
  bool Read(uint32_t sector, uint8_t data[kAtaSectorBytes]) override;
  bool Write(uint32_t sector, const uint8_t data[kAtaSectorBytes]) override;
  uint64_t Sectors() const { return medium_.bytes / kAtaSectorBytes; }

 private:
  static constexpr uint32_t kChunkSectors = 64;
  sim::Medium medium_;
  uint64_t chunkFirst_ = 0;
  uint32_t chunkSectors_ = 0;  // 0: nothing read yet
  std::vector<uint8_t> chunk_;
};

// The sectors to clear on the card of cardSectors sectors read through card,
// whose new volume begins at sector volumeStart (the second track), in
// ascending runs: what is on the card before the write decides them, so
// that they are known before anything is written. The runs may hold sectors
// the system's write itself covers: see SectorsOutside.
std::vector<SectorRunPlan> OldSignatureSectors(SectorIo* card, uint64_t cardSectors,
                                               uint32_t volumeStart);

// The runs without the sectors of written, in ascending runs.
std::vector<SectorRunPlan> SectorsOutside(const std::vector<SectorRunPlan>& runs,
                                          const std::vector<SectorRunPlan>& written);

}  // namespace tool
