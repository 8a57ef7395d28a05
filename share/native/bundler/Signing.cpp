#include "Signing.h"

#include <system_error>

#include "BundleError.h"
#include "BundlerPlatform.h"
#include "Plist.h"
#include "Subprocess.h"

namespace fs = std::filesystem;

namespace {

bool isLibrary(const fs::path& path) {
  return path.extension() == ".dylib" || path.extension() == ".jnilib";
}

bool isExecutable(const fs::directory_entry& entry) {
  std::error_code error;
  return (entry.symlink_status(error).permissions() & fs::perms::owner_exec) !=
         fs::perms::none;
}

// The regular files below `folder`, not through links, that `wanted` picks.
template <typename Wanted>
void collect(const fs::path& folder, Wanted wanted,
             std::vector<fs::path>& files) {
  std::error_code error;
  for (fs::recursive_directory_iterator entry(folder, error), end;
       !error && entry != end; entry.increment(error)) {
    if (entry->is_regular_file(error) && !entry->is_symlink(error) &&
        wanted(*entry)) {
      files.push_back(entry->path());
    }
  }
}

std::vector<fs::path> signingOrder(const fs::path& bundle,
                                   const std::string& name) {
  std::vector<fs::path> order;
  collect(
      bundle / "Contents/runtime",
      [](const fs::directory_entry& e) {
        return isLibrary(e.path()) || isExecutable(e);
      },
      order);
  collect(
      bundle / "Contents/app",
      [](const fs::directory_entry& e) { return isLibrary(e.path()); }, order);
  order.push_back(bundle / "Contents/MacOS" / name);
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
