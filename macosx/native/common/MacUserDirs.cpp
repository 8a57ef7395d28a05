#include <string>

#include "SysInfo.h"

namespace SysInfo {

std::string getUserCacheDir() {
  const std::string home = getEnvVariable(std::nothrow, "HOME", std::string());
  // A relative path would name a different folder from every working
  // directory.
  if (home.empty() || home.front() != '/') {
    return std::string();
  }
  return home + "/Library/Caches";
}

}  // namespace SysInfo
