// The console functions of the Win32 subset over the console buffer: on the
// user's terminal, or headless for tests. Standard output is a stream of the
// console's own, so that formatted text lands at the cursor.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <string>

#include "host/console/console_buffer.h"
#include "host/console/console_state.h"
#include "host/console/keyboard.h"
#include "host/console/line_console.h"
#include "host/console/terminal.h"
#include "host/devices/write_signals.h"
#include "host/host.h"
#include "win32/win32.h"

namespace host {

namespace {

// Fixed handle values of the standard devices; any distinct non-null values
// that are not INVALID_HANDLE_VALUE would do.
const HANDLE kInputHandle = reinterpret_cast<HANDLE>(uintptr_t{0x10});
const HANDLE kOutputHandle = reinterpret_cast<HANDLE>(uintptr_t{0x14});
const HANDLE kErrorHandle = reinterpret_cast<HANDLE>(uintptr_t{0x18});

// The modes a console window starts in.
constexpr uint32_t kInitialInputMode =
    ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_MOUSE_INPUT;
constexpr uint32_t kInitialOutputMode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;

constexpr int kEsc = 27;

// kInputOnly: the keyboard is a terminal but standard output is not, so the
// console's output functions fail as they do on Windows for a file.
// kLines: no terminal; an answerer gives the keys (line_console.h).
enum class ConsoleKind { kNone, kTerminal, kHeadless, kInputOnly, kLines };

struct HostConsole {
  ConsoleKind kind = ConsoleKind::kNone;
  ConsoleBuffer buffer;
  uint32_t inputMode = kInitialInputMode;
  uint32_t outputMode = kInitialOutputMode;
  std::deque<int> queued;
  TerminalKeyReader reader;
  int resizesSeen = 0;  // resizes of the terminal that a key wait began after
  int beeps = 0;
  int dumps = 0;
  std::string screenDump;  // the file the screen goes to at every key wait, or empty
  FILE* realStdout = nullptr;
  FILE* stream = nullptr;
  bool exitHandlerSet = false;
  bool stopped = false;  // the run's console has ended (StopConsole)
  KeyAnswerer answerer;
  ScreenShown shown;
};

// Built on first use: tests may start a console while other files are still
// being initialised, and the exit handler may use it after they are gone.
HostConsole& TheConsole() {
  static HostConsole* console = new HostConsole;
  return *console;
}

void Ring() {
  ++TheConsole().beeps;
  TerminalBell();
}

void Draw() {
  if (TheConsole().kind == ConsoleKind::kTerminal) TerminalDraw(TheConsole().buffer);
}

// Headless, what lands in the buffer also goes on to the real standard
// output, so that a test log shows it.
void Echo(const char* data, size_t size) {
  if (TheConsole().kind != ConsoleKind::kHeadless || TheConsole().realStdout == nullptr) return;
  fwrite(data, 1, size, TheConsole().realStdout);
  fflush(TheConsole().realStdout);
}

void Put(const char* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (TheConsole().buffer.Write(data[i])) Ring();
  }
  Echo(data, size);
  Draw();
}

ssize_t WriteToConsole(void* /*cookie*/, const char* data, size_t size) {
  Put(data, size);
  return static_cast<ssize_t>(size);
}

// Standard output becomes the console's stream, unbuffered, so that every
// printf has reached the buffer when it returns.
void TakeStandardOutput() {
  if (TheConsole().stream != nullptr) return;
  cookie_io_functions_t functions{nullptr, WriteToConsole, nullptr, nullptr};
  FILE* stream = fopencookie(nullptr, "w", functions);
  if (stream == nullptr) return;
  setvbuf(stream, nullptr, _IONBF, 0);
  fflush(stdout);
  TheConsole().realStdout = stdout;
  TheConsole().stream = stream;
  stdout = stream;
}

// Writes the screen for a test to read: "dump <n> cursor <column> <row>",
// then every row without its trailing blanks. Written aside and renamed, so
// that a reader never sees half a screen.
void DumpScreen() {
  const char* path = TheConsole().screenDump.c_str();
  ConsoleKind kind = TheConsole().kind;
  if (*path == '\0' || kind == ConsoleKind::kNone || kind == ConsoleKind::kInputOnly) {
    return;
  }
  std::string text = "dump " + std::to_string(++TheConsole().dumps) + " cursor " +
                     std::to_string(TheConsole().buffer.column()) + " " +
                     std::to_string(TheConsole().buffer.row()) + "\n";
  for (int row = 0; row < ConsoleBuffer::kHeight; ++row) {
    std::string line = TheConsole().buffer.RowText(row);
    line.erase(line.find_last_not_of(' ') + 1);
    text += line + "\n";
  }
  // Only a regular file is emptied, written or replaced: a device node or a
  // link put in the file's place is left alone.
  struct stat status;
  if (lstat(path, &status) == 0 && !S_ISREG(status.st_mode)) return;
  // A new file of its own beside the dump (no name that exists is ever
  // opened for writing, a link planted beside it included), renamed over it.
  std::string dump = path;
  size_t slash = dump.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : dump.substr(0, slash + 1);
  std::string temporary = folder + (slash == std::string::npos ? "/" : "") + ".screen-XXXXXX";
  int fd = mkstemp(&temporary[0]);
  if (fd < 0) return;
  fchmod(fd, 0644);
  FILE* file = fdopen(fd, "w");
  if (file == nullptr) {
    close(fd);
    unlink(temporary.c_str());
    return;
  }
  bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
  if (fclose(file) != 0 || !written || rename(temporary.c_str(), path) != 0) {
    unlink(temporary.c_str());
  }
}

void AtExit() {
  if (TheConsole().stopped) return;
  TheConsole().stopped = true;
  DumpScreen();
  TerminalStop();
}

void SetExitHandler() {
  if (TheConsole().exitHandlerSet) return;
  TheConsole().exitHandlerSet = true;
  atexit(AtExit);
}

bool IsOutput(HANDLE handle) {
  ConsoleKind kind = TheConsole().kind;
  return kind != ConsoleKind::kNone && kind != ConsoleKind::kInputOnly && handle == kOutputHandle;
}

// A key from the terminal. Each resize shows the console anew (and begins a
// new key wait); while the terminal is too small to show it, what is typed
// is thrown away with a beep, so that nothing is answered unseen.
int TerminalKey() {
  HostConsole& console = TheConsole();
  bool waitBegins = !console.reader.HasPending();
  for (;;) {
    // A resize may have been applied by any drawing since the last look.
    TerminalApplyResize(console.buffer);
    if (TerminalResizeCount() != console.resizesSeen) {
      console.resizesSeen = TerminalResizeCount();
      waitBegins = true;
    }
    if (TerminalTooSmall()) {
      console.reader.Discard();
      if (waitBegins) DumpScreen();
      waitBegins = false;
      int thrownAway = DiscardTyped(TerminalFd(), TerminalResizeFd());
      if (thrownAway < 0) return kEsc;
      if (thrownAway > 0) Ring();
      continue;
    }
    Draw();
    if (TerminalResizeCount() != console.resizesSeen) continue;
    if (waitBegins) DumpScreen();
    waitBegins = false;
    int code = console.reader.Next(TerminalFd(), TerminalResizeFd());
    if (code != TerminalKeyReader::kWoken) return code;
  }
}

bool IsInput(HANDLE handle) {
  return TheConsole().kind != ConsoleKind::kNone && handle == kInputHandle;
}

}  // namespace

