#include "tool/undo/write_plan.h"

#include <algorithm>

namespace tool {

void PlannedSectors::Add(uint32_t first, uint32_t count) {
  if (count == 0) return;
  uint64_t end = static_cast<uint64_t>(first) + count;
  // The runs it meets or touches are taken into it.
  auto from = std::lower_bound(runs.begin(), runs.end(), first,
                               [](const SectorRunPlan& run, uint32_t sector) {
                                 return static_cast<uint64_t>(run.first) + run.count < sector;
                               });
  auto to = from;
  while (to != runs.end() && to->first <= end) {
    first = std::min(first, to->first);
    end = std::max<uint64_t>(end, static_cast<uint64_t>(to->first) + to->count);
    ++to;
  }
  from = runs.erase(from, to);
  runs.insert(from, SectorRunPlan{first, static_cast<uint32_t>(end - first)});
}

void PlannedSectors::Add(const std::vector<SectorRunPlan>& more) {
  for (const SectorRunPlan& run : more) Add(run.first, run.count);
}

bool PlannedSectors::Covers(uint32_t first, uint32_t count) const {
  auto run = std::upper_bound(
      runs.begin(), runs.end(), first,
      [](uint32_t sector, const SectorRunPlan& each) { return sector < each.first; });
  if (run == runs.begin()) return count == 0;
  --run;
  return static_cast<uint64_t>(first) + count <= static_cast<uint64_t>(run->first) + run->count;
}

uint64_t PlannedSectors::Sectors() const {
  uint64_t sectors = 0;
  for (const SectorRunPlan& run : runs) sectors += run.count;
  return sectors;
}

}  // namespace tool
