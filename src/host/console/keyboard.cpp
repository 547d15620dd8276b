#include "host/console/keyboard.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace host {

namespace {

constexpr int kEsc = 27;
constexpr int kEnter = 13;
constexpr int kBackspace = 8;
constexpr int kDel = 0x7f;
// Lead codes: 0 for the function keys, 0xE0 for the grey cursor block.
constexpr int kFunctionLead = 0;
constexpr int kCursorLead = 0xE0;
// Second codes of the PC keyboard.
constexpr int kUp = 'H', kDown = 'P', kLeft = 'K', kRight = 'M';
constexpr int kHome = 'G', kEnd = 'O', kInsert = 'R', kDelete = 'S';
constexpr int kPageUp = 'I', kPageDown = 'Q';
constexpr int kF1 = 59;    // F1..F10 are 59..68 after lead 0
constexpr int kF11 = 133;  // F11 and F12 are 133 and 134 after lead 0xE0
constexpr int kShiftTab = 15;

// How long the rest of an escape sequence may take to arrive.
constexpr int kSequenceWaitMs = 50;

void Cursor(int second, std::vector<int>* codes) {
  codes->push_back(kCursorLead);
  codes->push_back(second);
}

void Function(int number, std::vector<int>* codes) {
  if (number <= 10) {
    codes->push_back(kFunctionLead);
    codes->push_back(kF1 + number - 1);
  } else {
    codes->push_back(kCursorLead);
    codes->push_back(kF11 + number - 11);
  }
}

// A cursor-block key and the byte of a terminal's sequence that names it.
struct SequenceKey {
  int named;
  int second;
};

// "ESC [ <number> ~": the VT220 numbers and the rxvt ones (7 and 8).
constexpr SequenceKey kTildeKeys[] = {
    {1, kHome}, {7, kHome}, {2, kInsert}, {3, kDelete},
    {4, kEnd},  {8, kEnd},  {5, kPageUp}, {6, kPageDown},
};
// The last byte of "ESC [ ..." or "ESC O ...".
constexpr SequenceKey kFinalKeys[] = {
    {'A', kUp}, {'B', kDown}, {'C', kRight}, {'D', kLeft}, {'H', kHome}, {'F', kEnd},
};

template <size_t N>
bool CursorNamed(const SequenceKey (&keys)[N], int named, std::vector<int>* codes) {
  for (const SequenceKey& key : keys) {
    if (key.named == named) {
      Cursor(key.second, codes);
      return true;
    }
  }
  return false;
}

// The keys of "ESC [ <number> ~".
void TildeKey(int number, std::vector<int>* codes) {
  if (CursorNamed(kTildeKeys, number, codes)) return;
  if (number >= 11 && number <= 15) return Function(number - 10, codes);  // F1..F5
  if (number >= 17 && number <= 21) return Function(number - 11, codes);  // F6..F10
  if (number == 23 || number == 24) return Function(number - 12, codes);  // F11, F12
}

// The keys named by the last byte of "ESC [ ..." or "ESC O ...": the cursor
// block, and F1 to F4 as P to S.
bool FinalKey(char final, std::vector<int>* codes) {
  if (CursorNamed(kFinalKeys, final, codes)) return true;
  if (final >= 'P' && final <= 'S') {
    Function(final - 'P' + 1, codes);
    return true;
  }
  return false;
}

size_t LoneEsc(std::vector<int>* codes) {
  codes->push_back(kEsc);
  return 1;
}

// The bytes so far begin an escape sequence. While more may come the caller
// waits; after that a lone Esc is Esc, and Esc with more bytes (a sequence cut
// short, or Alt with '[' or 'O') is dropped whole.
size_t Unfinished(const std::string& bytes, bool moreMayCome, std::vector<int>* codes) {
  if (moreMayCome) return 0;
  return bytes.size() < 2 ? LoneEsc(codes) : bytes.size();
}

}  // namespace