bool BootConsole(const std::string& termName, const std::string& screenDump, std::string* refusal) {
  TheConsole().screenDump = screenDump;
  SetExitHandler();
  if (TheConsole().kind != ConsoleKind::kNone || !isatty(STDIN_FILENO)) return true;
  if (!isatty(STDOUT_FILENO)) {
    TheConsole().kind = ConsoleKind::kInputOnly;
    return true;
  }
  if (!TerminalStart(termName, refusal)) return refusal->empty();
  TheConsole().kind = ConsoleKind::kTerminal;
  TakeStandardOutput();
  Draw();
  return true;
}

void StopConsole() {
  AtExit();
}

void StartHeadlessConsole() {
  TerminalStop();
  TheConsole().kind = ConsoleKind::kHeadless;
  TheConsole().buffer = ConsoleBuffer();
  TheConsole().inputMode = kInitialInputMode;
  TheConsole().outputMode = kInitialOutputMode;
  TheConsole().queued.clear();
  TheConsole().beeps = 0;
  TakeStandardOutput();
  SetExitHandler();
}

void StartLineConsole(const KeyAnswerer& answerer, const ScreenShown& shown) {
  StartHeadlessConsole();
  TheConsole().kind = ConsoleKind::kLines;
  TheConsole().answerer = answerer;
  TheConsole().shown = shown;
}

