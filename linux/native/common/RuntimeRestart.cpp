#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "Fnv1a.h"
#include "SysInfo.h"

// When LD_LIBRARY_PATH names another runtime's libjvm, the Linux runtime's
// JLI_Launch puts its own library folder in front and executes the running
// program anew, in the same process, with the command line it was handed.
// The restarted launcher must not take that command line for the user's
// arguments. So before JLI_Launch the launcher leaves a mark in the
// environment: its process id and a hash of the command line. Only this
// process, started anew with that very command line, matches it; a child
// process inherits the mark but has another id.

namespace {

const char kMarkName[] = "WRAPKIN_RESTART_MARK";

std::string mark(const Fnv1a& commandLine) {
  return std::to_string(getpid()) + ":" + commandLine.hex();
}

}  // namespace

namespace SysInfo {

void markRuntimeStart(const std::vector<std::string>& jvmArgs) {
  Fnv1a hash;
  for (const std::string& arg : jvmArgs) {
    hash.add(arg);
  }
  // Without the mark a restart passes on the command line once more, as
  // application arguments: worth a try, not worth failing the start for.
  setenv(kMarkName, mark(hash).c_str(), 1);
}

bool isRuntimeRestart() {
  const char* const found = getenv(kMarkName);
  if (found == nullptr || argv == nullptr) {
    return false;
  }
  Fnv1a hash;
  for (int i = 0; i < argc; ++i) {
    hash.add(argv[i], std::strlen(argv[i]) + 1);
  }
  return mark(hash) == found;
}

// The runtime only looks for another libjvm when the variable has a value.
bool isRuntimeRestartPossible() {
  const char* const path = getenv("LD_LIBRARY_PATH");
  return path != nullptr && *path != '\0';
}

}  // namespace SysInfo
