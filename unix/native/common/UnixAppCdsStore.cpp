#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AppCdsStore.h"
#include "FileUtils.h"

extern char** environ;

namespace {

// How long a failed attempt keeps the next ones from trying again.
constexpr std::int64_t kFailureMemoryNs = std::int64_t(24) * 3600 * 1000000000;

// A dump that forks this process must not wait on a descriptor of the
// application's; those beyond this many are left to the kernel.
constexpr int kMaxDescriptorsToClose = 1 << 16;

std::string recordOf(const std::string& archive) {
  return archive + ".done";
}
std::string failureOf(const std::string& archive) {
  return archive + ".failed";
}
std::string lockOf(const std::string& archive, long pid) {
  return archive + "." + std::to_string(pid) + ".lock";
}
std::string ownFile(const std::string& archive, const char* suffix) {
  return archive + "." + std::to_string(static_cast<long>(getpid())) + suffix;
}

// Decimal digits of `value` at `out`; returns the end. For after fork(),
// where nothing may allocate.
char* putDecimal(char* out, std::uint64_t value) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) {
    *out++ = digits[--n];
  }
  return out;
}

// The record's text; `out` holds at least 80 bytes.
std::size_t formatRecord(const FileUtils::FileStatus& status, char* out) {
  char* end = putDecimal(out, status.size);
  *end++ = ' ';
  end = putDecimal(end, static_cast<std::uint64_t>(status.modifiedNs));
  *end++ = ' ';
  end = putDecimal(end, status.inode);
  *end++ = '\n';
  return static_cast<std::size_t>(end - out);
}

// Whether `path` begins as a class-data archive of the runtime does: its
// four-byte magic number, stored little-endian on both platforms, for a
// static or a dynamic archive.
bool looksLikeArchive(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  unsigned char magic[4] = {};
  const bool read4 = read(fd, magic, sizeof(magic)) == sizeof(magic);
  close(fd);
  return read4 && (magic[0] == 0xa2 || magic[0] == 0xa8) && magic[1] == 0xab &&
         magic[2] == 0x0b && magic[3] == 0xf0;
}

// Its modification time says when.
void noteFailure(const std::string& failure) {
  const int fd =
      open(failure.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
  if (fd >= 0) {
    close(fd);
  }
}

// Everything a completion touches, as strings made before the process
// forks: the forked copy may only make system calls.
struct PendingCompletion {
  std::string archive;
  std::string produced;
  std::string dumpOutput;
  std::string record;
  std::string recordTmp;
  std::string failure;
  std::string lock;
  std::string folder;
  std::vector<std::string> dumpCommand;
  std::vector<char*> dumpArgv;
};

PendingCompletion* pending = nullptr;
int lockDescriptor = -1;

// Moves `made` into place as the archive, with its record, if it is one.
// Commits of two processes take turns on the folder's lock, so that the
// archive and its record always come from the same one.
bool commit(const PendingCompletion& p, const std::string& made) {
  const FileUtils::FileStatus status = FileUtils::getFileStatus(made);
  if (!status.isRegularFile || !looksLikeArchive(made)) {
    return false;
  }
  char record[80];
  const std::size_t recordSize = formatRecord(status, record);
  const int folder = open(p.folder.c_str(), O_RDONLY | O_CLOEXEC);
  if (folder >= 0) {
    flock(folder, LOCK_EX);
  }
  bool done = false;
  const int out =
      open(p.recordTmp.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
  if (out >= 0) {
    const bool written =
        write(out, record, recordSize) == static_cast<ssize_t>(recordSize);
    done = close(out) == 0 && written &&
           rename(made.c_str(), p.archive.c_str()) == 0 &&
           rename(p.recordTmp.c_str(), p.record.c_str()) == 0;
    if (done) {
      unlink(p.failure.c_str());
    } else {
      unlink(p.recordTmp.c_str());
    }
  }
  if (folder >= 0) {
    flock(folder, LOCK_UN);
    close(folder);
  }
  return done;
}

void closeDescriptorsAbove(int lowest, int keep) {
  struct rlimit limit;
  int highest = kMaxDescriptorsToClose;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 &&
      limit.rlim_cur != RLIM_INFINITY &&
      limit.rlim_cur < static_cast<rlim_t>(highest)) {
    highest = static_cast<int>(limit.rlim_cur);
  }
  for (int fd = lowest; fd < highest; ++fd) {
    if (fd != keep) {
      close(fd);
    }
  }
}

// In the detached copy of this process: runs the dump, waits for it and
// completes the archive. Only system calls from here on: the threads that
// held the allocator's locks did not come along.
[[noreturn]] void dumpAndComplete(const PendingCompletion& p) {
  setsid();
  const int devNull = open("/dev/null", O_RDWR);
  if (devNull >= 0) {
    dup2(devNull, STDIN_FILENO);
    dup2(devNull, STDOUT_FILENO);
    dup2(devNull, STDERR_FILENO);
  }
  closeDescriptorsAbove(STDERR_FILENO + 1, lockDescriptor);

  bool made = false;
  const pid_t dump = fork();
  if (dump == 0) {
    // Out of the way of what the user does next.
    (void)nice(10);
    execve(p.dumpArgv[0], p.dumpArgv.data(), environ);
    _exit(127);
  }
  if (dump > 0) {
    int status = 0;
    while (waitpid(dump, &status, 0) < 0 && errno == EINTR) {
    }
    made = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
           commit(p, p.dumpOutput);
  }
  if (!made) {
    noteFailure(p.failure);
    unlink(p.dumpOutput.c_str());
  }
  unlink(p.produced.c_str());
  unlink(p.lock.c_str());
  _exit(0);
}

void completePending() {
  const PendingCompletion* const p = pending;
  if (p == nullptr) {
    return;
  }
  const FileUtils::FileStatus produced = FileUtils::getFileStatus(p->produced);
  if (p->dumpCommand.empty() || produced.size == 0) {
    // The runtime wrote the archive itself, or wrote nothing: the start may
    // have ended before it could.
    if (produced.exists && !commit(*p, p->produced)) {
      noteFailure(p->failure);
    }
    unlink(p->produced.c_str());
    unlink(p->lock.c_str());
    return;
  }
  const pid_t waiter = fork();
  if (waiter == 0) {
    dumpAndComplete(*p);
  }
  if (waiter < 0) {
    unlink(p->produced.c_str());
    unlink(p->lock.c_str());
  }
}

}  // namespace

