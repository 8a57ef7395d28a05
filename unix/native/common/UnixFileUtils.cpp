#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "ErrorHandling.h"
#include "FileUtils.h"

namespace FileUtils {

namespace {

// Room for the usual working directory; a deeper one grows the buffer.
constexpr std::size_t initialCwdBufferSize = 1024;

}  // namespace

bool isFileExists(const std::string& filePath) {
  // stat() follows links, so a dangling link does not exist; a directory or
  // any other kind of entry does.
  struct stat statBuffer;
  return stat(filePath.c_str(), &statBuffer) == 0;
}

std::string stripExeSuffix(const std::string& path) {
  // Executables carry no suffix on this platform.
  return path;
}

// The raise positions of the two errors below (lines 53 and 59) are part of
// the message that the log shows with WRAPKIN_DEBUG on: keep them in place.
//
// A working directory deeper than the first buffer is not a failure: the
// buffer grows while getcwd() reports ERANGE, so a user who starts the
// launcher from a deep folder is not refused.
std::string toAbsolutePath(const std::string& path) {
  if (path.empty()) {
    std::vector<char> buffer(initialCwdBufferSize, '\0');
    const char* dir = getcwd(buffer.data(), buffer.size());
    while (dir == nullptr && errno == ERANGE) {
      buffer.assign(buffer.size() * 2, '\0');
      dir = getcwd(buffer.data(), buffer.size());
    }
    if (dir != nullptr) {
      const std::string result(dir);
      if (result.empty()) {
        THROW_ERROR("getcwd() returned empty string");
      }
      return result;
    }
    // Read getcwd()'s reason before anything else can change errno.
    const std::string reason = lastCRTError();
    THROW_ERROR(tstrings::any() << "getcwd() failed. Error: " << reason);
  }
  if (isDirSeparator(path[0])) {
    return path;
  }
  return combinePath(combinePath(std::string(), toAbsolutePath(std::string())),
                     path);
}

bool isFileMissing(const std::string& filePath) {
  struct stat statBuffer;
  return stat(filePath.c_str(), &statBuffer) != 0 &&
         (errno == ENOENT || errno == ENOTDIR);
}

OpenedFile openForReading(const std::string& path) {
  // Without O_NONBLOCK, opening a FIFO waits until some process opens it for
  // writing. For the files accepted below the flag changes nothing.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return {nullptr, lastCRTError()};
  }
  struct stat st;
  std::string failure;
  if (fstat(fd, &st) != 0) {
    failure = lastCRTError();
  } else if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    failure = "Not a regular file";
  } else if (std::FILE* const file = fdopen(fd, "rb"); file != nullptr) {
    return {file, std::string()};
  } else {
    failure = lastCRTError();
  }
  close(fd);
  return {nullptr, failure};
}

namespace {

bool isDotComponent(const std::string& path, std::string::size_type begin,
                    std::string::size_type end) {
  const std::string::size_type size = end - begin;
  return (size == 1 || size == 2) && path.compare(begin, size, "..", size) == 0;
}

bool hasDotComponent(const std::string& path) {
  std::string::size_type begin = 0;
  for (;;) {
    const std::string::size_type end =
        std::min(path.find('/', begin), path.size());
    if (isDotComponent(path, begin, end)) {
      return true;
    }
    if (end == path.size()) {
      return false;
    }
    begin = end + 1;
  }
}

bool isSymlink(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string realPath(const std::string& path) {
  char* const resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) {
    const std::string reason = lastCRTError();
    THROW_ERROR(tstrings::any()
                << "realpath(" << path << ") failed. Error: " << reason);
  }
  const std::string result(resolved);
  std::free(resolved);
  return result;
}

}  // namespace

