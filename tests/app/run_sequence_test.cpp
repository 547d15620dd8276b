// The run from start to exit on machines the utility refuses, and the
// console it leaves behind.
#include <gtest/gtest.h>
#include <termios.h>

#include <string>

#include "support/golden.h"
#include "support/machine_text.h"
#include "support/program_run.h"
#include "support/support.h"

using namespace testsupport;

namespace {

bool AllBlank(const Screen& screen) {
  for (const std::string& row : screen.rows) {
    if (!row.empty()) return false;
  }
  return screen.rows.size() == 25;
}

}  // namespace

TEST(RunSequence, NtMachineIsRefusedUntilEsc) {
  TempDir dir;
  ProgramRun run(dir.path(), Example("nt.reg"));
  Screen screen;
  ASSERT_TRUE(run.WaitForKeyWait(&screen));
  EXPECT_EQ("This program is for Windows 9x.", screen.At(20, 15, 31));
  EXPECT_EQ("Press Esc to exit DUNMORE", screen.At(5, 24, 25));
  ExpectGoldenScreen(screen, "nt_refused");

  // Enter, letters and both codes of a function key are ignored.
  for (const char* key : {kEnter, "y", "2", kF1, kUpArrow}) {
    ASSERT_TRUE(run.Type(key, &screen)) << "ended on " << key;
    EXPECT_EQ("This program is for Windows 9x.", screen.At(20, 15, 31));
  }
  EXPECT_EQ(1, run.TypeAndWaitExit(kEsc));
  EXPECT_TRUE(AllBlank(run.LastScreen()));
}

TEST(RunSequence, TerminalIsGivenBackAsItWas) {
  TempDir dir;
  ProgramRun run(dir.path(), Example("nt.reg"));
  ASSERT_TRUE(run.WaitForKeyWait(nullptr));
  struct termios during;
  ASSERT_EQ(0, tcgetattr(run.terminal(), &during));
  EXPECT_EQ(0u, during.c_lflag & (ICANON | ECHO));
  EXPECT_EQ(1, run.TypeAndWaitExit(kEsc));
  struct termios after;
  ASSERT_EQ(0, tcgetattr(run.terminal(), &after));
  // A new terminal reads lines, echoes and takes Ctrl-C; so it does again.
  EXPECT_EQ(static_cast<tcflag_t>(ICANON | ECHO | ISIG), after.c_lflag & (ICANON | ECHO | ISIG));
}

TEST(RunSequence, MachineNamingNoVersionEndsSilently) {
  TempDir dir;
  ProgramRun run(dir.path(), Example("no-version.reg"));
  EXPECT_EQ(1, run.WaitExit());
  EXPECT_TRUE(AllBlank(run.LastScreen()));
}

TEST(RunSequence, RedirectedInputIsNoConsole) {
  TempDir dir;
  std::string output;
  int status = RunCommand("cd '" + dir.path() + "' && DUNMORE_MACHINE='" + Example("nt.reg") +
                              "' '" DUNMORE_EXE "' </dev/null",
                          &output);
  EXPECT_EQ(1, status);
  // The system's own line, then what the native program offers instead.
  EXPECT_EQ(
      "It failed in initialization of a screen.\n"
      "dunmore: no terminal to show the screens on: --yes writes the card without one, --dry-run "
      "shows what it would write, --list lists the cards\n",
      output);
}

TEST(RunSequence, MachineFileErrorsNameFileAndLine) {
  TempDir dir;
  std::string path =
      WriteMachine(dir.path(), "broken.reg",
                   "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n\"a\"=dword:123456789\n");
  std::string output;
  int status = RunCommand(
      "cd '" + dir.path() + "' && DUNMORE_MACHINE='" + path + "' '" DUNMORE_EXE "' </dev/null",
      &output);
  EXPECT_EQ(1, status);
  EXPECT_NE(std::string::npos, output.find(path + ":4:")) << output;
  EXPECT_EQ(std::string::npos, output.find("initialization")) << output;

  std::string missing = dir.File("missing.reg");
  status = RunCommand("DUNMORE_MACHINE='" + missing + "' '" DUNMORE_EXE "' </dev/null", &output);
  EXPECT_EQ(1, status);
  EXPECT_NE(std::string::npos, output.find(missing)) << output;
}

TEST(RunSequence, MissingPassThroughDriverIsThrownAndEndsWithFour) {
  TempDir dir;
  std::string text = MachineText(MachineCard());
  size_t at = text.find("[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\VxD\\MIRT]");
  ASSERT_NE(std::string::npos, at);
  // Without the driver's key the machine has no pass-through driver.
  size_t end = text.find("; The static hardware tree.");
  text.erase(at, end - at);
  ProgramRun run(dir.path(), WriteMachine(dir.path(), "no-driver.reg", text));
  Screen screen;
  ASSERT_TRUE(run.WaitForKeyWait(&screen));
  EXPECT_EQ("VXD not found.", screen.At(20, 15, 14));
  EXPECT_EQ("Press Esc to exit DUNMORE", screen.At(5, 24, 25));
  EXPECT_EQ(4, run.TypeAndWaitExit(kEsc));
}
