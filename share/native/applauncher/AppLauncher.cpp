#include "AppLauncher.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "AppCds.h"
#include "CacheDir.h"
#include "CfgFile.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JvmLauncher.h"
#include "Log.h"
#include "SysInfo.h"
#include "app.h"
#include "tstrings.h"

namespace {

const char kConfigDirMacro[] = "$CONFIGDIR";

std::string findJvmLib(const CfgFile& cfgFile,
                       const std::string& defaultRuntimePath,
                       const std::vector<std::string>& jvmLibNames) {
  const CfgFile::Properties& appOptions =
      cfgFile.getProperties(SectionName::Application);
  const CfgFile::Properties::const_iterator runtimeProp =
      appOptions.find(PropertyName::runtime);

  std::string runtimePath;
  if (runtimeProp != appOptions.end()) {
    // Used as configured: a missing folder shows up as a missing JVM below.
    runtimePath = CfgFile::asString(*runtimeProp);
  } else {
    runtimePath = defaultRuntimePath;
    LOG_TRACE("Property \"" << PropertyName::runtime.name()
                            << "\" not found in \""
                            << SectionName::Application.name()
                            << "\" section of launcher config file."
                            << " Using Java runtime from \"" << runtimePath
                            << "\" directory");
  }

  for (const std::string& jvmLibName : jvmLibNames) {
    const std::string jvmLibPath =
        FileUtils::combinePath(runtimePath, jvmLibName);
    if (FileUtils::isFileExists(jvmLibPath)) {
      return jvmLibPath;
    }
  }

  THROW_ERROR(tstrings::any()
              << "Failed to find JVM in \"" << runtimePath << "\" directory.");
}

constexpr char kCacheDirMacro[] = "$CACHEDIR";

// The runtime's classes, in one file whose size and time a class-data
// archive records.
constexpr char kRuntimeClassImage[] = "lib/modules";

// The paths that a class path, module path or main jar property names: the
// entries of every value, or the main jar.
std::vector<std::string> entriesOf(
    const CfgFile::Properties& appOptions,
    const CfgFile::Id<CfgFile::PropertyNameTag>& name) {
  std::vector<std::string> entries;
  const CfgFile::Properties::const_iterator property = appOptions.find(name);
  if (property == appOptions.end()) {
    return entries;
  }
  if (name == PropertyName::mainjar) {
    entries.push_back(CfgFile::asString(*property));
  } else {
    tstrings::split(entries, CfgFile::asPathList(*property),
                    std::string(1, FileUtils::pathSeparator),
                    tstrings::DROP_EMPTY);
  }
  return entries;
}

// The entries that do not exist once expanded: the runtime would go on
// without them, and the application fail later with a missing class.
// Entries that end in "*" are the runtime's to expand.
void warnAboutMissingEntries(const CfgFile::Properties& appOptions,
                             const CfgFile::Id<CfgFile::PropertyNameTag>& name,
                             const char* what) {
  for (const std::string& entry : entriesOf(appOptions, name)) {
    if (entry.back() != '*' && !FileUtils::isFileExists(entry)) {
      LOG_WARNING(what << " \"" << entry << "\" not found");
    }
  }
}

// What the packager would want to know before the runtime says something
// less clear. A stat per entry: only paid when someone reads the trace.
void warnAboutIncompleteConfig(const CfgFile& cfgFile) {
  const CfgFile::Properties& appOptions =
      cfgFile.getProperties(SectionName::Application);
  warnAboutMissingEntries(appOptions, PropertyName::classpath,
                          "Class path entry");
  warnAboutMissingEntries(appOptions, PropertyName::modulepath,
                          "Module path entry");
  warnAboutMissingEntries(appOptions, PropertyName::mainjar, "Main jar");
  if (appOptions.count(PropertyName::mainclass) == 0 &&
      appOptions.count(PropertyName::mainjar) == 0 &&
      appOptions.count(PropertyName::mainmodule) == 0) {
    LOG_WARNING("None of \"" << PropertyName::mainclass.name() << "\", \""
                             << PropertyName::mainjar.name() << "\" and \""
                             << PropertyName::mainmodule.name()
                             << "\" found in \""
                             << SectionName::Application.name()
                             << "\" section of launcher config file: the "
                                "Java runtime has no application to start");
  }
  if (appOptions.count(PropertyName::mainjar) != 0 &&
      appOptions.count(PropertyName::classpath) != 0) {
    LOG_WARNING("Both \"" << PropertyName::mainjar.name() << "\" and \""
                          << PropertyName::classpath.name() << "\" found in \""
                          << SectionName::Application.name()
                          << "\" section of launcher config file: the Java "
                             "runtime ignores the class path when it runs a "
                             "jar");
  }
}

// Appends `options` to the configuration's own JVM options. The JVM takes
// the last of a repeated option, so what comes later wins.
void appendJavaOptions(CfgFile& cfgFile,
                       const std::vector<std::string>& options) {
  if (options.empty()) {
    return;
  }
  std::vector<std::string> all =
      cfgFile.getValues(SectionName::JavaOptions, PropertyName::javaOptions);
  all.insert(all.end(), options.begin(), options.end());
  cfgFile.setPropertyValue(SectionName::JavaOptions, PropertyName::javaOptions,
                           all);
}

// A packager's typo drops a line without a word; the trace names it.
CfgFile::UnknownNames unknownNamesInTrace() {
  return app::isWithLogging() ? CfgFile::WarnAboutUnknownNames
                              : CfgFile::DropUnknownNames;
}

// The runtime splits the class path and the module path at ':', and the
// main jar's path becomes the class path: from a folder whose name holds ':'
// (how the Finder stores a "/" in a name) the application would fail with
// a class not found, and nothing would say why. Names the outermost such
// folder, the one to rename.
void refuseColonFromMacros(const CfgFile& cfgFile,
                           const CfgFile::Macros& macros) {
  for (const auto& macro : macros) {
    const std::string::size_type colon = macro.second.find(':');
    if (colon == std::string::npos || macro.first.empty()) {
      continue;
    }
    for (const auto* name :
         {&PropertyName::classpath, &PropertyName::modulepath,
          &PropertyName::mainjar}) {
      for (const std::string& value :
           cfgFile.getValues(SectionName::Application, *name)) {
        if (value.find(macro.first) != std::string::npos) {
          THROW_ERROR(tstrings::any()
                      << "The application cannot start from a path that "
                         "holds ':': \""
                      << macro.second.substr(0, macro.second.find('/', colon))
                      << "\"");
        }
      }
    }
  }
}

// The user options file is the user's to edit, outside the signed bundle,
// and may set JVM options only: it never chooses what the JVM runs or with
// which runtime.
void traceIgnoredUserOptions(const CfgFile& userOptions,
                             const std::string& path) {
  for (const auto& section : userOptions.getSections()) {
    for (const auto& property : section.second) {
      if (section.first != SectionName::JavaOptions ||
          property.first != PropertyName::javaOptions) {
        LOG_TRACE("Property \""
                  << property.first.name() << "\" in \"" << section.first.name()
                  << "\" section of user options file \"" << path
                  << "\" ignored: only \"" << PropertyName::javaOptions.name()
                  << "\" in \"" << SectionName::JavaOptions.name()
                  << "\" section are used");
      }
    }
  }
}

// The JVM options of the file that "app.user-options" names, read with the
// configuration's parser and macros. A missing file has none; one that is
// malformed or cannot be read fails the start, so that options a user
// wrote are never dropped unseen.
std::vector<std::string> userJavaOptions(const CfgFile& cfgFile,
                                         const CfgFile::Macros& macros) {
  const CfgFile::Properties& appOptions =
      cfgFile.getProperties(SectionName::Application);
  const CfgFile::Properties::const_iterator property =
      appOptions.find(PropertyName::userOptions);
  if (property == appOptions.end()) {
    return {};
  }
  if (macros.count(kConfigDirMacro) == 0) {
    LOG_TRACE("Property \"" << PropertyName::userOptions.name()
                            << "\" ignored: no folder for user settings ("
                            << kConfigDirMacro << ") in this environment");
    return {};
  }
  const std::string path = CfgFile::asString(*property);
  if (FileUtils::isFileMissing(path)) {
    LOG_TRACE("User options file \"" << path << "\" not found");
    return {};
  }
  LOG_TRACE("Reading user options file \"" << path << "\"");
  const CfgFile userOptions =
      CfgFile::load(path, unknownNamesInTrace()).expandMacros(macros);
  traceIgnoredUserOptions(userOptions, path);
  return userOptions.getValues(SectionName::JavaOptions,
                               PropertyName::javaOptions);
}

}  // namespace

