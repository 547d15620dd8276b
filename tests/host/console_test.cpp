// The console functions on a headless console: cells, cursor, attributes,
// standard output into the buffer, keys and the screen dump.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/host.h"
#include "host/testing.h"
#include "support/support.h"
#include "win32/win32.h"

namespace {

// Every test of this program runs on a headless console, unless it is the
// child that the terminal test starts on a pseudo-terminal.
const bool kHeadless = [] {
  if (std::getenv("DUNMORE_HOST_PTY_CHILD") == nullptr) host::StartHeadlessConsole();
  return true;
}();

class Console : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kHeadless);
    host::StartHeadlessConsole();
    out_ = GetStdHandle(STD_OUTPUT_HANDLE);
  }

  void MoveTo(SHORT column, SHORT row) {
    ASSERT_TRUE(SetConsoleCursorPosition(out_, {column, row}));
  }
  std::string Row(int row) { return host::ScreenRows()[row]; }
  COORD Cursor() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    EXPECT_TRUE(GetConsoleScreenBufferInfo(out_, &info));
    return info.dwCursorPosition;
  }

  HANDLE out_ = nullptr;
};

TEST_F(Console, StartsAsAWindowsConsoleWindow) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  EXPECT_NE(in, out_);
  for (HANDLE handle : {in, out_}) {
    EXPECT_NE(handle, nullptr);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE);
  }
  DWORD mode = 0;
  ASSERT_TRUE(GetConsoleMode(in, &mode));
  EXPECT_EQ(mode, 0x17u);
  ASSERT_TRUE(SetConsoleMode(in, mode & ~0x6u));
  EXPECT_EQ(host::ConsoleInputMode(), 0x11u);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  ASSERT_TRUE(GetConsoleScreenBufferInfo(out_, &info));
  EXPECT_EQ(info.dwSize.X, 80);
  EXPECT_EQ(info.dwSize.Y, 25);
  EXPECT_EQ(info.wAttributes, 7);
  EXPECT_EQ(info.srWindow.Right, 79);
  EXPECT_EQ(info.srWindow.Bottom, 24);
  EXPECT_FALSE(GetConsoleScreenBufferInfo(in, &info));
}

TEST_F(Console, PrintedTextLandsAtTheCursorAndWraps) {
  ASSERT_TRUE(SetConsoleTextAttribute(out_, 15));
  MoveTo(75, 3);
  printf("%s", "0123456789");
  EXPECT_EQ(Row(3).substr(75), "01234");
  EXPECT_EQ(Row(4).substr(0, 6), "56789 ");
  EXPECT_EQ(Cursor().X, 5);
  EXPECT_EQ(Cursor().Y, 4);
  EXPECT_EQ(host::AttributeAt(79, 3), 15);
  EXPECT_EQ(host::AttributeAt(4, 4), 15);
  EXPECT_EQ(host::AttributeAt(5, 4), 7);
  ASSERT_TRUE(SetConsoleTextAttribute(out_, 7));
  printf("%s", "100% sure %d");
  EXPECT_EQ(Row(4).substr(0, 20), "56789100% sure %d   ");
  EXPECT_EQ(host::AttributeAt(5, 4), 7);
}

TEST_F(Console, DirectCharactersKeepOrderWithPrintedText) {
  MoveTo(10, 20);
  printf("%s", "[");
  _putch('Y');
  printf("%s", "]");
  _putch('.');
  EXPECT_EQ(Row(20).substr(10, 5), "[Y]. ");
  EXPECT_EQ(Cursor().X, 14);
}

TEST_F(Console, TextPastTheBottomRowScrollsTheBuffer) {
  MoveTo(0, 0);
  printf("%s", "top");
  MoveTo(78, 24);
  printf("%s", "abc");
  EXPECT_EQ(Row(0).substr(0, 3), "   ");
  EXPECT_EQ(Row(23).substr(78), "ab");
  EXPECT_EQ(Row(24).substr(0, 2), "c ");
  EXPECT_EQ(Cursor().X, 1);
  EXPECT_EQ(Cursor().Y, 24);
  printf("%s", "\nnext");
  EXPECT_EQ(Row(23).substr(0, 2), "c ");
  EXPECT_EQ(Row(24).substr(0, 5), "next ");
}

