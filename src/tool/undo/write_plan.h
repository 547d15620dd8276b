// The sectors a run will write to a card, known before the first of them
// reaches it, so that all they hold can be kept in the undo file at once.
// Each part of the run that writes adds its own sectors.
#pragma once

#include <cstdint>
#include <vector>

#include "format/volume_plan.h"

namespace tool {

struct PlannedSectors {
  // In order of their first sector, each sector once.
  std::vector<SectorRunPlan> runs;

  void Add(uint32_t first, uint32_t count);
  void Add(const std::vector<SectorRunPlan>& more);
  // Whether every sector of count from first is planned.
  bool Covers(uint32_t first, uint32_t count) const;
  uint64_t Sectors() const;
  bool Empty() const { return runs.empty(); }
};

}  // namespace tool
