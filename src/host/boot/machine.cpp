// The machine: its registry from a REGEDIT4 file, and its boot from its
// options, before the system's code runs.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "host/boot/machine_check.h"
#include "host/card/card_medium.h"
#include "host/card/real_card.h"
#include "host/console/console_state.h"
#include "host/host.h"
#include "host/machine_hooks.h"
#include "host/registry/regedit4.h"
#include "host/registry/registry.h"

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

}  // namespace

bool BootMachine(const MachineOptions& options, const MachineHooks& hooks, std::string* error) {
  MakeStandardDescriptorsValid();
  KeepHooks(hooks);
  UseCardMedia(options.media);
  uint32_t seconds = 0;
  if (options.clock.given()) {
    if (!ParseClock(options.clock.value, &seconds)) {
      *error = options.clock.Shown() + ": not a count of seconds since 1970 from 0 to 4294967295";
      return false;
    }
    FixClock(seconds);
  }
  const bool fromFile = options.file.given();
  const std::string name = fromFile ? options.file.value : "default machine";
  bool loaded =
      fromFile ? LoadMachineFile(name, error) : LoadMachineText(DefaultMachineText(), name, error);
  if (!loaded || !ApplyCardSettings(options, error)) return false;
  // Each card's medium is opened once, here; everything after looks at it
  // through that descriptor. A card in a card reader is asked for its
  // geometry and identity first, so that the checks below see what the card
  // itself said.
  OpenCardMedia();
  return PrepareBlockDeviceCards(options, error) && CheckMachineCards(options, name, error) &&
         CheckScreenDump(options.screenDump, error);
}

bool StartConsole(const MachineOptions& options, std::string* error) {
  SetAfterSignalGiveBack(Hooks().afterSignalGiveBack);
  return BootConsole(options.terminal.value, options.screenDump.value, error);
}

}  // namespace host
