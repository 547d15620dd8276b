// The native program's lines on standard error: each begins with
// "dunmore: ", as the other disk tools name themselves whatever path they
// were started by, and shows a control character in a name the user gave
// escaped (\x1b), so that no name can move the cursor or recolour the
// terminal it is read on.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tool {

// The length of the valid UTF-8 sequence that begins at text[at] (1 to 4
// bytes, no overlong form, no surrogate, at most U+10FFFF) and, in *code,
// the character it encodes; 0 when the byte there begins none.
size_t Utf8SequenceAt(const std::string& text, size_t at, uint32_t* code);

// Whether the character is a control character: C0, DEL or C1.
inline bool IsControlCharacter(uint32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

// text with every control character (C0, DEL, C1) and every byte that is
// not valid UTF-8 as \xHH, byte by byte: no name reaches a terminal raw.
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
