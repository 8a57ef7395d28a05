#pragma once

#include <new>
#include <string>

class LogAppender;

// The run frame: the one place where a pass of the launcher becomes an exit
// code.
namespace app {

typedef void (*LauncherFunc)();

// Runs `func` with logging switched on or off from the environment. Returns 0
// when it returned and 1 when it raised anything; then its failure has been
// logged as one ERROR event and handed to `lastErrorLogAppender` (null means
// defaultLastErrorLogAppender(), which prints the message as one line on
// standard error). Nothing raised by `func` leaves this function.
int launch(const std::nothrow_t&, LauncherFunc func,
           LogAppender* lastErrorLogAppender);

// True exactly when WRAPKIN_DEBUG is "true".
bool isWithLogging();

// The message of the failure being reported, for extra appenders; empty at
// all other times.
std::string lastErrorMsg();

LogAppender& defaultLastErrorLogAppender();

}  // namespace app
