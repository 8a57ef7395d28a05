// Prints what the launcher takes for its own path, so the tests can start it
// through links, relative paths and PATH lookup.

#include <iostream>

#include "ErrorHandling.h"
#include "SysInfo.h"

int main() {
  try {
    std::cout << SysInfo::getProcessModulePath() << '\n';
    return 0;
  } catch (const WkErrorBase& e) {
    std::cerr << e.rawMessage() << '\n';
    return 1;
  }
}
