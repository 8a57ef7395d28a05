#include "Interruption.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>

namespace Interruption {

namespace {

volatile sig_atomic_t received = 0;

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void note(int s) {
  if (received == 0) {
    received = s;
  }
}

}  // namespace

void catchSignals() {
  struct sigaction action {};
  action.sa_handler = note;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a wait for a child program returns at the signal, which
  // then goes on to the child.
  action.sa_flags = 0;
  for (const int s : kSignals) {
    sigaction(s, &action, nullptr);
  }
}

int signalReceived() {
  return received;
}

void check() {
  if (received != 0) {
    throw Interrupted();
  }
}

void endBy(int s) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(s, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, s);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(s);
  // Not reached unless the signal's default is to go on.
  std::_Exit(128 + s);
}

}  // namespace Interruption
