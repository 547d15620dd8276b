#include "support/terminal_screen.h"

#include <cstdlib>

namespace testsupport {

namespace {

constexpr char kEscape = 0x1b;

// The numbers of a parameter string such as "12;5" ("?1049" gives 1049).
std::vector<int> Numbers(const std::string& parameters) {
  std::vector<int> numbers;
  std::string current;
  for (char c : parameters + ";") {
    if (c == ';') {
      numbers.push_back(current.empty() ? 0 : std::atoi(current.c_str()));
      current.clear();
    } else if (c >= '0' && c <= '9') {
      current += c;
    }
  }
  return numbers;
}

}  // namespace

TerminalScreen::TerminalScreen(int columns, int rows)
    : columns_(columns), rows_(rows), cells_(rows, std::string(columns, ' ')), bottom_(rows - 1) {}

int TerminalScreen::Clamp(int value, int low, int high) const {
  return value < low ? low : value > high ? high : value;
}

std::string TerminalScreen::Row(int row) const {
  std::string text = cells_[row];
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

void TerminalScreen::Erase(int row, int from, int to) {
  for (int c = Clamp(from, 0, columns_); c < Clamp(to, 0, columns_); ++c) cells_[row][c] = ' ';
}

void TerminalScreen::ScrollUp(int top, int bottom, int count) {
  for (int i = 0; i < count; ++i) {
    cells_.erase(cells_.begin() + top);
    cells_.insert(cells_.begin() + bottom, std::string(columns_, ' '));
  }
}

void TerminalScreen::ScrollDown(int top, int bottom, int count) {
  for (int i = 0; i < count; ++i) {
    cells_.erase(cells_.begin() + bottom);
    cells_.insert(cells_.begin() + top, std::string(columns_, ' '));
  }
}

void TerminalScreen::LineFeed() {
  if (row_ == bottom_) {
    ScrollUp(top_, bottom_, 1);
  } else if (row_ < rows_ - 1) {
    ++row_;
  }
}

void TerminalScreen::Put(char c) {
  // The last column is written and the wrap waits for the next character.
  if (pendingWrap_) {
    column_ = 0;
    LineFeed();
    pendingWrap_ = false;
  }
  cells_[row_][column_] = c;
  last_ = c;
  if (column_ == columns_ - 1) {
    pendingWrap_ = true;
  } else {
    ++column_;
  }
}

void TerminalScreen::ControlSequence(const std::string& parameters, char final) {
  if (!parameters.empty() && (parameters[0] == '?' || parameters[0] == '>')) {
    // Modes; the alternate screen starts blank.
    if (parameters == "?1049" && final == 'h') {
      for (std::string& row : cells_) row.assign(columns_, ' ');
    }
    return;
  }
  std::vector<int> n = Numbers(parameters);
  int first = n[0];
  int count = first == 0 ? 1 : first;
  pendingWrap_ = false;
  switch (final) {
    case 'H':
    case 'f':
      row_ = Clamp((first == 0 ? 1 : first) - 1, 0, rows_ - 1);
      column_ = Clamp((n.size() > 1 && n[1] != 0 ? n[1] : 1) - 1, 0, columns_ - 1);
      break;
    case 'A':
      row_ = Clamp(row_ - count, 0, rows_ - 1);
      break;
    case 'B':
      row_ = Clamp(row_ + count, 0, rows_ - 1);
      break;
    case 'C':
      column_ = Clamp(column_ + count, 0, columns_ - 1);
      break;
    case 'D':
      column_ = Clamp(column_ - count, 0, columns_ - 1);
      break;
    case 'G':
    case '`':
      column_ = Clamp(count - 1, 0, columns_ - 1);
      break;
    case 'd':
      row_ = Clamp(count - 1, 0, rows_ - 1);
      break;
    case 'J':
      if (first == 0) {
        Erase(row_, column_, columns_);
        for (int r = row_ + 1; r < rows_; ++r) Erase(r, 0, columns_);
      } else if (first == 1) {
        for (int r = 0; r < row_; ++r) Erase(r, 0, columns_);
        Erase(row_, 0, column_ + 1);
      } else {
        for (int r = 0; r < rows_; ++r) Erase(r, 0, columns_);
      }
      break;
    case 'K':
      if (first == 0) Erase(row_, column_, columns_);
      if (first == 1) Erase(row_, 0, column_ + 1);
      if (first == 2) Erase(row_, 0, columns_);
      break;
    case 'X':
      Erase(row_, column_, column_ + count);
      break;
    case 'b':
      for (int i = 0; i < count; ++i) Put(last_);
      break;
    case '@':
      cells_[row_].insert(static_cast<size_t>(column_), static_cast<size_t>(count), ' ');
      cells_[row_].resize(static_cast<size_t>(columns_));
      break;
    case 'P': {
      std::string& line = cells_[row_];
      line.erase(static_cast<size_t>(column_),
                 static_cast<size_t>(Clamp(count, 0, columns_ - column_)));
      line.resize(static_cast<size_t>(columns_), ' ');
      break;
    }
    case 'L':
      if (row_ >= top_ && row_ <= bottom_) ScrollDown(row_, bottom_, count);
      break;
    case 'M':
      if (row_ >= top_ && row_ <= bottom_) ScrollUp(row_, bottom_, count);
      break;
    case 'S':
      ScrollUp(top_, bottom_, count);
      break;
    case 'T':
      ScrollDown(top_, bottom_, count);
      break;
    case 'r':
      top_ = first == 0 ? 0 : Clamp(first - 1, 0, rows_ - 1);
      bottom_ = n.size() > 1 && n[1] != 0 ? Clamp(n[1] - 1, 0, rows_ - 1) : rows_ - 1;
      row_ = 0;
      column_ = 0;
      break;
    default:  // renditions ('m') and the rest change no cell
      break;
  }
}

void TerminalScreen::Feed(const std::string& bytes) {
  for (char c : bytes) {
    if (!sequence_.empty()) {
      sequence_ += c;
      char kind = sequence_[1];
      if (sequence_.size() == 2 && kind != '[' && kind != ']' && kind != '(' && kind != ')') {
        // Two-byte sequences.
        if (kind == '7') {
          savedRow_ = row_;
          savedColumn_ = column_;
        } else if (kind == '8') {
          row_ = savedRow_;
          column_ = savedColumn_;
        } else if (kind == 'M') {
          if (row_ == top_) {
            ScrollDown(top_, bottom_, 1);
          } else if (row_ > 0) {
            --row_;
          }
        } else if (kind == 'D') {
          LineFeed();
        } else if (kind == 'E') {
          column_ = 0;
          LineFeed();
        }
        sequence_.clear();
      } else if ((kind == '(' || kind == ')') && sequence_.size() == 3) {
        sequence_.clear();  // character sets
      } else if (kind == ']') {
        // Operating system commands end with BEL or ST.
        if (c == '\a' ||
            (sequence_.size() >= 4 && sequence_[sequence_.size() - 2] == kEscape && c == '\\')) {
          sequence_.clear();
        }
      } else if (kind == '[' && sequence_.size() > 2 && c >= 0x40 && c <= 0x7e) {
        ControlSequence(sequence_.substr(2, sequence_.size() - 3), c);
        sequence_.clear();
      }
      continue;
    }
    switch (c) {
      case kEscape:
        sequence_ = std::string(1, c);
        break;
      case '\r':
        column_ = 0;
        pendingWrap_ = false;
        break;
      case '\n':
        LineFeed();
        pendingWrap_ = false;
        break;
      case '\b':
        if (column_ > 0) --column_;
        pendingWrap_ = false;
        break;
      case '\t':
        column_ = Clamp((column_ / 8 + 1) * 8, 0, columns_ - 1);
        break;
      default:
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f) Put(c);
        break;
    }
  }
}

}  // namespace testsupport
