// Runs the real program in a pseudo-terminal of 80 x 25, types keys into it
// and reads its screen back through the host's screen dump.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct Screen {
  int dumpNumber = 0;
  int cursorColumn = -1;
  int cursorRow = -1;
  std::vector<std::string> rows;  // 25 rows, trailing blanks removed

  // The characters at (column, row), blanks included up to length.
  std::string At(int column, int row, size_t length) const;
  // Row text padded with blanks to 80 columns.
  std::string Row(int row) const;
  std::string Text() const;  // all rows, one per line
};

// How the program's terminal and standard descriptors are set up.
struct RunOptions {
  int columns = 80;
  int rows = 25;
  std::string term = "xterm";  // TERM
  std::vector<int> closed;     // descriptors closed before the program starts
  std::string standardOutput;  // a file for standard output instead of the terminal
  std::string standardError;   // a file for standard error instead of the terminal
  // The command line after the program's name.
  std::vector<std::string> arguments;
  // A program that runs dunmore (its path first, such as a tracer), or none.
  std::vector<std::string> wrapper;
};

class ProgramRun {
 public:
  // Starts the program in workDir. machine is the DUNMORE_MACHINE value,
  // or empty for the built-in default machine.
  ProgramRun(const std::string& workDir, const std::string& machine,
             const std::map<std::string, std::string>& extraEnv = {},
             const RunOptions& options = RunOptions());
  ~ProgramRun();
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  // Waits until the program waits for a key (a new screen dump). False on
  // time-out or when the program ended first.
  bool WaitForKeyWait(Screen* screen, int timeoutMs = 10000);
  // Types the bytes and waits until the program waits for the next key.
  // False when it ended instead (then Exited() tells).
  bool Type(const std::string& bytes, Screen* screen = nullptr);
  // Types the bytes and waits for the program to end; its exit code, or -1.
  int TypeAndWaitExit(const std::string& bytes, int timeoutMs = 10000);
  int WaitExit(int timeoutMs = 10000);
  bool Exited();
  // Waits until the program has stopped itself (SIGSTOP). False on time-out
  // or when it ended first.
  bool WaitStopped(int timeoutMs = 10000);
  // How the program ended: its wait status, valid once Exited().
  int status() const { return status_; }

  // Gives the terminal a new size, as a user resizing its window does.
  void Resize(int columns, int rows);

  // The last dump written (the one at exit included).
  Screen LastScreen() const;
  // Everything the program sent to the terminal.
  std::string TerminalOutput() const;
  pid_t pid() const { return pid_; }
  // The terminal side the test holds (its settings are the terminal's).
  int terminal() const { return master_; }

 private:
  bool ReadDump(Screen* screen) const;
  void Ended(int status);
  void Drain();

  std::string dumpPath_;
  pid_t pid_ = -1;
  int master_ = -1;
  int seenDumps_ = 0;
  int exitCode_ = -1;
  int status_ = 0;
  bool exited_ = false;
  std::thread drainer_;
  std::atomic<bool> stop_{false};
  mutable std::mutex outputMutex_;
  std::string output_;
};

// Keys as a terminal sends them.
extern const char kEsc[];
extern const char kEnter[];
extern const char kBackspace[];
extern const char kUpArrow[];
extern const char kF1[];

// Types the key and expects the program to wait for the next one.
void Key(ProgramRun& run, const std::string& key, Screen* screen = nullptr);

// "1", "2", "Y" and Enter: the whole card re-partitioned and written, then
// Esc at the screen after the write; the exit code, or -1 when the program
// ended before the write. main: the first screen; after: the last one shown
// (a program that ends at the write gives its own exit code).
int WriteWholeCard(ProgramRun& run, Screen* main = nullptr, Screen* after = nullptr,
                   int timeoutMs = 120000);

// A run that ends by itself: its exit code, what it wrote to standard error
// (a file beside the run) and what reached its terminal.
struct Refused {
  int exitCode = -1;
  std::string standardError;
  std::string terminal;
};
Refused RunToRefusal(const std::string& workDir, const std::string& machine,
                     const std::map<std::string, std::string>& environment = {},
                     RunOptions options = RunOptions());

// Expects a refusal at boot: exit 1, one line on standard error that begins
// "dunmore: " and holds every part of names, nothing sent to the terminal.
void ExpectRefusedAtBoot(const Refused& refused, const std::vector<std::string>& names);

// An example machine file: machines/<name>.
std::string Example(const std::string& name);

}  // namespace testsupport
