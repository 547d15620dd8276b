// The machine: its registry from a REGEDIT4 file, booted once on the first
// Win32 call.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "host/command_line.h"
#include "host/console_state.h"
#include "host/host.h"
#include "host/machine_check.h"
#include "host/real_card.h"
#include "host/regedit4.h"
#include "host/registry.h"

namespace host {

bool LoadMachineText(const std::string& text, const std::string& name, std::string* error) {
  auto tree = std::make_unique<RegistryTree>();
  std::string what;
  if (!ParseRegedit4(text, name, tree.get(), &what)) {
    if (error != nullptr) *error = what;
    return false;
  }
  InstallRegistry(std::move(tree));
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
  fprintf(stderr, "%s\n", error.c_str());
  fflush(stderr);
  _exit(1);
}

}  // namespace

void Boot() {
  static bool booted = false;
  if (booted) return;
  booted = true;
  MakeStandardDescriptorsValid();
  // The command line first: --help and --version, and every mistake on it,
  // end the run before the clock, the machine or the terminal is looked at.
  ApplyCommandLine();
  std::string error;
  if (!FixClockFromEnvironment(&error)) Refuse(error);
  if (!RegistryInstalled()) {
    const char* path = std::getenv("DUNMORE_MACHINE");
    bool fromFile = path != nullptr && *path != '\0';
    std::string name = fromFile ? path : "default machine";
    bool loaded = fromFile ? LoadMachineFile(path, &error)
                           : LoadMachineText(DefaultMachineText(), name, &error);
    if (!loaded) Refuse(error);
    if (!ApplyCardEnvironment(fromFile ? path : "", &error)) Refuse(error);
    // A card in a card reader is asked for its geometry and identity first,
    // so that the checks below see what the card itself said.
    if (!PrepareBlockDeviceCards(&error)) Refuse(error);
    if (!CheckMachineCards(name, &error)) Refuse(error);
    if (!CheckScreenDump(&error)) Refuse(error);
  } else if (!PrepareBlockDeviceCards(&error)) {
    Refuse(error);
  }
  // Set before the console's own exit handler, so that it runs after the
  // terminal is given back.
  atexit(PrintTeardownNotes);
  if (!BootConsole(&error)) Refuse(error);
}

}  // namespace host
