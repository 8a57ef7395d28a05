#include <stdlib.h>

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
