#pragma once

#include <string>
#include <utility>
#include <vector>

struct BundleOptions;
struct EntryPoint;

// A launcher configuration as it is written: sections in the order they are
// first named, each with its lines in the order they are added.
class CfgText {
 public:
  // The section, added after the others when it is new; empty sections are
  // written too.
  CfgText& section(const std::string& name);
  // Appends `key=value` to the section last named.
  CfgText& add(const std::string& key, const std::string& value);
  // Appends one line per value; nothing for none.
  CfgText& addEach(const std::string& key,
                   const std::vector<std::string>& values);
  // Appends `key=value` unless the value is empty.
  CfgText& addIfGiven(const std::string& key, const std::string& value);
  // Appends a comment line to the section last named.
  CfgText& comment(const std::string& text);

  std::string str() const;

 private:
  struct Section {
    std::string name;
    std::vector<std::string> lines;
  };
  std::vector<Section> sections;
  std::size_t current = 0;
};

// The configuration that the application options describe, starting
// `entry`. Entry values are written as AppFolder::cfgValue names them.
// `javaFeature` is the feature release of the bundle's runtime, which the
// class-data options follow.
CfgText launcherConfig(const BundleOptions& options, const EntryPoint& entry,
                       int javaFeature);

// The first of the launcher's macros ("$APPDIR" and the like) that `text`
// holds, or "". The launcher replaces them wherever they stand in a value
// and has no escape for them, so a name that holds one cannot be written
// into the configuration as itself.
std::string launcherMacroIn(const std::string& text);

// Whether `text` starts with one of the launcher's macros.
bool startsWithLauncherMacro(const std::string& text);

// Why a name cannot hold one of the launcher's macros, or ":", for messages:
// "the name ... holds ..., " and the reason.
extern const char* const kMacroReason;
extern const char* const kPathListSeparatorReason;
