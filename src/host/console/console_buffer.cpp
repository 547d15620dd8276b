#include "host/console/console_buffer.h"

#include <algorithm>

namespace host {

namespace {
constexpr int kTabWidth = 8;
}

ConsoleBuffer::ConsoleBuffer() : cells_(kWidth * kHeight, ConsoleCell{' ', kInitialAttribute}) {}

void ConsoleBuffer::NextRow() {
  column_ = 0;
  if (row_ + 1 < kHeight) {
    ++row_;
    return;
  }
  // Past the bottom row the whole buffer moves up one row; the new row is
  // blank in the current attribute.
  std::copy(cells_.begin() + kWidth, cells_.end(), cells_.begin());
  std::fill(cells_.end() - kWidth, cells_.end(), ConsoleCell{' ', attribute_});
}

bool ConsoleBuffer::Write(char character) {
  switch (character) {
    case '\a':
      return true;
    case '\r':
      column_ = 0;
      return false;
    case '\n':
      NextRow();
      return false;
    case '\b':
      if (column_ > 0) --column_;
      return false;
    case '\t':
      do {
        Write(' ');
      } while (column_ % kTabWidth != 0);
      return false;
    default:
      break;
  }
  cells_[row_ * kWidth + column_] = ConsoleCell{character, attribute_};
  if (++column_ == kWidth) NextRow();
  return false;
}

int ConsoleBuffer::Fill(char character, int length, int column, int row) {
  if (column < 0 || column >= kWidth || row < 0 || row >= kHeight) return -1;
  int start = row * kWidth + column;
  int count = std::max(0, std::min(length, kWidth * kHeight - start));
  for (int i = 0; i < count; ++i) cells_[start + i].character = character;
  return count;
}

bool ConsoleBuffer::SetCursor(int column, int row) {
  if (column < 0 || column >= kWidth || row < 0 || row >= kHeight) return false;
  column_ = column;
  row_ = row;
  return true;
}

std::string ConsoleBuffer::RowText(int row) const {
  std::string text(kWidth, ' ');
  for (int column = 0; column < kWidth; ++column) {
    char c = At(column, row).character;
    text[column] = c == '\0' ? ' ' : c;
  }
  return text;
}

}  // namespace host
