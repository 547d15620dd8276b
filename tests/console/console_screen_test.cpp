// The console screen and the input field on a console without a terminal.
#include "console/console_screen.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "console/input_field.h"
#include "host/host.h"
#include "host/testing.h"

namespace {

const uint16_t kBrightWhite = 15;
const uint16_t kLightGrey = 7;

// A fresh console, taken over as the run does it.
class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host::StartHeadlessConsole();
    theConsole = ConsoleScreen();
    ASSERT_EQ(0, theConsole.Init());
    theConsole.ClearScreen();
    theConsole.SetMessagePosition(20, 24);
  }

  // The row with its trailing blanks removed.
  std::string Row(int row) {
    std::string text = host::ScreenRows()[row];
    return text.erase(text.find_last_not_of(' ') + 1);
  }
  std::string At(int column, int row, size_t length) {
    std::string text = Row(row);
    text.resize(80, ' ');
    return text.substr(column, length);
  }
  void ExpectCursor(int column, int row) {
    int c, r;
    host::CursorPosition(&c, &r);
    EXPECT_EQ(column, c);
    EXPECT_EQ(row, r);
  }
};

TEST(ConsoleInit, TurnsOffLineInputAndEchoOnly) {
  host::StartHeadlessConsole();
  host::SetConsoleInputMode(0x1F);
  ConsoleScreen screen = ConsoleScreen();
  ASSERT_EQ(0, screen.Init());
  EXPECT_EQ(0x19u, host::ConsoleInputMode());

  host::SetConsoleInputMode(ENABLE_PROCESSED_INPUT | ENABLE_MOUSE_INPUT);
  ASSERT_EQ(0, screen.Init());
  EXPECT_EQ(static_cast<uint32_t>(ENABLE_PROCESSED_INPUT | ENABLE_MOUSE_INPUT),
            host::ConsoleInputMode());
  EXPECT_EQ(80, screen.screenWidth);
  EXPECT_EQ(25, screen.screenHeight);
}

TEST(ConsoleInit, RestoreGivesBackOnlyAnAttributeThatInitSaved) {
  host::StartHeadlessConsole();
  ConsoleScreen never = ConsoleScreen();
  never.RestoreAttribute();
  // Nothing saved: the console keeps its own attribute, not black on black.
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info;
  ASSERT_TRUE(GetConsoleScreenBufferInfo(out, &info));
  EXPECT_EQ(kLightGrey, info.wAttributes);

  ConsoleScreen screen = ConsoleScreen();
  ASSERT_EQ(0, screen.Init());
  ASSERT_TRUE(GetConsoleScreenBufferInfo(out, &info));
  EXPECT_EQ(kBrightWhite, info.wAttributes);
  screen.RestoreAttribute();
  ASSERT_TRUE(GetConsoleScreenBufferInfo(out, &info));
  EXPECT_EQ(kLightGrey, info.wAttributes);
}

TEST_F(ConsoleTest, TextColourSelectsBrightWhiteOnlyForOne) {
  theConsole.SetTextColour(0);
  theConsole.PrintAt(0, 0, "a");
  theConsole.SetTextColour(2);
  theConsole.PrintAt(1, 0, "b");
  theConsole.SetTextColour(1);
  theConsole.PrintAt(2, 0, "c");
  EXPECT_EQ(kLightGrey, host::AttributeAt(0, 0));
  EXPECT_EQ(kLightGrey, host::AttributeAt(1, 0));
  EXPECT_EQ(kBrightWhite, host::AttributeAt(2, 0));
}

TEST_F(ConsoleTest, ClearRowsBlanksWholeRowsAndKeepsAttributesAndCursor) {
  for (int row = 0; row < 25; ++row) theConsole.PrintAt(0, row, std::string(80, 'x').c_str());
  theConsole.SetTextColour(0);
  theConsole.PrintAt(3, 7, "y");
  MoveCursorTo(4, 4);
  theConsole.ClearRows(15, 15);
  EXPECT_EQ("", Row(15));
  EXPECT_EQ(std::string(80, 'x'), Row(14));
  EXPECT_EQ(std::string(80, 'x'), Row(16));
  ExpectCursor(4, 4);

  theConsole.ClearRows(5, 4);
  EXPECT_EQ(std::string(80, 'x'), Row(5));
  EXPECT_EQ(std::string(80, 'x'), Row(4));

  theConsole.ClearRows(7, 24);
  for (int row = 7; row <= 24; ++row) EXPECT_EQ("", Row(row)) << row;
  EXPECT_EQ(std::string(80, 'x'), Row(6));
  EXPECT_EQ(kLightGrey, host::AttributeAt(3, 7)) << "a blank keeps the cell's attribute";
  EXPECT_EQ(kBrightWhite, host::AttributeAt(4, 7));
}

TEST_F(ConsoleTest, TextIsNeverReadAsAFormat) {
  theConsole.PrintAt(10, 3, "100% %s %d %n");
  EXPECT_EQ("100% %s %d %n", At(10, 3, 13));
  ExpectCursor(23, 3);
}

