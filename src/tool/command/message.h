// The native program's lines on standard error: each begins with
// "dunmore: ", as the other disk tools name themselves whatever path they
// were started by, and shows a control character in a name the user gave
// escaped (\x1b), so that no name can move the cursor or recolour the
// terminal it is read on.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tool {

// text with every control character as \xHH.
std::string Escaped(const std::string& text);

// Writes "dunmore: <line>" and a new line on standard error, escaped.
void Say(const std::string& line);

// The lines a run keeps for standard error until the terminal is given back
// (where the undo file is, what the kernel refused, ...).
struct Notes {
  std::vector<std::string> lines;

  void Add(const std::string& line) { lines.push_back(line); }
  // Says them all, once.
  void SayAll();
};

// Everything written to out has reached it: flushed, and no write failed
// (a full disk, a closed pipe). Otherwise says so, naming it, and false.
bool OutputWritten(FILE* out, const char* name);

}  // namespace tool
