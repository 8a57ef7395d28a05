#include <string>

#include "FileUtils.h"
#include "SysInfo.h"

namespace {

// The XDG base directory rule: the variable when it names an absolute path
// (a relative or empty one counts as unset), otherwise `fallback` under
// $HOME.
std::string xdgDir(const char* variable, const char* fallback) {
  const std::string dir = SysInfo::getAbsolutePathEnvVariable(variable);
  if (!dir.empty()) {
    return dir;
  }
  const std::string home = SysInfo::getAbsolutePathEnvVariable("HOME");
  return home.empty() ? home : FileUtils::combinePath(home, fallback);
}

}  // namespace

namespace SysInfo {

std::string getUserCacheDir() { return xdgDir("XDG_CACHE_HOME", ".cache"); }

std::string getUserConfigDir() { return xdgDir("XDG_CONFIG_HOME", ".config"); }

std::string getUserLogDir() {
  return xdgDir("XDG_STATE_HOME", ".local/state");
}

}  // namespace SysInfo
