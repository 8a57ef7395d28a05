#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "DetachedSpawn.h"
#include "Descriptors.h"
#include "FileUtils.h"
#include "LogFolder.h"
#include "StderrLog.h"
#include "StderrLogChannel.h"
#include "SysInfo.h"

extern char** environ;

// Why a pipe and a process: a file on descriptor 2 could not be bounded,
// since the runtime, the application and the programs it starts all write to
// it directly. Through a pipe every byte passes the keeper, which logs it up
// to the bound and keeps the last lines. The keeper is a process of its own
// so that it outlives the start: nothing waiting in the pipe is lost when
// the start is killed, and programs that inherited the pipe keep a reader
// after the start ended. The start only asks the keeper for the last lines
// when a failure is reported, and never waits for it otherwise.

namespace {

constexpr int kStandardOutputFd = 1;
constexpr int kStandardErrorFd = 2;

// How long a start waits for an answer: enough for a keeper that has yet to
// start on a busy machine; a stopped one holds up a failed start's report
// no longer.
constexpr int kAnswerTimeoutMs = 10000;

// More than an answer can hold.
constexpr std::uint32_t kMaxAnswerSize = 64 * 1024;

// Closes a descriptor on every way out, unless released.
class OwnedFd {
 public:
  explicit OwnedFd(int owned = -1) : fd(owned) {}
  ~OwnedFd() {
    if (fd >= 0) {
      close(fd);
    }
  }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;

  int get() const { return fd; }
  int release() {
    const int released = fd;
    fd = -1;
    return released;
  }

 private:
  int fd;
};

// What a standard descriptor was before it went into the log.
struct SavedDescriptor {
  bool redirected = false;
  int copy = -1;  // -1 when it was closed
};

struct Log {
  // A copy of the process made by fork has the log's socket but must leave
  // the conversation to its parent.
  const pid_t owner = getpid();
  std::string path;
  SavedDescriptor savedStderr;
  SavedDescriptor savedStdout;

  // Set when the keeper could not be started: then there is no log.
  std::atomic<bool> keeperMissing{false};

  // Guards the conversation with the keeper.
  std::mutex lock;
  int channel = -1;
};

Log* theLog = nullptr;

Log* ownLog() {
  Log* const log = theLog;
  return log != nullptr && log->owner == getpid() ? log : nullptr;
}

// Points `fd` at `target`, keeping a copy of what it was. False when an
// open descriptor cannot be kept or moved.
bool redirect(int fd, int target, SavedDescriptor& saved) {
  saved.copy = fcntl(fd, F_DUPFD_CLOEXEC, kStandardErrorFd + 1);
  if (saved.copy < 0 && errno != EBADF) {
    return false;
  }
  saved.redirected = dup2(target, fd) >= 0;
  if (!saved.redirected && saved.copy >= 0) {
    close(saved.copy);
    saved.copy = -1;
  }
  return saved.redirected;
}

// A descriptor where it was before start(). One that was closed becomes the
// null device, so that no file opened later turns into it.
void restore(int fd, SavedDescriptor& saved) {
  if (!saved.redirected) {
    return;
  }
  if (saved.copy >= 0) {
    dup2(saved.copy, fd);
    close(saved.copy);
    saved.copy = -1;
  } else {
    const int nullDevice = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (nullDevice >= 0) {
      dup2(nullDevice, fd);
      close(nullDevice);
    }
  }
  saved.redirected = false;
}

// What starting the keeper takes, made ready on the start's thread: the
// launcher changes its environment later, while the keeper may still be on
// its way.
struct KeeperStart {
  std::string program;
  std::vector<std::string> args;
  std::vector<std::string> env;
  std::vector<int> descriptors;  // closed here once the keeper has them
  Log* log = nullptr;
  bool withStdout = false;
};

std::unique_ptr<KeeperStart> prepareKeeper(const std::string& program,
                                           const std::string& name,
                                           const std::string& logPath) {
  std::unique_ptr<KeeperStart> start(new KeeperStart());
  start->program = program;
  start->args.resize(StderrLogChannel::kArgumentCount);
  start->args[StderrLogChannel::kTitle] = name + " (log)";
  start->args[StderrLogChannel::kLogPath] = logPath;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    start->env.push_back(*entry);
  }
  start->env.push_back(std::string(StderrLogChannel::kKeeperMark) + "=1");
  start->descriptors.assign(StderrLogChannel::kDescriptorCount, -1);
  return start;
}

// Without a keeper nothing reads the pipe: the standard descriptors go back
// to the null device, where they were (a log is only started for those
// that reach no one), and there is no log.
void doWithoutKeeper(const KeeperStart& start) {
  start.log->keeperMissing = true;
  const int nullDevice = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (nullDevice >= 0) {
    dup2(nullDevice, kStandardErrorFd);
    if (start.withStdout) {
      dup2(nullDevice, kStandardOutputFd);
    }
    close(nullDevice);
  }
}

void startKeeper(std::unique_ptr<KeeperStart> start) {
  const bool started =
      spawnDetached(start->program, pointersTo(start->args).data(),
                    pointersTo(start->env).data(), start->descriptors);
  if (!started) {
    doWithoutKeeper(*start);
  }
  for (int fd : start->descriptors) {
    if (fd >= 0) {
      close(fd);
    }
  }
}

