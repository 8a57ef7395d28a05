#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AppCdsStore.h"
#include "AppCdsWaiter.h"
#include "FileUtils.h"
#include "tstrings.h"

namespace {

// How long a failed attempt keeps the next ones from trying again.
constexpr std::int64_t kFailureMemoryNs = std::int64_t(24) * 3600 * 1000000000;

// What a start of this process's id leaves beside the archive while it
// makes it; removeLeftovers knows them by these suffixes.
const char* const kOwnSuffixes[] = {".tmp", ".dump", ".record"};

std::string recordOf(const std::string& archive) {
  return archive + ".done";
}
std::string failureOf(const std::string& archive) {
  return archive + ".failed";
}
std::string ownFile(const std::string& archive, const char* suffix) {
  return archive + "." + std::to_string(static_cast<long>(getpid())) + suffix;
}

// Never through a link: another program's file must not be read as ours,
// nor written or truncated in our stead.
int openOwn(const std::string& path, int flags) {
  return open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0600);
}

// Size, modification time and file, as the record holds them.
std::string recordText(const FileUtils::FileStatus& status) {
  return std::to_string(status.size) + " " +
         std::to_string(status.modifiedNs) + " " +
         std::to_string(status.inode) + "\n";
}

// The first bytes of the file, up to a record's worth; empty when it cannot
// be read.
std::string readRecord(const std::string& path) {
  const int fd = openOwn(path, O_RDONLY | O_NONBLOCK);
  if (fd < 0) {
    return std::string();
  }
  char text[128];
  const ssize_t size = read(fd, text, sizeof(text));
  close(fd);
  return size > 0 ? std::string(text, static_cast<std::size_t>(size))
                  : std::string();
}

// Whether `path` begins as a class-data archive of the runtime does: its
// four-byte magic number, stored little-endian on both platforms, for a
// static or a dynamic archive.
bool looksLikeArchive(const std::string& path) {
  const int fd = openOwn(path, O_RDONLY | O_NONBLOCK);
  if (fd < 0) {
    return false;
  }
  unsigned char magic[4] = {};
  const bool read4 = read(fd, magic, sizeof(magic)) == sizeof(magic);
  close(fd);
  return read4 && (magic[0] == 0xa2 || magic[0] == 0xa8) && magic[1] == 0xab &&
         magic[2] == 0x0b && magic[3] == 0xf0;
}

// Whether `name` is "<pid><suffix>" for one of a start's own files.
bool isOwnFileName(const std::string& name) {
  for (const char* suffix : kOwnSuffixes) {
    const std::string::size_type digits = name.find_first_not_of("0123456789");
    if (digits != 0 && digits != std::string::npos &&
        name.compare(digits, std::string::npos, suffix) == 0) {
      return true;
    }
  }
  return false;
}

// The lock of the archive this process makes; handed to the waiter.
int lockDescriptor = -1;

struct PendingCompletion {
  AppCdsStore::Completion completion;
  // A child that the application forks without executing anything, and
  // that exits, runs the exit handlers too: only this process completes.
  pid_t owner;
};

PendingCompletion* pending = nullptr;

void completeInThisProcess(const AppCdsStore::Completion& c) {
  const FileUtils::FileStatus produced = FileUtils::getLinkStatus(c.produced);
  if (c.dumpCommand.empty() || produced.size == 0) {
    // The runtime wrote the archive itself, or wrote nothing: the start may
    // have ended before it could.
    if (produced.exists && !AppCdsStore::commit(c.archive, c.produced)) {
      AppCdsStore::noteFailure(c.archive);
    }
    unlink(c.produced.c_str());
    return;
  }
  if (!AppCdsWaiter::start(c, lockDescriptor)) {
    unlink(c.produced.c_str());
  }
}

void completePending() {
  if (pending == nullptr || pending->owner != getpid()) {
    return;
  }
  try {
    completeInThisProcess(pending->completion);
  } catch (...) {
    // Out of memory at exit: what the start wrote is cleaned up by the next
    // one that makes the archive.
  }
}

}  // namespace

