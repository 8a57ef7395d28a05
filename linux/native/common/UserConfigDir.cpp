#include <string>

#include "FileUtils.h"
#include "SysInfo.h"

namespace SysInfo {

// The XDG base directory rule, which counts a relative or empty
// XDG_CONFIG_HOME as unset.
std::string getUserConfigDir() {
  const std::string configHome = getAbsolutePathEnvVariable("XDG_CONFIG_HOME");
  if (!configHome.empty()) {
    return configHome;
  }
  const std::string home = getAbsolutePathEnvVariable("HOME");
  return home.empty() ? home : FileUtils::combinePath(home, ".config");
}

}  // namespace SysInfo
