// The console on a real terminal: this test program runs itself on a
// pseudo-terminal, types keys into it and reads the screen dump.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/host.h"
#include "support/support.h"
#include "win32/win32.h"

namespace {

// The child: shows the code of every key until Esc.
TEST(PtyChild, DISABLED_ShowKeyCodes) {
  host::MachineOptions options;
  options.screenDump.value = std::getenv("DUNMORE_SCREEN_DUMP");
  options.terminal.value = std::getenv("TERM");
  std::string error;
  ASSERT_TRUE(host::BootMachine(options, host::MachineHooks(), &error) &&
              host::StartConsole(options, &error))
      << error;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  ASSERT_TRUE(GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode));
  SetConsoleCursorPosition(out, {2, 1});
  printf("%s", "ready");
  for (int code = 0; code != 27;) {
    code = _getch();
    printf(" %d", code);
  }
  printf("%s", " end.");
}

struct ChildRun {
  int status = 0;
  std::string output;  // what the child sent to the terminal
  std::string dump;    // the last screen dump
  bool echoRestored = false;
};

// Runs the child on a fresh pseudo-terminal. Once it waits for its first
// key, sends `keys` (or `signalNumber`, if not 0) and waits for it to end.
ChildRun RunChild(const std::string& keys, int signalNumber) {
  testsupport::TempDir dir;
  std::string dumpPath = dir.File("screen");
  ChildRun run;
  int master = -1;
  winsize size{25, 80, 0, 0};
  pid_t child = forkpty(&master, nullptr, nullptr, &size);
  if (child == 0) {
    setenv("DUNMORE_HOST_PTY_CHILD", "1", 1);
    setenv("DUNMORE_SCREEN_DUMP", dumpPath.c_str(), 1);
    setenv("TERM", "xterm", 1);
    unsetenv("DUNMORE_MACHINE");
    execl("/proc/self/exe", "host_tests", "--gtest_filter=PtyChild.DISABLED_ShowKeyCodes",
          "--gtest_also_run_disabled_tests", static_cast<char*>(nullptr));
    _exit(127);
  }
  EXPECT_GT(child, 0);
  if (child <= 0) return run;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  bool sent = false, ended = false;
  // Reads what the child wrote; after its end, the rest still in the terminal.
  auto drain = [&run, master](int waitMs) {
    pollfd waiting{master, POLLIN, 0};
    char chunk[4096];
    ssize_t got = 1;
    while (got > 0 && poll(&waiting, 1, waitMs) > 0) {
      got = read(master, chunk, sizeof chunk);
      if (got > 0) run.output.append(chunk, static_cast<size_t>(got));
    }
  };
  while (!ended && std::chrono::steady_clock::now() < deadline) {
    drain(20);
    if (!sent && testsupport::ReadFile(dumpPath).rfind("dump 1 ", 0) == 0) {
      if (signalNumber != 0) {
        kill(child, signalNumber);
      } else {
        EXPECT_EQ(write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
      }
      sent = true;
    }
    ended = waitpid(child, &run.status, WNOHANG) == child;
  }
  drain(0);
  if (!ended) {
    kill(child, SIGKILL);
    waitpid(child, &run.status, 0);
    ADD_FAILURE() << "the child did not end; it wrote:\n" << run.output;
  }
  termios settings{};
  run.echoRestored =
      tcgetattr(master, &settings) == 0 && (settings.c_lflag & ECHO) && (settings.c_lflag & ICANON);
  close(master);
  run.dump = testsupport::ReadFile(dumpPath);
  return run;
}

std::string DumpRow(const std::string& dump, int row) {
  size_t start = 0;
  for (int i = 0; i <= row; ++i) start = dump.find('\n', start) + 1;
  return dump.substr(start, dump.find('\n', start) - start);
}

// xterm's alternate screen: entered on taking the terminal, left on giving it back.
const char kLeaveAlternateScreen[] = "\x1b[?1049l";

TEST(Terminal, KeysArriveAsConsoleCodesAndTheTerminalIsGivenBack) {
  ChildRun run = RunChild(
      "\x1b[A"
      "y\x7f\r\x1bOP\x1b",
      0);
  ASSERT_TRUE(WIFEXITED(run.status)) << run.output;
  EXPECT_EQ(WEXITSTATUS(run.status), 0) << run.output;
  // What the test program prints after the child test may follow on the row.
  std::string row = DumpRow(run.dump, 1);
  EXPECT_EQ(row.substr(0, row.find('.') + 1), "  ready 224 72 121 8 13 0 59 27 end.") << run.dump;
  EXPECT_NE(run.output.find(kLeaveAlternateScreen), std::string::npos);
  EXPECT_TRUE(run.echoRestored);
}

TEST(Terminal, TerminationGivesTheTerminalBack) {
  ChildRun run = RunChild("", SIGTERM);
  ASSERT_TRUE(WIFSIGNALED(run.status));
  EXPECT_EQ(WTERMSIG(run.status), SIGTERM);
  EXPECT_NE(run.output.find(kLeaveAlternateScreen), std::string::npos);
  EXPECT_TRUE(run.echoRestored);
}

}  // namespace
