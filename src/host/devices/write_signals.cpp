#include "host/devices/write_signals.h"

#include <signal.h>

#include <initializer_list>

namespace host {
namespace {

bool held = false;
sigset_t before;  // the mask to go back to

}  // namespace

void HoldEndingSignals() {
  if (held) return;
  sigset_t ending;
  sigemptyset(&ending);
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&ending, signalNumber);
  held = sigprocmask(SIG_BLOCK, &ending, &before) == 0;
}

void ReleaseEndingSignals() {
  if (!held) return;
  held = false;
  sigprocmask(SIG_SETMASK, &before, nullptr);
}

bool EndingSignalsHeld() {
  return held;
}

}  // namespace host
