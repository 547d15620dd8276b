#include "host/terminal.h"

#include <curses.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <term.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace host {

namespace {

struct TerminalState {
  SCREEN* screen = nullptr;
  FILE* file = nullptr;
  int fd = -1;
  int height = 0;
  int width = 0;
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

void FollowWindowSize() {
  winsize size{};
  if (ioctl(terminal.fd, TIOCGWINSZ, &size) != 0 || size.ws_row == 0) return;
  if (size.ws_row == terminal.height && size.ws_col == terminal.width) return;
  terminal.height = size.ws_row;
  terminal.width = size.ws_col;
  resizeterm(terminal.height, terminal.width);
  clearok(curscr, TRUE);
}

void GiveBackOnSignal(int signalNumber) {
  TerminalStop();
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

}  // namespace

bool TerminalStart() {
  if (terminal.screen != nullptr) return true;
  int fd = open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  FILE* file = fdopen(fd, "r+");
  if (file == nullptr) {
    close(fd);
    return false;
  }
  // The terminal named by TERM, else one of the common ones.
  const char* candidates[] = {std::getenv("TERM"), "xterm", "vt100"};
  SCREEN* screen = nullptr;
  for (const char* name : candidates) {
    if (name == nullptr || *name == '\0') continue;
    // Ask first: the library may end the process on a terminal it cannot find.
    int status = 0;
    if (setupterm(name, fd, &status) != OK) continue;
    del_curterm(cur_term);
    screen = newterm(name, file, file);
    if (screen != nullptr) break;
  }
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
  return true;
}

int TerminalFd() {
  return terminal.fd;
}

void TerminalDraw(const ConsoleBuffer& buffer) {
  if (terminal.screen == nullptr) return;
  FollowWindowSize();
  for (int row = 0; row < ConsoleBuffer::kHeight; ++row) {
    for (int column = 0; column < ConsoleBuffer::kWidth; ++column) {
      const ConsoleCell& cell = buffer.At(column, row);
      mvaddch(row, column, Shown(cell.character) | Rendition(cell.attribute));
    }
  }
  move(buffer.row(), buffer.column());
  refresh();
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
