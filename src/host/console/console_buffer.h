// The console screen buffer: 80 x 25 cells of character and attribute, the
// cursor and the text attribute, with the write rules of a Windows console
// in processed output mode with wrap at the end of a line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

struct ConsoleCell {
  char character;
  uint16_t attribute;
};

class ConsoleBuffer {
 public:
  static constexpr int kWidth = 80;
  static constexpr int kHeight = 25;
  // Light grey on black: the attribute a console window starts with.
  static constexpr uint16_t kInitialAttribute = 7;

  ConsoleBuffer();

  // Writes one character at the cursor and advances it: wraps at the right
  // edge, scrolls past the bottom row. CR, LF, BS and TAB move the cursor;
  // BEL is not shown and answers true so that the caller can ring.
  bool Write(char character);
  // Writes `length` copies of `character` from (column, row) on, row after
  // row, keeping attributes and cursor; stops at the end of the buffer.
  // Answers how many cells were written, or -1 when the start is outside.
  int Fill(char character, int length, int column, int row);
  bool SetCursor(int column, int row);

  int column() const { return column_; }
  int row() const { return row_; }
  uint16_t attribute() const { return attribute_; }
  void set_attribute(uint16_t attribute) { attribute_ = attribute; }
  const ConsoleCell& At(int column, int row) const { return cells_[row * kWidth + column]; }
  // The characters of one row as shown: a cell holding zero shows a blank.
  std::string RowText(int row) const;

 private:
  void NextRow();

  std::vector<ConsoleCell> cells_;
  int column_ = 0;
  int row_ = 0;
  uint16_t attribute_ = kInitialAttribute;
};

}  // namespace host