namespace AppCdsStore {

std::string startOutput(const std::string& archive) {
  return ownFile(archive, ".tmp");
}

std::string dumpOutput(const std::string& archive) {
  return ownFile(archive, ".dump");
}

std::string whyIncomplete(const std::string& archive) {
  const FileUtils::FileStatus status = FileUtils::getFileStatus(archive);
  if (!status.exists) {
    return "not found";
  }
  char expected[80];
  const std::size_t expectedSize = formatRecord(status, expected);
  char found[80];
  ssize_t foundSize = -1;
  const int fd = open(recordOf(archive).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    foundSize = read(fd, found, sizeof(found));
    close(fd);
  }
  if (!status.isRegularFile ||
      foundSize != static_cast<ssize_t>(expectedSize) ||
      std::memcmp(found, expected, expectedSize) != 0) {
    return "not as the launcher completed it";
  }
  return std::string();
}

bool isBeingMade(const std::string& archive) {
  const std::string folder = FileUtils::dirname(archive);
  const std::string prefix = FileUtils::basename(archive) + ".";
  const std::string suffix = ".lock";
  bool beingMade = false;
  for (const std::string& name : FileUtils::listDirectory(folder)) {
    if (name.size() <= prefix.size() + suffix.size() ||
        name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
      continue;
    }
    const std::string pid =
        name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (pid.find_first_not_of("0123456789") != std::string::npos) {
      continue;
    }
    const std::string lock = folder + "/" + name;
    const int fd = open(lock.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
      continue;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      // Whoever held it has ended without finishing.
      const std::string stale = archive + "." + pid;
      unlink((stale + ".tmp").c_str());
      unlink((stale + ".dump").c_str());
      unlink(lock.c_str());
    } else {
      beingMade = true;
    }
    close(fd);
  }
  return beingMade;
}

bool failedRecently(const std::string& archive) {
  const FileUtils::FileStatus status =
      FileUtils::getFileStatus(failureOf(archive));
  return status.exists && FileUtils::modifiedAgoNs(status) < kFailureMemoryNs;
}

bool lockForMaking(const std::string& archive) {
  const std::string lock = lockOf(archive, static_cast<long>(getpid()));
  // Not inherited by what the application executes, but by the forked
  // copy that runs the dump.
  const int fd = open(lock.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) {
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  if (lockDescriptor >= 0) {
    close(lockDescriptor);
  }
  lockDescriptor = fd;
  return true;
}

void completeAtExit(const Completion& completion) {
  const bool first = pending == nullptr;
  // Lives until the process ends: the exit handler reads it.
  PendingCompletion* p = first ? new PendingCompletion() : pending;
  p->archive = completion.archive;
  p->produced = completion.produced;
  p->dumpOutput = dumpOutput(completion.archive);
  p->record = recordOf(completion.archive);
  p->recordTmp = ownFile(p->record, ".tmp");
  p->failure = failureOf(completion.archive);
  p->lock = lockOf(completion.archive, static_cast<long>(getpid()));
  p->folder = FileUtils::dirname(completion.archive);
  p->dumpCommand = completion.dumpCommand;
  p->dumpArgv.clear();
  for (std::string& arg : p->dumpCommand) {
    p->dumpArgv.push_back(arg.data());
  }
  p->dumpArgv.push_back(nullptr);
  pending = p;
  if (first) {
    std::atexit(completePending);
  }
}

}  // namespace AppCdsStore
