#include "host/console/terminal.h"

#include <curses.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <term.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "host/console/console_state.h"

namespace host {

namespace {

// What runs once the terminal is given back to a signal that ends the run.
std::function<void()>& AfterGiveBack() {
  static auto* then = new std::function<void()>;
  return *then;
}

struct TerminalState {
  SCREEN* screen = nullptr;
  FILE* file = nullptr;
  int fd = -1;
  int height = 0;
  int width = 0;
  bool tooSmall = false;
  int resizes = 0;  // resizes applied
  // A byte arrives here for every resize of the terminal (SIGWINCH).
  int resizeRead = -1;
  int resizeWrite = -1;
};

TerminalState terminal;

// Windows colour bits (blue 1, green 2, red 4) in terminal colour numbers.
const short kColour[8] = {COLOR_BLACK, COLOR_BLUE,    COLOR_GREEN,  COLOR_CYAN,
                          COLOR_RED,   COLOR_MAGENTA, COLOR_YELLOW, COLOR_WHITE};
constexpr uint16_t kIntensity = 0x08;

attr_t Rendition(uint16_t attribute) {
  attr_t rendition = (attribute & kIntensity) ? A_BOLD : A_NORMAL;
  int foreground = attribute & 7;
  int background = (attribute >> 4) & 7;
  // Grey on black is the terminal's own colours; other pairs when it has them.
  if ((foreground == 7 && background == 0) || !has_colors()) return rendition;
  int pair = background * 8 + foreground;
  if (pair == 0 || pair >= COLOR_PAIRS) return rendition;
  short setForeground = 0, setBackground = 0;
  pair_content(static_cast<short>(pair), &setForeground, &setBackground);
  if (setForeground != kColour[foreground] || setBackground != kColour[background]) {
    init_pair(static_cast<short>(pair), kColour[foreground], kColour[background]);
  }
  return rendition | COLOR_PAIR(pair);
}

chtype Shown(char character) {
  auto byte = static_cast<unsigned char>(character);
  if (byte == 0) return ' ';
  // Only plain ASCII is drawn as itself; anything else could take more than
  // one terminal cell and shift the rest of the row.
  if (byte < 0x20 || byte >= 0x7f) return '?';
  return byte;
}

void OnResize(int) {
  int saved = errno;
  char byte = 0;
  if (write(terminal.resizeWrite, &byte, 1) < 0) {
    // The pipe is full: a resize is noted already.
  }
  errno = saved;
}

bool ResizePending() {
  if (terminal.resizeRead < 0) return false;
  pollfd waiting{terminal.resizeRead, POLLIN, 0};
  return poll(&waiting, 1, 0) > 0 && (waiting.revents & POLLIN);
}

// The terminal's size in rows and columns: the one the terminal reports,
// else the one its description gives.
void TerminalSize(int fd, int* height, int* width) {
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
    *height = size.ws_row;
    *width = size.ws_col;
    return;
  }
  *height = tigetnum("lines");
  *width = tigetnum("cols");
}

bool TooSmall(int height, int width) {
  return height < ConsoleBuffer::kHeight || width < ConsoleBuffer::kWidth;
}

std::string SizeText(int height, int width) {
  return std::to_string(width) + " x " + std::to_string(height);
}

void DrawBuffer(const ConsoleBuffer& buffer) {
  for (int row = 0; row < ConsoleBuffer::kHeight; ++row) {
    for (int column = 0; column < ConsoleBuffer::kWidth; ++column) {
      const ConsoleCell& cell = buffer.At(column, row);
      mvaddch(row, column, Shown(cell.character) | Rendition(cell.attribute));
    }
  }
  move(buffer.row(), buffer.column());
  refresh();
}

// What stands on a terminal too small for the console, in short lines so
// that a narrow one still shows them.
void DrawTooSmallNotice() {
  erase();
  const std::string notice[] = {
      "The terminal is " + SizeText(terminal.height, terminal.width) + ".",
      "DUNMORE needs 80 x 25.",
      "Make it larger to go on;",
      "keys are ignored until then.",
  };
  int row = 0;
  for (const std::string& line : notice) mvaddnstr(row++, 0, line.c_str(), terminal.width);
  move(0, 0);
  refresh();
}

void GiveBackOnSignal(int signalNumber) {
  TerminalStop();
  if (AfterGiveBack()) AfterGiveBack()();
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

}  // namespace

void SetAfterSignalGiveBack(const std::function<void()>& then) {
  AfterGiveBack() = then;
}

bool TerminalStart(const std::string& termName, std::string* refusal) {
  if (terminal.screen != nullptr) return true;
  int fd = open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  // The terminal named by TERM, else one of the common ones.
  const char* candidates[] = {termName.c_str(), "xterm", "vt100"};
  const char* chosen = nullptr;
  for (const char* name : candidates) {
    if (name == nullptr || *name == '\0') continue;
    // Ask first: the library may end the process on a terminal it cannot find.
    int status = 0;
    if (setupterm(name, fd, &status) == OK) {
      chosen = name;
      break;
    }
  }
  if (chosen == nullptr) {
    close(fd);
    return false;
  }
  // The console is a grid of 80 x 25 cells written at any position: a
  // terminal that cannot move its cursor there, or shows fewer cells, would
  // hide warnings and prompts while keys still answer them.
  char* position = tigetstr("cup");
  bool positions = position != nullptr && position != reinterpret_cast<char*>(-1);
  int height = 0, width = 0;
  TerminalSize(fd, &height, &width);
  del_curterm(cur_term);
  if (!positions || TooSmall(height, width)) {
    close(fd);
    *refusal = std::string("/dev/tty (TERM=") + chosen + "): " +
               (!positions ? "the terminal cannot position the cursor; DUNMORE needs one that can"
                           : "the terminal is " + SizeText(height, width) +
                                 "; DUNMORE needs at least 80 x 25");
    return false;
  }
  FILE* file = fdopen(fd, "r+");
  if (file == nullptr) {
    close(fd);
    return false;
  }
  SCREEN* screen = newterm(chosen, file, file);
  if (screen == nullptr) {
    fclose(file);
    return false;
  }
  terminal.screen = screen;
  terminal.file = file;
  terminal.fd = fd;
  set_term(screen);
  // Keys one by one without echo; Ctrl+C still interrupts, as processed
  // console input does.
  cbreak();
  noecho();
  nonl();
  intrflush(stdscr, FALSE);
  if (has_colors()) start_color();
  getmaxyx(stdscr, terminal.height, terminal.width);
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    signal(signalNumber, GiveBackOnSignal);
  }
  int resize[2];
  if (pipe2(resize, O_CLOEXEC | O_NONBLOCK) == 0) {
    terminal.resizeRead = resize[0];
    terminal.resizeWrite = resize[1];
    struct sigaction action {};
    action.sa_handler = OnResize;
    sigemptyset(&action.sa_mask);
    sigaction(SIGWINCH, &action, nullptr);
  }
  return true;
}

