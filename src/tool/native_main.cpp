// The Linux tool's main: the command line and the environment read once into
// the settings, the mode chosen from them, and the run of that mode over the
// simulated Windows 9x machine and the system, the same system dunmore.exe
// runs on Windows.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/run_utility.h"
#include "host/card/card_medium.h"
#include "host/host.h"
#include "tool/command/message.h"
#include "tool/command/mode.h"
#include "tool/command/settings.h"
#include "tool/finish/make_bootable.h"
#include "tool/modes/answered_run.h"
#include "tool/modes/list_run.h"
#include "tool/run/card_facts.h"
#include "tool/run/tool_run.h"
#include "tool/undo/restore.h"
#include "tool/undo/undo_folder.h"

namespace {

// A card whose geometry was derived from its size, or that set --geometry
// aside for its own, is said so before the screens take the terminal: they
// show the geometry, not where it came from.
void SayGeometrySources() {
  std::vector<sim::CardSettings> cards;
  std::string error;
  if (!host::MachineCards(&cards, &error)) return;
  for (const sim::CardSettings& card : cards) {
    const host::CardMedium& medium = host::CardMediumAt(card.image);
    if (medium.geometrySource != host::GeometrySource::kDerived && !medium.geometryOptionSetAside) {
      continue;
    }
    const sim::CardIdentity& id = card.identity;
    tool::Say(medium.shownName + ": " + std::to_string(id.cylinders) + " x " +
              std::to_string(id.heads) + " x " + std::to_string(id.sectorsPerTrack) + ", " +
              tool::GeometrySourceText(medium.geometrySource, medium.geometryOptionSetAside));
  }
}

// The system's own run at the user's terminal.
int RunInteractive(tool::ToolRun* run) {
  std::string error;
  if (!tool::BootMachineFor(run, &error)) {
    tool::Say(error);
    return 1;
  }
  SayGeometrySources();
  if (!host::StartConsole(run->settings.machine, &error)) {
    tool::Say(error);
    return 1;
  }
  const bool terminal = isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
  const int code = RunUtility();
  if (!terminal && code == kRunStartUpFailed) {
    // After the system's own line, which went to standard output.
    std::fflush(stdout);
    tool::Say(
        "no terminal to show the screens on: --yes writes the card without one, --dry-run "
        "shows what it would write, --list lists the cards");
  }
  return tool::EndRun(run, code);
}

int RunMode(tool::ToolRun* run) {
  switch (run->mode.action) {
    case tool::Action::kList:
      return tool::RunList(run);
    case tool::Action::kRestore:
      return tool::RunRestore(run);
    case tool::Action::kMakeBootable:
      return tool::MakeBootable(run);
    case tool::Action::kUndoFiles:
      return tool::RunUndoFiles(run);
    case tool::Action::kForgetUndo:
      return tool::RunForgetUndo(run);
    case tool::Action::kWrite:
      break;
  }
  if (run->mode.answers == tool::Answers::kUser) return RunInteractive(run);
  return tool::RunAnswered(run);
}

}  // namespace

int main(int argc, char** argv) {
  tool::Settings settings;
  std::string message;
  // --help, --version and every mistake on the command line end the run
  // before the clock, the machine or the terminal is looked at.
  switch (tool::ReadSettings(argc, argv, &settings, &message)) {
    case tool::SettingsOutcome::kRun:
      break;
    case tool::SettingsOutcome::kHelp:
    case tool::SettingsOutcome::kVersion:
      std::fputs(message.c_str(), stdout);
      return tool::OutputWritten(stdout, "standard output") ? 0 : 1;
    case tool::SettingsOutcome::kUsageError:
      // What was wrong and where to read more, not the whole usage: the
      // mistake stays on the screen.
      tool::Say(message);
      std::fputs("Try 'dunmore --help' for more information.\n", stderr);
      return 1;
    case tool::SettingsOutcome::kRefused:
      tool::Say(message);
      return 1;
  }
  tool::Mode mode;
  if (!tool::ChooseMode(settings, &mode, &message)) {
    tool::Say(message);
    return 1;
  }
  tool::ToolRun run(settings, mode);
  return RunMode(&run);
}
