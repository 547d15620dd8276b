#include "host/devices/write_signals.h"

#include <signal.h>

#include <initializer_list>

namespace host {
namespace {

bool held = false;
sigset_t before;  // the mask to go back to
void (*beforeHeldSignalEnds)() = nullptr;

// Whether an ending signal came while held and waits now.
bool EndingSignalPending() {
  sigset_t pending;
  if (sigpending(&pending) != 0) return false;
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    if (sigismember(&pending, signalNumber) == 1) return true;
  }
  return false;
}

}  // namespace

void HoldEndingSignals() {
  if (held) return;
  sigset_t ending;
  sigemptyset(&ending);
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&ending, signalNumber);
  held = sigprocmask(SIG_BLOCK, &ending, &before) == 0;
}

void SetBeforeHeldSignalEnds(void (*beforeEnding)()) {
  beforeHeldSignalEnds = beforeEnding;
}

void ReleaseEndingSignals() {
  if (!held) return;
  if (beforeHeldSignalEnds != nullptr && EndingSignalPending()) beforeHeldSignalEnds();
  held = false;
  sigprocmask(SIG_SETMASK, &before, nullptr);
}

bool EndingSignalsHeld() {
  return held;
}

}  // namespace host