TEST_F(ConsoleTest, InputErrorsLeaveTheCursorWhereItWas) {
  theConsole.PrintAt(75, 5, "wrapping text");  // ends on the next row
  int column, row;
  host::CursorPosition(&column, &row);
  EXPECT_EQ(8, column);
  EXPECT_EQ(6, row);
  int beeps = host::BeepCount();
  theConsole.ShowInputError("a long first message");
  ExpectCursor(8, 6);
  theConsole.ShowInputError("short");
  EXPECT_EQ(beeps + 2, host::BeepCount());
  // The row is not blanked first: the tail of the first text stays.
  EXPECT_EQ("shortg first message", At(20, 24, 20));
  ExpectCursor(8, 6);
  theConsole.ClearMessageRow();
  EXPECT_EQ("", Row(24));
  ExpectCursor(8, 6);
  EXPECT_EQ(beeps + 2, host::BeepCount()) << "clearing does not beep";
}

TEST_F(ConsoleTest, ShowAndWaitEscReturnsOnlyOnEsc) {
  theConsole.PrintAt(0, 24, "old text on the exit prompt's row");
  host::QueueKeys(std::string("\r"
                              "a"
                              "Y") +
                  std::string(1, '\0') + ";" +
                  "\xe0"
                  "H"
                  "\x1b");
  EXPECT_EQ(27, theConsole.ShowAndWaitEsc(5, 24, "Press Esc to exit DUNMORE"));
  EXPECT_EQ("     Press Esc to exit DUNMORE", Row(24));
}

struct PromptCase {
  const char* name;
  const char* defaultText;
  const char* allowed;
  std::string keys;
  int result;
  const char* answer;
  const char* field;  // the field as it stands at the end
  int beeps;          // refused keys
};

TEST_F(ConsoleTest, PromptAnswers) {
  const PromptCase cases[] = {
      {"Enter on the default", "N", "YN", "\r", 1, "N", "[N]", 0},
      {"y replaces the default", "N", "YN", "y\r", 1, "Y", "[Y]", 0},
      {"Esc keeps what the field shows", "N", "YN", "y\x1b", -1, "Y", "[Y]", 0},
      {"x is refused", "N", "YN", "x\x1b", -1, "N", "[N]", 1},
      {"l at the menu", "1", "12L", "l\r", 1, "L", "[L]", 0},
      {"2 at the menu", "1", "12L", "2\r", 1, "2", "[2]", 0},
      {"Backspace blanks the field", "N", "YN", "\b\x1b", -1, "", "[ ]", 0},
      {"a second Backspace is refused", "N", "YN", "\b\b\x1b", -1, "", "[ ]", 1},
      {"Enter on an empty field is refused", "N", "YN", "\b\r\x1b", -1, "", "[ ]", 1},
      {"a cursor key's second code counts as typed", "N", "HY", "\xe0H\r", 1, "H", "[H]", 1},
      {"the lead code 0 is refused", "N", "YN", std::string(1, '\0') + "\x1b", -1, "N", "[N]", 1},
      {"a long default shows its last character", "NY", "YN", "\r", 1, "Y", "[Y]", 0},
      {"an empty default enters the first key", "", "YN", "y\r", 1, "Y", "[Y]", 0},
  };
  for (const PromptCase& c : cases) {
    SCOPED_TRACE(c.name);
    theConsole.ClearScreen();
    host::QueueKeys(c.keys);
    char answer[2] = {'?', '?'};
    int beeps = host::BeepCount();
    EXPECT_EQ(c.result, theConsole.Prompt(52, 13, c.defaultText, answer, c.allowed));
    EXPECT_STREQ(c.answer, answer);
    EXPECT_EQ(c.field, At(52, 13, 3));
    ExpectCursor(53, 13);
    // The prompt clears the message row as it ends.
    EXPECT_EQ("", Row(24));
    EXPECT_EQ(beeps + c.beeps, host::BeepCount());
  }
}

TEST(InputFieldTest, FillsFromTheRight) {
  host::StartHeadlessConsole();
  theConsole = ConsoleScreen();
  ASSERT_EQ(0, theConsole.Init());
  InputField field;
  field.Init(10, 2, 3, "ab");
  EXPECT_STREQ(" ab", field.cells);
  EXPECT_EQ(2, field.Length());
  EXPECT_EQ(0, field.PutChar('c'));  // the first key empties the field
  EXPECT_STREQ("c", field.Text());
  EXPECT_EQ(0, field.PutChar('d'));
  EXPECT_EQ(0, field.PutChar('e'));
  EXPECT_EQ(-1, field.PutChar('f'));
  EXPECT_STREQ("cde", field.Text());
  EXPECT_EQ('e', field.Backspace());
  EXPECT_STREQ(" cd", field.cells);
  EXPECT_EQ('d', field.Backspace());
  EXPECT_EQ('c', field.Backspace());
  EXPECT_EQ(-1, field.Backspace());
  EXPECT_STREQ("", field.Text());
  std::string row = host::ScreenRows()[2];
  EXPECT_EQ("          [   ]", row.substr(0, 15));
}

}  // namespace
