#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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

// FNV-1a over the arguments, each with its terminating NUL, so that
// ("ab", "c") and ("a", "bc") differ.
class CommandLineHash {
 public:
  void add(const char* arg) {
    const std::size_t size = std::strlen(arg) + 1;
    for (std::size_t i = 0; i < size; ++i) {
      value = (value ^ static_cast<unsigned char>(arg[i])) * 0x100000001b3u;
    }
  }
  std::uint64_t get() const { return value; }

 private:
  std::uint64_t value = 0xcbf29ce484222325u;
};

std::string mark(std::uint64_t hash) {
  char text[64];
  std::snprintf(text, sizeof(text), "%ld:%016llx", static_cast<long>(getpid()),
                static_cast<unsigned long long>(hash));
  return text;
}

}  // namespace

namespace SysInfo {

void markRuntimeStart(const std::vector<std::string>& jvmArgs) {
  CommandLineHash hash;
  for (const std::string& arg : jvmArgs) {
    hash.add(arg.c_str());
  }
  // Without the mark a restart passes on the command line once more, as
  // application arguments: worth a try, not worth failing the start for.
  setenv(kMarkName, mark(hash.get()).c_str(), 1);
}

bool isRuntimeRestart() {
  const char* const found = getenv(kMarkName);
  if (found == nullptr || argv == nullptr) {
    return false;
  }
  CommandLineHash hash;
  for (int i = 0; i < argc; ++i) {
    hash.add(argv[i]);
  }
  return mark(hash.get()) == found;
}

}  // namespace SysInfo
