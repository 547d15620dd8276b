// The signals that end a run (SIGINT, SIGTERM, SIGHUP, SIGQUIT) wait while a
// card is being written. The write is a few dozen WRITE SECTORS commands that
// take at most seconds on a card, the MBR last: cut between two of them, it
// would leave the old table over a half-written volume. So a signal that
// comes meanwhile is held, and ends the run as usual (the terminal given back,
// the process ended by that signal) as soon as the write is over.
#pragma once

namespace host {

// The write has begun: a WRITE SECTORS command is on its way to a card.
// Holding again while held changes nothing.
void HoldEndingSignals();

// The write is over: the program waits for a key again, or the cards are
// released. A signal held meanwhile is acted on now, once beforeEnding (see
// below) has released the cards.
void ReleaseEndingSignals();

// What must happen before a held signal ends the run: the cards released
// as at the end of a run (the new partition table read by the kernel).
void SetBeforeHeldSignalEnds(void (*beforeEnding)());

bool EndingSignalsHeld();

}  // namespace host
