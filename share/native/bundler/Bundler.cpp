#include "Bundler.h"

#include <optional>
#include <string>
#include <vector>

#include "AppFolder.h"
#include "BundleError.h"
#include "BundleOptions.h"
#include "BundlerPlatform.h"
#include "CfgText.h"
#include "FileTree.h"
#include "InfoPlist.h"
#include "JavaHome.h"
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
  return launcherConfig(options, javaFeatureForCfg(options)).str();
}

void checkIcon(const std::string& icon) {
  if (fs::path(icon).extension() != ".icns") {
    throw BundleError("the icon " + inQuotes(icon) + " is not an .icns file");
  }
  std::error_code error;
  if (!fs::is_regular_file(icon, error)) {
    throw BundleError("--icon " + inQuotes(icon) + ": no such file");
  }
}

}  // namespace

fs::path makeBundle(const BundleOptions& options) {
  const std::string& name = options.name;
  const bool entitled = options.entitlements || !options.signIdentity.empty();
  if (!options.signIdentity.empty()) {
    checkCanSign();
  }
  if (!options.icon.empty()) {
    checkIcon(options.icon);
  }
  const fs::path launcher = launcherToCopy(options);
  const AppFolder app(options);
  std::optional<RuntimePlan> runtime;
  if (!options.omits("runtime")) {
    runtime = planRuntime(options, app);
  }
  std::optional<std::string> cfg;
  if (!options.omits("cfg")) {
    cfg = configuration(options);
  }

  Staging staging(options.out, name);
  const fs::path contents = staging.bundle() / "Contents";
  createDirectories(contents / "MacOS");
  createDirectories(contents / "app");
  if (!launcher.empty()) {
    copyExecutable(launcher, contents / "MacOS" / name);
  }
  app.copyInto(contents / "app");
  if (cfg) {
    writeFile(contents / "app" / (name + ".cfg"), *cfg);
  }
  if (!options.icon.empty()) {
    createDirectories(contents / "Resources");
    copyTree(options.icon,
             contents / "Resources" / fs::path(options.icon).filename());
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
               staging.beside(besideBundle.back()));
  }
  return staging.commit(besideBundle);
}
