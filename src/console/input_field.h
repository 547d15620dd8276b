// The bracketed input field, filled from the right and redrawn whole after
// every change.
#pragma once

#include <cstdint>

struct InputField {
  int32_t column;
  int32_t row;
  int32_t width;
  int32_t length;
  int32_t clearOnFirstKey;
  char cells[128];

  void Init(int column, int row, int width, const char* defaultText);
  void Draw();
  int PutChar(int character);
  int Backspace();
  void Clear();
  int Length() const;
  const char* Text() const;
};
