// What the machine's boot needs from the console side of the host.
#pragma once

namespace host {

// Makes the user's terminal the console when standard input is one and no
// headless console runs, and arranges the last screen dump at exit.
void BootConsole();

}  // namespace host