AppLauncher::AppLauncher() {
  launcherPath = SysInfo::getProcessModulePath();
  commandArgs = SysInfo::getCommandArgs(SysInfo::ExcludeProgramName);
}

bool AppLauncher::libEnvVariableContainsAppDir() const {
  const std::string value =
      SysInfo::getEnvVariable(std::nothrow, libEnvVariableName, std::string());
  std::vector<std::string> entries;
  tstrings::split(entries, value, std::string(1, FileUtils::pathSeparator),
                  tstrings::KEEP_EMPTY);
  return std::find(entries.begin(), entries.end(), appDir) != entries.end();
}

std::string AppLauncher::ancestorDir(const std::string& path, int levels) {
  std::string dir = path;
  for (int i = 0; i < levels; ++i) {
    dir = FileUtils::dirname(dir);
  }
  // FileUtils::dirname gives "" above a top-level entry such as "/a".
  if (dir.empty() && !path.empty() && FileUtils::isDirSeparator(path[0])) {
    return "/";
  }
  return dir;
}

Jvm* AppLauncher::createJvmLauncher() const {
  // A launcher named "My.Tool" reads "My.Tool.cfg": nothing is cut from the
  // name before ".cfg" is appended.
  const std::string launcherName =
      FileUtils::stripExeSuffix(FileUtils::basename(launcherPath));
  const std::string cfgFilePath =
      FileUtils::combinePath(appDir, launcherName + ".cfg");

  LOG_TRACE("Launcher config file path: \"" << cfgFilePath << "\"");

  CfgFile::Macros macros;
  macros["$APPDIR"] = appDir;
  macros["$BINDIR"] = FileUtils::dirname(launcherPath);
  macros["$ROOTDIR"] = rootDir;
  // Without a folder for user settings the macro stays unexpanded, and
  // "app.user-options" counts as absent.
  const std::string userConfigDir = SysInfo::getUserConfigDir();
  if (!userConfigDir.empty()) {
    macros[kConfigDirMacro] =
        FileUtils::combinePath(userConfigDir, launcherName);
  }

  CfgFile cfgFile = CfgFile::load(cfgFilePath, unknownNamesInTrace());
  refuseColonFromMacros(cfgFile, macros);
  cfgFile = std::move(cfgFile).expandMacros(macros);

  std::unique_ptr<Jvm> jvm(new Jvm());

  if (!libEnvVariableContainsAppDir()) {
    jvm->addEnvVariable(libEnvVariableName,
                        SysInfo::getEnvVariable(
                            std::nothrow, libEnvVariableName, std::string()) +
                            FileUtils::pathSeparator + appDir);
  }

  const std::string jvmLibPath =
      findJvmLib(cfgFile, defaultRuntimeDir, jvmLibNames);
  jvm->setLibPath(jvmLibPath);

  // Before $CACHEDIR, whose key follows them.
  const std::vector<std::string> userOptions =
      userJavaOptions(cfgFile, macros);
  const std::string javaHome = javaHomeOf(jvmLibPath);
  std::vector<std::string> keySources{
      rootDir, cfgFilePath, jvmLibPath,
      FileUtils::combinePath(javaHome, kRuntimeClassImage)};
  const std::string cacheDir =
      expandCacheDir(cfgFile, launcherName, keySources, userOptions);

  if (!restartCommandLine.empty()) {
    LOG_TRACE(
        "Started anew by the Java runtime: its command line is passed "
        "on unchanged");
    const AppCds cds = AppCds::resumeAfterRestart(
        cfgFile, javaHome, cacheDir, keySources, restartCommandLine);
    // The configuration the command line came from, which the dump needs.
    appendJavaOptions(cfgFile, cds.javaOptions());
    appendJavaOptions(cfgFile, userOptions);
    cds.completeAtExit(cfgFile);
    for (const std::string& arg : restartCommandLine) {
      jvm->addArgument(arg);
    }
    return jvm.release();
  }

  // After expansion, so that the user's own arguments reach the application
  // exactly as given.
  if (!commandArgs.empty()) {
    cfgFile.setPropertyValue(SectionName::ArgOptions, PropertyName::arguments,
                             commandArgs);
  }

  const AppCds cds = AppCds::plan(cfgFile, javaHome, cacheDir, keySources);
  appendJavaOptions(cfgFile, cds.javaOptions());

  if (app::isWithLogging()) {
    warnAboutIncompleteConfig(cfgFile);
  }
  // Last of the JVM options, so that a user's own take effect.
  appendJavaOptions(cfgFile, userOptions);
  jvm->addArgument(launcherPath);
  jvm->initFromConfigFile(cfgFile);
  cds.completeAtExit(cfgFile);

  return jvm.release();
}

