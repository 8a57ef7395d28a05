#include <string>

#include "FileUtils.h"
#include "SysInfo.h"

namespace {

std::string underHome(const char* folder) {
  const std::string home = SysInfo::getAbsolutePathEnvVariable("HOME");
  return home.empty() ? home : FileUtils::combinePath(home, folder);
}

}  // namespace

namespace SysInfo {

std::string getUserCacheDir() { return underHome("Library/Caches"); }

std::string getUserConfigDir() {
  return underHome("Library/Application Support");
}

std::string getUserLogDir() {
  return underHome("Library/Logs");
}

}  // namespace SysInfo
