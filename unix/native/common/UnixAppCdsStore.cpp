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

// A record lists a few files beyond the archive, one line each; a record
// larger than this is none of the launcher's.
constexpr std::size_t kMaxRecordSize = std::size_t(16) << 20;

// The record's text; empty when it cannot be read or is too large.
std::string readRecord(const std::string& path) {
  const int fd = openOwn(path, O_RDONLY | O_NONBLOCK);
  if (fd < 0) {
    return std::string();
  }
  std::string text;
  char chunk[4096];
  ssize_t size;
  while ((size = read(fd, chunk, sizeof(chunk))) > 0 &&
         text.size() <= kMaxRecordSize) {
    text.append(chunk, static_cast<std::size_t>(size));
  }
  close(fd);
  return size == 0 ? text : std::string();
}

// What the runtime compares of a file it checks: whether it is there, its
// size and modification time.
std::string checkedState(const std::string& path) {
  const FileUtils::FileStatus status = FileUtils::getFileStatus(path);
  return status.exists ? std::to_string(status.size) + " " +
                             std::to_string(status.modifiedNs)
                       : std::string("- -");
}

// Empty when every checked file that `lines` record ("<state> <path>" each)
// is as it was; otherwise why not.
std::string whyCheckedFilesChanged(const std::string& lines) {
  std::string::size_type start = 0;
  while (start < lines.size()) {
    const std::string::size_type end = lines.find('\n', start);
    const std::string::size_type space = lines.find(' ', start);
    const std::string::size_type pathAt =
        space < end ? lines.find(' ', space + 1) : std::string::npos;
    if (end == std::string::npos || pathAt >= end) {
      return "not as the launcher completed it";
    }
    const std::string path = lines.substr(pathAt + 1, end - pathAt - 1);
    if (lines.compare(start, pathAt - start, checkedState(path)) != 0) {
      return "made before \"" + path + "\" changed";
    }
    start = end + 1;
  }
  return std::string();
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

// Whether `descriptor` is open on the file that is at `path` now.
bool isOpenOn(int descriptor, const std::string& path) {
  struct stat opened;
  struct stat there;
  return fstat(descriptor, &opened) == 0 && lstat(path.c_str(), &there) == 0 &&
         opened.st_dev == there.st_dev && opened.st_ino == there.st_ino;
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
  // The start may have ended before its runtime wrote anything into the
  // file it was given; that is no failure of the archive.
  if (produced.size == 0 || c.dumpCommand.empty()) {
    // Or the runtime wrote the archive itself.
    if (produced.size != 0 && !AppCdsStore::commit(c.archive, c.produced)) {
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
  const std::string record = readRecord(recordOf(archive));
  const std::string archiveLine = recordText(status);
  if (!status.isRegularFile ||
      record.compare(0, archiveLine.size(), archiveLine) != 0) {
    return "not as the launcher completed it";
  }
  return whyCheckedFilesChanged(record.substr(archiveLine.size()));
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
  if (!isLockOf(fd, archive)) {
    // Pruned with its folder between the open and the lock.
    close(fd);
    return Lock::failed;
  }
  lockDescriptor = fd;
  return Lock::taken;
}

bool isLockOf(int descriptor, const std::string& archive) {
  return isOpenOn(descriptor, lockFile(archive));
}

bool createStartOutput(const std::string& archive, std::string& failure) {
  const int fd = openOwn(startOutput(archive), O_CREAT | O_EXCL | O_WRONLY);
  if (fd < 0) {
    failure = std::strerror(errno);
    return false;
  }
  close(fd);
  return true;
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
    const std::string lock = folder + "/" + name;
    const int fd = openOwn(lock, O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
      continue;
    }
    held.push_back(fd);
    // A lock file that is no longer the folder's was replaced by a start
    // that makes its archive there now.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || !isOpenOn(fd, lock)) {
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

bool commit(const std::string& archive, const std::string& made,
            const std::vector<std::string>& checkedFiles) {
  const FileUtils::FileStatus status = FileUtils::getLinkStatus(made);
  if (!status.isRegularFile || !looksLikeArchive(made)) {
    return false;
  }
  std::string record = recordText(status);
  for (const std::string& path : checkedFiles) {
    if (path.find('\n') == std::string::npos) {
      record += checkedState(path) + " " + path + "\n";
    }
  }
  if (record.size() > kMaxRecordSize) {
    return false;
  }
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
