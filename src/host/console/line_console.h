// A console for runs without a terminal: the system draws on the screen
// buffer as ever, and each time it waits for a key the answerer is shown the
// screen and gives the key, as a user at the screen would type it. Standard
// input and output stay what they are; what the run prints is the
// answerer's to write.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace host {

// The key for the wait: the screen's 25 rows (80 columns each) and the
// cursor's place. Called before the ending signals held during a write are
// let through, so that what the answerer prints of the write's outcome is
// out before a held signal ends the run.
using KeyAnswerer =
    std::function<int(const std::vector<std::string>& rows, int cursorColumn, int cursorRow)>;

// The screen as it stands while the system pauses (Sleep) with a message
// on it, such as "Writing PC Card HDD partition info." before a write.
using ScreenShown = std::function<void(const std::vector<std::string>& rows)>;

// Replaces whatever console was there; the terminal is never touched.
void StartLineConsole(const KeyAnswerer& answerer, const ScreenShown& shown);

}  // namespace host