std::vector<std::string> LineConsoleRows() {
  fflush(stdout);
  std::vector<std::string> rows;
  for (int row = 0; row < ConsoleBuffer::kHeight; ++row)
    rows.push_back(TheConsole().buffer.RowText(row));
  return rows;
}

// The answerer's key for the wait; signals held during a write go through
// once it has spoken.
int AnsweredKey() {
  DumpScreen();
  std::vector<std::string> rows = LineConsoleRows();
  int key = TheConsole().answerer(rows, TheConsole().buffer.column(), TheConsole().buffer.row());
  ReleaseEndingSignals();
  return key;
}

void SetScreenDump(const std::string& path) {
  TheConsole().screenDump = path;
}

void QueueKeys(const std::string& codes) {
  for (char code : codes) TheConsole().queued.push_back(static_cast<unsigned char>(code));
}

std::vector<std::string> ScreenRows() {
  std::vector<std::string> rows;
  for (int row = 0; row < ConsoleBuffer::kHeight; ++row)
    rows.push_back(TheConsole().buffer.RowText(row));
  return rows;
}

uint16_t AttributeAt(int column, int row) {
  return TheConsole().buffer.At(column, row).attribute;
}

void CursorPosition(int* column, int* row) {
  *column = TheConsole().buffer.column();
  *row = TheConsole().buffer.row();
}

int BeepCount() {
  return TheConsole().beeps;
}

uint32_t ConsoleInputMode() {
  return TheConsole().inputMode;
}

void SetConsoleInputMode(uint32_t mode) {
  TheConsole().inputMode = mode;
}

}  // namespace host

using host::ConsoleKind;
using host::TheConsole;

HANDLE GetStdHandle(DWORD which) {
  if (which == STD_INPUT_HANDLE) return host::kInputHandle;
  if (which == STD_OUTPUT_HANDLE) return host::kOutputHandle;
  if (which == STD_ERROR_HANDLE) return host::kErrorHandle;
  return INVALID_HANDLE_VALUE;
}

// Fails, as on Windows, when standard input is not a TheConsole().
BOOL GetConsoleMode(HANDLE handle, LPDWORD mode) {
  if (mode == nullptr) return FALSE;
  if (host::IsInput(handle)) {
    *mode = TheConsole().inputMode;
    return TRUE;
  }
  if (host::IsOutput(handle)) {
    *mode = TheConsole().outputMode;
    return TRUE;
  }
  return FALSE;
}

BOOL SetConsoleMode(HANDLE handle, DWORD mode) {
  if (host::IsInput(handle)) {
    TheConsole().inputMode = mode;
    return TRUE;
  }
  if (host::IsOutput(handle)) {
    TheConsole().outputMode = mode;
    return TRUE;
  }
  return FALSE;
}

