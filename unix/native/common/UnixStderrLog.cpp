#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include "FileUtils.h"
#include "StderrLog.h"

// Why a pipe and a thread: a file on descriptor 2 could not be bounded, since
// the runtime, the application and the programs it starts all write to it
// directly. Through a pipe the launcher sees every byte: a thread of its own
// copies what arrives into the log, up to the bound, and keeps the last
// lines. Whoever needs those lines (the alert, the end of the process) first
// logs what waits in the pipe, under the lock that the thread takes for each
// read, so that nothing written before is missed. The runtime may end the
// process from any thread at any moment, and its exit handlers then only
// take that lock, which the thread holds for one bounded round at a time and
// never while it waits for more. The thread may go on running while the
// process ends, so what it uses is never freed.

namespace {

constexpr int kStandardErrorFd = 2;

// Enough for "Unrecognized VM option ..." or an exception's first line, and
// few enough for an alert.
constexpr std::size_t kTailLines = 10;
constexpr std::size_t kTailLineSize = 300;

// A writer that never stops must not hold up whoever waits for the lock.
constexpr std::size_t kMaxDrain = 4 * 1024 * 1024;

constexpr char kDroppedLine[] =
    "[The log holds 10 MiB at most: the rest of this start's output is "
    "dropped]\n";
// The line, and the line feed that may have to go before it.
constexpr std::size_t kDroppedLineRoom = sizeof(kDroppedLine);

struct Log {
  // A copy of the process made by fork has the log but not the thread, and
  // perhaps the lock taken: it leaves both alone.
  const pid_t owner = getpid();
  int pipeIn = -1;  // non-blocking
  int file = -1;
  int savedStderr = -1;  // -1 when descriptor 2 was closed
  std::string path;

  // Taken for every read of the pipe; guards what follows.
  std::mutex lock;
  std::size_t logged = 0;
  bool full = false;
  bool atLineStart = true;
  LastLines lastLines{kTailLines, kTailLineSize};
};

Log* theLog = nullptr;

Log* ownLog() {
  Log* const log = theLog;
  return log != nullptr && log->owner == getpid() ? log : nullptr;
}

bool writeAll(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, bytes, size);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void logBytes(Log& log, const char* bytes, std::size_t size) {
  log.lastLines.add(bytes, size);
  if (log.full) {
    return;
  }
  const std::size_t kept =
      std::min(size, StderrLog::kMaxLogSize - kDroppedLineRoom - log.logged);
  const bool written = writeAll(log.file, bytes, kept);
  log.logged += kept;
  if (kept > 0) {
    log.atLineStart = bytes[kept - 1] == '\n';
  }
  if (written && kept == size) {
    return;
  }
  // A file that refuses bytes (a full disk) gets no more; the pipe is still
  // read, so that no writer waits for good.
  log.full = true;
  if (written && (log.atLineStart || writeAll(log.file, "\n", 1))) {
    writeAll(log.file, kDroppedLine, sizeof(kDroppedLine) - 1);
  }
}

// Logs what waits in the pipe, `limit` bytes at most. False once no one can
// write to the pipe any more.
bool drain(Log& log, std::size_t limit) {
  char buffer[16 * 1024];
  for (std::size_t drained = 0; drained < limit;) {
    const ssize_t n = read(log.pipeIn, buffer, sizeof(buffer));
    if (n > 0) {
      logBytes(log, buffer, static_cast<std::size_t>(n));
      drained += static_cast<std::size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      return n < 0 && errno == EAGAIN;
    }
  }
  return true;
}

void copyUntilClosed(Log* log) {
  for (;;) {
    pollfd readable = {log->pipeIn, POLLIN, 0};
    if (poll(&readable, 1, -1) < 0 && errno != EINTR) {
      return;
    }
    const std::lock_guard<std::mutex> guard(log->lock);
    if (!drain(*log, kMaxDrain)) {
      return;
    }
  }
}

// The thread has no business with signals: the runtime's handlers expect
// its own threads, or the one that started it.
bool startCopying(Log* log) {
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  bool started = true;
  try {
    std::thread(copyUntilClosed, log).detach();
  } catch (const std::exception&) {
    started = false;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return started;
}

// `fd` as a descriptor above the standard three that programs the
// application starts do not inherit: with descriptor 2 closed, the system
// hands that out first. -1 for -1.
int privateDescriptor(int fd) {
  if (fd > kStandardErrorFd) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
  }
  if (fd < 0) {
    return -1;
  }
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, kStandardErrorFd + 1);
  close(fd);
  return moved;
}

