#include "mach-o/dyld.h"

#include <sys/auxv.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The kernel leaves the exec path in the auxiliary vector for as long as the
// process lives: the name the process was executed by, possibly relative,
// possibly a link, as the macOS call reports it. A shell that finds a command
// on PATH executes the full path it found, so that is what is seen here.
bool executedPath(std::string& out) {
  if (const unsigned long execFn = getauxval(AT_EXECFN); execFn != 0) {
    out = reinterpret_cast<const char*>(execFn);
    return true;
  }
  // Without the auxiliary entry, the kernel's own record of the executable
  // is the best we have; it is already absolute and free of links.
  std::vector<char> buf(256);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) {
      return false;
    }
    if (static_cast<std::size_t>(n) < buf.size()) {
      out.assign(buf.data(), static_cast<std::size_t>(n));
      return true;
    }
    buf.resize(buf.size() * 2);
  }
}

}  // namespace

extern "C" int _NSGetExecutablePath(char* buf, std::uint32_t* bufsize) {
  std::string path;
  if (!executedPath(path)) {
    return 1;
  }
  const std::size_t needed = path.size() + 1;
  if (needed > *bufsize) {
    *bufsize = static_cast<std::uint32_t>(needed);
    return -1;
  }
  std::memcpy(buf, path.c_str(), needed);
  return 0;
}
