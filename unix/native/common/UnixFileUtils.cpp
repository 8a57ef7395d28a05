#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "ErrorHandling.h"
#include "FileUtils.h"

namespace FileUtils {

namespace {

std::string currentDirectory() {
  // Start with room for the usual case and grow for deeper folders: a user
  // who starts the launcher from a deep folder must not be refused.
  std::vector<char> buffer(1024, '\0');
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) {
      const std::string reason = lastCRTError();
      THROW_ERROR(tstrings::any() << "getcwd() failed. Error: " << reason);
    }
    buffer.assign(buffer.size() * 2, '\0');
  }
  const std::string dir(buffer.data());
  if (dir.empty()) {
    THROW_ERROR("getcwd() returned empty string");
  }
  return dir;
}

}  // namespace

bool isFileExists(const std::string& filePath) {
  struct stat statBuffer;
  return stat(filePath.c_str(), &statBuffer) == 0;
}

std::string toAbsolutePath(const std::string& path) {
  if (path.empty()) {
    return currentDirectory();
  }
  if (isDirSeparator(path[0])) {
    return path;
  }
  return combinePath(combinePath(std::string(), currentDirectory()), path);
}

std::string stripExeSuffix(const std::string& path) { return path; }

}  // namespace FileUtils
