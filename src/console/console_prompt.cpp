// The key loop around a one-character input field.
#include <cstring>

#include "console/console_screen.h"
#include "console/input_field.h"

namespace {

const int kKeyEnter = 13;
const int kKeyEsc = 27;
const int kKeyBackspace = 8;

const char kInputKeyError[] = "input key error";

// A code is allowed when it is one of the set's characters. The set's own
// terminating zero is not one of them: code 0 is the lead code of a function
// key, and an empty field is no answer, so both are refused like any other
// key outside the set.
bool IsAllowed(int code, const char* allowed) {
  return code != 0 && strchr(allowed, code) != nullptr;
}

int UpperCase(int code) {
  return (code >= 'a' && code <= 'z') ? code - 'a' + 'A' : code;
}

}  // namespace

int ConsoleScreen::Prompt(int column, int row, const char* defaultText, char* destination,
                          const char* allowed) {
  InputField field;
  field.Init(column, row, 1, defaultText);
  int result = 0;
  while (result == 0) {
    int code = _getch();
    ClearMessageRow();
    if (code == kKeyEnter) {
      if (IsAllowed(static_cast<unsigned char>(field.Text()[0]), allowed)) {
        result = 1;
      } else {
        ShowInputError(kInputKeyError);
      }
    } else if (code == kKeyEsc) {
      result = -1;
    } else if (code == kKeyBackspace) {
      if (field.Backspace() < 0) ShowInputError(kInputKeyError);
    } else {
      int upper = UpperCase(code);
      if (IsAllowed(upper, allowed)) {
        if (field.Length() != 0) field.Backspace();
        if (field.PutChar(upper) < 0) ShowInputError(kInputKeyError);
      } else {
        ShowInputError(kInputKeyError);
      }
    }
  }
  strcpy(destination, field.Text());
  ClearMessageRow();
  return result;
}
