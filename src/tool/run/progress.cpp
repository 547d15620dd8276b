#include "tool/run/progress.h"

#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "tool/command/message.h"

namespace tool {
namespace {

constexpr double kFirstShownAfter = 1.0;  // seconds
constexpr double kShownEvery = 0.2;

double Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

bool Progress::ForTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

void Progress::Begin(const std::string& name, uint64_t sectors) {
  if (!enabled) return;
  if (total == 0) begun = Now();
  card = name;
  total += sectors;
}

void Progress::Advance(uint64_t sectors) {
  if (!enabled || total == 0) return;
  done += sectors;
  if (done >= total) {
    End();
    return;
  }
  const double now = Now();
  if (now - begun < kFirstShownAfter || (shownLength != 0 && now - lastShown < kShownEvery)) {
    return;
  }
  lastShown = now;
  const unsigned percent = static_cast<unsigned>(done * 100 / total);
  std::string line = "dunmore: " + Escaped(card) + ": " + std::to_string(done) + " of " +
                     std::to_string(total) + " sectors read and written (" +
                     std::to_string(percent) + "%)";
  const size_t length = line.size();
  if (length < shownLength) line.append(shownLength - length, ' ');
  std::fprintf(stderr, "\r%s", line.c_str());
  std::fflush(stderr);
  shownLength = length;
}

void Progress::End() {
  if (shownLength != 0) {
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(shownLength), "");
    std::fflush(stderr);
  }
  shownLength = 0;
  total = 0;
  done = 0;
}

}  // namespace tool
