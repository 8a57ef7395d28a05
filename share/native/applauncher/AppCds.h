#pragma once

#include <string>
#include <vector>

class CfgFile;

// Class-data sharing that the launcher manages. With "app.cds" naming the
// archive, a start gets the java-options of "AppCDSJavaOptions" when the
// archive is there as the launcher completed it, and otherwise those of
// "AppCDSGenerateCacheJavaOptions", with which the runtime makes it. In the
// latter, the archive's path stands for a file of the start's own: the
// runtime writes the archive there (as -XX:ArchiveClassesAtExit does), or a
// class list (-XX:DumpLoadedClassList), from which the runtime makes the
// archive once the start has ended, run by a small waiter process
// (AppCdsWaiter) with the start's module path, class path, JVM options and
// entry point, the options of "AppCDSJavaOptions" and -Xshare:dump, which
// ends the runtime before it runs anything of the application. Only an
// archive that the runtime then maps into such a start is moved into place,
// and only in folders that are the user's alone. Whatever goes wrong, the
// start goes on without class-data options.
class AppCds {
 public:
  // Decides for a start with the expanded configuration. `javaHome` is the
  // runtime's home, `cacheDir` what "$CACHEDIR" stands for (empty when it
  // could not be had) and `keySources` the paths its key follows.
  static AppCds plan(const CfgFile& cfgFile, const std::string& javaHome,
                     const std::string& cacheDir,
                     const std::vector<std::string>& keySources);

  // For a start that the runtime began anew with `jvmArgs`: when those make
  // the archive, takes up the making start's part.
  static AppCds resumeAfterRestart(const CfgFile& cfgFile,
                                   const std::string& javaHome,
                                   const std::string& cacheDir,
                                   const std::vector<std::string>& keySources,
                                   const std::vector<std::string>& jvmArgs);

  // The options that follow those of "JavaOptions"; none without app.cds.
  const std::vector<std::string>& javaOptions() const { return options; }

  // For a start that makes the archive: arranges for what the runtime
  // writes to become the archive once the process exits. `startCfg` is the
  // configuration the start's command line comes from, with javaOptions()
  // and the user's own among its JVM options. Does nothing for other
  // starts.
  void completeAtExit(const CfgFile& startCfg) const;

 private:
  AppCds use(const CfgFile& cfgFile, const std::string& cacheDir);
  bool prepareMaking(const CfgFile& cfgFile, const std::string& javaHome,
                     const std::string& cacheDir,
                     const std::vector<std::string>& keySources);
  enum class Run { dump, proof };
  std::vector<std::string> javaCommand(const CfgFile& startCfg, Run run) const;

  std::string archive;
  std::vector<std::string> options;
  bool making = false;
  // The runtime's bin/java when the start writes a class list.
  std::string javaLauncher;
  std::vector<std::string> useOptions;
  // The paths that the key of the archive's folder follows; none when the
  // archive is not in a key folder.
  std::vector<std::string> keySources;
};

// The runtime's home, from the path of its launcher library
// (<home>/lib/libjli.dylib or <home>/lib/jli/libjli.dylib).
std::string javaHomeOf(const std::string& jvmLibPath);
