// What the machine's boot needs from the console side of the host.
#pragma once

#include <functional>
#include <string>

namespace host {

// Makes the user's terminal the console when standard input and output are
// one and no headless console runs, and arranges the last screen dump at
// exit. With standard output elsewhere the keyboard is a console without a
// screen. False, with *refusal set and nothing changed, when the terminal
// cannot show the console. termName is the terminal's type (TERM); a
// non-empty screenDump names the file that receives the screen at every key
// wait, for tests.
bool BootConsole(const std::string& termName, const std::string& screenDump, std::string* refusal);

// What runs after the terminal is given back to a signal that ends the run.
void SetAfterSignalGiveBack(const std::function<void()>& then);

}  // namespace host
