// A card with something on it to lose: an old table, an old volume and a
// pattern in every sector the new layout would write, so that any sector the
// program touches shows, and the write a run makes, taken from the card model
// in this process.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/machine_text.h"

namespace faulttest {

// One WRITE SECTORS command: the absolute sectors [first, first + count).
struct Write {
  uint32_t first;
  uint32_t count;
  uint32_t end() const { return first + count; }
};

// What a sector of the old card held before any run: never zero, and never
// anything the formatter writes.
std::vector<uint8_t> PatternSector(uint32_t lba);

// The old card: its MBR (boot code, one FAT16 partition and one extended
// partition placed beyond `patternEnd`) and the old volume's boot sector
// written over a sparse image of the card's size; every sector below
// patternEnd but the MBR holds its pattern.
struct OldCard {
  testsupport::MachineCard machineCard;
  std::string image;
  uint32_t patternEnd = 0;
  std::vector<uint8_t> mbr;
  std::vector<uint8_t> region;  // sectors [0, patternEnd) as created
  std::string fingerprint;      // of the whole image as created

  void Create();
  // Sectors below patternEnd that differ from what Create wrote.
  std::vector<uint32_t> ChangedSectors() const;
  // Writes the region back as Create left it, so that the card can serve the
  // next run; true when the whole image is then as created, that is when
  // nothing from patternEnd on was changed.
  bool Restore() const;
};

// Runs the write in this process on a copy of the card at `image`: the same
// planning as "1" (with the large-disk rule of the start-up) and the write of
// "Y". Returns the WRITE SECTORS commands in order; empty on failure.
std::vector<Write> ReferenceWrites(const testsupport::MachineCard& machineCard,
                                   const std::string& image);

// "a-b" or "a" for a sorted run of sectors, runs separated by commas.
std::string DescribeSectors(const std::vector<uint32_t>& sectors);

}  // namespace faulttest
