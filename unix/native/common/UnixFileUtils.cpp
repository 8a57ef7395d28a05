#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

// The raise positions of the two errors below (lines 49 and 55) are part of
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

}  // namespace FileUtils
