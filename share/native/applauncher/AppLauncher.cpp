#include "AppLauncher.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "CfgFile.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "JvmLauncher.h"
#include "Log.h"
#include "SysInfo.h"
#include "tstrings.h"

namespace {

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
  const std::string cfgFilePath = FileUtils::combinePath(
      appDir,
      FileUtils::stripExeSuffix(FileUtils::basename(launcherPath)) + ".cfg");

  LOG_TRACE("Launcher config file path: \"" << cfgFilePath << "\"");

  CfgFile::Macros macros;
  macros["$APPDIR"] = appDir;
  macros["$BINDIR"] = FileUtils::dirname(launcherPath);
  macros["$ROOTDIR"] = rootDir;

  CfgFile cfgFile = CfgFile::load(cfgFilePath).expandMacros(macros);

  // After expansion, so that the user's own arguments reach the application
  // exactly as given.
  if (!commandArgs.empty()) {
    cfgFile.setPropertyValue(SectionName::ArgOptions, PropertyName::arguments,
                             commandArgs);
  }

  std::unique_ptr<Jvm> jvm(new Jvm());

  if (!libEnvVariableContainsAppDir()) {
    jvm->addEnvVariable(libEnvVariableName,
                        SysInfo::getEnvVariable(
                            std::nothrow, libEnvVariableName, std::string()) +
                            FileUtils::pathSeparator + appDir);
  }

  jvm->setLibPath(findJvmLib(cfgFile, defaultRuntimeDir, jvmLibNames));
  jvm->addArgument(launcherPath);
  jvm->initFromConfigFile(cfgFile);

  return jvm.release();
}

void AppLauncher::launch() const {
  const std::unique_ptr<Jvm> jvm(createJvmLauncher());
  jvm->launch();
}
