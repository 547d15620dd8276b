// The machine: its registry from a REGEDIT4 file, booted once on the first
// Win32 call.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "host/console_state.h"
#include "host/host.h"
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
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  if (file) text << file.rdbuf();
  if (!file || file.bad()) {
    std::string reason = errno != 0 ? std::strerror(errno) : "read error";
    if (error != nullptr) *error = path + ": cannot be read: " + reason;
    return false;
  }
  return LoadMachineText(text.str(), path, error);
}

void Boot() {
  static bool booted = false;
  if (booted) return;
  booted = true;
  std::string clockError;
  if (!FixClockFromEnvironment(&clockError)) {
    fprintf(stderr, "%s\n", clockError.c_str());
    fflush(stderr);
    _exit(1);
  }
  if (!RegistryInstalled()) {
    const char* path = std::getenv("DUNMORE_MACHINE");
    std::string error;
    bool loaded = (path != nullptr && *path != '\0')
                      ? LoadMachineFile(path, &error)
                      : LoadMachineText(DefaultMachineText(), "default machine", &error);
    if (loaded) loaded = ApplyCardEnvironment(path != nullptr ? path : "", &error);
    if (!loaded) {
      // Nothing runs on a machine that cannot be set up, and the terminal is
      // still untouched.
      fprintf(stderr, "%s\n", error.c_str());
      fflush(stderr);
      _exit(1);
    }
  }
  // The cards in card readers are checked before the terminal is taken too.
  std::string error;
  if (!PrepareBlockDeviceCards(&error)) {
    fprintf(stderr, "%s\n", error.c_str());
    fflush(stderr);
    _exit(1);
  }
  // Set before the console's own exit handler, so that it runs after the
  // terminal is given back.
  atexit(PrintTeardownNotes);
  BootConsole();
}

}  // namespace host
