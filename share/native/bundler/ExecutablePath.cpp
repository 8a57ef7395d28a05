#include <mach-o/dyld.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "BundleError.h"
#include "BundlerPlatform.h"

namespace BundlerPlatform {

std::filesystem::path executablePath() {
  std::uint32_t size = 256;
  std::vector<char> buffer(size);
  int rc;
  while ((rc = _NSGetExecutablePath(buffer.data(), &size)) == -1) {
    buffer.resize(size);
  }
  if (rc != 0) {
    throw BundleError("cannot find this program's own file");
  }
  std::error_code error;
  const std::filesystem::path path =
      std::filesystem::canonical(buffer.data(), error);
  if (error) {
    throw BundleError(withReason(
        "cannot find this program's own file " + inQuotes(buffer.data()),
        error));
  }
  return path;
}

}  // namespace BundlerPlatform
