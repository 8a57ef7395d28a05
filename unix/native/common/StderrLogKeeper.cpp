#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include "Descriptors.h"
#include "StderrLog.h"
#include "StderrLogChannel.h"

// The keeper: copies what arrives in the pipe into the log, up to the
// bound, keeps the last lines, and answers the start's requests. It is a
// process of its own so that nothing is lost when the start's process
// dies, and so that programs that the application started, which inherited
// the pipe as their standard error, may go on writing after it ended: the
// keeper ends when the last writer has closed the pipe (and the start's
// process has ended). Its own standard error is the null device.

namespace {

using StderrLogChannel::kChannel;
using StderrLogChannel::kLogFile;
using StderrLogChannel::kPipe;

// Enough for "Unrecognized VM option ..." or an exception's first line, and
// few enough for an alert.
constexpr std::size_t kTailLines = 10;
constexpr std::size_t kTailLineSize = 300;

// A writer that never stops must not hold up a request for good.
constexpr std::size_t kMaxDrain = 4 * 1024 * 1024;

constexpr char kDroppedLine[] =
    "[The log holds 10 MiB at most: the rest of this start's output is "
    "dropped]\n";
// The line, and the line feed that may have to go before it.
constexpr std::size_t kDroppedLineRoom = sizeof(kDroppedLine);

struct Keeper {
  std::string path;
  std::size_t logged = 0;
  bool full = false;
  bool atLineStart = true;
  LastLines lastLines{kTailLines, kTailLineSize};
};

Keeper* theKeeper = nullptr;

void logBytes(Keeper& keeper, const char* bytes, std::size_t size) {
  keeper.lastLines.add(bytes, size);
  if (keeper.full) {
    return;
  }
  const std::size_t kept = std::min(
      size, StderrLog::kMaxLogSize - kDroppedLineRoom - keeper.logged);
  const bool written = Descriptors::writeAll(kLogFile, bytes, kept);
  keeper.logged += kept;
  if (kept > 0) {
    keeper.atLineStart = bytes[kept - 1] == '\n';
  }
  if (written && kept == size) {
    return;
  }
  // A file that refuses bytes (a full disk) gets no more; the pipe is still
  // read, so that no writer waits for good.
  keeper.full = true;
  if (written &&
      (keeper.atLineStart || Descriptors::writeAll(kLogFile, "\n", 1))) {
    Descriptors::writeAll(kLogFile, kDroppedLine, sizeof(kDroppedLine) - 1);
  }
}

// Logs what waits in the pipe, `limit` bytes at most. False once no one can
// write to the pipe any more.
bool drain(Keeper& keeper, std::size_t limit) {
  char buffer[64 * 1024];
  for (std::size_t drained = 0; drained < limit;) {
    const ssize_t n = read(kPipe, buffer, sizeof(buffer));
    if (n > 0) {
      logBytes(keeper, buffer, static_cast<std::size_t>(n));
      drained += static_cast<std::size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      return n < 0 && errno == EAGAIN;
    }
  }
  return true;
}

// What the keeper writes itself, through std::cerr, is logged as any other
// byte: within the bound, and among the last lines.
class LogStreamBuf : public std::streambuf {
 public:
  explicit LogStreamBuf(Keeper& target) : keeper(target) {}

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      const char byte = traits_type::to_char_type(c);
      logBytes(keeper, &byte, 1);
    }
    return traits_type::not_eof(c);
  }

  std::streamsize xsputn(const char* bytes, std::streamsize size) override {
    logBytes(keeper, bytes, static_cast<std::size_t>(size));
    return size;
  }

 private:
  Keeper& keeper;
};

// Points std::cerr into the log for as long as it lives.
class CerrIntoLog {
 public:
  explicit CerrIntoLog(Keeper& keeper)
      : buffer(keeper), previous(std::cerr.rdbuf(&buffer)) {}
  ~CerrIntoLog() { std::cerr.rdbuf(previous); }
  CerrIntoLog(const CerrIntoLog&) = delete;
  CerrIntoLog& operator=(const CerrIntoLog&) = delete;

 private:
  LogStreamBuf buffer;
  std::streambuf* const previous;
};

void answerTail(const Keeper& keeper) {
  const std::string answer =
      StderrLogChannel::encodeLines(keeper.lastLines.get());
  StderrLogChannel::sendAll(kChannel, answer.data(), answer.size());
}

}  // namespace

namespace StderrLogChannel {

bool keeperTail(StderrLog::Tail& tail) {
  if (theKeeper == nullptr) {
    return false;
  }
  tail.path = theKeeper->path;
  tail.lines = theKeeper->lastLines.get();
  return true;
}

}  // namespace StderrLogChannel

namespace StderrLog {

bool isStartedAsKeeper(int argc, char** argv) {
  if (std::getenv(StderrLogChannel::kKeeperMark) == nullptr) {
    return false;
  }
  unsetenv(StderrLogChannel::kKeeperMark);
  // The log it is handed must be the one its arguments name.
  struct stat held;
  struct stat named;
  return argc == StderrLogChannel::kArgumentCount &&
         fstat(kLogFile, &held) == 0 && S_ISREG(held.st_mode) &&
         lstat(argv[StderrLogChannel::kLogPath], &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

int keep(char** argv, OnStartLost onStartLost) {
  // The start may be gone when an answer is sent.
  signal(SIGPIPE, SIG_IGN);
  // The read end is the keeper's alone: the start closed its copy.
  fcntl(kPipe, F_SETFL, O_NONBLOCK);
  Keeper keeper;
  keeper.path = argv[StderrLogChannel::kLogPath];
  theKeeper = &keeper;

  bool pipeOpen = true;
  bool channelOpen = true;
  bool farewell = false;
  while (pipeOpen || channelOpen) {
    pollfd ready[] = {{pipeOpen ? kPipe : -1, POLLIN, 0},
                      {channelOpen ? kChannel : -1, POLLIN, 0}};
    if (poll(ready, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      break;
    }
    if (ready[0].revents != 0) {
      pipeOpen = drain(keeper, kMaxDrain);
    }
    if (ready[1].revents == 0) {
      continue;
    }
    char request = 0;
    const ssize_t n = read(kChannel, &request, 1);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    // Everything written before a request, or before the start's process
    // ended, waits in the pipe now.
    if (pipeOpen && (n != 1 || request == StderrLogChannel::kTailRequest)) {
      pipeOpen = drain(keeper, kMaxDrain);
    }
    if (n == 1 && request == StderrLogChannel::kTailRequest) {
      answerTail(keeper);
    } else if (n == 1 && request == StderrLogChannel::kFarewell) {
      farewell = true;
    } else if (n != 1) {
      channelOpen = false;
      close(kChannel);
      if (!farewell) {
        const CerrIntoLog cerrIntoLog(keeper);
        onStartLost(keeper.lastLines.get());
      }
    }
  }
  theKeeper = nullptr;
  return 0;
}

}  // namespace StderrLog