std::string resolveDotComponents(const std::string& path) {
  if (!hasDotComponent(path)) {
    return path;
  }
  // The components so far, each after a '/'; empty for the root.
  std::string result;
  std::string::size_type begin = 0;
  while (begin <= path.size()) {
    const std::string::size_type end =
        std::min(path.find('/', begin), path.size());
    const std::string::size_type size = end - begin;
    if (size == 0 || (size == 1 && path[begin] == '.')) {
      // Nothing, or the folder itself.
    } else if (size == 2 && path.compare(begin, 2, "..") == 0) {
      // The kernel goes up from where a linked folder leads, not from where
      // its link lies.
      if (!result.empty() && isSymlink(result)) {
        result = realPath(result);
        if (result == "/") {
          result.clear();
        }
      }
      result.erase(std::min(result.rfind('/'), result.size()));
    } else {
      result += '/';
      result.append(path, begin, size);
    }
    begin = end + 1;
  }
  return result.empty() ? "/" : result;
}

namespace {

FileStatus statusOf(const struct stat& st) {
  FileStatus status;
  status.exists = true;
  status.isDirectory = S_ISDIR(st.st_mode);
  status.isRegularFile = S_ISREG(st.st_mode);
  status.size = static_cast<std::uint64_t>(st.st_size);
#if defined(__APPLE__)
  const struct timespec& modified = st.st_mtimespec;
#else
  const struct timespec& modified = st.st_mtim;
#endif
  status.modifiedNs =
      static_cast<std::int64_t>(modified.tv_sec) * 1000000000 + modified.tv_nsec;
  status.inode = static_cast<std::uint64_t>(st.st_ino);
  return status;
}

}  // namespace

FileStatus getFileStatus(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? statusOf(st) : FileStatus();
}

FileStatus getLinkStatus(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? statusOf(st) : FileStatus();
}

std::int64_t modifiedAgoNs(const FileStatus& status) {
  const std::int64_t now =
      std::chrono::duration_cast<std::chrono::nanoseconds>(
          std::chrono::system_clock::now().time_since_epoch())
          .count();
  return now - status.modifiedNs;
}

bool createDirectories(const std::string& path, std::string& failure) {
  if (getFileStatus(path).isDirectory) {
    return true;
  }
  const std::string parent = dirname(path);
  if (!parent.empty() && parent != path &&
      !createDirectories(parent, failure)) {
    return false;
  }
  // Another process may create it at the same moment.
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    failure = lastCRTError();
    return false;
  }
  if (!getFileStatus(path).isDirectory) {
    failure = "Not a directory";
    return false;
  }
  return true;
}

std::vector<std::string> listDirectory(const std::string& path) {
  std::vector<std::string> names;
  DIR* const dir = opendir(path.c_str());
  if (dir == nullptr) {
    return names;
  }
  while (const struct dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") {
      names.push_back(name);
    }
  }
  closedir(dir);
  return names;
}

bool isPrivateFolder(const std::string& path, std::string& why) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    why = lastCRTError();
  } else if (S_ISLNK(st.st_mode)) {
    why = "is a link";
  } else if (!S_ISDIR(st.st_mode)) {
    why = "is not a directory";
  } else if (st.st_uid != geteuid()) {
    why = "belongs to another user";
  } else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    why = "can be written by other users";
  } else {
    return true;
  }
  return false;
}

std::string throughOwnLink(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode) ||
      st.st_uid != geteuid() || st.st_size <= 0) {
    return path;
  }
  std::string target(static_cast<std::size_t>(st.st_size), '\0');
  const ssize_t size = readlink(path.c_str(), &target[0], target.size());
  if (size != st.st_size) {  // changed meanwhile: take it as it stands
    return path;
  }
  return target[0] == '/' ? target : combinePath(dirname(path), target);
}

void removeTree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    return;
  }
  if (S_ISDIR(st.st_mode)) {
    if (st.st_uid != geteuid()) {
      return;
    }
    for (const std::string& name : listDirectory(path)) {
      removeTree(path + "/" + name);
    }
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

bool touch(const std::string& path) {
  return utimensat(AT_FDCWD, path.c_str(), nullptr, 0) == 0;
}

}  // namespace FileUtils
