#pragma once

#include <cstddef>
#include <string>

// The folder of a launcher's logs: one log per start, so that starts that
// overlap never write into, move or remove each other's log. A log is
// locked (flock) for as long as its start may write it; pruning passes over
// a locked log, however old.
namespace LogFolder {

// The logs kept in a folder: this start's and the newest ones before it.
// Logs of starts still running are kept besides.
constexpr std::size_t kKeptLogs = 5;

// A new log: the descriptor (close-on-exec, above the standard three,
// holding the log's lock) and the path. -1 and an empty path when there is
// none.
struct NewLog {
  int fd = -1;
  std::string path;
};

// Creates "<dir>/<name>-<yyyymmdd>-<hhmmss>-<process id>.log" (local time)
// for the user alone (0600), after pruning the folder down to the newest
// kKeptLogs - 1 logs. The folder and its missing parents are created for
// the user alone (0700); an existing folder loses the group's and others'
// permissions but gets none back that its owner took away: a folder that
// its owner may not read, write or search, a link in place of the folder
// or one that belongs to another user gives no log. No link is followed.
NewLog create(const std::string& dir, const std::string& name);

}  // namespace LogFolder
