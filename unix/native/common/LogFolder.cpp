#include "LogFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "Descriptors.h"
#include "FileUtils.h"

namespace {

constexpr mode_t kOwnerOnly = 0700;
constexpr char kSuffix[] = ".log";
// "yyyymmdd-hhmmss"
constexpr std::size_t kStampSize = 15;

// The folder, when it is one (not a link to one) and the user's own, open to
// them. The group's and others' permissions are taken away; what its owner
// took away from themselves is never given back.
int openOwnFolder(const std::string& dir) {
  const int fd = Descriptors::privateDescriptor(
      open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd < 0) {
    return -1;
  }
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISDIR(status.st_mode) ||
      status.st_uid != geteuid() ||
      (status.st_mode & kOwnerOnly) != kOwnerOnly ||
      ((status.st_mode & 07777) != kOwnerOnly && fchmod(fd, kOwnerOnly) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

// Which start a log belongs to, by its name: sorts by start time, then by
// process id.
struct LogStart {
  std::string stamp;
  unsigned long pid = 0;
  std::string fileName;

  bool operator>(const LogStart& other) const {
    return std::tie(stamp, pid) > std::tie(other.stamp, other.pid);
  }
};

bool isDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
}

// False for a name that no start of `name` gives its log.
bool parseLogName(const std::string& fileName, const std::string& name,
                  LogStart& start) {
  const std::string prefix = name + "-";
  const std::size_t suffixSize = sizeof(kSuffix) - 1;
  if (fileName.size() < prefix.size() + kStampSize + 2 + suffixSize ||
      fileName.compare(0, prefix.size(), prefix) != 0 ||
      fileName.compare(fileName.size() - suffixSize, suffixSize, kSuffix) !=
          0) {
    return false;
  }
  const std::string stamp = fileName.substr(prefix.size(), kStampSize);
  const std::string pid = fileName.substr(
      prefix.size() + kStampSize + 1,
      fileName.size() - suffixSize - prefix.size() - kStampSize - 1);
  if (stamp[8] != '-' || !isDigits(stamp.substr(0, 8)) ||
      !isDigits(stamp.substr(9)) ||
      fileName[prefix.size() + kStampSize] != '-' || !isDigits(pid)) {
    return false;
  }
  start.stamp = stamp;
  start.pid = std::strtoul(pid.c_str(), nullptr, 10);
  start.fileName = fileName;
  return true;
}

// A log that no start holds (its lock free) goes. A link in a log's place
// is nobody's log: the link goes, what it leads to stays.
void removeUnlessInUse(int folder, const std::string& fileName) {
  const int fd = openat(folder, fileName.c_str(),
                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP) {
      unlinkat(folder, fileName.c_str(), 0);
    }
    return;
  }
  struct stat status;
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
      flock(fd, LOCK_EX | LOCK_NB) == 0) {
    unlinkat(folder, fileName.c_str(), 0);
  }
  close(fd);
}

// Leaves room for one more log among the kept ones.
void prune(int folder, const std::string& name) {
  const int listing = fcntl(folder, F_DUPFD_CLOEXEC, 0);
  DIR* const dir = listing < 0 ? nullptr : fdopendir(listing);
  if (dir == nullptr) {
    if (listing >= 0) {
      close(listing);
    }
    return;
  }
  std::vector<LogStart> logs;
  while (const struct dirent* entry = readdir(dir)) {
    LogStart start;
    if (parseLogName(entry->d_name, name, start)) {
      logs.push_back(start);
    }
  }
  closedir(dir);
  if (logs.size() < LogFolder::kKeptLogs) {
    return;
  }
  std::sort(logs.begin(), logs.end(), std::greater<LogStart>());
  for (auto old = logs.begin() + (LogFolder::kKeptLogs - 1); old != logs.end();
       ++old) {
    removeUnlessInUse(folder, old->fileName);
  }
}

std::string logFileName(const std::string& name) {
  const std::time_t now = std::time(nullptr);
  std::tm local = {};
  char stamp[kStampSize + 1] = "00000000-000000";
  if (localtime_r(&now, &local) != nullptr) {
    std::strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", &local);
  }
  return name + "-" + stamp + "-" + std::to_string(getpid()) + kSuffix;
}

}  // namespace

namespace LogFolder {

NewLog create(const std::string& dir, const std::string& name) {
  std::string failure;
  if (!FileUtils::createDirectories(dir, failure)) {
    return NewLog();
  }
  const int folder = openOwnFolder(dir);
  if (folder < 0) {
    return NewLog();
  }
  prune(folder, name);
  const std::string fileName = logFileName(name);
  // O_EXCL refuses anything in the way, a link included.
  const int fd = Descriptors::privateDescriptor(
      openat(folder, fileName.c_str(),
             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  close(folder);
  if (fd < 0) {
    return NewLog();
  }
  // The lock is free: the file is new. A start that pruned it in the moment
  // before, which would take several newer starts at once, leaves it
  // without a name.
  struct stat status;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || fstat(fd, &status) != 0 ||
      status.st_nlink == 0) {
    close(fd);
    return NewLog();
  }
  // The umask may have taken more than the group's and others' bits.
  fchmod(fd, 0600);
  NewLog log;
  log.fd = fd;
  log.path = FileUtils::combinePath(dir, fileName);
  return log;
}

}  // namespace LogFolder
