#include "CfgText.h"

#include <cstring>

#include "AppFolder.h"
#include "BundleOptions.h"
#include "EntryPoint.h"

const char* const kMacroReason = "which the launcher replaces by a folder";
const char* const kPathListSeparatorReason =
    "which Java takes for the separator of a path list";

namespace {

constexpr const char* kLauncherMacros[] = {"$APPDIR", "$BINDIR", "$ROOTDIR",
                                           "$CONFIGDIR", "$CACHEDIR"};

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

// The first start records the classes it loads; once it has ended, the
// launcher has the runtime make a static archive of them in the
// background, which later starts map. Ahead-of-time class linking came with
// 24, the "aot" log tag with 25 (an unknown tag stops the JVM). The logs of
// the archive's tags stay off, so that nothing about it reaches the
// application's output.
void addClassDataSharing(CfgText& cfg, const std::string& archive,
                         int javaFeature) {
  cfg.section("Application").add("app.cds", archive);
  cfg.section("AppCDSJavaOptions")
      .add("java-options", "-XX:SharedArchiveFile=" + archive);
  if (javaFeature >= 24) {
    cfg.add("java-options", "-XX:+AOTClassLinking");
  }
  cfg.add("java-options", "-Xlog:cds*=off");
  if (javaFeature >= 25) {
    cfg.add("java-options", "-Xlog:aot*=off");
  }
  cfg.section("AppCDSGenerateCacheJavaOptions")
      .comment("The archive's path stands for the file the first start writes:")
      .comment("its class list, from which the launcher makes the archive.")
      .add("java-options", "-XX:DumpLoadedClassList=" + archive);
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

CfgText& CfgText::comment(const std::string& text) {
  sections.at(current).lines.push_back("; " + text);
  return *this;
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

std::string launcherMacroIn(const std::string& text) {
  for (const char* macro : kLauncherMacros) {
    if (text.find(macro) != std::string::npos) {
      return macro;
    }
  }
  return "";
}

bool startsWithLauncherMacro(const std::string& text) {
  for (const char* macro : kLauncherMacros) {
    if (text.compare(0, std::strlen(macro), macro) == 0) {
      return true;
    }
  }
  return false;
}

CfgText launcherConfig(const BundleOptions& o, const EntryPoint& entry,
                       int javaFeature) {
  CfgText cfg;
  cfg.section("Application")
      .addIfGiven("app.mainjar", cfgValueIfGiven(entry.mainJar))
      .addEach("app.classpath", cfgValues(entry.classPath))
      .addIfGiven("app.mainclass", entry.mainClass)
      .addEach("app.modulepath", cfgValues(o.modulePath))
      .addIfGiven("app.mainmodule", entry.mainModule)
      .addIfGiven("app.runtime", o.appRuntime)
      .addIfGiven("app.splash", cfgValueIfGiven(o.splash))
      .addIfGiven("app.version", o.bundleVersion);
  if (o.userOptions) {
    cfg.add("app.user-options", "$CONFIGDIR/" + o.name + ".cfg");
  }
  cfg.section("JavaOptions").addEach("java-options", o.javaOptions);
  cfg.section("ArgOptions").addEach("arguments", o.arguments);
  if (o.cds) {
    addClassDataSharing(cfg, "$CACHEDIR/" + o.name + ".jsa", javaFeature);
  }
  return cfg;
}
