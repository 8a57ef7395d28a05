#include "Signing.h"

#include <algorithm>
#include <system_error>

#include "BundleError.h"
#include "BundlerPlatform.h"
#include "MachO.h"
#include "Plist.h"
#include "Subprocess.h"

namespace fs = std::filesystem;

namespace {

// The Mach-O files below `folder`, not through links, whatever their names:
// notarization refuses a bundle with any of them unsigned. Deepest first,
// in a stable order.
std::vector<fs::path> machOFiles(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::recursive_directory_iterator entry(folder, error), end;
       !error && entry != end; entry.increment(error)) {
    if (entry->is_regular_file(error) && !entry->is_symlink(error) &&
        isMachO(entry->path())) {
      files.push_back(entry->path());
    }
  }
  if (error) {
    throw BundleError(withReason("cannot list " + inQuotes(folder), error));
  }
  std::sort(files.begin(), files.end(),
            [](const fs::path& a, const fs::path& b) {
              const auto depth = [](const fs::path& p) {
                return std::distance(p.begin(), p.end());
              };
              return depth(a) != depth(b) ? depth(a) > depth(b) : a < b;
            });
  return files;
}

// Nested code before what holds it: the launcher and the bundle last.
std::vector<fs::path> signingOrder(const fs::path& bundle,
                                   const std::string& name) {
  const fs::path launcher = bundle / "Contents/MacOS" / name;
  std::vector<fs::path> order;
  for (const fs::path& file : machOFiles(bundle / "Contents")) {
    if (file != launcher) {
      order.push_back(file);
    }
  }
  order.push_back(launcher);
  order.push_back(bundle);
  return order;
}

}  // namespace

std::string entitlementsPlist() {
  return PlistDict()
      .flag("com.apple.security.cs.allow-jit")
      .flag("com.apple.security.cs.allow-unsigned-executable-memory")
      .flag("com.apple.security.cs.disable-library-validation")
      .document();
}

void checkCanSign() {
  if (!BundlerPlatform::signsCode) {
    throw BundleError(
        "--sign needs macOS: there is no codesign on this system");
  }
}

void signBundle(const fs::path& bundle, const std::string& name,
                const std::string& identity, const fs::path& entitlements) {
  for (const fs::path& code : signingOrder(bundle, name)) {
    runProgramOrFail({"/usr/bin/codesign", "--force", "--timestamp",
                      "--options", "runtime", "--entitlements",
                      entitlements.string(), "--sign", identity,
                      code.string()});
  }
}
