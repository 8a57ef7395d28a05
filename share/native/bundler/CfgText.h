#pragma once

#include <string>
#include <utility>
#include <vector>

struct BundleOptions;

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

// The configuration that the application options describe. Entry values are
// written as AppFolder::cfgValue names them. `javaFeature` is the feature
// release of the bundle's runtime, which the class-data options follow.
CfgText launcherConfig(const BundleOptions& options, int javaFeature);
