// The machine's calendar clock. The volume writers stamp each new volume's
// serial number with the time, so two formats of one card differ; a fixed
// clock (DUNMORE_CLOCK, seconds since 1970-01-01 00:00 UTC) makes a write
// reproducible to the byte, which is what golden images are compared on.
#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "host/boot/settings.h"
#include "host/host.h"

namespace host {
namespace {

bool clockFixed = false;
time_t fixedSeconds = 0;

}  // namespace

bool FixClock(const Setting& clock, std::string* error) {
  if (!clock.given()) return true;
  const char* text = clock.value.c_str();
  // The serial is a 32-bit field: a clock it cannot hold would be cut short
  // without a word, so only 0 to 4294967295 are taken, in plain decimal.
  bool digits = true;
  for (const char* c = text; *c != '\0'; ++c) digits = digits && *c >= '0' && *c <= '9';
  errno = 0;
  unsigned long long seconds = digits ? std::strtoull(text, nullptr, 10) : 0;
  if (!digits || errno != 0 || seconds > 0xFFFFFFFFull) {
    *error = clock.Shown() + ": not a count of seconds since 1970 from 0 to 4294967295";
    return false;
  }
  clockFixed = true;
  fixedSeconds = static_cast<time_t>(seconds);
  return true;
}

}  // namespace host

// The C library's time() for the whole program: the fixed clock when one is
// set, else the system's real time.
extern "C" time_t time(time_t* out) noexcept {
  time_t now = host::clockFixed ? host::fixedSeconds : 0;
  if (!host::clockFixed) {
    timespec real{};
    clock_gettime(CLOCK_REALTIME, &real);
    now = real.tv_sec;
  }
  if (out != nullptr) *out = now;
  return now;
}
