#pragma once

#include <set>
#include <string>
#include <vector>

// Where the bundle's runtime comes from.
enum class RuntimeSource {
  copy,   // a copy of the Java home
  link,   // links to the Java home's entries: quick, for tests
  jlink,  // a runtime made by the Java home's jlink
};

// The command line of wrapkin-bundle, read but not yet checked against the
// file system.
struct BundleOptions {
  std::string name;
  std::string launcher;  // empty: the one installed with the tool
  std::string out = ".";
  std::string identifier;  // empty: derived from the name
  std::string version;
  std::string icon;

  std::string javaHome;  // empty: the runtime of the `java` on the PATH
  RuntimeSource runtime = RuntimeSource::copy;
  std::string jlinkModules;  // empty: the modules jdeps finds

  // Each becomes a line of the configuration.
  std::string mainJar;
  std::vector<std::string> classPath;
  std::string mainClass;
  std::vector<std::string> modulePath;
  std::string mainModule;
  std::string appRuntime;
  std::string splash;
  bool userOptions = false;
  bool cds = false;
  std::vector<std::string> javaOptions;
  std::vector<std::string> arguments;
  std::vector<std::string> appFiles;

  bool entitlements = false;
  std::string signIdentity;

  std::string cfgFile;  // replaces the configuration lines above
  std::set<std::string> omitted;

  bool help = false;

  bool omits(const std::string& part) const { return omitted.count(part) != 0; }
};

// Reads the arguments after the program name. Raises BundleError with the
// line to show for anything it cannot take.
BundleOptions parseBundleOptions(const std::vector<std::string>& args);

// The --help text.
extern const char* const kBundleUsage;
