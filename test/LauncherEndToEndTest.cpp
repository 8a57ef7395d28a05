// The launcher executable run as a child process in bundles assembled by
// wrapkin-bundle, with the fake runtime library (doubles/FakeJli.cpp) in
// place of the runtime's libjli: it records the JLI_Launch call it gets.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BundleTool.h"
#include "ChildProcess.h"
#include "ExpectedText.h"
#include "FakeJliRecord.h"

namespace fs = std::filesystem;

namespace {

const char* const kExports[] = {"main", "jvmLauncherGetAPI",
                                "jvmLauncherCreateJvmlLauncherData",
                                "jvmLauncherStartJvm", "jvmLauncherLog"};

// Runtime homes whose libjli stands in for the runtime's library;
// wrapkin-bundle copies them into Contents/runtime/Contents/Home.
struct FakeRuntimes {
  explicit FakeRuntimes(const std::string& base)
      : jli(makeFakeJavaHome(base + "/fake-jli", FAKE_JLI_PATH)),
        notALibrary(makeFakeJavaHome(base + "/not-a-library", "")),
        withoutJliLaunch(
            makeFakeJavaHome(base + "/without-jli-launch", TEST_LIB_PATH)) {}

  const std::string jli;
  const std::string notALibrary;
  const std::string withoutJliLaunch;
};

class LauncherEndToEndTest : public ::testing::Test {
 protected:
  LauncherEndToEndTest()
      : runtimes(tmp.path()), record(tmp.path() + "/calls") {}

  // A bundle named `name` around the fake runtime library whose
  // configuration is `cfgText`.
  Bundle bundle(const std::string& cfgText,
                std::vector<std::string> options = {},
                const std::string& name = "Tool") {
    const std::string cfgSource = tmp.path() + "/" + name + ".cfg-source";
    std::ofstream(cfgSource) << cfgText;
    options.insert(options.begin(),
                   {"--cfg", cfgSource, "--java-home", runtimes.jli});
    return makeBundle(tmp.path(), name, options);
  }

  ChildEnv env() const {
    return ChildEnv::clean()
        .set("FAKE_JLI_RECORD", record)
        .set("FAKE_JLI_ENV", "DYLD_LIBRARY_PATH");
  }

  ChildResult run(const Bundle& b, const std::vector<std::string>& args,
                  const ChildEnv& childEnv) {
    std::error_code ignored;
    fs::remove(record, ignored);
    std::vector<std::string> argv{b.launcher};
    argv.insert(argv.end(), args.begin(), args.end());
    return runChild(argv, childEnv);
  }

  ChildResult run(const Bundle& b, const std::vector<std::string>& args = {}) {
    return run(b, args, env());
  }

  std::vector<FakeJliCall> calls() const { return readFakeJliCalls(record); }

