// One line on standard error that says how far a long write has come: the
// sectors read ahead for the undo file, written and read back, of all the
// run will read and write. It appears once the work has lasted a second,
// only where standard error is a terminal, and is rewritten in place; it is
// gone again before anything else is said.
#pragma once

#include <cstdint>
#include <string>

namespace tool {

struct Progress {
  bool enabled = false;  // this run shows it (standard error a terminal)
  std::string card;
  uint64_t total = 0;
  uint64_t done = 0;
  double begun = 0;  // when the work began, in seconds of a steady clock
  double lastShown = 0;
  size_t shownLength = 0;  // the line standing on the terminal, 0: none

  // Whether standard error is a terminal for the line.
  static bool ForTerminal();
  // The work on card begins, of total sectors in all; more work may be added
  // to the total later.
  void Begin(const std::string& name, uint64_t sectors);
  void Add(uint64_t sectors) { total += sectors; }
  void Advance(uint64_t sectors);
  // The line is taken away, if it was shown.
  void End();
};

}  // namespace tool
