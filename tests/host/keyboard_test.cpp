// Terminal bytes to console key codes.
#include "host/console/keyboard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Decodes every key in `bytes` as if nothing more were coming.
std::vector<int> DecodeAll(std::string bytes) {
  std::vector<int> codes;
  while (!bytes.empty()) {
    size_t used = host::DecodeKey(bytes, false, &codes);
    if (used == 0) {
      ADD_FAILURE() << "no progress";
      break;
    }
    bytes.erase(0, used);
  }
  return codes;
}

struct KeyCase {
  const char* key;
  std::string bytes;
  std::vector<int> codes;
};

const KeyCase kKeys[] = {
    {"Enter", "\r", {13}},
    {"Backspace as DEL", "\x7f", {8}},
    {"Backspace as BS", "\b", {8}},
    {"letters and digits as typed", "yN1", {'y', 'N', '1'}},
    {"lone Esc", "\x1b", {27}},
    {"up", "\x1b[A", {0xE0, 'H'}},
    {"down in application mode", "\x1bOB", {0xE0, 'P'}},
    {"right, left", "\x1b[C\x1b[D", {0xE0, 'M', 0xE0, 'K'}},
    {"Home and End, both spellings",
     "\x1b[H\x1b[1~\x1b[F\x1b[4~",
     {0xE0, 'G', 0xE0, 'G', 0xE0, 'O', 0xE0, 'O'}},
    {"Insert, Delete, PgUp, PgDn",
     "\x1b[2~\x1b[3~\x1b[5~\x1b[6~",
     {0xE0, 'R', 0xE0, 'S', 0xE0, 'I', 0xE0, 'Q'}},
    {"F1 and F4", "\x1bOP\x1bOS", {0, 59, 0, 62}},
    {"F5 and F10", "\x1b[15~\x1b[21~", {0, 63, 0, 68}},
    {"F11 and F12", "\x1b[23~\x1b[24~", {0xE0, 133, 0xE0, 134}},
    {"F1 of the Linux console", "\x1b[[A", {0, 59}},
    {"modifiers dropped", "\x1b[1;5A", {0xE0, 'H'}},
    {"unknown sequence gives nothing", "\x1b[99~x", {'x'}},
    {"Enter as LF, as a terminal still reading lines gives it", "\n", {13}},
    {"Enter as CR LF, from a terminal in newline mode", "\r\n\r\r", {13, 13, 13}},
    {"Alt chords give nothing",
     "\x1bq\x1b"
     "2\x1b\r\x1b\x7fy",
     {'y'}},
    {"Esc twice is two Esc keys", "\x1b\x1b", {27, 27}},
};

TEST(KeyDecoding, KeysGiveTheirConsoleCodes) {
  for (const KeyCase& k : kKeys) {
    SCOPED_TRACE(k.key);
    EXPECT_EQ(DecodeAll(k.bytes), k.codes);
  }
}

TEST(KeyDecoding, AnEscapeSequenceIsAwaitedWhileMoreMayCome) {
  for (const char* start : {"\x1b", "\x1b[", "\x1b[1", "\x1b[1;", "\x1bO", "\x1b[["}) {
    SCOPED_TRACE(start + 1);
    std::vector<int> codes;
    EXPECT_EQ(host::DecodeKey(start, true, &codes), 0u);
    EXPECT_TRUE(codes.empty());
    // Once the wait is over, a lone Esc is Esc; Esc with more (Alt+[, Alt+O,
    // or a sequence cut short) is never taken as Esc and gives nothing.
    std::string bytes = start;
    EXPECT_EQ(host::DecodeKey(bytes, false, &codes), bytes.size());
    EXPECT_EQ(codes, bytes.size() == 1 ? std::vector<int>{27} : std::vector<int>{});
  }
  std::vector<int> codes;
  EXPECT_EQ(host::DecodeKey("\x1b[24~", true, &codes), 5u);
  EXPECT_EQ(codes, (std::vector<int>{0xE0, 134}));
}

}  // namespace
