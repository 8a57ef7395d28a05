#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

// Standard error of a start from the Finder or the Dock reaches no one: the
// runtime's own words about a failed start ("Unrecognized VM option ...",
// an exception escaping main) would be lost. StderrLog sends it, and
// standard output when that reaches no one either, to a log file of the
// user's instead, one log per start, and keeps its last lines for the
// failure alert. The log is kept by a small process of its own, the keeper
// (the launcher executable again, in a mode of its own), so that what the
// start's process wrote before it was killed, and what programs it started
// write after it ended, is logged too: the keeper ends when the last of
// them has closed the log's pipe. One log per process; every function may
// be called from any thread.
namespace StderrLog {

// The most a start writes into its log, the line that says the rest was
// dropped included.
constexpr std::size_t kMaxLogSize = 10 * 1024 * 1024;

// Sends standard error (file descriptor 2), and standard output when it
// reaches no one, to a new log "<dir>/<name>-<time>-<process id>.log"
// (LogFolder: modes, links, pruning), kept by `keeperProgram` (the
// launcher executable), which main must hand over to keep() when
// isStartedAsKeeper() says so. False when no log could be had, and then
// nothing has changed; false as well once a log was started.
bool start(const std::string& dir, const std::string& name,
           const std::string& keeperProgram);

// The log and the last lines written to it, after everything written up to
// the call has been logged. Empty when no log was started; the path alone
// when the keeper cannot be reached.
struct Tail {
  std::string path;
  std::vector<std::string> lines;
};
Tail tail();

// For the end of the process: puts standard error (and standard output)
// back where they were, and tells the keeper that the process ends through
// its exit handlers. Does nothing without a log. Does not wait for the
// keeper: it logs what is still in the pipe when it gets to it.
void finish();

// In the keeper, whether this process is one. An ordinary start pays for
// one getenv. The mark that says so is taken out of the environment either
// way, so that nothing this process starts inherits it.
bool isStartedAsKeeper(int argc, char** argv);

// Called in the keeper when the start's process ended without finish(),
// killed or by _exit, with the last lines of the log. What it writes to
// std::cerr goes into the log, and tail() gives the keeper's log.
typedef void (*OnStartLost)(const std::vector<std::string>& lastLines);

// The keeper's work: logs what arrives until the last writer has closed the
// pipe and the start's process has ended. Returns its exit code.
int keep(char** argv, OnStartLost onStartLost);

}  // namespace StderrLog

// The last lines of a stream, for a person to read: without empty lines and
// without the frames of a Java stack trace (lines that begin with a tab and
// "at " or "... "), which would push the exception's own line out; each cut
// at a bound.
class LastLines {
 public:
  LastLines(std::size_t maxLines, std::size_t maxLineSize)
      : lineCount(maxLines), lineSize(maxLineSize) {}

  void add(const char* bytes, std::size_t size);

  // The last complete lines, then the unfinished one; without line ends.
  std::vector<std::string> get() const;

 private:
  void endLine();
  bool isShown(const std::string& line) const;

  const std::size_t lineCount;
  const std::size_t lineSize;
  std::deque<std::string> lines;
  std::string current;
};
