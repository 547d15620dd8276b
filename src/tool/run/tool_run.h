// One run of the native program: what it was told, the mode chosen once,
// and what it keeps while the machine runs (the undo file and read-back,
// the finishing step, the notes for standard error), in one object handed
// to whatever needs it. The machine reaches it only through the hooks made
// here.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "host/machine_hooks.h"
#include "tool/command/message.h"
#include "tool/command/mode.h"
#include "tool/command/settings.h"
#include "tool/finish/finish_host.h"
#include "tool/run/progress.h"
#include "tool/undo/write_guard.h"
#include "tool/undo/write_plan.h"

namespace tool {

struct ToolRun {
  Settings settings;
  Mode mode;
  Notes notes;
  WriteGuard guard;
  Finishing finishing;
  Progress progress;
  // The system's write was planned for its card: its undo file kept ahead.
  bool writePlanned = false;
  // The cards whose write ended with the master boot record, as outputs
  // name them.
  std::vector<std::string> written;

  ToolRun(const Settings& given, const Mode& chosen);
  ToolRun(const ToolRun&) = delete;
  ToolRun& operator=(const ToolRun&) = delete;
};

// The machine's hooks bound to the run: its undo file and read-back around
// each write, its finishing step, its notes.
host::MachineHooks HooksFor(ToolRun* run);

// What the system's write and everything the run writes after it will
// write to the card, known before the write: each part that writes adds
// its sectors, given the volume the system planned.
struct PlanSources {
  const sim::CardSettings& card;
  const sim::Medium& medium;
  const VolumePlan& volume;
};
PlannedSectors PlanOfTheWrite(const ToolRun& run, const PlanSources& sources);

// Once the system has planned its write and before its first sector
// reaches the card (in the pause before the write, or as it begins, when
// the machine's cards are given): the plan made and what it overwrites
// kept. Once per run; nothing when the system has planned nothing.
void PlanTheWrite(ToolRun* run, const std::vector<sim::AtaCard*>& cards);

// Boots the machine for the run: its options from the settings (its media
// only read when the run writes nothing), the run's hooks, and then the
// run's own start-up checks on the cards the boot opened: the finishing
// step against each card, and the undo file; for the write, the old
// signatures on each card are read. False with *error, one line;
// nothing is written or created, and the terminal is untouched.
bool BootMachineFor(ToolRun* run, std::string* error);

// How outputs name the card whose key names image: the file the machine
// opened for it (a link resolved at the open).
std::string OpenedCardName(const std::string& image);

// The end of the run: the console given back, the notes said, and what
// went to out (when given) checked. The exit code: code, or 1 when out
// could not be written.
int EndRun(ToolRun* run, int code, FILE* out = nullptr);

}  // namespace tool
