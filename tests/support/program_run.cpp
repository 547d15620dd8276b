#include "support/program_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/support.h"

namespace testsupport {

const char kEsc[] = "\x1b";
const char kEnter[] = "\r";
const char kBackspace[] = "\x7f";
const char kUpArrow[] = "\x1b[A";
const char kF1[] = "\x1bOP";

namespace {

using Clock = std::chrono::steady_clock;

void SleepMs(int ms) {
  usleep(static_cast<useconds_t>(ms) * 1000);
}

}  // namespace

std::string Screen::At(int column, int row, size_t length) const {
  return Row(row).substr(static_cast<size_t>(column), length);
}

std::string Screen::Row(int row) const {
  std::string text = row >= 0 && row < static_cast<int>(rows.size()) ? rows[row] : "";
  if (text.size() < 80) text.append(80 - text.size(), ' ');
  return text;
}

std::string Screen::Text() const {
  std::string text;
  for (const std::string& row : rows) text += row + "\n";
  return text;
}

ProgramRun::ProgramRun(const std::string& workDir, const std::string& machine,
                       const std::map<std::string, std::string>& extraEnv,
                       const RunOptions& options) {
  dumpPath_ = workDir + "/.screen-dump";
  unlink(dumpPath_.c_str());
  struct winsize size;
  memset(&size, 0, sizeof size);
  size.ws_col = static_cast<unsigned short>(options.columns);
  size.ws_row = static_cast<unsigned short>(options.rows);
  pid_ = forkpty(&master_, nullptr, nullptr, &size);
  if (pid_ < 0) throw std::runtime_error("forkpty failed");
  if (pid_ == 0) {
    if (chdir(workDir.c_str()) != 0) _exit(126);
    if (machine.empty()) {
      unsetenv("DUNMORE_MACHINE");
    } else {
      setenv("DUNMORE_MACHINE", machine.c_str(), 1);
    }
    setenv("DUNMORE_SCREEN_DUMP", dumpPath_.c_str(), 1);
    setenv("TERM", options.term.c_str(), 1);
    // Undo files made by default land in the test's folder.
    setenv("XDG_STATE_HOME", (workDir + "/state").c_str(), 1);
    for (const auto& [name, value] : extraEnv) setenv(name.c_str(), value.c_str(), 1);
    const std::pair<const std::string*, int> redirections[] = {{&options.standardOutput, 1},
                                                               {&options.standardError, 2}};
    for (const auto& [file, fd] : redirections) {
      if (file->empty()) continue;
      int opened = open(file->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (opened < 0 || dup2(opened, fd) < 0) _exit(125);
      close(opened);
    }
    for (int fd : options.closed) close(fd);
    // The program starts as from a shell, with no signal held: the test's
    // own process may hold some while its cards are written.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    std::vector<char*> argv;
    for (const std::string& word : options.wrapper) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(const_cast<char*>(DUNMORE_EXE));
    for (const std::string& argument : options.arguments) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  drainer_ = std::thread([this] { Drain(); });
}

ProgramRun::~ProgramRun() {
  if (!exited_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    int status;
    waitpid(pid_, &status, 0);
  }
  stop_ = true;
  if (drainer_.joinable()) drainer_.join();
  if (master_ >= 0) close(master_);
}

// The terminal must be read all the time, or the program blocks on a full
// pseudo-terminal. Once asked to stop, it still reads what is left, so that
// the last lines a program wrote before it ended are never lost.
void ProgramRun::Drain() {
  char chunk[4096];
  for (;;) {
    struct pollfd p = {master_, POLLIN, 0};
    ssize_t n = poll(&p, 1, 20) > 0 ? read(master_, chunk, sizeof chunk) : 0;
    if (n <= 0) {
      if (stop_) return;
      SleepMs(5);
      continue;
    }
    std::lock_guard<std::mutex> hold(outputMutex_);
    output_.append(chunk, static_cast<size_t>(n));
  }
}

std::string ProgramRun::TerminalOutput() const {
  std::lock_guard<std::mutex> hold(outputMutex_);
  return output_;
}

bool ProgramRun::ReadDump(Screen* screen) const {
  std::ifstream in(dumpPath_);
  if (!in) return false;
  std::string header;
  if (!std::getline(in, header)) return false;
  Screen parsed;
  if (sscanf(header.c_str(), "dump %d cursor %d %d", &parsed.dumpNumber, &parsed.cursorColumn,
             &parsed.cursorRow) != 3) {
    return false;
  }
  std::string row;
  while (std::getline(in, row)) parsed.rows.push_back(row);
  if (parsed.rows.size() != 25) return false;
  *screen = parsed;
  return true;
}

bool ProgramRun::Exited() {
  if (exited_) return true;
  int status;
  if (waitpid(pid_, &status, WNOHANG) == pid_) Ended(status);
  return exited_;
}

void ProgramRun::Ended(int status) {
  exited_ = true;
  status_ = status;
  exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  // Everything the program wrote is in the terminal now: read it all.
  stop_ = true;
  if (drainer_.joinable()) drainer_.join();
}

bool ProgramRun::WaitForKeyWait(Screen* screen, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    Screen current;
    if (ReadDump(&current) && current.dumpNumber > seenDumps_) {
      // A dump written as the program ends is no key wait.
      if (Exited()) return false;
      seenDumps_ = current.dumpNumber;
      if (screen != nullptr) *screen = current;
      return true;
    }
    if (Exited()) return false;
    SleepMs(5);
  }
  return false;
}

bool ProgramRun::Type(const std::string& bytes, Screen* screen) {
  if (write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    return false;
  }
  return WaitForKeyWait(screen);
}

bool ProgramRun::WaitStopped(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline && !exited_) {
    int status;
    pid_t done = waitpid(pid_, &status, WNOHANG | WUNTRACED);
    if (done == pid_ && WIFSTOPPED(status)) return true;
    if (done == pid_) {
      Ended(status);
      return false;
    }
    SleepMs(5);
  }
  return false;
}

int ProgramRun::WaitExit(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Clock::now() < deadline) {
    if (Exited()) return exitCode_;
    SleepMs(5);
  }
  return -1;
}

