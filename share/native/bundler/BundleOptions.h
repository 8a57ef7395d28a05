#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

// Where the bundle's runtime comes from.
enum class RuntimeSource {
  copy,   // a copy of the Java home
  link,   // links to the Java home's entries: quick, for tests
  jlink,  // a runtime made by the Java home's jlink
};

// A kind of file the application opens from the Finder (--document-type).
struct DocumentType {
  std::vector<std::string> extensions;  // without the dot
  std::string description;
  std::string icon;  // an .icns file, or empty for none
};

// The command line of wrapkin-bundle, read but not yet checked against the
// file system.
struct BundleOptions {
  std::string name;
  std::string launcher;  // empty: the one installed with the tool
  std::string out = ".";
  std::string identifier;  // empty: derived from the name
  std::string bundleVersion;
  std::string icon;

  // More of Info.plist.
  std::vector<DocumentType> documentTypes;
  std::vector<std::string> urlSchemes;
  std::vector<std::pair<std::string, std::string>> plistStrings;  // key, value

  std::string javaHome;  // empty: the runtime of the `java` on the PATH
  RuntimeSource runtime = RuntimeSource::copy;
  std::string jlinkModules;  // empty: the modules jdeps finds

  // Each becomes a line of the configuration; the entry point's as
  // EntryPoint says.
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
  bool diskImage = false;     // --dmg
  std::string notaryProfile;  // --notarize: a keychain profile of notarytool

  std::string cfgFile;  // replaces the configuration lines above
  std::set<std::string> omitted;

  bool help = false;
  bool showVersion = false;  // --version: the tool's own

  bool omits(const std::string& part) const { return omitted.count(part) != 0; }
};

// Reads the arguments after the program name. Raises BundleError with the
// line to show for anything it cannot take.
BundleOptions parseBundleOptions(const std::vector<std::string>& args);

// The --help text.
extern const char* const kBundleUsage;

// The tool's own version, as --version prints it.
extern const char* const kBundleToolVersion;
