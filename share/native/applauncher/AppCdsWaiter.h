#pragma once

#include "AppCdsStore.h"

// The small process that a start which wrote a class list leaves behind
// when it exits: the launcher executable again, in a mode of its own. It
// waits until the start has ended, runs the dump at low priority, then the
// proof, with which the runtime shows that it maps the archive and logs the
// files it checks, moves the archive into place with its record and ends. It lives in a session of its own, with
// its standard streams on the null device and no descriptor of the
// application's, only the archive's lock, which it holds until it ends. Its
// first argument, which `ps` shows as its command, is "<launcher name>
// (class-data archive)". SIGTERM ends it, the dump and the proof; what they
// leave is removed by the next start that makes the archive.
namespace AppCdsWaiter {

// For the start, as it exits: starts the waiter for `completion`, handing
// it the archive's lock `lockDescriptor`. False when it cannot be started.
bool start(const AppCdsStore::Completion& completion, int lockDescriptor);

// Whether this process is a waiter that a start left. An ordinary start
// pays for one getenv. The mark that says so is taken out of the
// environment either way, so that nothing this process starts inherits it.
bool isStartedAsWaiter(int argc, char** argv);

// The waiter's work; returns its exit code.
int run(char** argv);

}  // namespace AppCdsWaiter