namespace AppCdsStore {

std::string lockFile(const std::string& archive) {
  return archive + ".lock";
}

std::string startOutput(const std::string& archive) {
  return ownFile(archive, ".tmp");
}

std::string dumpOutput(const std::string& archive) {
  return ownFile(archive, ".dump");
}

std::string whyIncomplete(const std::string& archive) {
  const FileUtils::FileStatus status = FileUtils::getLinkStatus(archive);
  if (!status.exists) {
    return "not found";
  }
  if (!status.isRegularFile ||
      readRecord(recordOf(archive)) != recordText(status)) {
    return "not as the launcher completed it";
  }
  return std::string();
}

Lock lockForMaking(const std::string& archive) {
  releaseLock();
  // Not inherited by what the application executes; the waiter gets it
  // explicitly.
  const int fd = openOwn(lockFile(archive), O_CREAT | O_RDWR);
  if (fd < 0) {
    return Lock::failed;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK;
    close(fd);
    return held ? Lock::heldElsewhere : Lock::failed;
  }
  lockDescriptor = fd;
  return Lock::taken;
}

void releaseLock() {
  if (lockDescriptor >= 0) {
    close(lockDescriptor);
    lockDescriptor = -1;
  }
}

void removeLeftovers(const std::string& archive) {
  const std::string folder = FileUtils::dirname(archive);
  const std::string prefix = FileUtils::basename(archive) + ".";
  for (const std::string& name : FileUtils::listDirectory(folder)) {
    if (name.compare(0, prefix.size(), prefix) == 0 &&
        isOwnFileName(name.substr(prefix.size()))) {
      unlink((folder + "/" + name).c_str());
    }
  }
}

bool failedRecently(const std::string& archive) {
  const FileUtils::FileStatus status =
      FileUtils::getLinkStatus(failureOf(archive));
  return status.exists && FileUtils::modifiedAgoNs(status) < kFailureMemoryNs;
}

void removeUnlessBeingMade(const std::string& folder) {
  std::vector<int> held;
  bool beingMade = false;
  for (const std::string& name : FileUtils::listDirectory(folder)) {
    if (!tstrings::endsWith(name, ".lock")) {
      continue;
    }
    const int fd = openOwn(folder + "/" + name, O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
      continue;
    }
    held.push_back(fd);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      beingMade = true;
      break;
    }
  }
  if (!beingMade) {
    FileUtils::removeTree(folder);
  }
  for (const int fd : held) {
    close(fd);
  }
}

bool commit(const std::string& archive, const std::string& made) {
  const FileUtils::FileStatus status = FileUtils::getLinkStatus(made);
  if (!status.isRegularFile || !looksLikeArchive(made)) {
    return false;
  }
  const std::string record = recordText(status);
  const std::string recordTmp = ownFile(archive, ".record");
  unlink(recordTmp.c_str());
  const int out = openOwn(recordTmp, O_CREAT | O_EXCL | O_WRONLY);
  if (out < 0) {
    return false;
  }
  const bool written = write(out, record.data(), record.size()) ==
                       static_cast<ssize_t>(record.size());
  const bool done = close(out) == 0 && written &&
                    rename(made.c_str(), archive.c_str()) == 0 &&
                    rename(recordTmp.c_str(), recordOf(archive).c_str()) == 0;
  if (done) {
    unlink(failureOf(archive).c_str());
  } else {
    unlink(recordTmp.c_str());
  }
  return done;
}

void noteFailure(const std::string& archive) {
  const int fd = openOwn(failureOf(archive), O_CREAT | O_WRONLY | O_NONBLOCK);
  if (fd >= 0) {
    futimens(fd, nullptr);
    close(fd);
  }
}

void completeAtExit(const Completion& completion) {
  const bool first = pending == nullptr;
  // Lives until the process ends: the exit handler reads it.
  PendingCompletion* p = first ? new PendingCompletion() : pending;
  p->completion = completion;
  p->owner = getpid();
  pending = p;
  if (first) {
    std::atexit(completePending);
  }
}

}  // namespace AppCdsStore
