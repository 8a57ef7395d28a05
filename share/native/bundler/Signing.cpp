#include "Signing.h"

#include <algorithm>
#include <functional>
#include <system_error>

#include "ArchiveSigning.h"
#include "BundleError.h"
#include "MachO.h"
#include "Plist.h"
#include "Subprocess.h"

namespace fs = std::filesystem;

namespace {

// What below `folder` holds code to sign: the Mach-O files, deepest first,
// and the jars and zip files, in a stable order. Not through links, whatever
// their names: notarization refuses a bundle with any Mach-O file unsigned,
// in an archive too.
struct CodeFiles {
  std::vector<fs::path> machO;
  std::vector<fs::path> archives;
};

CodeFiles codeFiles(const fs::path& folder) {
  CodeFiles files;
  std::error_code error;
  for (fs::recursive_directory_iterator entry(folder, error), end;
       !error && entry != end; entry.increment(error)) {
    if (!entry->is_regular_file(error) || entry->is_symlink(error)) {
      continue;
    }
    if (isMachO(entry->path())) {
      files.machO.push_back(entry->path());
    } else if (isArchive(entry->path())) {
      files.archives.push_back(entry->path());
    }
  }
  if (error) {
    throw BundleError(withReason("cannot list " + inQuotes(folder), error));
  }
  std::sort(files.machO.begin(), files.machO.end(),
            [](const fs::path& a, const fs::path& b) {
              const auto depth = [](const fs::path& p) {
                return std::distance(p.begin(), p.end());
              };
              return depth(a) != depth(b) ? depth(a) > depth(b) : a < b;
            });
  std::sort(files.archives.begin(), files.archives.end());
  return files;
}

// Nested code before what holds it: the launcher and the bundle last.
std::vector<fs::path> signingOrder(const fs::path& bundle,
                                   const std::string& name,
                                   const std::vector<fs::path>& machO) {
  const fs::path launcher = bundle / "Contents/MacOS" / name;
  std::vector<fs::path> order;
  for (const fs::path& file : machO) {
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

fs::path macOSTool(const std::string& option, const std::string& name) {
  const fs::path tool = findOnPath(name);
  if (tool.empty()) {
    throw BundleError(option + " needs macOS: there is no " + name +
                      " on this system");
  }
  return tool;
}

void checkCanSign() {
  macOSTool("--sign", "codesign");
}

void signBundle(const fs::path& bundle, const std::string& name,
                const std::string& identity, const fs::path& entitlements,
                const fs::path& scratch) {
  const std::vector<std::string> codesign{
      macOSTool("--sign", "codesign").string(),
      "--force",
      "--timestamp",
      "--options",
      "runtime",
      "--entitlements",
      entitlements.string(),
      "--sign",
      identity};
  const std::function<void(const fs::path&)> sign = [&](const fs::path& code) {
    std::vector<std::string> argv = codesign;
    argv.push_back(code.string());
    runProgramOrFail(argv);
  };
  const CodeFiles files = codeFiles(bundle / "Contents");
  for (const fs::path& archive : files.archives) {
    signInsideArchive(
        archive,
        (bundle.filename() / archive.lexically_relative(bundle)).string(),
        scratch, sign);
  }
  for (const fs::path& code : signingOrder(bundle, name, files.machO)) {
    sign(code);
  }
}

void signDiskImage(const fs::path& image, const std::string& identity) {
  runProgramOrFail({macOSTool("--sign", "codesign").string(), "--force",
                    "--timestamp", "--sign", identity, image.string()});
}
