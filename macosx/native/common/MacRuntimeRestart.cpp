#include <string>
#include <vector>

#include "SysInfo.h"

// The macOS runtime never starts the process anew: nothing to mark or find.

namespace SysInfo {

void markRuntimeStart(const std::vector<std::string>&) {}

bool isRuntimeRestart() {
  return false;
}

bool isRuntimeRestartPossible() {
  return false;
}

}  // namespace SysInfo
