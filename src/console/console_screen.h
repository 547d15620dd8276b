// The one console of the run: positioned text, row clearing, the message row
// with its beep, and the one-character prompt.
#pragma once

#include <cstdint>

#include "win32/win32.h"

struct ConsoleScreen {
  int32_t messageRow;
  int32_t messageColumn;
  uint16_t savedAttribute;
  int32_t screenWidth;
  int32_t screenHeight;
  // Set once Init has read the attribute; until then there is nothing to give back.
  int32_t attributeSaved;

  int Init();
  void RestoreAttribute();
  void SetTextColour(int n);
  void ClearRows(int first, int last);
  void ClearScreen();
  void SetMessagePosition(int column, int row);
  void PrintAt(int column, int row, const char* text);
  int ShowAndWaitEsc(int column, int row, const char* text);
  void ShowInputError(const char* text);
  void ClearMessageRow();
  int Prompt(int column, int row, const char* defaultText, char* destination,
             const char* allowed);
};

// Module-level state shared with the input field.
extern HANDLE inputHandle;
extern HANDLE outputHandle;
extern CONSOLE_SCREEN_BUFFER_INFO bufferInfo;

// Stores (column, row) as the shared current position and moves the cursor there.
void MoveCursorTo(int column, int row);

extern ConsoleScreen theConsole;
