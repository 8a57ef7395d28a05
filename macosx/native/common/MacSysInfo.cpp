#include "SysInfo.h"

#include <mach-o/dyld.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "tstrings.h"

namespace SysInfo {

int argc = 0;
char** argv = nullptr;

}  // namespace SysInfo

namespace {

// The kernels of both systems give up after this many links in one lookup;
// beyond it a chain is taken for a loop.
constexpr int kMaxSymlinkHops = 40;

// Link targets are shorter than this on both systems; a larger size from
// lstat is not trusted with an allocation.
constexpr off_t kLinkSizeHintLimit = 4096;

// The link target exactly as stored. The buffer is sized from lstat, which
// some file systems report as 0, and grows until the whole target fits: a
// target cut at the buffer's end would name another file.
std::string readLinkTarget(const std::string& link, off_t sizeHint) {
  std::vector<char> buf(sizeHint > 0 && sizeHint < kLinkSizeHintLimit
                            ? static_cast<std::size_t>(sizeHint) + 1
                            : 256);
  for (;;) {
    const ssize_t n = readlink(link.c_str(), buf.data(), buf.size());
    if (n < 0) {
      const std::string reason = lastCRTError();
      THROW_ERROR(tstrings::any()
                  << "readlink(" << link << ") failed. Error: " << reason);
    }
    if (static_cast<std::size_t>(n) < buf.size()) {
      return std::string(buf.data(), static_cast<std::size_t>(n));
    }
    buf.resize(buf.size() * 2);
  }
}

// A relative target names a file in the directory that holds the link, as
// the kernel reads it; only '/' separates components there.
std::string resolveLinkTarget(const std::string& link,
                              const std::string& target) {
  if (!target.empty() && target.front() == '/') {
    return target;
  }
  const std::string::size_type slash = link.rfind('/');
  if (slash == std::string::npos) {
    return target;
  }
  return link.substr(0, slash + 1) + target;
}

}  // namespace

namespace SysInfo {

std::string getRealPath(const std::vector<char>& path) {
  // The path ends at its first NUL, as the system calls read it; a vector
  // without one is taken whole.
  const auto nul = std::find(path.begin(), path.end(), '\0');
  const std::string requested(path.begin(), nul);

  std::string current = requested;
  for (int hops = 0;; ++hops) {
    struct stat st;
    if (lstat(current.c_str(), &st) != 0) {
      const std::string reason = lastCRTError();
      THROW_ERROR(tstrings::any()
                  << "lstat(" << current << ") failed. Error: " << reason);
    }
    if (!S_ISLNK(st.st_mode)) {
      return current;
    }
    if (hops == kMaxSymlinkHops) {
      // A loop, or a chain longer than the kernel would follow: reading one
      // more link is what fails, reported for the path the caller gave.
      errno = ELOOP;
      const std::string reason = lastCRTError();
      THROW_ERROR(tstrings::any()
                  << "readlink(" << requested << ") failed. Error: " << reason);
    }
    current = resolveLinkTarget(current, readLinkTarget(current, st.st_size));
  }
}

std::string getProcessModulePath() {
  std::vector<char> buffer;
  std::uint32_t size = 0;
  for (;;) {
    const int rc =
        _NSGetExecutablePath(buffer.empty() ? nullptr : buffer.data(), &size);
    if (rc == 0) {
      break;
    }
    // A request that does not grow the buffer would repeat forever.
    if (rc > 0 || size <= buffer.size()) {
      THROW_ERROR("_NSGetExecutablePath() failed");
    }
    buffer.resize(size);
  }
  // Climbing "Contents/MacOS/<name>" by text from "../MacOS/<name>" would
  // land in another folder.
  return FileUtils::resolveDotComponents(
      FileUtils::toAbsolutePath(getRealPath(buffer)));
}

std::vector<std::string> getCommandArgs(
    CommandArgProgramNameMode progNameMode) {
  std::vector<std::string> result;
  if (argv == nullptr) {
    return result;
  }
  for (int i = progNameMode == ExcludeProgramName ? 1 : 0; i < argc; ++i) {
    std::string arg(argv[i]);
    // macOS adds the process serial number when the desktop starts us.
    if (!tstrings::startsWith(arg, "-psn_")) {
      result.push_back(std::move(arg));
    }
  }
  return result;
}

}  // namespace SysInfo
