// Keys from a terminal, turned into the codes of the console key read: the
// character of a key that has one, else a lead code (0 or 0xE0) followed by
// the key's second code as a PC keyboard gives them.
#pragma once

#include <deque>
#include <string>
#include <vector>

namespace host {

// Decodes the first key in `bytes` (which must not be empty). Answers how many
// bytes it takes and appends its codes to *codes; a key without console codes
// appends none. Answers 0 when the bytes so far only begin an escape sequence
// and `moreMayCome` is set: the caller waits a moment for the rest and calls
// again, with `moreMayCome` clear if nothing came, which makes it a lone Esc.
// Esc followed by a key that begins no sequence is an Alt chord and gives no
// code; LF counts as Enter, and so does CR LF.
size_t DecodeKey(const std::string& bytes, bool moreMayCome, std::vector<int>* codes);

// Reads key codes from a terminal descriptor, one per call.
class TerminalKeyReader {
 public:
  // What Next answers when wakeFd became readable before a key was there.
  static constexpr int kWoken = -1;

  // Blocks until a code is there, or until wakeFd (if not -1) is readable.
  // A terminal that is gone reads as Esc, which every wait of the utility
  // accepts as the way out.
  int Next(int fd, int wakeFd = -1);
  // True when a code is already decoded, so the next read does not wait.
  bool HasPending() const { return !codes_.empty(); }
  // Forgets whatever was read and not yet taken.
  void Discard();

 private:
  std::string bytes_;
  std::deque<int> codes_;
};

// Waits until the terminal has bytes or wakeFd is readable, and throws away
// the bytes read. Answers how many there were (0 when woken), or -1 when the
// terminal is gone.
int DiscardTyped(int fd, int wakeFd);

}  // namespace host
