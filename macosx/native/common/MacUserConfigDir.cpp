#include <string>

#include "FileUtils.h"
#include "SysInfo.h"

namespace SysInfo {

std::string getUserConfigDir() {
  const std::string home = getAbsolutePathEnvVariable("HOME");
  return home.empty()
             ? home
             : FileUtils::combinePath(home, "Library/Application Support");
}

}  // namespace SysInfo
