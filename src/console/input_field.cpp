#include "console/input_field.h"

#include <cstdio>
#include <cstring>

#include "console/console_screen.h"

void InputField::Init(int fieldColumn, int fieldRow, int fieldWidth, const char* defaultText) {
  column = fieldColumn;
  row = fieldRow;
  width = fieldWidth;
  clearOnFirstKey = 1;
  memset(cells, ' ', static_cast<size_t>(width));
  length = 0;
  if (defaultText != nullptr) {
    int textLength = static_cast<int>(strlen(defaultText));
    if (textLength <= width) {
      memcpy(cells + width - textLength, defaultText, static_cast<size_t>(textLength));
      length = textLength;
    } else {
      memcpy(cells, defaultText + textLength - width, static_cast<size_t>(width));
      length = width;
    }
  }
  cells[width] = 0;
  Draw();
}

void InputField::Draw() {
  MoveCursorTo(column, row);
  _putch('[');
  printf("%s", cells);
  fflush(stdout);
  _putch(']');
  MoveCursorTo(column + width, row);
}

int InputField::PutChar(int character) {
  if (clearOnFirstKey == 1) {
    Clear();
    clearOnFirstKey = 0;
  }
  if (length >= width) return -1;
  // The entered characters sit in the last cells; they move one to the left.
  memmove(cells + width - length - 1, cells + width - length, static_cast<size_t>(length));
  cells[width - 1] = static_cast<char>(character);
  ++length;
  Draw();
  return 0;
}

int InputField::Backspace() {
  clearOnFirstKey = 0;
  if (length <= 0) return -1;
  signed char removed = static_cast<signed char>(cells[width - 1]);
  memmove(cells + width - length + 1, cells + width - length, static_cast<size_t>(length - 1));
  cells[width - length] = ' ';
  --length;
  Draw();
  return removed;
}

void InputField::Clear() {
  memset(cells, ' ', static_cast<size_t>(width));
  length = 0;
  Draw();
}

int InputField::Length() const {
  return length;
}

const char* InputField::Text() const {
  return cells + width - length;
}
