#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

// Standard error of a start from the Finder or the Dock reaches no one: the
// runtime's own words about a failed start ("Unrecognized VM option ...",
// an exception escaping main) would be lost. StderrLog sends it to a log
// file of the user's instead, and keeps its last lines for the failure
// alert. One log per process; every function may be called from any thread.
namespace StderrLog {

// The most a start writes into its log, the line that says the rest was
// dropped included.
constexpr std::size_t kMaxLogSize = 10 * 1024 * 1024;

// Sends standard error (file descriptor 2) to a new log "<dir>/<name>.log",
// keeping the previous one as "<name>.log.1". The folder is created for
// the user alone (mode 0700, its parents too when missing), the log for
// them alone (0600); a link in place of either is not followed. False when
// no log could be had, and then nothing has changed; false as well once a
// log was started.
bool start(const std::string& dir, const std::string& name);

// The log and the last lines written to standard error, after everything
// written up to the call has been logged. Empty when no log was started.
struct Tail {
  std::string path;
  std::vector<std::string> lines;
};
Tail tail();

// For the end of the process: puts standard error back where it was and
// logs what was written to it until then. Does nothing without a log.
void finish();

}  // namespace StderrLog

// The last lines of a stream, for a person to read: without empty lines and
// without those that begin with a tab (the frames of a Java stack trace,
// which would push the exception's own line out), each cut at a bound.
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
