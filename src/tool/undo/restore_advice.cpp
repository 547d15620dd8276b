#include "tool/undo/restore_advice.h"

#include "tool/run/card_facts.h"

namespace tool {

void SetUndoIdentity(const sim::CardIdentity& identity, const host::CardMedium& medium,
                     UndoHeader* header) {
  header->model = identity.model;
  header->serialNumber = identity.serialNumber;
  header->firmwareRevision = identity.firmwareRevision;
  header->serialFromMachineFile = SerialIsAMachineFiles(medium, identity.serialNumber);
  header->identityKnown = SerialIsTheCards(medium, identity.serialNumber);
}

std::string UncheckedIdentity(const UndoHeader& header) {
  if (header.identityKnown) return std::string();
  if (header.serialFromMachineFile) {
    return "its serial number was the machine file's, not the card's own";
  }
  return "the card names no serial number";
}

std::string ShellWord(const std::string& word) {
  const std::string plain =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_./:=@%+,-";
  if (!word.empty() && word.find_first_not_of(plain) == std::string::npos) return word;
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string RestoreAdvice(const Settings& settings, const std::string& undoPath,
                          const std::string& card, const UndoHeader& header) {
  const host::MachineOptions& m = settings.machine;
  std::string command =
      "dunmore " + std::string(settings.restore.option) + " " + ShellWord(undoPath);
  if (m.file.given()) command += " " + std::string(m.file.option) + " " + ShellWord(m.file.value);
  if (m.fixedDisk.given()) {
    command += " " + std::string(m.fixedDisk.option) + " " + ShellWord(m.fixedDisk.value);
  }
  const std::string unchecked = UncheckedIdentity(header);
  if (!unchecked.empty()) command += " " + std::string(settings.force.option);
  if (m.card.given()) {
    // The card as the write named it; a name from the variable stays its
    // value, which the variable, still set, must not contradict.
    const std::string& name = m.card.onCommandLine || m.card.value == card ? card : m.card.value;
    command += std::string(name[0] == '-' ? " -- " : " ") + ShellWord(name);
  }
  // The command last on the line, to be copied as it stands.
  std::string advice;
  if (!unchecked.empty()) {
    advice = unchecked + ", so the restore cannot tell the card from another of its size and " +
             "needs " + settings.force.option + "; ";
  }
  advice += "this puts it back: " + command;
  return advice;
}

}  // namespace tool
