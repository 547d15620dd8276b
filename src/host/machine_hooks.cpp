#include "host/machine_hooks.h"

namespace host {
namespace {

MachineHooks& Kept() {
  static auto* hooks = new MachineHooks;
  return *hooks;
}

}  // namespace

void KeepHooks(const MachineHooks& hooks) {
  Kept() = hooks;
}

const MachineHooks& Hooks() {
  return Kept();
}

void Note(const std::string& line) {
  if (Kept().note) Kept().note(line);
}

}  // namespace host
