#include "console/console_screen.h"

#include <cstdio>

ConsoleScreen theConsole;

HANDLE inputHandle;
HANDLE outputHandle;
CONSOLE_SCREEN_BUFFER_INFO bufferInfo;

namespace {

// Bright white (red, green, blue and intensity foreground bits) and light
// grey on black.
const WORD kAttributeBrightWhite =
    FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE | FOREGROUND_INTENSITY;
const WORD kAttributeLightGrey = FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE;

const int kKeyEsc = 27;

// Where ShowInputError and ClearMessageRow keep the user's cursor.
struct SavedCursor {
  int32_t column;
  int32_t row;
};
SavedCursor savedCursor;

// Refreshes the shared current position with the console's real cursor and
// keeps it aside.
void SaveRealCursor() {
  GetConsoleScreenBufferInfo(outputHandle, &bufferInfo);
  savedCursor.column = bufferInfo.dwCursorPosition.X;
  savedCursor.row = bufferInfo.dwCursorPosition.Y;
}

void RestoreSavedCursor() {
  MoveCursorTo(savedCursor.column, savedCursor.row);
}

// Text goes through "%s" so that it is never read as a format, and is flushed
// so that it stands on the screen before single characters written directly.
void WriteText(const char* text) {
  printf("%s", text);
  fflush(stdout);
}

}  // namespace

void MoveCursorTo(int column, int row) {
  bufferInfo.dwCursorPosition.X = static_cast<SHORT>(column);
  bufferInfo.dwCursorPosition.Y = static_cast<SHORT>(row);
  SetConsoleCursorPosition(outputHandle, bufferInfo.dwCursorPosition);
}

int ConsoleScreen::Init() {
  inputHandle = GetStdHandle(STD_INPUT_HANDLE);
  outputHandle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (inputHandle == outputHandle) return -1;
  DWORD mode = 0;
  if (!GetConsoleMode(inputHandle, &mode)) return -1;
  // Keys must arrive one at a time and unechoed; every other bit stays as
  // the user's console had it.
  if (!SetConsoleMode(inputHandle,
                      mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT))) {
    return -1;
  }
  if (!GetConsoleScreenBufferInfo(outputHandle, &bufferInfo)) return -1;
  savedAttribute = bufferInfo.wAttributes;
  attributeSaved = 1;
  screenWidth = bufferInfo.dwSize.X;
  screenHeight = bufferInfo.dwSize.Y;
  SetTextColour(1);
  return 0;
}

void ConsoleScreen::RestoreAttribute() {
  // Before Init has read the attribute there is nothing to give back, and
  // the initial 0 would be black on black.
  if (!attributeSaved) return;
  SetConsoleTextAttribute(outputHandle, savedAttribute);
}

void ConsoleScreen::SetTextColour(int n) {
  SetConsoleTextAttribute(outputHandle, n == 1 ? kAttributeBrightWhite : kAttributeLightGrey);
}

void ConsoleScreen::ClearRows(int first, int last) {
  for (int row = first; row <= last; ++row) {
    COORD start;
    start.X = 0;
    start.Y = static_cast<SHORT>(row);
    DWORD written = 0;
    FillConsoleOutputCharacterA(outputHandle, ' ', static_cast<DWORD>(screenWidth), start,
                                &written);
  }
}

void ConsoleScreen::ClearScreen() {
  ClearRows(0, screenHeight - 1);
}

void ConsoleScreen::SetMessagePosition(int column, int row) {
  messageColumn = column;
  messageRow = row;
}

void ConsoleScreen::PrintAt(int column, int row, const char* text) {
  MoveCursorTo(column, row);
  WriteText(text);
}

int ConsoleScreen::ShowAndWaitEsc(int column, int row, const char* text) {
  ClearRows(row, row);
  PrintAt(column, row, text);
  while (_getch() != kKeyEsc) {
  }
  return kKeyEsc;
}

void ConsoleScreen::ShowInputError(const char* text) {
  Beep(30000, 1000);
  SaveRealCursor();
  PrintAt(messageColumn, messageRow, text);
  RestoreSavedCursor();
}

void ConsoleScreen::ClearMessageRow() {
  SaveRealCursor();
  ClearRows(messageRow, messageRow);
  RestoreSavedCursor();
}
