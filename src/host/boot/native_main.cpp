// The native program's main: the command line and the environment read once
// into the settings, the machine booted from them, then the system's run, the
// same one dunmore.exe starts on Windows.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/run_utility.h"
#include "host/boot/message.h"
#include "host/boot/settings.h"
#include "host/finish/finish_host.h"
#include "host/host.h"
#include "host/modes/modes.h"
#include "host/undo/restore.h"

int main(int argc, char** argv) {
  host::Settings settings;
  std::string message;
  // --help, --version and every mistake on the command line end the run
  // before the clock, the machine or the terminal is looked at.
  switch (host::ReadSettings(argc, argv, &settings, &message)) {
    case host::SettingsOutcome::kRun:
      break;
    case host::SettingsOutcome::kHelp:
    case host::SettingsOutcome::kVersion:
      fputs(message.c_str(), stdout);
      return fflush(stdout) == 0 ? 0 : 1;
    case host::SettingsOutcome::kUsageError:
      // What was wrong and where to read more, not the whole usage: the
      // mistake stays on the screen.
      host::Say(message);
      fputs("Try 'dunmore --help' for more information.\n", stderr);
      return 1;
    case host::SettingsOutcome::kRefused:
      host::Say(message);
      return 1;
  }
  // The finishing step alone, on a card prepared before: no machine.
  if (settings.makeBootable.given()) return host::MakeBootable(settings);
  // The runs without the screens: a listing, the plan, the write answered.
  if (host::IsModeRun(settings)) return host::RunMode(settings);
  host::Boot(settings);
  if (settings.restore.given()) return host::RunRestore(settings);
  return RunUtility();
}
