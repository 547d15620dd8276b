// The native program's lines on standard error: each begins with
// "dunmore: ", as the other disk tools name themselves whatever path they
// were started by, and shows a control character in a name the user gave
// escaped (\x1b), so that no name can move the cursor or recolour the
// terminal it is read on.
#pragma once

#include <string>

namespace host {

// text with every control character as \xHH.
std::string Escaped(const std::string& text);

// Writes "dunmore: <line>" and a new line on standard error, escaped.
void Say(const std::string& line);

}  // namespace host