// The folder, when it is one (not a link to one) and the user's own; made
// theirs alone.
int openOwnFolder(const std::string& dir) {
  const int fd = privateDescriptor(
      open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd < 0) {
    return -1;
  }
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISDIR(status.st_mode) ||
      status.st_uid != geteuid() ||
      ((status.st_mode & 07777) != 0700 && fchmod(fd, 0700) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

// A new, empty "<name>.log" in `dir`, the previous one kept as
// "<name>.log.1"; -1 when there can be none.
int createLogFile(const std::string& dir, const std::string& fileName) {
  std::string failure;
  if (!FileUtils::createDirectories(dir, failure)) {
    return -1;
  }
  const int folder = openOwnFolder(dir);
  if (folder < 0) {
    return -1;
  }
  // Moves a link as a link; O_EXCL then refuses anything that is in the
  // way, a link planted since included.
  renameat(folder, fileName.c_str(), folder, (fileName + ".1").c_str());
  const int file = privateDescriptor(
      openat(folder, fileName.c_str(),
             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  close(folder);
  // The umask may have taken more than the group's and others' bits.
  if (file >= 0) {
    fchmod(file, 0600);
  }
  return file;
}

bool openPipe(Log& log, int& pipeOut) {
  int ends[2];
  if (pipe(ends) != 0) {
    return false;
  }
  log.pipeIn = privateDescriptor(ends[0]);
  pipeOut = privateDescriptor(ends[1]);
  return log.pipeIn >= 0 && pipeOut >= 0 &&
         fcntl(log.pipeIn, F_SETFL, O_NONBLOCK) == 0;
}

// False when descriptor 2 is open and cannot be kept; a closed one is kept
// as -1.
bool saveStderr(Log& log) {
  log.savedStderr =
      fcntl(kStandardErrorFd, F_DUPFD_CLOEXEC, kStandardErrorFd + 1);
  return log.savedStderr >= 0 || errno == EBADF;
}

void closeAll(const Log& log, int pipeOut) {
  for (int fd : {log.pipeIn, pipeOut, log.file, log.savedStderr}) {
    if (fd >= 0) {
      close(fd);
    }
  }
}

// Standard error where it was before start(). One that was closed is
// closed again when start() takes back what it did, and becomes the null
// device at the end, so that no file opened later turns into descriptor 2.
void restoreStderr(const Log& log, bool keepClosed) {
  if (log.savedStderr >= 0) {
    dup2(log.savedStderr, kStandardErrorFd);
  } else if (keepClosed) {
    close(kStandardErrorFd);
  } else {
    const int nullDevice = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (nullDevice >= 0) {
      dup2(nullDevice, kStandardErrorFd);
      close(nullDevice);
    }
  }
}

}  // namespace

namespace StderrLog {

bool start(const std::string& dir, const std::string& name) {
  if (theLog != nullptr) {
    return false;
  }
  const std::string fileName = name + ".log";
  Log* const log = new Log();
  log->path = FileUtils::combinePath(dir, fileName);
  log->file = createLogFile(dir, fileName);
  int pipeOut = -1;
  if (log->file >= 0 && openPipe(*log, pipeOut) && saveStderr(*log) &&
      dup2(pipeOut, kStandardErrorFd) >= 0) {
    close(pipeOut);
    pipeOut = -1;
    if (startCopying(log)) {
      theLog = log;
      return true;
    }
    restoreStderr(*log, true);
  }
  closeAll(*log, pipeOut);
  delete log;
  return false;
}

Tail tail() {
  Log* const log = ownLog();
  if (log == nullptr) {
    return Tail();
  }
  const std::lock_guard<std::mutex> guard(log->lock);
  drain(*log, kMaxDrain);
  return Tail{log->path, log->lastLines.get()};
}

void finish() {
  Log* const log = ownLog();
  if (log == nullptr) {
    return;
  }
  restoreStderr(*log, false);
  const std::lock_guard<std::mutex> guard(log->lock);
  drain(*log, kMaxDrain);
}

}  // namespace StderrLog
