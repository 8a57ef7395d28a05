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
// archive in the background once the start has ended, with the start's own
// command line, the options of "AppCDSJavaOptions" and -Xshare:dump. Only
// a complete archive is moved into place. Whatever goes wrong, the start
// goes on without class-data options.
class AppCds {
 public:
  // Decides for a start with the expanded configuration. `javaHome` is the
  // runtime's home, `cacheDir` what "$CACHEDIR" stands for (empty when it
  // could not be had).
  static AppCds plan(const CfgFile& cfgFile, const std::string& javaHome,
                     const std::string& cacheDir);

  // For a start that the runtime began anew with `jvmArgs`: when those make
  // the archive, resumes the making start's part.
  static void resumeAfterRestart(const CfgFile& cfgFile,
                                 const std::string& javaHome,
                                 const std::vector<std::string>& jvmArgs);

  // The options that follow those of "JavaOptions"; none without app.cds.
  const std::vector<std::string>& javaOptions() const { return options; }

  // For a start that makes the archive: arranges for what the runtime
  // writes to become the archive once the process exits. `jvmArgs` is the
  // start's whole command line. Does nothing for other starts.
  void completeAtExit(const std::vector<std::string>& jvmArgs) const;

 private:
  bool prepareMaking(const CfgFile& cfgFile, const std::string& javaHome);

  std::string archive;
  std::vector<std::string> options;
  bool making = false;
  // The runtime's bin/java when the start writes a class list.
  std::string javaLauncher;
  std::vector<std::string> useOptions;
};

// The runtime's home, from the path of its launcher library
// (<home>/lib/libjli.dylib or <home>/lib/jli/libjli.dylib).
std::string javaHomeOf(const std::string& jvmLibPath);
