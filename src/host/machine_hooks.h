// What a program on top of the machine adds to it, handed over before the
// boot: its own steps around each write that reaches a card, at the start
// and the end of a write, and the lines the machine has for standard error.
// The machine calls them and knows nothing else of the program; any hook
// left empty is skipped.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/ata_card.h"

namespace host {

struct MachineHooks {
  // Around each WRITE SECTORS command that reaches a card's medium (see
  // sim::CardSettings::beforeWrite and afterWrite): false fails it.
  std::function<bool(const sim::CardSettings& card, const sim::Medium& medium, uint32_t first,
                     uint32_t count)>
      beforeWrite;
  std::function<bool(const sim::CardSettings& card, const sim::Medium& medium, uint32_t first,
                     uint32_t count, const uint8_t* data)>
      afterWrite;
  // The system pauses (Sleep) with its screen as it stands, as it does
  // before it writes. The pause lasts as long as the system asked, or as
  // long as this takes when that is longer.
  std::function<void()> pause;
  // The first WRITE SECTORS command of a write is on its way to a card.
  std::function<void(const std::vector<sim::AtaCard*>& cards)> writeBegins;
  // The system is done with its cards (its last device handle closed, or a
  // signal held during the write ends the run): before they are released,
  // while their volume locks still stand...
  std::function<void(const std::vector<sim::AtaCard*>& cards)> beforeRelease;
  // ...and once they are, before the kernel reads their new tables.
  std::function<void()> afterRelease;
  // A line for standard error, to be said once the terminal is given back.
  std::function<void(const std::string& line)> note;
  // The terminal has been given back to a signal that ends the run.
  std::function<void()> afterSignalGiveBack;
};

// The hooks the machine was booted with, kept for the rest of the run.
void KeepHooks(const MachineHooks& hooks);
const MachineHooks& Hooks();

// Hooks().note, when there is one.
void Note(const std::string& line);

}  // namespace host
