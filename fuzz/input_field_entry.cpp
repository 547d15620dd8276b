// The one-character input field under any keys. The input:
//
//   byte 0      the field's column (0-76)
//   byte 1      its row (0-23)
//   byte 2      the default text's character, 0 for none
//   byte 3      how many characters the allowed set has (0-4), then those
//               (the program's default texts and allowed sets are printable
//               characters, so these bytes are mapped onto them)
//   the rest    the keys, followed by Esc so that the field always ends
//
// The field ends with Enter on an allowed character or with Esc, and the
// answer is that one character.
#include <cstdlib>
#include <cstring>
#include <string>

#include "console/console_screen.h"
#include "fuzz/fuzz_entries.h"
#include "host/host.h"
#include "host/testing.h"

namespace {

char Printable(uint8_t byte) {
  return static_cast<char>(' ' + 1 + byte % ('~' - ' '));
}

}  // namespace

int FuzzInputField(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  // Every field of the program fits its row, and the last row holds the
  // message that the field clears.
  const int column = data[0] % 77;
  const int row = data[1] % 24;
  char defaultText[2] = {Printable(data[2]), 0};
  if (data[2] == 0) defaultText[0] = 0;
  size_t allowedCount = data[3] % 5;
  if (size < 4 + allowedCount) return 0;
  char allowed[5] = {};
  for (size_t i = 0; i < allowedCount; ++i) allowed[i] = Printable(data[4 + i]);
  const uint8_t* keys = data + 4 + allowedCount;
  const size_t keyCount = size - 4 - allowedCount;

  host::StartHeadlessConsole();
  theConsole = ConsoleScreen();
  if (theConsole.Init() != 0) abort();
  theConsole.SetMessagePosition(20, 24);
  host::QueueKeys(std::string(reinterpret_cast<const char*>(keys), keyCount) + "\x1b");

  char answer[2] = {'?', '?'};
  int result = theConsole.Prompt(column, row, defaultText, answer, allowed);
  FUZZ_CHECK(result == 1 || result == -1);
  FUZZ_CHECK(std::strlen(answer) <= 1);
  if (result == 1) {
    FUZZ_CHECK(answer[0] != 0 && std::strchr(allowed, answer[0]) != nullptr);
  }
  // The field is drawn where it was asked for, brackets included.
  std::string line = host::ScreenRows()[row];
  FUZZ_CHECK(line.size() > static_cast<size_t>(column) && line[column] == '[');
  return 0;
}
