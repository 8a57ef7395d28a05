#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>

#include "ErrorHandling.h"
#include "SysInfo.h"

namespace SysInfo {

std::string getEnvVariable(const std::string& name) {
  const char* value = ::getenv(name.c_str());
  if (value == nullptr) {
    THROW_ERROR(tstrings::any()
                << "getenv(" << name << ") failed. Variable not set");
  }
  return value;
}

std::string getEnvVariable(const std::nothrow_t&, const std::string& name,
                           const std::string& defValue) {
  const char* value = ::getenv(name.c_str());
  return value != nullptr ? std::string(value) : defValue;
}

std::string getAbsolutePathEnvVariable(const std::string& name) {
  const char* value = ::getenv(name.c_str());
  return value != nullptr && value[0] == '/' ? std::string(value)
                                             : std::string();
}

bool isWrittenToNoOne(int fd) {
  struct stat target;
  if (fstat(fd, &target) != 0) {
    return errno == EBADF;
  }
  // The same device node: a file or a pipe is read by someone, sooner or
  // later.
  struct stat nullDevice;
  return stat("/dev/null", &nullDevice) == 0 &&
         target.st_dev == nullDevice.st_dev &&
         target.st_ino == nullDevice.st_ino;
}

bool isEnvVariableSet(const std::string& name) {
  return ::getenv(name.c_str()) != nullptr;
}

void setEnvVariable(const std::string& name, const std::string& value) {
  if (::setenv(name.c_str(), value.c_str(), 1) != 0) {
    const std::string reason = lastCRTError();
    THROW_ERROR(tstrings::any() << "setenv(" << name << ", " << value
                                << ") failed. Error: " << reason);
  }
}

}  // namespace SysInfo
