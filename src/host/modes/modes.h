// The native program's runs without the screens: --list, --dry-run and
// --yes (host/boot/settings.h). The interactive run is not one of them.
#pragma once

#include "host/boot/settings.h"

namespace host {

bool IsModeRun(const Settings& settings);

// The run of the mode the settings name; its exit code.
int RunMode(const Settings& settings);

}  // namespace host
