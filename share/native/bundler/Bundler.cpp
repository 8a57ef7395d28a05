#include "Bundler.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "AppFolder.h"
#include "BundleError.h"
#include "BundleOptions.h"
#include "BundlerPlatform.h"
#include "CfgText.h"
#include "DiskImage.h"
#include "EntryPoint.h"
#include "FileTree.h"
#include "InfoPlist.h"
#include "Interruption.h"
#include "JavaHome.h"
#include "MachOUuid.h"
#include "Notarization.h"
#include "RuntimeImage.h"
#include "Signing.h"
#include "Staging.h"

namespace fs = std::filesystem;

namespace {

// The launcher installed with this tool, or the one built beside it.
fs::path defaultLauncher() {
  const fs::path folder = BundlerPlatform::executablePath().parent_path();
  const fs::path installed =
      (folder / WRAPKIN_LAUNCHER_FROM_TOOL).lexically_normal();
  if (isOnDisk(installed)) {
    return installed;
  }
  const fs::path built = folder / "wrapkin-launcher";
  return isOnDisk(built) ? built : installed;
}

// The launcher to copy, or an empty path for none.
fs::path launcherToCopy(const BundleOptions& options) {
  if (options.omits("launcher")) {
    return {};
  }
  const fs::path launcher =
      options.launcher.empty() ? defaultLauncher() : fs::path(options.launcher);
  std::error_code error;
  if (!fs::is_regular_file(launcher, error)) {
    throw BundleError("no launcher executable at " +
                      inQuotes(launcher.string()));
  }
  return launcher;
}

// The feature release of the runtime whose version the configuration
// follows, or 0 when it follows none.
int javaFeatureForCfg(const BundleOptions& options) {
  if (!options.cds) {
    return 0;
  }
  const fs::path home = JavaHome::find(options.javaHome);
  const int feature = std::stoi(JavaHome::featureVersion(home));
  if (feature < 13) {
    throw BundleError("--cds needs a Java runtime of version 13 or later; " +
                      inQuotes(home.string()) + " is " +
                      std::to_string(feature));
  }
  return feature;
}

std::string configuration(const BundleOptions& options) {
  if (!options.cfgFile.empty()) {
    return readFile(options.cfgFile);
  }
  return launcherConfig(options, entryPoint(options),
                        javaFeatureForCfg(options))
      .str();
}

// The icon files to copy into Contents/Resources, each once: the bundle's
// and its document types'. Raises BundleError for one that is missing or no
// .icns file, and for two of one name.
std::vector<fs::path> iconFiles(const BundleOptions& options) {
  std::vector<std::pair<std::string, std::string>> given;  // option, path
  if (!options.icon.empty()) {
    given.emplace_back("--icon", options.icon);
  }
  for (const DocumentType& type : options.documentTypes) {
    if (!type.icon.empty()) {
      given.emplace_back("--document-type", type.icon);
    }
  }
  std::vector<fs::path> icons;
  for (const auto& [option, icon] : given) {
    if (fs::path(icon).extension() != ".icns") {
      throw BundleError("the icon " + inQuotes(icon) + " is not an .icns file");
    }
    std::error_code error;
    const fs::path path = fs::absolute(icon).lexically_normal();
    if (!fs::is_regular_file(path, error)) {
      throw BundleError(option + " " + inQuotes(icon) + ": no such file");
    }
    const auto sameName = std::find_if(
        icons.begin(), icons.end(),
        [&](const fs::path& p) { return p.filename() == path.filename(); });
    if (sameName == icons.end()) {
      icons.push_back(path);
    } else if (*sameName != path) {
      throw BundleError(
          "two icons are named " + inQuotes(path.filename().string()) + ": " +
          inQuotes(sameName->string()) + " and " + inQuotes(path.string()));
    }
  }
  return icons;
}

}  // namespace

MadeBundle makeBundle(const BundleOptions& options) {
  const std::string& name = options.name;
  const bool entitled = options.entitlements || !options.signIdentity.empty();
  if (!options.signIdentity.empty()) {
    checkCanSign();
  }
  if (options.diskImage) {
    checkCanMakeDiskImage();
  }
  if (!options.notaryProfile.empty()) {
    checkCanNotarize();
  }
  const std::vector<fs::path> icons = iconFiles(options);
  const fs::path launcher = launcherToCopy(options);
  const AppFolder app(options);
  std::optional<std::string> cfg;
  if (!options.omits("cfg")) {
    cfg = configuration(options);
  }
  std::optional<RuntimePlan> runtime;
  if (!options.omits("runtime")) {
    runtime = planRuntime(options, app);
  }

  Interruption::check();
  Staging staging(options.out, name);
  const fs::path contents = staging.bundle() / "Contents";
  createDirectories(contents / "MacOS");
  createDirectories(contents / "app");
  if (!launcher.empty()) {
    copyExecutable(launcher, contents / "MacOS" / name);
    giveOwnUuids(contents / "MacOS" / name, bundleIdentifier(options),
                 launcher);
  }
  app.copyInto(contents / "app");
  if (cfg) {
    writeFile(contents / "app" / (name + ".cfg"), *cfg);
  }
  for (const fs::path& icon : icons) {
    createDirectories(contents / "Resources");
    copyTree(icon, contents / "Resources" / icon.filename());
  }
  if (runtime) {
    makeRuntime(*runtime, contents / "runtime");
  }
  writeFile(contents / "Info.plist", infoPlist(options));
  std::vector<std::string> besideBundle;
  if (entitled) {
    besideBundle.push_back(name + ".entitlements");
    writeFile(staging.beside(besideBundle.back()), entitlementsPlist());
  }
  if (!options.signIdentity.empty()) {
    signBundle(staging.bundle(), name, options.signIdentity,
               staging.beside(besideBundle.back()), staging.scratch());
  }
  if (options.diskImage) {
    besideBundle.push_back(name + ".dmg");
    const fs::path image = staging.beside(besideBundle.back());
    makeDiskImage(staging.bundle(), name, image);
    if (!options.signIdentity.empty()) {
      signDiskImage(image, options.signIdentity);
    }
    if (!options.notaryProfile.empty()) {
      notarize(image, staging.bundle(), options.notaryProfile);
    }
  }
  Interruption::check();
  MadeBundle made;
  if (runtime) {
    made.notes = runtime->notes;
  }
  made.path = staging.commit(besideBundle);
  if (options.diskImage) {
    made.diskImage = made.path.parent_path() / (name + ".dmg");
  }
  return made;
}
