// The machine's calendar clock. The volume writers stamp each new volume's
// serial number with the time, so two formats of one card differ; a fixed
// clock (seconds since 1970-01-01 00:00 UTC) makes a write
// reproducible to the byte, which is what golden images are compared on.
#include <time.h>

#include "host/host.h"

namespace host {
namespace {

bool clockFixed = false;
time_t fixedSeconds = 0;

}  // namespace

void FixClock(uint32_t seconds) {
  clockFixed = true;
  fixedSeconds = static_cast<time_t>(seconds);
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
