#include "RuntimeImage.h"

#include <cstring>
#include <system_error>

#include "AppFolder.h"
#include "BundleError.h"
#include "BundlerPlatform.h"
#include "FileTree.h"
#include "JavaHome.h"
#include "JdepsInputs.h"
#include "Subprocess.h"

namespace fs = std::filesystem;

namespace {

// The name the launcher loads, under the runtime's Contents/Home.
const fs::path kLauncherLibrary = "lib/libjli.dylib";

bool hasLauncherLibraryName() {
  return std::strcmp(BundlerPlatform::runtimeLibraryName, "libjli.dylib") == 0;
}

// A folder of links to the entries of `home`, with a real lib folder of
// links to lib's entries, so that names can be added to it. The runtime
// finds its home by resolving its library's links, so the JVM itself runs
// from the real installation.
void mirror(const fs::path& home, const fs::path& mirrored,
            bool withoutLibrary) {
  createDirectories(mirrored / "lib");
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(home, error)) {
    if (entry.path().filename() != "lib") {
      createSymlink(entry.path(), mirrored / entry.path().filename());
    }
  }
  for (const fs::directory_entry& entry :
       fs::directory_iterator(home / "lib", error)) {
    const fs::path name = entry.path().filename();
    if (!(withoutLibrary && name == kLauncherLibrary.filename())) {
      createSymlink(entry.path(), mirrored / "lib" / name);
    }
  }
  if (error) {
    throw BundleError(
        withReason("cannot list " + inQuotes(home.string()), error));
  }
}

void makeWithJlink(const RuntimePlan& plan, const fs::path& home) {
  std::vector<std::string> argv =
      JavaHome::briefToolCommand(plan.home / "bin/jlink");
  argv.insert(argv.end(),
              {"--add-modules", plan.modules, "--output", home.string(),
               "--strip-debug", "--no-header-files", "--no-man-pages"});
  runProgramOrFail(argv);
  if (plan.withoutLibrary) {
    std::error_code ignored;
    fs::remove(home / kLauncherLibrary, ignored);
  }
}

}  // namespace

RuntimePlan planRuntime(const BundleOptions& options, const AppFolder& app) {
  RuntimePlan plan;
  plan.home = JavaHome::find(options.javaHome);
  plan.source = options.runtime;
  plan.withoutLibrary = options.omits("jli");
  if (plan.source == RuntimeSource::jlink) {
    JavaHome::checkCanLink(plan.home);
    plan.modules = options.jlinkModules;
    if (plan.modules.empty()) {
      const JavaHome::ModuleDeps deps =
          JavaHome::moduleDeps(plan.home, jdepsInputs(options, app));
      plan.modules = deps.modules;
      if (!deps.note.empty()) {
        plan.notes.push_back(deps.note);
      }
    }
  }
  return plan;
}

void makeRuntime(const RuntimePlan& plan, const fs::path& runtimeDir) {
  const fs::path contents = runtimeDir / "Contents";
  const fs::path home = contents / "Home";
  createDirectories(contents);
  switch (plan.source) {
  case RuntimeSource::copy: {
    LinkRules rules;
    rules.keepLinksInside = true;
    rules.leaveOutDangling = true;
    if (plan.withoutLibrary) {
      rules.leaveOut.push_back(kLauncherLibrary);
    }
    copyTree(plan.home, home, rules);
    break;
  }
  case RuntimeSource::link:
    if (hasLauncherLibraryName() && !plan.withoutLibrary) {
      createSymlink(plan.home, home);
    } else {
      mirror(plan.home, home, plan.withoutLibrary);
    }
    break;
  case RuntimeSource::jlink:
    makeWithJlink(plan, home);
    break;
  }
  if (!hasLauncherLibraryName() && !plan.withoutLibrary) {
    createSymlink(BundlerPlatform::runtimeLibraryName, home / kLauncherLibrary);
  }
  // A macOS runtime bundle describes itself beside its home.
  const fs::path description = plan.home.parent_path() / "Info.plist";
  if (plan.source != RuntimeSource::jlink && plan.home.filename() == "Home" &&
      isOnDisk(description)) {
    copyTree(description, contents / "Info.plist");
  }
}
