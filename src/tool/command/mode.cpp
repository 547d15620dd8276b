#include "tool/command/mode.h"

#include <vector>

#include "tool/finish/finish_host.h"

namespace tool {
namespace {

using host::MachineOptions;

// Which actions an option goes with.
constexpr unsigned kList = 1u << static_cast<unsigned>(Action::kList);
constexpr unsigned kWrite = 1u << static_cast<unsigned>(Action::kWrite);
constexpr unsigned kRestore = 1u << static_cast<unsigned>(Action::kRestore);
constexpr unsigned kMakeBootable = 1u << static_cast<unsigned>(Action::kMakeBootable);
constexpr unsigned kWriting = kWrite | kRestore | kMakeBootable;
constexpr unsigned kCards = kWriting | kList;
constexpr unsigned kLargestDays = 36500;

struct Allowed {
  const Setting* setting;
  unsigned actions;
};

// Why an option has no meaning in the action, after "<option> does not go
// with ".
const char* WhyNot(Action action) {
  switch (action) {
    case Action::kList:
      return "--list: it only reads the cards present";
    case Action::kRestore:
      return "--restore: it puts back what the undo file kept, as it was";
    case Action::kMakeBootable:
      return "--make-bootable: it changes only the boot code, the active flag and the CHS "
             "values of the card's one FAT partition";
    case Action::kUndoFiles:
      return "--undo-files: it lists the undo files of the default folder";
    case Action::kForgetUndo:
      return "--forget-undo: it removes old undo files of the default folder";
    case Action::kWrite:
      break;
  }
  return "the write";
}

bool Refuse(const std::string& why, std::string* refusal) {
  *refusal = why;
  return false;
}

// The action the options name, at most one of them.
bool ChooseAction(const Settings& s, Action* action, std::string* refusal) {
  const std::pair<const Setting*, Action> actions[] = {{&s.list, Action::kList},
                                                       {&s.restore, Action::kRestore},
                                                       {&s.makeBootable, Action::kMakeBootable},
                                                       {&s.undoFiles, Action::kUndoFiles},
                                                       {&s.forgetUndo, Action::kForgetUndo}};
  const Setting* chosen = nullptr;
  *action = Action::kWrite;
  for (const auto& [setting, named] : actions) {
    if (!setting->given()) continue;
    if (chosen != nullptr) {
      return Refuse(std::string(chosen->option) + " and " + setting->option + " go one at a time",
                    refusal);
    }
    chosen = setting;
    *action = named;
  }
  return true;
}

// The card, its geometry and the machine file against each other.
bool CheckMachineOptions(const MachineOptions& m, std::string* refusal) {
  if (m.card.given() && m.file.given()) {
    return Refuse(m.card.Shown() + ": it names the card of the default machine; " + m.file.Shown() +
                      " describes its cards in its own card keys",
                  refusal);
  }
  if (m.card.value == "-") {
    return Refuse(m.card.Shown() +
                      ": standard input is no card; name a card reader (/dev/sdX) or an image "
                      "file",
                  refusal);
  }
  if (m.fixedDisk.given() && !m.card.given()) {
    return Refuse(m.fixedDisk.Shown() + ": it lets the card named by CARD or " + m.card.variable +
                      " be written although it is a fixed disk, and no card is named",
                  refusal);
  }
  if (m.geometry.given()) {
    if (!m.card.given()) {
      return Refuse(m.geometry.Shown() + ": it gives the geometry of the card named by CARD or " +
                        m.card.variable + ", which is not set",
                    refusal);
    }
    uint16_t geometry[3] = {};
    if (!host::ParseGeometry(m.geometry.value, geometry)) {
      return Refuse(m.geometry.Shown() +
                        ": not cylinders x heads x sectors per track, such as 490x8x32, each "
                        "from 1 to 65535",
                    refusal);
    }
    std::string fault = host::GeometryFault(geometry[0], geometry[1], geometry[2]);
    if (!fault.empty()) {
      return Refuse(m.geometry.Shown() + ": the card cannot be addressed: " + fault, refusal);
    }
  }
  uint32_t seconds = 0;
  if (m.clock.given() && !host::ParseClock(m.clock.value, &seconds)) {
    return Refuse(m.clock.Shown() + ": not a count of seconds since 1970 from 0 to 4294967295",
                  refusal);
  }
  return true;
}

// What is kept of a write: an undo file, or none.
bool CheckUndoOptions(const Settings& s, std::string* refusal) {
  if (s.noUndo.given() && s.undo.given()) {
    return Refuse(s.undo.Shown() + " and " + s.noUndo.option + " disagree: give one", refusal);
  }
  if (s.noUndo.given() && s.machine.fixedDisk.given()) {
    return Refuse(std::string(s.noUndo.option) + " with " + s.machine.fixedDisk.Shown() +
                      ": a fixed disk is written only with its undo file kept",
                  refusal);
  }
  return true;
}

}  // namespace

bool ParseDays(const std::string& text, uint32_t* days) {
  if (text.empty() || text.size() > 5 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *days = static_cast<uint32_t>(std::stoul(text));
  return *days <= kLargestDays;
}

bool ChooseMode(const Settings& s, Mode* mode, std::string* refusal) {
  *mode = Mode();
  if (!ChooseAction(s, &mode->action, refusal)) return false;
  const bool listing = mode->action == Action::kList || mode->action == Action::kUndoFiles;
  if ((listing && (s.dryRun.given() || s.yes.given())) || (s.dryRun.given() && s.yes.given())) {
    return Refuse(std::string(mode->action == Action::kUndoFiles ? s.undoFiles.option : "--list") +
                      ", --dry-run and --yes go one at a time",
                  refusal);
  }
  uint32_t days = 0;
  if (s.forgetUndo.given() && !ParseDays(s.forgetUndo.value, &days)) {
    return Refuse(
        s.forgetUndo.Shown() + ": not a number of days from 0 to " + std::to_string(kLargestDays),
        refusal);
  }
  mode->answers = s.dryRun.given() ? Answers::kDryRun
                  : s.yes.given()  ? Answers::kYes
                                   : Answers::kUser;
  mode->json = s.json.given();
  if (mode->json && !listing && mode->answers != Answers::kDryRun) {
    return Refuse("--json goes with --list, --undo-files or --dry-run", refusal);
  }
  if (s.force.given() && mode->action != Action::kRestore) {
    return Refuse(std::string(s.force.option) +
                      " goes with --restore alone: it lets a card whose identity cannot be "
                      "checked be restored",
                  refusal);
  }
  if (mode->action == Action::kList && s.all.given() && s.machine.card.given()) {
    return Refuse(std::string(s.all.option) + " lists the loop devices among the cards present; " +
                      s.machine.card.Shown() + " names one card",
                  refusal);
  }
  if (mode->action == Action::kList && s.machine.file.given()) {
    return Refuse(
        s.machine.file.Shown() + ": --list lists the cards in this machine's readers, or CARD",
        refusal);
  }
  const Allowed allowed[] = {
      {&s.machine.card, kCards},
      {&s.machine.geometry, kCards},
      {&s.machine.fixedDisk, kCards},
      {&s.machine.file, kWriting},
      {&s.machine.clock, kWrite},
      {&s.boot, kWrite | kMakeBootable},
      {&s.bios, kWrite | kMakeBootable},
      {&s.biosGeometry, kWrite | kMakeBootable},
      {&s.undo, kWriting},
      {&s.noUndo, kWriting},
      {&s.noVerify, kWriting},
      {&s.all, kList},
  };
  const unsigned action = 1u << static_cast<unsigned>(mode->action);
  for (const Allowed& option : allowed) {
    if (option.setting->given() && (option.actions & action) == 0) {
      return Refuse(option.setting->Shown() + " does not go with " + WhyNot(mode->action), refusal);
    }
  }
  if (mode->action == Action::kMakeBootable && !s.machine.card.given() && !s.machine.file.given()) {
    return Refuse(
        std::string(s.makeBootable.option) + " needs CARD: the card's block device or image file",
        refusal);
  }
  FinishRequest finishing;
  return CheckMachineOptions(s.machine, refusal) && CheckUndoOptions(s, refusal) &&
         ReadFinishRequest(s, &finishing, refusal);
}

}  // namespace tool