int ProgramRun::TypeAndWaitExit(const std::string& bytes, int timeoutMs) {
  if (write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) return -1;
  return WaitExit(timeoutMs);
}

void ProgramRun::Resize(int columns, int rows) {
  struct winsize size;
  memset(&size, 0, sizeof size);
  size.ws_col = static_cast<unsigned short>(columns);
  size.ws_row = static_cast<unsigned short>(rows);
  // The terminal tells its foreground process of the new size (SIGWINCH).
  if (ioctl(master_, TIOCSWINSZ, &size) != 0) throw std::runtime_error("TIOCSWINSZ failed");
}

Screen ProgramRun::LastScreen() const {
  Screen screen;
  ReadDump(&screen);
  return screen;
}

void Key(ProgramRun& run, const std::string& key, Screen* screen) {
  ASSERT_TRUE(run.Type(key, screen)) << "the program ended after " << key;
}

int WriteWholeCard(ProgramRun& run, Screen* main, Screen* after, int timeoutMs) {
  Screen screen;
  if (!run.WaitForKeyWait(&screen)) return -1;
  if (main != nullptr) *main = screen;
  for (const char* key : {"1", kEnter, "2", kEnter, "y"}) {
    if (!run.Type(key, &screen)) return -1;
  }
  if (!run.Type(kEnter, &screen)) {
    if (after != nullptr) *after = run.LastScreen();
    return run.WaitExit(timeoutMs);
  }
  if (after != nullptr) *after = screen;
  return run.TypeAndWaitExit(kEsc, timeoutMs);
}

Refused RunToRefusal(const std::string& workDir, const std::string& machine,
                     const std::map<std::string, std::string>& environment, RunOptions options) {
  TempDir aside;
  options.standardError = aside.File("stderr");
  Refused refused;
  ProgramRun run(workDir, machine, environment, options);
  refused.exitCode = run.WaitExit();
  usleep(50 * 1000);  // any late bytes on the terminal, which must get none
  refused.terminal = run.TerminalOutput();
  refused.standardError = ReadFile(options.standardError);
  return refused;
}

void ExpectRefusedAtBoot(const Refused& refused, const std::vector<std::string>& names) {
  EXPECT_EQ(1, refused.exitCode);
  const std::string& said = refused.standardError;
  EXPECT_EQ(0u, said.find("dunmore: ")) << said;
  EXPECT_EQ(said.find('\n'), said.size() - 1) << "not one line: " << said;
  for (const std::string& name : names) {
    EXPECT_NE(std::string::npos, said.find(name)) << "\"" << name << "\" is missing in: " << said;
  }
  EXPECT_EQ("", refused.terminal) << "the terminal was touched";
}

std::string Example(const std::string& name) {
  return std::string(DUNMORE_SOURCE_DIR) + "/machines/" + name;
}

}  // namespace testsupport