  const CanonicalTempDir tmp;
  const FakeRuntimes runtimes;
  const std::string record;
};

const char kEveryProperty[] =
    "[Application]\n"
    "app.version=1.2.3\n"
    "app.mainjar=$APPDIR/main.jar\n"
    "app.mainmodule=mod/pkg.Main\n"
    "app.mainclass=pkg.Main\n"
    "app.classpath=$APPDIR/a.jar\n"
    "app.classpath=$ROOTDIR/b.jar\n"
    "app.modulepath=$APPDIR/mods\n"
    "app.modulepath=$BINDIR/more mods\n"
    "app.runtime=$ROOTDIR/Contents/runtime\n"
    "app.splash=$APPDIR/none.png\n"
    "app.splash=$APPDIR/splash.png\n"
    "app.memory=50%\n"
    "[JavaOptions]\n"
    "java-options=-Xmx64m\n"
    "java-options=-Dname=a b\n"
    "java-options=-Dapp=$APPDIR\n"
    "[AppCDSJavaOptions]\n"
    "java-options=-Xshare:off\n"
    "[AppCDSGenerateCacheJavaOptions]\n"
    "java-options=-Xshare:dump\n"
    "[ArgOptions]\n"
    "arguments=first\n"
    "arguments=$APPDIR/x\n";

TEST_F(LauncherEndToEndTest, HandsTheConfiguredCommandLineToJliLaunch) {
  const std::string splash = tmp.path() + "/splash.png";
  std::ofstream(splash) << "png";
  const struct {
    const char* label;
    std::string name;
    std::string cfg;
    std::vector<std::string> options;
    // With "@L" for the launcher, "@A" for the app folder, "@R" for the root.
    std::vector<std::string> expected;
  } rows[] = {
      {"every property",
       "Tool",
       kEveryProperty,
       {"--app-file", splash},
       {"@L", "--module-path", "@A/mods", "--module-path",
        "@R/Contents/MacOS/more mods", "-classpath", "@A/a.jar:@R/b.jar",
        "-splash:@A/splash.png", "-Xmx64m", "-Dname=a b", "-Dapp=@A",
        "-Dwrapkin.app-path=@L", "-m", "mod/pkg.Main", "pkg.Main", "-jar",
        "@A/main.jar", "first", "@A/x"}},
      {"empty configuration", "Tool", "", {}, {"@L", "-Dwrapkin.app-path=@L"}},
      // Nothing is cut from the name before ".cfg" is appended.
      {"dotted launcher name",
       "My.Tool",
       "[Application]\napp.mainclass=a.B\n",
       {},
       {"@L", "-Dwrapkin.app-path=@L", "a.B"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const Bundle b = bundle(row.cfg, row.options, row.name);
    std::vector<std::string> expected;
    for (std::string arg : row.expected) {
      arg = replaceAll(arg, "@L", b.launcher);
      arg = replaceAll(arg, "@A", b.appDir);
      arg = replaceAll(arg, "@R", b.root);
      expected.push_back(arg);
    }

    const ChildResult result = run(b);

    EXPECT_EQ(0, result.exitCode) << result.describe();
    EXPECT_EQ("", result.out + result.err);
    const std::vector<FakeJliCall> recorded = calls();
    ASSERT_EQ(1u, recorded.size());
    EXPECT_EQ(expected, fakeJliArgs(recorded[0]));
    // The vector ends with a null pointer, as a main's argv does.
    EXPECT_EQ(std::nullopt,
              recorded[0].at("argv[" + std::to_string(expected.size()) + "]"));
  }
}

TEST_F(LauncherEndToEndTest, ExportsMainAndTheFlatInterfaceByName) {
  const Bundle b = bundle("");
  std::string names;
  for (const char* name : kExports) {
    names += std::string(names.empty() ? "" : ":") + name;
  }

  const ChildResult result = run(b, {}, env().set("FAKE_JLI_DLSYM", names));

  ASSERT_EQ(0, result.exitCode) << result.describe();
  const std::vector<FakeJliCall> recorded = calls();
  ASSERT_EQ(1u, recorded.size());
  for (const char* name : kExports) {
    EXPECT_EQ("found", recorded[0].at(std::string("dlsym.") + name)) << name;
  }
}

TEST_F(LauncherEndToEndTest, PutsTheAppFolderOnTheLibraryPathOnce) {
  const Bundle b = bundle("");
  const std::string& app = b.appDir;
  const struct {
    const char* label;
    const char* value;  // null: unset
    std::string expected;
  } rows[] = {
      {"unset", nullptr, ":" + app},
      {"empty", "", ":" + app},
      {"listed exactly among others", "/x::@A:/y", "/x::" + app + ":/y"},
      {"listed with a trailing slash", "/x:@A/", "/x:" + app + "/:" + app},
      {"a longer path that starts with it", "@Ax", app + "x:" + app},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    ChildEnv childEnv = env();
    if (row.value != nullptr) {
      childEnv.set("DYLD_LIBRARY_PATH", replaceAll(row.value, "@A", app));
    }

    const ChildResult result = run(b, {}, childEnv);

    EXPECT_EQ(0, result.exitCode) << result.describe();
    const std::vector<FakeJliCall> recorded = calls();
    ASSERT_EQ(1u, recorded.size());
    EXPECT_EQ(row.expected, recorded[0].at("env.DYLD_LIBRARY_PATH"));
  }
}

TEST_F(LauncherEndToEndTest, CommandLineArgumentsReplaceTheConfiguredOnes) {
  const Bundle b = bundle(
      "[Application]\napp.mainclass=a.B\n"
      "[ArgOptions]\narguments=first\narguments=$APPDIR/x\n");
  const std::vector<std::string> configured{"first", b.appDir + "/x"};
  const struct {
    const char* label;
    std::vector<std::string> args;
    std::vector<std::string> expected;
  } rows[] = {
      {"none", {}, configured},
      {"some, a process serial number among them",
       {"one", "-psn_0_4711", "$APPDIR/two", "-psn"},
       {"one", "$APPDIR/two", "-psn"}},
      {"only a process serial number", {"-psn_0_4711"}, configured},
      {"one empty argument", {""}, {""}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const ChildResult result = run(b, row.args);

    EXPECT_EQ(0, result.exitCode) << result.describe();
    const std::vector<FakeJliCall> recorded = calls();
    ASSERT_EQ(1u, recorded.size());
    std::vector<std::string> expected{
        b.launcher, "-Dwrapkin.app-path=" + b.launcher, "a.B"};
    expected.insert(expected.end(), row.expected.begin(), row.expected.end());
    EXPECT_EQ(expected, fakeJliArgs(recorded[0]));
  }
}

// The mark a start leaves for its runtime's restart reaches child processes
// too; one of them, started with the same command line, is no restart.
TEST_F(LauncherEndToEndTest, AnInheritedRestartMarkChangesNothing) {
  const Bundle b = bundle("[Application]\napp.mainclass=a.B\n");
  const std::vector<std::string> expected{
      b.launcher, "-Dwrapkin.app-path=" + b.launcher, "a.B", "x"};
  ASSERT_EQ(0, run(b, {"x"}, env().set("FAKE_JLI_ENV", "WRAPKIN_RESTART_MARK"))
                   .exitCode);
  ASSERT_EQ(1u, calls().size());
  const std::optional<std::string> mark =
      calls()[0].at("env.WRAPKIN_RESTART_MARK");
  ASSERT_TRUE(mark.has_value());

  const ChildResult result =
      run(b, {"x"}, env().set("WRAPKIN_RESTART_MARK", *mark));

  EXPECT_EQ(0, result.exitCode) << result.describe();
  ASSERT_EQ(1u, calls().size());
  EXPECT_EQ(expected, fakeJliArgs(calls()[0]));
}

// Class-data sharing with the stand-in, which writes an archive for
// -XX:ArchiveClassesAtExit as the runtime would. "-Dcache=" shows what
// $CACHEDIR stood for; the class-data options follow it.
TEST_F(LauncherEndToEndTest, ClassDataOptionsFollowTheArchive) {
  const Bundle b = bundle(
      "[Application]\napp.mainclass=a.B\napp.cds=$CACHEDIR/T.jsa\n"
      "[JavaOptions]\njava-options=-Dcache=$CACHEDIR\n"
      "[AppCDSJavaOptions]\njava-options=-XX:SharedArchiveFile=$CACHEDIR/"
      "T.jsa\n"
      "[AppCDSGenerateCacheJavaOptions]\n"
      "java-options=-XX:ArchiveClassesAtExit=$CACHEDIR/T.jsa\n");
  const std::string aFile = tmp.path() + "/a-file";
  std::ofstream(aFile) << "x";
  const ChildEnv withCache = env()
                                 .set("XDG_CACHE_HOME", tmp.path() + "/cache")
                                 .set("HOME", tmp.path() + "/home");
  std::string folder;  // where the archive went, once known
  const auto archive = [&] { return folder + "/T.jsa"; };
  const struct {
    const char* label;
    std::function<void()> before;
    ChildEnv env;
    // "@K" for the cache folder, "@P" for a process id.
    std::vector<std::string> expected;
  } rows[] = {
      {"no archive yet: the runtime writes a file of the start's own",
       [] {},
       withCache,
       {"-XX:ArchiveClassesAtExit=@K/T.jsa.@P.tmp"}},
      {"the archive that start made",
       [] {},
       withCache,
       {"-XX:SharedArchiveFile=@K/T.jsa"}},
      {"the archive truncated",
       [&] { fs::resize_file(archive(), 1000); },
       withCache,
       {"-XX:ArchiveClassesAtExit=@K/T.jsa.@P.tmp"}},
      {"garbage of the archive's size in its place",
       [&] {
         const auto size = fs::file_size(archive());
         fs::remove(archive());
         std::ofstream(archive()) << std::string(size, 'g');
       },
       withCache,
       {"-XX:ArchiveClassesAtExit=@K/T.jsa.@P.tmp"}},
      {"a file where the cache folder would be",
       [] {},
       env().set("XDG_CACHE_HOME", aFile).set("HOME", aFile),
       {}},
      {"no cache folder at all", [] {}, env().unset("HOME"), {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    row.before();

    const ChildResult result = run(b, {}, row.env);

    EXPECT_EQ(0, result.exitCode) << result.describe();
    EXPECT_EQ("", result.out + result.err);
    ASSERT_EQ(1u, calls().size());
    const std::vector<std::string> args = fakeJliArgs(calls()[0]);
    ASSERT_LE(3u, args.size());
    ASSERT_EQ(0u, args[1].rfind("-Dcache=", 0)) << args[1];
    const std::string cacheDir = args[1].substr(8);
    if (folder.empty()) {
      folder = cacheDir;
    }
    std::vector<std::string> options(
        args.begin() + 2, std::find(args.begin(), args.end(),
                                    "-Dwrapkin.app-path=" + b.launcher));
    ASSERT_EQ(row.expected.size(), options.size())
        << ::testing::PrintToString(options);
    for (std::size_t i = 0; i < options.size(); ++i) {
      const std::string pattern =
          replaceAll(replaceAll(escapedForRegex(row.expected[i]), "@K",
                                escapedForRegex(cacheDir)),
                     "@P", "[0-9]+");
      EXPECT_TRUE(std::regex_match(options[i], std::regex(pattern)))
          << options[i] << " against " << pattern;
    }
  }
  // The cache folders are the user's alone.
  EXPECT_EQ(fs::perms::owner_all,
            fs::status(folder).permissions() & fs::perms::all);

  const ChildResult traced = run(
      b, {}, env().set("XDG_CACHE_HOME", aFile).set("WRAPKIN_DEBUG", "true"));
  EXPECT_NE(std::string::npos,
            traced.err.find("No class-data options: cannot create \"" + aFile +
                            "/Tool/"))
      << traced.err;
}

TEST_F(LauncherEndToEndTest, FindsTheRuntimeLibraryWhereTheBundleSays) {
  const struct {
    const char* label;
    std::string cfg;
    // Links to the fake library, relative to the bundle root.
    std::vector<std::string> libraries;
    std::string expectedLibrary;
  } rows[] = {
      {"the runtime named through $ROOTDIR, second library name",
       "[Application]\napp.runtime=$ROOTDIR/Contents/Other\n",
       {"Contents/Other/Contents/Home/lib/jli/libjli.dylib"},
       "Contents/Other/Contents/Home/lib/jli/libjli.dylib"},
      {"the default runtime with both library names",
       "",
       {"Contents/runtime/Contents/Home/lib/libjli.dylib",
        "Contents/runtime/Contents/Home/lib/jli/libjli.dylib"},
       "Contents/runtime/Contents/Home/lib/libjli.dylib"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const Bundle b = bundle(row.cfg, {"--omit", "runtime"});
    for (const std::string& library : row.libraries) {
      const fs::path link = b.root + "/" + library;
      fs::create_directories(link.parent_path());
      // Only the first name may be loaded: the second is no library.
      if (&library == &row.libraries.front()) {
        fs::create_symlink(FAKE_JLI_PATH, link);
      } else {
        std::ofstream(link) << "not a library\n";
      }
    }

    const ChildResult result = run(b, {}, env().set("WRAPKIN_DEBUG", "true"));

    EXPECT_EQ(0, result.exitCode) << result.describe();
    EXPECT_NE(std::string::npos, result.err.find("jli lib: [" + b.root + "/" +
                                                 row.expectedLibrary + "]\n"))
        << result.err;
    const bool usesDefault = row.cfg.empty();
    EXPECT_EQ(usesDefault,
              result.err.find("Property \"app.runtime\" not found") !=
                  std::string::npos)
        << result.err;
  }
}

TEST_F(LauncherEndToEndTest, ReportsEachFailureInOneLineWithExitCodeOne) {
  const std::string library =
      "/Contents/runtime/Contents/Home/lib/libjli.dylib";
  const struct {
    const char* label;
    std::string cfg;
    std::vector<std::string> options;
    const char* result;  // FAKE_JLI_RESULT
    // With "@R" for the bundle root, "@C" for the configuration file.
    std::string expected;
  } rows[] = {
      {"no configuration",
       "",
       {"--omit", "cfg"},
       nullptr,
       "Error opening \"@C\" file: " + std::string(std::strerror(ENOENT))},
      {"malformed configuration",
       "[Application]\n[ArgOptions\n",
       {},
       nullptr,
       "Error parsing [@C] file at 2: Missing ']' character"},
      {"no library under the default runtime",
       "",
       {"--omit", "jli"},
       nullptr,
       "Failed to find JVM in \"@R/Contents/runtime\" directory."},
      {"no configured runtime",
       "[Application]\napp.runtime=$ROOTDIR/none\n",
       {},
       nullptr,
       "Failed to find JVM in \"@R/none\" directory."},
      {"a library that is not one",
       "",
       {"--java-home", runtimes.notALibrary},
       nullptr,
       "dlopen(@R" + library + ") failed. Error: @E"},
      {"a library without JLI_Launch",
       "",
       {"--java-home", runtimes.withoutJliLaunch},
       nullptr,
       "dlsym(@R" + library + ", JLI_Launch) failed. Error: @E"},
      {"JLI_Launch fails", "", {}, "1", "Failed to launch JVM"},
      {"JLI_Launch fails with a negative result",
       "",
       {},
       "-7",
       "Failed to launch JVM"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    // A row's own --java-home comes later and wins over the fake one.
    const Bundle b = bundle(row.cfg, row.options);
    ChildEnv childEnv = env();
    if (row.result != nullptr) {
      childEnv.set("FAKE_JLI_RESULT", row.result);
    }
    std::string expected = row.expected;
    if (expected.find("@E") != std::string::npos) {
      expected = replaceAll(expected, "@E", loaderError(b.root + library));
    }
    expected = replaceAll(expected, "@C", b.cfg);
    expected = replaceAll(expected, "@R", b.root);

    const ChildResult result = run(b, {}, childEnv);

    EXPECT_EQ(1, result.exitCode) << result.describe();
    EXPECT_EQ("", result.out);
    EXPECT_EQ(withoutAddresses(expected + "\n"), withoutAddresses(result.err));
  }
}

// Failures of the user options file are rows of BadInputTest.
TEST_F(LauncherEndToEndTest, AppendsTheUsersOwnJvmOptionsOnly) {
  const struct {
    const char* label;
    bool configured;       // the bundle names "$CONFIGDIR/Tool.cfg"
    const char* variable;  // the one set of XDG_CONFIG_HOME and HOME, if any
    bool userFile;
    bool used;
    const char* traced;  // "@U" for the user's file
  } rows[] = {
      {"no such property", false, "XDG_CONFIG_HOME", true, false, ""},
      {"a missing file", true, "XDG_CONFIG_HOME", false, false,
       "User options file \"@U\" not found"},
      {"a file with options", true, "XDG_CONFIG_HOME", true, true,
       "Property \"app.mainclass\" in \"Application\" section of user "
       "options file \"@U\" ignored"},
      {"a file under $HOME/.config", true, "HOME", true, true, ""},
      {"neither variable", true, "", true, false,
       "Property \"app.user-options\" ignored"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const Bundle b = bundle(
        std::string("[Application]\napp.mainclass=a.B\n") +
        (row.configured ? "app.user-options=$CONFIGDIR/Tool.cfg\n" : "") +
        "[JavaOptions]\njava-options=-Xmx64m\n");
    const std::string dir =
        tmp.path() + "/config" + std::to_string(&row - rows);
    const std::string userFile =
        dir + (row.variable == std::string("HOME") ? "/.config" : "") +
        "/Tool/Tool.cfg";
    if (row.userFile) {
      fs::create_directories(fs::path(userFile).parent_path());
      std::ofstream(userFile) << "[JavaOptions]\njava-options=-Xmx256m\n"
                                 "java-options=-Dfrom=$APPDIR\n"
                                 "[Application]\napp.mainclass=other.Main\n";
    }
    ChildEnv childEnv = env().unset("HOME");
    if (*row.variable != '\0') {
      childEnv.set(row.variable, dir);
    }
    std::vector<std::string> expected{b.launcher, "-Xmx64m"};
    if (row.used) {
      expected.insert(expected.end(), {"-Xmx256m", "-Dfrom=" + b.appDir});
    }
    expected.insert(expected.end(),
                    {"-Dwrapkin.app-path=" + b.launcher, "a.B"});

    const ChildResult result = run(b, {}, childEnv);

    EXPECT_EQ(0, result.exitCode) << result.describe();
    ASSERT_EQ(1u, calls().size());
    EXPECT_EQ(expected, fakeJliArgs(calls()[0]));
    const std::string traced =
        run(b, {}, childEnv.set("WRAPKIN_DEBUG", "true")).err;
    EXPECT_NE(std::string::npos,
              traced.find(replaceAll(row.traced, "@U", userFile)))
        << traced;
  }
}

// Log lines with their source line numbers masked, which move with every
// edit.
std::string masked(const std::string& text) {
  return std::regex_replace(
      std::regex_replace(text, std::regex("\\.cpp:[1-9][0-9]*"), ".cpp:L"),
      std::regex("\\.cpp\\([1-9][0-9]*\\)"), ".cpp(L)");
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::string::size_type start = 0;
  for (std::string::size_type end;
       (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    result.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) {
    result.push_back(text.substr(start) + "(no newline)");
  }
  return result;
}

TEST_F(LauncherEndToEndTest, TracesOnlyWhenDebugIsExactlyTrue) {
  const Bundle b = bundle("[Application]\napp.mainclass=a.B\n");
  const std::string lib =
      b.root + "/Contents/runtime/Contents/Home/lib/libjli.dylib";

  for (const char* off : {"TRUE", "1", "true ", "", "yes"}) {
    SCOPED_TRACE(std::string("WRAPKIN_DEBUG=\"") + off + "\"");
    const ChildResult result = run(b, {}, env().set("WRAPKIN_DEBUG", off));
    EXPECT_EQ(0, result.exitCode) << result.describe();
    EXPECT_EQ("", result.out + result.err);
  }

  const ChildResult result = run(b, {"x"}, env().set("WRAPKIN_DEBUG", "true"));
  EXPECT_EQ(0, result.exitCode) << result.describe();
  EXPECT_EQ("", result.out);
  const std::vector<std::string> err = lines(masked(result.err));
  const std::vector<std::string> milestones{
      "[TRACE] app.cpp:L: Entering launch",
      "[TRACE] AppLauncher.cpp:L: Launcher config file path: \"" + b.cfg + "\"",
      "[TRACE] AppLauncher.cpp:L: Property \"app.runtime\" not found in "
      "\"Application\" section of launcher config file. Using Java runtime "
      "from \"" +
          b.root + "/Contents/runtime\" directory",
      "[TRACE] JvmLauncherLib.cpp:L: JVM library: \"" + lib + "\"",
      "jli lib: [" + lib + "]",
      "jli arg[0]: [" + b.launcher + "]",
      "jli arg[1]: [-Dwrapkin.app-path=" + b.launcher + "]",
      "jli arg[2]: [a.B]",
      "jli arg[3]: [x]",
      "env var[0]: DYLD_LIBRARY_PATH=[:" + b.appDir + "]",
      "[TRACE] app.cpp:0: Exiting launch (entered at app.cpp:L)",
  };
  // In this order, with other trace lines between them.
  auto next = err.begin();
  for (const std::string& milestone : milestones) {
    next = std::find(next, err.end(), milestone);
    ASSERT_NE(err.end(), next)
        << "missing or out of order: " << milestone << "\n"
        << result.err;
  }
  EXPECT_EQ(err.end() - 1, next) << result.err;
  for (const std::string& line : err) {
    EXPECT_TRUE(
        std::regex_match(line, std::regex("\\[TRACE\\] .*|jli .*|env var.*")))
        << line;
  }

  // A failure keeps its message line last, after the ERROR record.
  fs::remove(b.cfg);
  const ChildResult failed = run(b, {}, env().set("WRAPKIN_DEBUG", "true"));
  EXPECT_EQ(1, failed.exitCode) << failed.describe();
  const std::vector<std::string> failedErr = lines(masked(failed.err));
  const std::string message =
      "Error opening \"" + b.cfg + "\" file: " + std::strerror(ENOENT);
  ASSERT_GE(failedErr.size(), 3u) << failed.err;
  EXPECT_EQ(
      "[ERROR] app.cpp:L: Exception with message 'CfgFile.cpp(L) at "
      "load(): " +
          message + "' caught",
      failedErr[failedErr.size() - 3]);
  EXPECT_EQ(message, failedErr[failedErr.size() - 2]);
  EXPECT_EQ("[TRACE] app.cpp:0: Exiting launch (entered at app.cpp:L)",
            failedErr.back());
}

}  // namespace