TEST_F(Console, FillWritesCharactersOnlyAndLeavesTheCursor) {
  ASSERT_TRUE(SetConsoleTextAttribute(out_, 15));
  MoveTo(0, 10);
  printf("%s", "keep my colour");
  MoveTo(3, 3);
  DWORD written = 0;
  ASSERT_TRUE(FillConsoleOutputCharacterA(out_, '*', 85, {78, 9}, &written));
  EXPECT_EQ(written, 85u);
  EXPECT_EQ(Row(9).substr(77), " **");
  EXPECT_EQ(Row(10), std::string(80, '*'));
  EXPECT_EQ(Row(11).substr(0, 4), "*** ");
  EXPECT_EQ(host::AttributeAt(0, 10), 15);
  EXPECT_EQ(host::AttributeAt(20, 10), 7);
  EXPECT_EQ(Cursor().X, 3);
  EXPECT_EQ(Cursor().Y, 3);
  // The fill stops at the end of the buffer.
  ASSERT_TRUE(FillConsoleOutputCharacterA(out_, '#', 1000, {70, 24}, &written));
  EXPECT_EQ(written, 10u);
  EXPECT_EQ(Row(24).substr(69), " ##########");
  EXPECT_FALSE(FillConsoleOutputCharacterA(out_, '#', 1, {80, 0}, &written));
  EXPECT_EQ(written, 0u);
}

TEST_F(Console, CursorCannotLeaveTheBuffer) {
  MoveTo(79, 24);
  for (COORD outside : {COORD{80, 0}, COORD{0, 25}, COORD{-1, 0}, COORD{0, -1}}) {
    EXPECT_FALSE(SetConsoleCursorPosition(out_, outside));
  }
  int column = 0, row = 0;
  host::CursorPosition(&column, &row);
  EXPECT_EQ(column, 79);
  EXPECT_EQ(row, 24);
}

TEST_F(Console, KeysComeInTheOrderQueuedAndBeepsAreCounted) {
  host::QueueKeys("y\xE0H\x1b");
  EXPECT_EQ(_getch(), 'y');
  EXPECT_EQ(_getch(), 0xE0);
  EXPECT_EQ(_getch(), 'H');
  EXPECT_EQ(_getch(), 27);
  EXPECT_TRUE(Beep(30000, 1000));
  printf("%s", "\a");
  EXPECT_EQ(host::BeepCount(), 2);
  EXPECT_EQ(Row(0).substr(0, 2), "  ");
}

TEST_F(Console, ATestWithoutKeysFailsInsteadOfWaiting) {
  EXPECT_DEATH(_getch(), "no key queued");
}

TEST_F(Console, EveryKeyWaitLeavesAScreenDump) {
  testsupport::TempDir dir;
  std::string path = dir.File("screen");
  host::SetScreenDump(path);
  MoveTo(5, 1);
  printf("%s", "Press Esc   ");
  host::QueueKeys("\x1b\x1b");
  _getch();
  std::string first = testsupport::ReadFile(path);
  _getch();
  host::SetScreenDump("");
  std::string second = testsupport::ReadFile(path);
  ASSERT_EQ(first.substr(0, first.find('\n')).substr(0, 5), "dump ");
  int n = std::atoi(first.c_str() + 5);
  std::string rows = "\n     Press Esc\n" + std::string(23, '\n');
  EXPECT_EQ(first, "dump " + std::to_string(n) + " cursor 17 1\n" + rows);
  EXPECT_EQ(second, "dump " + std::to_string(n + 1) + " cursor 17 1\n" + rows);
}

}  // namespace
