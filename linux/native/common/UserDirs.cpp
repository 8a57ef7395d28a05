#include <string>

#include "SysInfo.h"

namespace {

// A relative path would name a different folder from every working
// directory.
std::string absoluteOrEmpty(const std::string& path) {
  return !path.empty() && path.front() == '/' ? path : std::string();
}

}  // namespace

namespace SysInfo {

std::string getUserCacheDir() {
  const std::string xdg = absoluteOrEmpty(
      getEnvVariable(std::nothrow, "XDG_CACHE_HOME", std::string()));
  if (!xdg.empty()) {
    return xdg;
  }
  const std::string home =
      absoluteOrEmpty(getEnvVariable(std::nothrow, "HOME", std::string()));
  return home.empty() ? home : home + "/.cache";
}

}  // namespace SysInfo