int TerminalFd() {
  return terminal.fd;
}

int TerminalResizeFd() {
  return terminal.resizeRead;
}

bool TerminalApplyResize(const ConsoleBuffer& buffer) {
  if (terminal.screen == nullptr || !ResizePending()) return false;
  char bytes[64];
  while (read(terminal.resizeRead, bytes, sizeof bytes) > 0) {
  }
  int height = terminal.height, width = terminal.width;
  TerminalSize(terminal.fd, &height, &width);
  terminal.height = height;
  terminal.width = width;
  resizeterm(height, width);
  terminal.tooSmall = TooSmall(height, width);
  ++terminal.resizes;
  if (terminal.tooSmall) {
    DrawTooSmallNotice();
  } else {
    // Whatever the terminal did with its cells, all of them are drawn anew.
    clearok(curscr, TRUE);
    DrawBuffer(buffer);
  }
  return true;
}

int TerminalResizeCount() {
  return terminal.resizes;
}

bool TerminalTooSmall() {
  return terminal.screen != nullptr && terminal.tooSmall;
}

void TerminalDraw(const ConsoleBuffer& buffer) {
  if (terminal.screen == nullptr) return;
  if (TerminalApplyResize(buffer) || terminal.tooSmall) return;
  DrawBuffer(buffer);
}

void TerminalBell() {
  if (terminal.screen != nullptr) beep();
}

void TerminalStop() {
  if (terminal.screen == nullptr) return;
  endwin();
  fflush(terminal.file);
  terminal.screen = nullptr;
}

}  // namespace host
