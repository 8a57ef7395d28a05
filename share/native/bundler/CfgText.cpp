#include "CfgText.h"

#include "AppFolder.h"
#include "BundleOptions.h"

namespace {

std::vector<std::string> cfgValues(const std::vector<std::string>& entries) {
  std::vector<std::string> values;
  for (const std::string& entry : entries) {
    values.push_back(AppFolder::cfgValue(entry));
  }
  return values;
}

std::string cfgValueIfGiven(const std::string& entry) {
  return entry.empty() ? entry : AppFolder::cfgValue(entry);
}

}  // namespace

CfgText& CfgText::section(const std::string& name) {
  for (current = 0; current < sections.size(); ++current) {
    if (sections[current].name == name) {
      return *this;
    }
  }
  sections.push_back({name, {}});
  return *this;
}

CfgText& CfgText::add(const std::string& key, const std::string& value) {
  sections.at(current).lines.push_back(key + "=" + value);
  return *this;
}

CfgText& CfgText::addEach(const std::string& key,
                          const std::vector<std::string>& values) {
  for (const std::string& value : values) {
    add(key, value);
  }
  return *this;
}

CfgText& CfgText::addIfGiven(const std::string& key, const std::string& value) {
  return value.empty() ? *this : add(key, value);
}

std::string CfgText::str() const {
  std::string text;
  for (const Section& s : sections) {
    text += (text.empty() ? "[" : "\n[") + s.name + "]\n";
    for (const std::string& line : s.lines) {
      text += line + "\n";
    }
  }
  return text;
}

CfgText launcherConfig(const BundleOptions& o) {
  CfgText cfg;
  cfg.section("Application")
      .addIfGiven("app.mainjar", cfgValueIfGiven(o.mainJar))
      .addEach("app.classpath", cfgValues(o.classPath))
      .addIfGiven("app.mainclass", o.mainClass)
      .addEach("app.modulepath", cfgValues(o.modulePath))
      .addIfGiven("app.mainmodule", o.mainModule)
      .addIfGiven("app.runtime", o.appRuntime)
      .addIfGiven("app.splash", cfgValueIfGiven(o.splash))
      .addIfGiven("app.version", o.version);
  if (o.userOptions) {
    cfg.add("app.user-options", "$CONFIGDIR/" + o.name + ".cfg");
  }
  cfg.section("JavaOptions").addEach("java-options", o.javaOptions);
  cfg.section("ArgOptions").addEach("arguments", o.arguments);
  return cfg;
}
