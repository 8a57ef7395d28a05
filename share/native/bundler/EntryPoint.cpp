#include "EntryPoint.h"

#include <filesystem>
#include <system_error>

#include "AppFolder.h"
#include "BundleError.h"
#include "BundleOptions.h"
#include "CfgText.h"
#include "JarManifest.h"

namespace fs = std::filesystem;

namespace {

void checkWrittenAsItself(const std::string& what, const std::string& value) {
  const std::string macro = launcherMacroIn(value);
  if (!macro.empty()) {
    throw BundleError(what + " " + inQuotes(value) + " holds " +
                      inQuotes(macro) + ", " + kMacroReason +
                      ": the configuration cannot name it");
  }
}

// The main class that the manifest of the main jar `jar` names. With
// `byJavaJar`, the runtime runs the jar with -jar and must take its manifest
// before the main class counts.
std::string manifestMainClass(const std::string& jar, bool byJavaJar) {
  const std::string option = "--main-jar " + inQuotes(jar);
  std::error_code error;
  if (fs::is_directory(jar, error)) {
    throw BundleError(option +
                      " is a folder: give it as --class-path with "
                      "--main-class CLASS");
  }
  if (!fs::is_regular_file(jar, error)) {
    throw BundleError(option + " is not a jar file");
  }
  JarManifest manifest;
  try {
    manifest = readJarManifest(jar);
  } catch (const BundleError& e) {
    throw BundleError(option +
                      " cannot be read for its main class: " + e.what());
  }
  if (manifest.mainClass.empty()) {
    throw BundleError(option +
                      " names no Main-Class in its manifest: give "
                      "--main-class CLASS");
  }
  if (byJavaJar && !manifest.jarLaunchRefusal.empty()) {
    throw BundleError(option + " cannot be started as a jar: " +
                      manifest.jarLaunchRefusal + ": give --main-class CLASS");
  }
  return manifest.mainClass;
}

}  // namespace

void checkEntryOptions(const BundleOptions& o) {
  const bool jar = !o.mainJar.empty();
  const bool mainClass = !o.mainClass.empty();
  const bool mainModule = !o.mainModule.empty();
  if (!jar && !mainClass && !mainModule) {
    throw BundleError(
        "no entry point: give --main-jar JAR, --main-class CLASS or "
        "--main-module MODULE");
  }
  if (mainModule && jar) {
    throw BundleError(
        "--main-jar and --main-module are two entry points, and the runtime "
        "starts one: give a modular jar as --module-path with --main-module");
  }
  if (mainModule && mainClass) {
    throw BundleError(
        "--main-class and --main-module are two entry points, and the "
        "runtime starts one: give --main-module MODULE/CLASS");
  }
  if (jar && !mainClass && !o.classPath.empty() &&
      AppFolder::isWrittenAsGiven(o.mainJar)) {
    throw BundleError("--main-jar " + inQuotes(o.mainJar) +
                      " cannot be read for the main class that the class "
                      "path needs: give --main-class CLASS");
  }
  checkWrittenAsItself("the main class", o.mainClass);
  checkWrittenAsItself("the main module", o.mainModule);
}

EntryPoint entryPoint(const BundleOptions& o) {
  EntryPoint entry;
  entry.mainClass = o.mainClass;
  entry.mainModule = o.mainModule;
  if (o.mainJar.empty()) {
    entry.classPath = o.classPath;
    return entry;
  }
  if (o.classPath.empty() && o.mainClass.empty()) {
    entry.mainJar = o.mainJar;
    // The runtime finds the main class itself, but a jar without one is
    // better refused now than on the user's machine.
    if (!AppFolder::isWrittenAsGiven(o.mainJar)) {
      manifestMainClass(o.mainJar, true);
    }
    return entry;
  }
  entry.classPath.push_back(o.mainJar);
  const std::string mainJarValue = AppFolder::cfgValue(o.mainJar);
  for (const std::string& value : o.classPath) {
    if (AppFolder::cfgValue(value) != mainJarValue) {
      entry.classPath.push_back(value);
    }
  }
  if (entry.mainClass.empty()) {
    entry.mainClass = manifestMainClass(o.mainJar, false);
    checkWrittenAsItself("the main class of --main-jar " + inQuotes(o.mainJar),
                         entry.mainClass);
  }
  return entry;
}
