// What a terminal shows: the bytes a program sent to an xterm-like terminal
// played onto a grid of cells, so that a test reads the screen the user saw
// rather than the program's own idea of it.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

class TerminalScreen {
 public:
  TerminalScreen(int columns, int rows);

  // Plays the bytes: text, the C0 controls and the control sequences the
  // terminal library uses for xterm (cursor moves, erases, insert and delete,
  // scrolling, repeat; renditions and modes are passed over).
  void Feed(const std::string& bytes);

  // The row's characters without trailing blanks.
  std::string Row(int row) const;
  int rows() const { return rows_; }
  int columns() const { return columns_; }

 private:
  void Put(char c);
  void LineFeed();
  void ScrollUp(int top, int bottom, int count);
  void ScrollDown(int top, int bottom, int count);
  void Erase(int row, int from, int to);  // cells [from, to) of the row
  void ControlSequence(const std::string& parameters, char final);
  int Clamp(int value, int low, int high) const;

  int columns_;
  int rows_;
  std::vector<std::string> cells_;
  int row_ = 0;
  int column_ = 0;
  bool pendingWrap_ = false;
  int top_ = 0;
  int bottom_;
  int savedRow_ = 0;
  int savedColumn_ = 0;
  char last_ = ' ';
  // The escape sequence being read.
  std::string sequence_;
};

}  // namespace testsupport