std::string AppLauncher::expandCacheDir(
    CfgFile& cfgFile, const std::string& launcherName,
    std::vector<std::string>& bundleFiles,
    const std::vector<std::string>& userOptions) const {
  if (!cfgFile.anyValueContains(kCacheDirMacro)) {
    return std::string();
  }
  const CfgFile::Properties& appOptions =
      cfgFile.getProperties(SectionName::Application);
  for (const auto* name : {&PropertyName::classpath, &PropertyName::modulepath,
                           &PropertyName::mainjar}) {
    for (const std::string& entry : entriesOf(appOptions, *name)) {
      bundleFiles.push_back(entry);
      // The runtime looks for modules in the jars of a module path folder.
      if (name == &PropertyName::modulepath &&
          FileUtils::getFileStatus(entry).isDirectory) {
        bundleFiles.push_back(FileUtils::combinePath(entry, "*"));
      }
    }
  }
  std::vector<std::string> jvmOptions =
      cfgFile.getValues(SectionName::JavaOptions, PropertyName::javaOptions);
  jvmOptions.insert(jvmOptions.end(), userOptions.begin(), userOptions.end());
  const std::string cacheDir =
      CacheDir::forBundle(launcherName, bundleFiles, jvmOptions);
  if (!cacheDir.empty()) {
    cfgFile = std::move(cfgFile).expandMacros({{kCacheDirMacro, cacheDir}});
  }
  return cacheDir;
}

void AppLauncher::launch() const {
  const std::unique_ptr<Jvm> jvm(createJvmLauncher());
  jvm->launch();
}
