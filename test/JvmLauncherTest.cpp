#include "JvmLauncher.h"

#include <stdlib.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CfgFile.h"
#include "RecordingLogAppender.h"
#include "SysInfo.h"
#include "TempDir.h"

namespace {

typedef std::vector<std::string> Strings;

class JvmLauncherTest : public testing::Test {
 protected:
  JvmLauncherTest()
      : launcherPath(SysInfo::getProcessModulePath()),
        appPathArg("-Dwrapkin.app-path=" + launcherPath) {}

  // Creates a file in the temp directory and returns its path.
  std::string makeFile(const std::string& name) const {
    const std::string path = (dir.path() / name).string();
    std::ofstream(path) << "x";
    return path;
  }

  // The list a launch of `cfg` composes, after the launcher path.
  Strings compose(const CfgFile& cfg) const {
    Jvm jvm;
    jvm.addArgument(launcherPath).initFromConfigFile(cfg);
    return jvm.getArguments();
  }

  ScopedLogRecorder logs;
  TempDir dir;
  const std::string launcherPath;
  const std::string appPathArg;
};

TEST_F(JvmLauncherTest, ComposesEveryPropertyInItsPlace) {
  const std::string splash = makeFile("splash.png");
  CfgFile cfg;
  cfg.setPropertyValue(SectionName::Application, PropertyName::modulepath,
                       {"/mods/a", "/mods/b"})
      .setPropertyValue(SectionName::Application, PropertyName::classpath,
                        {"a.jar", "b.jar"})
      .setPropertyValue(SectionName::Application, PropertyName::splash,
                        {splash})
      .setPropertyValue(SectionName::JavaOptions, PropertyName::javaOptions,
                        {"-Dname=a b", "-Xmx1g"})
      .setPropertyValue(SectionName::Application, PropertyName::mainmodule,
                        {"old/Main", "app/app.Main"})
      .setPropertyValue(SectionName::Application, PropertyName::mainclass,
                        {"app.Main"})
      .setPropertyValue(SectionName::Application, PropertyName::mainjar,
                        {"app.jar"})
      .setPropertyValue(SectionName::ArgOptions, PropertyName::arguments,
                        {"one", "two words"})
      // Read elsewhere or not at all; none of them reaches the command line.
      .setPropertyValue(SectionName::Application, PropertyName::version,
                        {"1.0"})
      .setPropertyValue(SectionName::Application, PropertyName::memory,
                        {"auto"})
      .setPropertyValue(SectionName::Application, PropertyName::runtime,
                        {"/rt"})
      .setPropertyValue(SectionName::AppCDSJavaOptions,
                        PropertyName::javaOptions, {"-Xshare:auto"})
      .setPropertyValue(SectionName::AppCDSGenerateCacheJavaOptions,
                        PropertyName::javaOptions, {"-Xshare:dump"});

  const Strings expected = {
      launcherPath,   "--module-path", "/mods/a",     "--module-path",
      "/mods/b",      "-classpath",    "a.jar:b.jar", "-splash:" + splash,
      "-Dname=a b",   "-Xmx1g",        appPathArg,    "-m",
      "app/app.Main", "app.Main",      "-jar",        "app.jar",
      "one",          "two words"};
  EXPECT_EQ(expected, compose(cfg));
  EXPECT_TRUE(logs.log().withPrefix("Splash").empty());
}

TEST_F(JvmLauncherTest, EmptyConfigurationGivesLauncherAndAppPath) {
  EXPECT_EQ(Strings({launcherPath, appPathArg}), compose(CfgFile()));
}

TEST_F(JvmLauncherTest, SplashUsesTheLastValueWhenItsFileExists) {
  const std::string existing = makeFile("splash.png");
  const std::string missing = (dir.path() / "missing.png").string();
  const struct {
    const char* label;
    Strings values;
    Strings expected;
    std::string warnedPath;
  } rows[] = {
      {"existing",
       {existing},
       {launcherPath, "-splash:" + existing, appPathArg},
       ""},
      {"missing", {missing}, {launcherPath, appPathArg}, missing},
      {"existing, then missing",
       {existing, missing},
       {launcherPath, appPathArg},
       missing},
      {"missing, then existing",
       {missing, existing},
       {launcherPath, "-splash:" + existing, appPathArg},
       ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    ScopedLogRecorder rowLogs;
    CfgFile cfg;
    cfg.setPropertyValue(SectionName::Application, PropertyName::splash,
                         row.values);

    EXPECT_EQ(row.expected, compose(cfg));

    const std::vector<LogEvent> warnings =
        rowLogs.log().withPrefix("Splash property ignored.");
    if (row.warnedPath.empty()) {
      EXPECT_TRUE(warnings.empty());
    } else {
      ASSERT_EQ(1u, warnings.size());
      EXPECT_EQ(
          "Splash property ignored. File \"" + row.warnedPath + "\" not found",
          warnings[0].message);
      EXPECT_EQ("WARNING", warnings[0].levelName);
      EXPECT_EQ("initFromConfigFile", warnings[0].functionName);
    }
  }
}

TEST_F(JvmLauncherTest, SecondCompositionAppendsEverythingAgain) {
  CfgFile cfg;
  cfg.setPropertyValue(SectionName::Application, PropertyName::mainclass,
                       {"app.Main"});
  Jvm jvm;
  jvm.addArgument(launcherPath).initFromConfigFile(cfg).initFromConfigFile(cfg);
  EXPECT_EQ(
      Strings({launcherPath, appPathArg, "app.Main", appPathArg, "app.Main"}),
      jvm.getArguments());
}

TEST_F(JvmLauncherTest, SplashOptionIsFoundByItsExactPrefix) {
  const struct {
    Strings args;
    bool withSplash;
  } rows[] = {
      {{}, false},
      {{"-splash:"}, true},
      {{"/app/launcher", "-Dx=1", "-splash:/img.png"}, true},
      {{"-splash", "/img.png"}, false},
      {{"-SPLASH:/img.png"}, false},
      {{"x-splash:/img.png"}, false},
  };
  for (const auto& row : rows) {
    Jvm jvm;
    for (const std::string& arg : row.args) {
      jvm.addArgument(arg);
    }
    EXPECT_EQ(row.withSplash, jvm.isWithSplash())
        << testing::PrintToString(row.args);
  }
}

TEST_F(JvmLauncherTest, ConstructionAndDestructionAreTraced) {
  std::string address;
  {
    Jvm jvm;
    address = (tstrings::any() << static_cast<const void*>(&jvm)).str();
  }
  const std::vector<LogEvent>& events = logs.log().events;
  ASSERT_EQ(2u, events.size());
  EXPECT_EQ("Jvm(" + address + ")::Jvm()", events[0].message);
  EXPECT_EQ("Jvm", events[0].functionName);
  EXPECT_EQ("TRACE", events[0].levelName);
  EXPECT_EQ("Jvm(" + address + ")::~Jvm()", events[1].message);
  EXPECT_EQ("~Jvm", events[1].functionName);
}

TEST_F(JvmLauncherTest, SetEnvVariablesSetsEveryPair) {
  Jvm jvm;
  jvm.addEnvVariable("WRAPKIN_TEST_A", "1")
      .addEnvVariable("WRAPKIN_TEST_B", "");
  jvm.setEnvVariables();
  EXPECT_STREQ("1", getenv("WRAPKIN_TEST_A"));
  EXPECT_STREQ("", getenv("WRAPKIN_TEST_B"));
  unsetenv("WRAPKIN_TEST_A");
  unsetenv("WRAPKIN_TEST_B");
}

}  // namespace
