#include "JvmLauncher.h"

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CfgFile.h"
#include "ScopedLogRecorder.h"
#include "SysInfo.h"
#include "TempDir.h"

namespace {

typedef std::vector<std::string> Strings;

class JvmLauncherTest : public testing::Test {
 protected:
  JvmLauncherTest()
      : launcherPath(SysInfo::getProcessModulePath()),
        appPathArg("-Dwrapkin.app-path=" + launcherPath),
        splashFile((dir.path() / "splash.png").string()),
        missingFile((dir.path() / "missing.png").string()) {
    std::ofstream(splashFile) << "png";
  }

  // The command line of a launch of `cfg`.
  Strings compose(const CfgFile& cfg) const {
    Jvm jvm;
    jvm.addArgument(launcherPath).initFromConfigFile(cfg);
    return jvm.getArguments();
  }

  ScopedLogRecorder logs;
  TempDir dir;
  const std::string launcherPath;
  const std::string appPathArg;
  const std::string splashFile;
  const std::string missingFile;
};

TEST_F(JvmLauncherTest, ComposesEveryPropertyInItsPlace) {
  using namespace PropertyName;
  const CfgFile::Id<CfgFile::SectionNameTag> app = SectionName::Application;
  CfgFile cfg;
  cfg.setPropertyValue(app, modulepath, {"/mods/a", "/mods/b"})
      .setPropertyValue(app, classpath, {"a.jar", "b.jar"})
      .setPropertyValue(app, splash, {splashFile})
      .setPropertyValue(SectionName::JavaOptions, javaOptions,
                        {"-Dname=a b", "-Xmx1g"})
      .setPropertyValue(app, mainmodule, {"old/Main", "app/app.Main"})
      .setPropertyValue(app, mainclass, {"app.Main"})
      .setPropertyValue(app, mainjar, {"app.jar"})
      .setPropertyValue(SectionName::ArgOptions, arguments,
                        {"one", "two words"})
      // Read elsewhere or not at all; none of them reaches the command line.
      .setPropertyValue(app, version, {"1.0"})
      .setPropertyValue(app, memory, {"auto"})
      .setPropertyValue(app, runtime, {"/rt"})
      .setPropertyValue(SectionName::AppCDSJavaOptions, javaOptions,
                        {"-Xshare:auto"})
      .setPropertyValue(SectionName::AppCDSGenerateCacheJavaOptions,
                        javaOptions, {"-Xshare:dump"});

  const Strings expected = {
      launcherPath,   "--module-path", "/mods/a",     "--module-path",
      "/mods/b",      "-classpath",    "a.jar:b.jar", "-splash:" + splashFile,
      "-Dname=a b",   "-Xmx1g",        appPathArg,    "-m",
      "app/app.Main", "app.Main",      "-jar",        "app.jar",
      "one",          "two words"};
  EXPECT_EQ(expected, compose(cfg));
  EXPECT_TRUE(logs.withPrefix("Splash").empty());
}

TEST_F(JvmLauncherTest, EmptyConfigurationGivesLauncherAndAppPath) {
  EXPECT_EQ(Strings({launcherPath, appPathArg}), compose(CfgFile()));
}

TEST_F(JvmLauncherTest, SplashTakesTheLastValueIfItsFileExists) {
  const struct {
    Strings values;
    bool used;
  } rows[] = {
      {{missingFile}, false},
      {{splashFile, missingFile}, false},
      {{missingFile, splashFile}, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.values));
    ScopedLogRecorder rowLogs;
    CfgFile cfg;
    cfg.setPropertyValue(SectionName::Application, PropertyName::splash,
                         row.values);

    const Strings args = compose(cfg);

    const std::vector<LogEvent> warnings = rowLogs.withPrefix("Splash");
    if (row.used) {
      EXPECT_EQ(Strings({launcherPath, "-splash:" + splashFile, appPathArg}),
                args);
      EXPECT_TRUE(warnings.empty());
    } else {
      EXPECT_EQ(Strings({launcherPath, appPathArg}), args);
      ASSERT_EQ(1u, warnings.size());
      EXPECT_EQ(
          "Splash property ignored. File \"" + missingFile + "\" not found",
          warnings[0].message);
      EXPECT_EQ("WARNING", warnings[0].levelName);
      EXPECT_EQ("initFromConfigFile", warnings[0].functionName);
    }
  }
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
  ASSERT_EQ(2u, logs.events.size());
  EXPECT_EQ("Jvm(" + address + ")::Jvm()", logs.events[0].message);
  EXPECT_EQ("Jvm", logs.events[0].functionName);
  EXPECT_EQ("Jvm(" + address + ")::~Jvm()", logs.events[1].message);
  EXPECT_EQ("~Jvm", logs.events[1].functionName);
}

}  // namespace
