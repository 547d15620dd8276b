// The machine: its registry from a REGEDIT4 file, and its boot from the
// settings, before the system's code runs.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "host/boot/machine_check.h"
#include "host/boot/message.h"
#include "host/boot/settings.h"
#include "host/card/card_medium.h"
#include "host/card/real_card.h"
#include "host/console/console_state.h"
#include "host/finish/finish_host.h"
#include "host/host.h"
#include "host/registry/regedit4.h"
#include "host/registry/registry.h"
#include "host/undo/write_guard.h"

namespace host {

bool LoadMachineText(const std::string& text, const std::string& name, std::string* error) {
  auto tree = std::make_unique<RegistryTree>();
  std::string what;
  if (!ParseRegedit4(text, name, tree.get(), &what)) {
    if (error != nullptr) *error = what;
    return false;
  }
  InstallRegistry(std::move(tree));
  // The media of the machine before belong to its cards alone.
  ForgetCardMedia();
  return true;
}

bool LoadMachineFile(const std::string& path, std::string* error) {
  std::string text;
  std::string what;
  if (!ReadMachineFile(path, &text, &what)) {
    if (error != nullptr) *error = what;
    return false;
  }
  return LoadMachineText(text, path, error);
}

namespace {

// Standard input, output and error are valid descriptors before the machine
// opens anything: one that was closed is opened on /dev/null, so that no card
// medium can be given its number and receive what is meant for the user.
void MakeStandardDescriptorsValid() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int opened = open("/dev/null", O_RDWR);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

// Nothing runs on a machine that cannot be set up, and the terminal is still
// untouched.
[[noreturn]] void Refuse(const std::string& error) {
  Say(error);
  _exit(1);
}

}  // namespace

void Boot(const Settings& settings) {
  MakeStandardDescriptorsValid();
  std::string error;
  if (!FixClock(settings.clock, &error)) Refuse(error);
  const bool fromFile = settings.machine.given();
  const std::string name = fromFile ? settings.machine.value : "default machine";
  bool loaded = fromFile ? LoadMachineFile(name, &error)
                         : LoadMachineText(DefaultMachineText(), name, &error);
  if (!loaded) Refuse(error);
  if (!ApplyCardSettings(settings, &error)) Refuse(error);
  // Each card's medium is opened once, here; everything after looks at it
  // through that descriptor. A card in a card reader is asked for its
  // geometry and identity first, so that the checks below see what the card
  // itself said.
  OpenCardMedia();
  if (!PrepareBlockDeviceCards(settings, &error)) Refuse(error);
  if (!CheckMachineCards(settings, name, &error)) Refuse(error);
  if (!CheckScreenDump(settings.screenDump, &error)) Refuse(error);
  if (!SetUpFinishing(settings, &error)) Refuse(error);
  if (!PrepareWriteGuard(settings, &error)) Refuse(error);
  // Set before the console's own exit handler, so that it runs after the
  // terminal is given back.
  atexit(PrintTeardownNotes);
  SetAfterSignalGiveBack(PrintTeardownNotes);
  // A restore asks on the terminal as it is, line by line.
  if (settings.restore.given()) return;
  if (!BootConsole(settings.terminal.value, settings.screenDump.value, &error)) Refuse(error);
}

}  // namespace host