size_t DecodeKey(const std::string& bytes, bool moreMayCome, std::vector<int>* codes) {
  auto byte = static_cast<unsigned char>(bytes[0]);
  if (byte == kDel || byte == kBackspace) {
    codes->push_back(kBackspace);
    return 1;
  }
  // Enter is CR; a terminal still reading lines turns it into LF (as for an
  // Enter typed before the program took the terminal), and one in newline
  // mode sends both.
  if (byte == '\r') {
    codes->push_back(kEnter);
    return bytes.size() >= 2 && bytes[1] == '\n' ? 2 : 1;
  }
  if (byte == '\n') {
    codes->push_back(kEnter);
    return 1;
  }
  if (byte != kEsc) {
    codes->push_back(byte);
    return 1;
  }
  // An escape sequence, or Esc itself: wait for more when it may be the former.
  if (bytes.size() < 2) return Unfinished(bytes, moreMayCome, codes);
  char kind = bytes[1];
  if (kind == 'O') {
    if (bytes.size() < 3) return Unfinished(bytes, moreMayCome, codes);
    char final = bytes[2];
    if (!FinalKey(final, codes)) {
      // The keypad in application mode: Enter and the digits.
      if (final == 'M') codes->push_back(kEnter);
      if (final >= 'p' && final <= 'y') codes->push_back('0' + (final - 'p'));
    }
    return 3;
  }
  // Esc with another key in the same burst is that key with Alt held, which
  // no prompt of the utility asks for: the chord gives no code at all, so
  // that Alt+x does not end a run as Esc would, nor Alt+Y confirm as Y. A
  // second Esc is a key of its own.
  if (kind == kEsc) return LoneEsc(codes);
  if (kind != '[') return 2;
  // "ESC [ [ A".."E": F1..F5 of the Linux console.
  if (bytes.size() >= 3 && bytes[2] == '[') {
    if (bytes.size() < 4) return Unfinished(bytes, moreMayCome, codes);
    if (bytes[3] >= 'A' && bytes[3] <= 'E') Function(bytes[3] - 'A' + 1, codes);
    return 4;
  }
  // A control sequence: parameter bytes, intermediate bytes, one final byte.
  size_t at = 2;
  while (at < bytes.size() && bytes[at] >= 0x30 && bytes[at] <= 0x3f) ++at;
  while (at < bytes.size() && bytes[at] >= 0x20 && bytes[at] <= 0x2f) ++at;
  if (at == bytes.size()) return Unfinished(bytes, moreMayCome, codes);
  char final = bytes[at];
  if (final < 0x40 || final > 0x7e) return at;  // broken off: the odd byte is a key
  // Modifiers ("1;5") are dropped: the key counts as pressed alone.
  int number = std::atoi(bytes.substr(2, at - 2).c_str());
  if (final == '~') {
    TildeKey(number, codes);
  } else if (final == 'Z') {
    codes->push_back(kFunctionLead);
    codes->push_back(kShiftTab);
  } else {
    FinalKey(final, codes);
  }
  return at + 1;
}

namespace {

enum class Wait { kRead, kNothing, kGone, kWoken };

// Reads what the terminal has, waiting at most `timeoutMs` (-1: no limit),
// unless wakeFd (when not -1) becomes readable first.
Wait ReadMore(int fd, int wakeFd, int timeoutMs, std::string* bytes) {
  for (;;) {
    pollfd waiting[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    int ready = poll(waiting, wakeFd >= 0 ? 2 : 1, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) return Wait::kNothing;
    if (ready > 0 && wakeFd >= 0 && (waiting[1].revents & POLLIN)) return Wait::kWoken;
    char chunk[64];
    ssize_t got = ready < 0 ? -1 : read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return Wait::kGone;
    bytes->append(chunk, static_cast<size_t>(got));
    return Wait::kRead;
  }
}

bool Readable(int fd) {
  if (fd < 0) return false;
  pollfd waiting{fd, POLLIN, 0};
  return poll(&waiting, 1, 0) > 0 && (waiting.revents & POLLIN);
}

}  // namespace

int TerminalKeyReader::Next(int fd, int wakeFd) {
  while (codes_.empty()) {
    // Bytes read after the wake-up came may have been typed after it too:
    // the caller decides about them first.
    if (Readable(wakeFd)) return kWoken;
    if (bytes_.empty()) {
      Wait got = ReadMore(fd, wakeFd, -1, &bytes_);
      if (got == Wait::kGone) return kEsc;
      continue;
    }
    std::vector<int> codes;
    size_t used = DecodeKey(bytes_, true, &codes);
    if (used == 0) {
      Wait got = ReadMore(fd, wakeFd, kSequenceWaitMs, &bytes_);
      if (got == Wait::kRead || got == Wait::kWoken) continue;
      used = DecodeKey(bytes_, false, &codes);
    }
    bytes_.erase(0, used);
    codes_.insert(codes_.end(), codes.begin(), codes.end());
  }
  int code = codes_.front();
  codes_.pop_front();
  return code;
}

void TerminalKeyReader::Discard() {
  bytes_.clear();
  codes_.clear();
}

int DiscardTyped(int fd, int wakeFd) {
  std::string bytes;
  Wait got = ReadMore(fd, wakeFd, -1, &bytes);
  return got == Wait::kGone ? -1 : static_cast<int>(bytes.size());
}

}  // namespace host
