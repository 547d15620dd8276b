// What an undo file says of its card's identity, and the command that puts
// the card back from it: said after each write, it runs as it is printed
// (in the same folder and environment), with --force only where the card's
// identity cannot be checked, and why.
#pragma once

#include <string>

#include "host/card/card_medium.h"
#include "sim/identify_layout.h"
#include "tool/command/settings.h"
#include "tool/undo/undo_format.h"

namespace tool {

// The header's model, serial number and firmware revision, and whether the
// serial number is the card's own or a machine file's.
void SetUndoIdentity(const sim::CardIdentity& identity, const host::CardMedium& medium,
                     UndoHeader* header);

// Why the header's card cannot be told from another card of its size (a
// phrase), or empty when its serial number can tell it.
std::string UncheckedIdentity(const UndoHeader& header);

// The word as the shell reads it back: as it is when it holds nothing the
// shell would read otherwise, else in single quotes.
std::string ShellWord(const std::string& word);

// "this puts it back: dunmore --restore FILE ... CARD", the command last, the
// card named as the write named it (CARD as the user gave it or the file it
// led to, the machine file, the fixed disk), and before it, where --force is
// in it, why.
std::string RestoreAdvice(const Settings& settings, const std::string& undoPath,
                          const std::string& card, const UndoHeader& header);

}  // namespace tool