// The start goes on while a thread of its own waits for the system to start
// the keeper: on a busy machine that takes a while. The thread has no
// business with signals.
void startKeeperAside(std::unique_ptr<KeeperStart> start) {
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  try {
    std::thread(
        [](KeeperStart* owned) {
          startKeeper(std::unique_ptr<KeeperStart>(owned));
        },
        start.get())
        .detach();
    start.release();
  } catch (const std::exception&) {
    startKeeper(std::move(start));
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

// Reads exactly `size` bytes, each within the time the keeper has.
bool receiveAll(int fd, char* bytes, std::size_t size) {
  while (size > 0) {
    pollfd readable = {fd, POLLIN, 0};
    const int ready = poll(&readable, 1, kAnswerTimeoutMs);
    const ssize_t n = ready > 0 ? read(fd, bytes, size) : -1;
    if (n > 0) {
      bytes += n;
      size -= static_cast<std::size_t>(n);
    } else if (!(n < 0 && errno == EINTR)) {
      return false;
    }
  }
  return true;
}

// The keeper's answer to a tail request; false when there is none.
bool askForLastLines(int channel, std::vector<std::string>& lines) {
  const char request = StderrLogChannel::kTailRequest;
  std::uint32_t size = 0;
  char header[sizeof(size)];
  if (!StderrLogChannel::sendAll(channel, &request, 1) ||
      !receiveAll(channel, header, sizeof(header))) {
    return false;
  }
  std::memcpy(&size, header, sizeof(size));
  if (size > kMaxAnswerSize) {
    return false;
  }
  std::string text(size, '\0');
  if (!receiveAll(channel, &text[0], text.size())) {
    return false;
  }
  for (std::size_t start = 0, end; (end = text.find('\n', start)) !=
                                   std::string::npos;
       start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return true;
}

}  // namespace

namespace StderrLog {

bool start(const std::string& dir, const std::string& name,
           const std::string& keeperProgram) {
  if (theLog != nullptr) {
    return false;
  }
  const LogFolder::NewLog file = LogFolder::create(dir, name);
  OwnedFd logFile(file.fd);
  int ends[2];
  if (logFile.get() < 0 || pipe(ends) != 0) {
    return false;
  }
  OwnedFd pipeIn(Descriptors::privateDescriptor(ends[0]));
  const OwnedFd pipeOut(Descriptors::privateDescriptor(ends[1]));
  if (pipeIn.get() < 0 || pipeOut.get() < 0 ||
      socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) {
    return false;
  }
  OwnedFd channel(Descriptors::privateDescriptor(ends[0]));
  OwnedFd keeperChannel(Descriptors::privateDescriptor(ends[1]));
  if (channel.get() < 0 || keeperChannel.get() < 0) {
    return false;
  }
  StderrLogChannel::setNoSigpipe(channel.get());
  std::unique_ptr<KeeperStart> keeper =
      prepareKeeper(keeperProgram, name, file.path);

  std::unique_ptr<Log> log(new Log());
  log->path = file.path;
  if (!redirect(kStandardErrorFd, pipeOut.get(), log->savedStderr) ||
      (SysInfo::isWrittenToNoOne(kStandardOutputFd) &&
       !redirect(kStandardOutputFd, pipeOut.get(), log->savedStdout))) {
    restore(kStandardErrorFd, log->savedStderr);
    restore(kStandardOutputFd, log->savedStdout);
    return false;
  }
  log->channel = channel.release();
  theLog = log.release();

  // What is written until the keeper reads waits in the pipe.
  keeper->log = theLog;
  keeper->withStdout = theLog->savedStdout.redirected;
  keeper->descriptors[StderrLogChannel::kPipe] = pipeIn.release();
  keeper->descriptors[StderrLogChannel::kChannel] = keeperChannel.release();
  keeper->descriptors[StderrLogChannel::kLogFile] = logFile.release();
  startKeeperAside(std::move(keeper));
  return true;
}

Tail tail() {
  Tail result;
  if (StderrLogChannel::keeperTail(result)) {
    return result;
  }
  Log* const log = ownLog();
  if (log == nullptr || log->keeperMissing) {
    return result;
  }
  result.path = log->path;
  const std::lock_guard<std::mutex> guard(log->lock);
  // An answer cut short would leave the rest of it in the way of the next.
  if (log->channel >= 0 && !askForLastLines(log->channel, result.lines)) {
    close(log->channel);
    log->channel = -1;
  }
  return result;
}

void finish() {
  Log* const log = ownLog();
  if (log == nullptr) {
    return;
  }
  restore(kStandardErrorFd, log->savedStderr);
  restore(kStandardOutputFd, log->savedStdout);
  const std::lock_guard<std::mutex> guard(log->lock);
  if (log->channel >= 0) {
    const char farewell = StderrLogChannel::kFarewell;
    StderrLogChannel::sendAll(log->channel, &farewell, 1);
    close(log->channel);
    log->channel = -1;
  }
}

}  // namespace StderrLog
