// The run's mode, chosen once from the settings: what the run does to the
// card and who answers its questions. Every option given must mean
// something in that mode and every value must be one, or the run is
// refused here, before anything is opened.
//
//   what       --list    the cards present, or CARD; reads only
//              (none)    the system's write: "1", "2", "Y"
//              --restore put back what an undo file kept
//              --make-bootable  the finishing step alone on CARD
//              --undo-files     the undo files of the default folder
//              --forget-undo    remove those begun more than DAYS ago
//   answers    (none)    the user, at the screen or the terminal
//              --yes     every question answered yes, no terminal needed
//              --dry-run none asked: what the run would write is printed,
//                        and nothing is written, created or kept
#pragma once

#include <cstdint>
#include <string>

#include "tool/command/settings.h"

namespace tool {

enum class Action { kWrite, kList, kRestore, kMakeBootable, kUndoFiles, kForgetUndo };
enum class Answers { kUser, kYes, kDryRun };

struct Mode {
  Action action = Action::kWrite;
  Answers answers = Answers::kUser;
  bool json = false;  // the listing or the dry run's plan as JSON

  // A run that may write the card.
  bool Writes() const {
    return action != Action::kList && action != Action::kUndoFiles &&
           action != Action::kForgetUndo && answers != Answers::kDryRun;
  }
};

// Chooses the mode and checks every option against it and against each
// other. False with *refusal, one line naming the option as the user gave
// it and what is wrong.
bool ChooseMode(const Settings& settings, Mode* mode, std::string* refusal);

// --forget-undo's DAYS: a number of days from 0 to 36500. False when it is
// none.
bool ParseDays(const std::string& text, uint32_t* days);

}  // namespace tool
