#pragma once

#include <string>
#include <vector>

class CfgFile;
class Jvm;

// Knows how an application image is laid out and turns that into a ready
// Jvm: finds and reads the configuration, expands its path macros, lets
// command-line arguments replace the configured ones, puts the application
// directory on the runtime's library search path and finds the runtime's
// launcher library.
class AppLauncher {
 public:
  // Reads the launcher's path and command-line arguments.
  AppLauncher();

  AppLauncher& setRootDir(const std::string& v) {
    rootDir = v;
    return *this;
  }
  AppLauncher& setAppDir(const std::string& v) {
    appDir = v;
    return *this;
  }
  AppLauncher& setLibEnvVariableName(const std::string& v) {
    libEnvVariableName = v;
    return *this;
  }
  AppLauncher& setDefaultRuntimeDir(const std::string& v) {
    defaultRuntimeDir = v;
    return *this;
  }
  // Relative to the runtime directory; tried in the order added.
  AppLauncher& addJvmLibName(const std::string& v) {
    jvmLibNames.push_back(v);
    return *this;
  }

  // The command line with which the runtime started the launcher anew
  // (SysInfo::isRuntimeRestart): the Jvm gets it unchanged instead of one
  // composed from the configuration and the command-line arguments.
  AppLauncher& setRestartCommandLine(const std::vector<std::string>& v) {
    restartCommandLine = v;
    return *this;
  }

  // A new Jvm the caller owns; reads the configuration on every call.
  Jvm* createJvmLauncher() const;

  // Creates a Jvm, launches it and destroys it.
  void launch() const;

  // Whether the library search-path variable lists appDir exactly.
  bool libEnvVariableContainsAppDir() const;

  // The directory `levels` levels above `path`. Climbing stops at "/", so
  // an absolute path gives an absolute result: a launcher installed near the
  // top of the file system must not look for its configuration and runtime
  // library under whatever the working directory is.
  static std::string ancestorDir(const std::string& path, int levels);

 private:
  // Expands "$CACHEDIR" where the configuration names it; returns the
  // folder, or an empty string when the user has none. The folder's key
  // follows `bundleFiles`, to which it adds the application's jars and
  // folders, and the JVM options of the configuration and `userOptions`.
  std::string expandCacheDir(CfgFile& cfgFile, const std::string& launcherName,
                             std::vector<std::string>& bundleFiles,
                             const std::vector<std::string>& userOptions) const;

  std::vector<std::string> commandArgs;
  std::string launcherPath;
  std::string defaultRuntimeDir;
  std::string appDir;
  std::string libEnvVariableName;
  std::string rootDir;
  std::vector<std::string> jvmLibNames;
  std::vector<std::string> restartCommandLine;
};