BOOL GetConsoleScreenBufferInfo(HANDLE output, PCONSOLE_SCREEN_BUFFER_INFO info) {
  if (!host::IsOutput(output) || info == nullptr) return FALSE;
  fflush(stdout);
  constexpr SHORT kWidth = host::ConsoleBuffer::kWidth;
  constexpr SHORT kHeight = host::ConsoleBuffer::kHeight;
  info->dwSize = COORD{kWidth, kHeight};
  info->dwCursorPosition = COORD{static_cast<SHORT>(TheConsole().buffer.column()),
                                 static_cast<SHORT>(TheConsole().buffer.row())};
  info->wAttributes = TheConsole().buffer.attribute();
  info->srWindow = SMALL_RECT{0, 0, kWidth - 1, kHeight - 1};
  info->dwMaximumWindowSize = COORD{kWidth, kHeight};
  return TRUE;
}

BOOL SetConsoleTextAttribute(HANDLE output, WORD attribute) {
  if (!host::IsOutput(output)) return FALSE;
  fflush(stdout);
  TheConsole().buffer.set_attribute(attribute);
  return TRUE;
}

BOOL SetConsoleCursorPosition(HANDLE output, COORD position) {
  if (!host::IsOutput(output)) return FALSE;
  fflush(stdout);
  if (!TheConsole().buffer.SetCursor(position.X, position.Y)) return FALSE;
  host::Draw();
  return TRUE;
}

BOOL FillConsoleOutputCharacterA(HANDLE output, CHAR character, DWORD length, COORD start,
                                 LPDWORD written) {
  if (written != nullptr) *written = 0;
  if (!host::IsOutput(output)) return FALSE;
  fflush(stdout);
  int cells = static_cast<int>(length > 0x7fffffffu ? 0x7fffffffu : length);
  int count = TheConsole().buffer.Fill(character, cells, start.X, start.Y);
  if (count < 0) return FALSE;
  if (written != nullptr) *written = static_cast<DWORD>(count);
  host::Draw();
  return TRUE;
}

// Windows 9x ignores frequency and duration: the bell rings and the call
// returns at once.
BOOL Beep(DWORD /*frequency*/, DWORD /*duration*/) {
  host::Ring();
  return TRUE;
}

void Sleep(DWORD milliseconds) {
  if (TheConsole().kind == ConsoleKind::kLines) TheConsole().shown(host::LineConsoleRows());
  timespec until{};
  clock_gettime(CLOCK_MONOTONIC, &until);
  until.tv_sec += static_cast<time_t>(milliseconds / 1000);
  until.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (until.tv_nsec >= 1000000000L) {
    until.tv_nsec -= 1000000000L;
    ++until.tv_sec;
  }
  // What the program on top does in the pause is part of it.
  if (host::Hooks().pause) host::Hooks().pause();
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

int _getch(void) {
  if (TheConsole().kind == ConsoleKind::kLines) return host::AnsweredKey();
  // A key is asked for: no write goes on while the program waits, so a
  // signal held during one ends the run now.
  host::ReleaseEndingSignals();
  fflush(stdout);
  switch (TheConsole().kind) {
    case ConsoleKind::kHeadless: {
      host::DumpScreen();
      if (TheConsole().queued.empty()) {
        // A test that runs out of keys would otherwise wait for ever.
        fprintf(stderr, "_getch: no key queued\n");
        abort();
      }
      int code = TheConsole().queued.front();
      TheConsole().queued.pop_front();
      return code;
    }
    case ConsoleKind::kTerminal:
      return host::TerminalKey();
    case ConsoleKind::kLines:  // answered above
    case ConsoleKind::kInputOnly:
    case ConsoleKind::kNone:
      break;
  }
  // Without a console the keys come from standard input; its end reads as Esc.
  unsigned char byte = 0;
  ssize_t got;
  do {
    got = read(STDIN_FILENO, &byte, 1);
  } while (got < 0 && errno == EINTR);
  return got == 1 ? byte : host::kEsc;
}

// The direct console write of one character, in order with what went to
// standard output before it.
int _putch(int character) {
  fflush(stdout);
  if (TheConsole().kind == ConsoleKind::kNone || TheConsole().kind == ConsoleKind::kInputOnly) {
    return fputc(character, stdout) == EOF ? EOF : character;
  }
  char byte = static_cast<char>(character);
  host::Put(&byte, 1);
  return character;
}
