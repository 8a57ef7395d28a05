#pragma once

// SIGINT, SIGTERM and SIGHUP while the tool runs: the handler only notes
// the signal, and the run stops at its next check by raising Interrupted,
// so that the staging folder goes as on any failure, by the destructors on
// the way out. main then ends the process by the signal itself.
namespace Interruption {

// Raised at a check after a signal: no failure to report.
struct Interrupted {};

// Installs the handlers. Call before anything is built.
void catchSignals();

// The signal that arrived, or 0.
int signalReceived();

// Raises Interrupted once a signal has arrived. Long steps call it between
// their parts; a child program gets the signal passed on instead.
void check();

// Ends the process by `signal` with the signal's default action, as if the
// tool had never caught it: the exit status the caller expects of it.
[[noreturn]] void endBy(int signal);

}  // namespace Interruption
