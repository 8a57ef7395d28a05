// The launcher executable run as a child process in bundles assembled by
// wrapkin-bundle, with the fake runtime library (doubles/FakeJli.cpp) in
// place of the runtime's libjli: it records the JLI_Launch call it gets.

#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "BundleTool.h"
#include "ChildProcess.h"
#include "ClassDataArchives.h"
#include "ExpectedText.h"
#include "FakeJliRecord.h"

namespace fs = std::filesystem;

namespace {

const char* const kExports[] = {"main", "jvmLauncherGetAPI",
                                "jvmLauncherCreateJvmlLauncherData",
                                "jvmLauncherStartJvm", "jvmLauncherLog"};

// The runtime's `java` as the class-data waiter runs it: it appends its
// command line to $FAKE_JAVA_RECORD, a word a line and an empty line after,
// and writes its environment to $FAKE_JAVA_RECORD.env. As the dump
// (-Xshare:dump), it writes an archive where -XX:SharedArchiveFile= says
// or, with FAKE_JAVA_WAIT set, waits until it is ended. As the proof, it
// says it checks the files of the path list $FAKE_JAVA_CHECKS, as a runtime
// of Java 17 does, and fails with FAKE_JAVA_REFUSE set, as a runtime that
// cannot map the archive.
const char kFakeJava[] =
    "#!/bin/sh\n"
    "printf '%s\\n' \"$0\" \"$@\" '' >>\"${FAKE_JAVA_RECORD:-/dev/null}\"\n"
    "env >\"${FAKE_JAVA_RECORD:-/dev/null}.env\"\n"
    "case \" $* \" in *' -Xshare:dump '*) ;; *)\n"
    "  IFS=:; for f in ${FAKE_JAVA_CHECKS:-}; do\n"
    "    echo \"checking shared classpath entry: $f\"; done\n"
    "  exit ${FAKE_JAVA_REFUSE:-0} ;; esac\n"
    "if [ -n \"${FAKE_JAVA_WAIT:-}\" ]; then sleep 60 & wait $!; exit 1; fi\n"
    "for arg; do\n"
    "  case $arg in -XX:SharedArchiveFile=*) printf '\\242\\253\\013\\360' "
    ">\"${arg#*=}\" ;; esac\n"
    "done\n";

// A fake home that --cds accepts, with that `java`.
std::string makeFakeJavaHomeWithJava(const std::string& home) {
  makeFakeJavaHome(home, FAKE_JLI_PATH);
  std::ofstream(home + "/release") << "JAVA_VERSION=\"21\"\n";
  fs::create_directories(home + "/bin");
  std::ofstream(home + "/bin/java") << kFakeJava;
  fs::permissions(home + "/bin/java", fs::perms::owner_all);
  return home;
}

// Runtime homes whose libjli stands in for the runtime's library;
// wrapkin-bundle copies them into Contents/runtime/Contents/Home.
struct FakeRuntimes {
  explicit FakeRuntimes(const std::string& base)
      : jli(makeFakeJavaHome(base + "/fake-jli", FAKE_JLI_PATH)),
        notALibrary(makeFakeJavaHome(base + "/not-a-library", "")),
        withoutJliLaunch(
            makeFakeJavaHome(base + "/without-jli-launch", TEST_LIB_PATH)),
        withJava(makeFakeJavaHomeWithJava(base + "/with-java")) {}

  const std::string jli;
  const std::string notALibrary;
  const std::string withoutJliLaunch;
  const std::string withJava;
};

// What $CACHEDIR stood for in a launch, shown by "-Dcache=$CACHEDIR".
std::string cacheDirOf(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg.rfind("-Dcache=", 0) == 0) {
      return arg.substr(8);
    }
  }
  return "(no -Dcache=)";
}

// `expected` with "@K" for `cacheDir` and "@P" for any process id, against
// `actual`, element by element.
void expectMatching(const std::vector<std::string>& expected,
                    const std::vector<std::string>& actual,
                    const std::string& cacheDir) {
  ASSERT_EQ(expected.size(), actual.size())
      << ::testing::PrintToString(actual);
  for (std::size_t i = 0; i < actual.size(); ++i) {
    const std::string pattern =
        replaceAll(replaceAll(escapedForRegex(expected[i]), "@K",
                              escapedForRegex(cacheDir)),
                   "@P", "[0-9]+");
    EXPECT_TRUE(std::regex_match(actual[i], std::regex(pattern)))
        << actual[i] << " against " << pattern;
  }
}

const char kClassListCds[] =
    "app.cds=$CACHEDIR/T.jsa\n"
    "[JavaOptions]\njava-options=-Dcache=$CACHEDIR\njava-options=-Xmx64m\n"
    "[AppCDSJavaOptions]\njava-options=-XX:SharedArchiveFile=$CACHEDIR/T.jsa\n"
    "java-options=-Xlog:cds=off\n"
    "[AppCDSGenerateCacheJavaOptions]\n"
    "java-options=-XX:DumpLoadedClassList=$CACHEDIR/T.jsa\n";

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
  const std::string colonCache = tmp.path() + "/c:x";
  const std::string sharedCache = tmp.path() + "/shared";
  const ChildEnv withCache = env()
                                 .set("XDG_CACHE_HOME", tmp.path() + "/cache")
                                 .set("HOME", tmp.path() + "/home");
  std::string folder;  // where the archive went, once known
  const auto archive = [&] { return folder + "/T.jsa"; };
  const auto launcherFolder = [&] { return fs::path(folder).parent_path(); };
  // Undoes what the rows below do to the folders.
  const auto restore = [&] {
    fs::permissions(launcherFolder(), fs::perms::owner_all);
    if (fs::is_symlink(folder)) {
      fs::remove(folder);
      fs::rename(folder + ".real", folder);
    }
  };
  struct Row {
    const char* label;
    std::function<void()> before;
    ChildEnv env;
    // "@K" for the cache folder, "@P" for a process id.
    std::vector<std::string> expected;
    // What the trace says instead, when the start gets no options.
    std::string traced;
  };
  std::vector<Row> rows{
      {"no archive yet: the runtime writes a file of the start's own",
       [] {},
       withCache,
       {"-XX:ArchiveClassesAtExit=@K/T.jsa.@P.tmp"},
       ""},
      {"the archive that start made",
       [] {},
       withCache,
       {"-XX:SharedArchiveFile=@K/T.jsa"},
       ""},
      {"the archive truncated",
       [&] { fs::resize_file(archive(), 1000); },
       withCache,
       {"-XX:ArchiveClassesAtExit=@K/T.jsa.@P.tmp"},
       ""},
      {"garbage of the archive's size in its place",
       [&] {
         const auto size = fs::file_size(archive());
         fs::remove(archive());
         std::ofstream(archive()) << std::string(size, 'g');
       },
       withCache,
       {"-XX:ArchiveClassesAtExit=@K/T.jsa.@P.tmp"},
       ""},
      {"the launcher's cache folder writable by its group",
       [&] {
         fs::permissions(launcherFolder(), fs::perms::group_write,
                         fs::perm_options::add);
       },
       withCache,
       {},
       "directory can be written by other users"},
      {"the launcher's cache folder writable by others",
       [&] {
         fs::permissions(launcherFolder(),
                         fs::perms::owner_all | fs::perms::others_write);
       },
       withCache,
       {},
       "directory can be written by other users"},
      {"the user's cache folder writable by others (a shared XDG_CACHE_HOME)",
       [&] {
         restore();
         fs::create_directories(sharedCache);
         fs::permissions(sharedCache, fs::perms::all | fs::perms::sticky_bit);
       },
       env().set("XDG_CACHE_HOME", sharedCache),
       {},
       "\"" + sharedCache + "\" directory can be written by other users"},
      {"a link in the key folder's place",
       [&] {
         restore();
         fs::rename(folder, folder + ".real");
         fs::create_directory_symlink(folder + ".real", folder);
       },
       withCache,
       {},
       "directory is a link"},
      {"JAVA_TOOL_OPTIONS set, whose options the runtime adds",
       restore,
       ChildEnv(withCache).set("JAVA_TOOL_OPTIONS", "-Dx=1"),
       {},
       "JAVA_TOOL_OPTIONS is set"},
      {"a \":\" in the cache folder",
       [] {},
       env().set("XDG_CACHE_HOME", colonCache),
       {},
       "which the runtime takes for the end of an archive's path"},
      {"a file where the cache folder would be",
       [] {},
       env().set("XDG_CACHE_HOME", aFile).set("HOME", aFile),
       {},
       "No class-data options: cannot create \"" + aFile + "/Tool/"},
      {"no cache folder at all", [] {}, env().unset("HOME"), {}, ""},
  };
  if (geteuid() == 0) {
    rows.insert(rows.begin() + 8,
                {"the key folder owned by another user",
                 [&] {
                   restore();
                   ASSERT_EQ(0, chown(folder.c_str(), 65534, 65534));
                 },
                 withCache,
                 {},
                 "directory belongs to another user"});
  }
  for (const Row& row : rows) {
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
    expectMatching(row.expected,
                   std::vector<std::string>(
                       args.begin() + 2,
                       std::find(args.begin(), args.end(),
                                 "-Dwrapkin.app-path=" + b.launcher)),
                   cacheDir);
    if (!row.traced.empty()) {
      const std::string traced =
          run(b, {}, ChildEnv(row.env).set("WRAPKIN_DEBUG", "true")).err;
      EXPECT_NE(std::string::npos, traced.find(row.traced)) << traced;
    }
  }
  // The cache folders are the user's alone.
  EXPECT_EQ(fs::perms::owner_all,
            fs::status(folder).permissions() & fs::perms::all);
  // A start that cannot keep an archive leaves no mark of a failure.
  EXPECT_FALSE(fs::exists(colonCache));
}

// Every input that a class-data archive must fit changes the key, and so
// $CACHEDIR: the runtime refuses an archive whose jars, JVM options or
// runtime differ from those it was made with.
TEST_F(LauncherEndToEndTest, TheCacheFolderFollowsWhatTheArchiveMustFit) {
  const std::string in = tmp.path() + "/in";
  fs::create_directories(in + "/lib");
  fs::create_directories(in + "/mods");
  std::ofstream(in + "/a.jar") << "a";
  std::ofstream(in + "/lib/b.jar") << "b";
  std::ofstream(in + "/mods/m.jar") << "m";
  const Bundle b = bundle(
      "[Application]\napp.mainclass=a.B\napp.cds=$CACHEDIR/T.jsa\n"
      "app.classpath=$APPDIR/a.jar\napp.classpath=$APPDIR/lib/*\n"
      "app.modulepath=$APPDIR/mods\napp.user-options=$CONFIGDIR/Tool.cfg\n"
      "[JavaOptions]\njava-options=-Dcache=$CACHEDIR\n",
      {"--app-file", in + "/a.jar", "--app-file", in + "/lib", "--app-file",
       in + "/mods"});
  const std::string config = tmp.path() + "/config";
  const std::string userOptions = config + "/Tool/Tool.cfg";
  fs::create_directories(config + "/Tool");
  std::ofstream(userOptions) << "[JavaOptions]\njava-options=-Xmx256m\n";
  const std::string classImage =
      b.root + "/Contents/runtime/Contents/Home/lib/modules";
  std::ofstream(classImage) << "image";
  const ChildEnv withCache = env()
                                 .set("XDG_CACHE_HOME", tmp.path() + "/cache")
                                 .set("XDG_CONFIG_HOME", config);
  const auto key = [&] {
    EXPECT_EQ(0, run(b, {}, withCache).exitCode);
    return calls().empty() ? std::string() : cacheDirOf(fakeJliArgs(calls()[0]));
  };
  const auto rebuilt = [](const std::string& path) {
    fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(1));
  };
  // With the size changed and the time kept.
  const auto rewritten = [](const std::string& path, const std::string& text) {
    const fs::file_time_type time = fs::last_write_time(path);
    std::ofstream(path) << text;
    fs::last_write_time(path, time);
  };
  const struct {
    const char* label;
    std::function<void()> change;
  } rows[] = {
      {"a class path jar rebuilt with the same size",
       [&] { rebuilt(b.appDir + "/a.jar"); }},
      {"a class path jar of another size, of the same time",
       [&] { rewritten(b.appDir + "/a.jar", "aa"); }},
      {"a jar added to a \"*\" class path folder",
       [&] { std::ofstream(b.appDir + "/lib/c.jar") << "c"; }},
      {"a jar in a \"*\" class path folder rebuilt",
       [&] { rebuilt(b.appDir + "/lib/b.jar"); }},
      {"a jar in a module path folder rebuilt",
       [&] { rebuilt(b.appDir + "/mods/m.jar"); }},
      {"a user's JVM option, in a file of the same size and time",
       [&] {
         rewritten(userOptions, "[JavaOptions]\njava-options=-Xmx512m\n");
       }},
      {"the runtime's class image updated", [&] { rebuilt(classImage); }},
  };
  std::set<std::string> keys{key()};
  ASSERT_EQ(keys, std::set<std::string>{key()}) << "the key of an unchanged start";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    row.change();
    EXPECT_TRUE(keys.insert(key()).second);
  }
}

// The words of each command that the stand-in `java` recorded.
std::vector<std::vector<std::string>> recordedCommands(
    const std::string& file) {
  std::vector<std::vector<std::string>> commands(1);
  std::istringstream recorded(childprocess::readFile(file));
  for (std::string line; std::getline(recorded, line);) {
    if (line.empty()) {
      commands.emplace_back();
    } else {
      commands.back().push_back(line);
    }
  }
  commands.pop_back();
  return commands;
}

// The class list that a start writes becomes an archive once the start has
// ended: a waiter runs the runtime's `java` with the start's module path,
// class path, JVM options and entry point, and nothing else of the
// application's: no arguments or splash screen, and none of the variables
// with which `java` and the JVM add options; -Xshare:dump ends it before it
// runs anything. Then the runtime shows it maps the archive into such a
// start, without running it.
TEST_F(LauncherEndToEndTest, TheDumpAndItsProofHaveTheStartsShape) {
  const std::string splash = tmp.path() + "/splash.png";
  std::ofstream(splash) << "png";
  const std::string javaRecord = tmp.path() + "/java";
  const struct {
    const char* label;
    std::string application;
    // "@A" for the app folder; before the options of the start's own, and
    // after them for the dump and for the proof.
    std::vector<std::string> before;
    std::vector<std::string> dumpEntry;
    std::vector<std::string> proofBefore;
    std::vector<std::string> proofEntry;
  } rows[] = {
      {"a main jar, which -jar makes the whole class path",
       "app.mainjar=$APPDIR/main.jar\napp.classpath=$APPDIR/a.jar\n",
       {"-cp", "@A/main.jar"},
       {},
       {"-cp", "@A/a.jar"},
       {"-Djava.awt.headless=true", "-jar", "@A/main.jar"}},
      {"a main module",
       "app.mainmodule=mod/pkg.Main\napp.modulepath=$APPDIR/mods\n"
       "app.classpath=$APPDIR/a.jar\n",
       {"--module-path", "@A/mods", "-cp", "@A/a.jar"},
       {"-m", "mod/pkg.Main"},
       {"--module-path", "@A/mods", "-cp", "@A/a.jar"},
       {"-m", "mod/pkg.Main"}},
      {"a main class, which makes a main jar an argument",
       "app.mainclass=pkg.Main\napp.mainjar=$APPDIR/main.jar\n"
       "app.classpath=$APPDIR/a.jar\n",
       {"-cp", "@A/a.jar"},
       {"pkg.Main"},
       {"-cp", "@A/a.jar"},
       {"pkg.Main"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const std::string cache = tmp.path() + "/cache" + std::to_string(&row - rows);
    fs::remove(javaRecord);
    const Bundle b = bundle("[Application]\napp.splash=$APPDIR/splash.png\n" +
                                row.application + kClassListCds +
                                "[ArgOptions]\narguments=first\n",
                            {"--java-home", runtimes.withJava, "--app-file",
                             splash});
    const ChildEnv withCache = env()
                                   .set("XDG_CACHE_HOME", cache)
                                   .set("FAKE_JAVA_RECORD", javaRecord)
                                   .set("JDK_JAVA_OPTIONS", "-Dx=1");

    ASSERT_EQ(0, run(b, {"one"}, withCache).exitCode);
    ASSERT_EQ(1u, completedArchives(cache).size());

    const auto expected = [&](const std::vector<std::string>& before,
                              const std::vector<std::string>& share,
                              const std::vector<std::string>& entry) {
      std::vector<std::string> words{
          b.root + "/Contents/runtime/Contents/Home/bin/java"};
      for (const auto* part : {&before, &share, &entry}) {
        for (const std::string& word : *part) {
          words.push_back(replaceAll(word, "@A", b.appDir));
        }
      }
      return words;
    };
    const std::vector<std::vector<std::string>> commands =
        recordedCommands(javaRecord);
    ASSERT_EQ(2u, commands.size());
    const std::string cacheDir = cacheDirOf(commands[0]);
    const std::vector<std::string> options{
        "-Dcache=@K", "-Xmx64m", "-XX:SharedArchiveFile=@K/T.jsa.@P.dump",
        "-Xlog:cds=off"};
    std::vector<std::string> dumping = options;
    dumping.insert(dumping.end(),
                   {"-Xshare:dump", "-XX:SharedClassListFile=@K/T.jsa.@P.tmp"});
    expectMatching(expected(row.before, dumping, row.dumpEntry), commands[0],
                   cacheDir);
    std::vector<std::string> proving = options;
    proving.insert(
        proving.end(),
        {"-Xshare:on", "-Xlog:class+path=info:stdout:none", "--dry-run"});
    expectMatching(expected(row.proofBefore, proving, row.proofEntry),
                   commands[1], cacheDir);
    const std::string dumpEnv = childprocess::readFile(javaRecord + ".env");
    for (const char* name : {"JDK_JAVA_OPTIONS=", "WRAPKIN_CLASS_DATA_WAITER="}) {
      EXPECT_EQ(std::string::npos, dumpEnv.find(name)) << name;
    }

    ASSERT_EQ(0, run(b, {}, withCache).exitCode);
    const std::vector<std::string> args = fakeJliArgs(calls().at(0));
    EXPECT_NE(args.end(), std::find(args.begin(), args.end(),
                                    "-XX:SharedArchiveFile=" + cacheDir + "/T.jsa"))
        << ::testing::PrintToString(args);
  }
}

// An archive is complete only once the runtime has shown that it maps it
// (the stand-in's proof refuses it with FAKE_JAVA_REFUSE); a refusal counts
// as a failed attempt, which the next day's starts try again. The record of a
// complete archive notes the files beyond the key that the runtime checks
// before it maps the archive, such as a jar that a manifest's Class-Path
// names: when one changes, the archive is made anew.
TEST_F(LauncherEndToEndTest, AnArchiveIsCompleteOnlyOnceTheRuntimeMapsIt) {
  const std::string in = tmp.path() + "/in";
  fs::create_directories(in);
  std::ofstream(in + "/a.jar") << "a";
  const Bundle b =
      bundle("[Application]\napp.mainclass=a.B\napp.classpath=$APPDIR/a.jar\n" +
                 std::string(kClassListCds),
             {"--java-home", runtimes.withJava, "--app-file", in + "/a.jar"});
  const std::string dep = b.appDir + "/dep.jar";
  std::ofstream(dep) << "dep";
  const std::string cache = tmp.path() + "/cache";
  // The key follows a.jar already: the record notes dep.jar alone.
  const ChildEnv withCache =
      env()
          .set("XDG_CACHE_HOME", cache)
          .set("FAKE_JAVA_CHECKS", b.appDir + "/a.jar:" + dep);
  const auto classDataOption = [&](const ChildEnv& childEnv) {
    EXPECT_EQ(0, run(b, {}, childEnv).exitCode);
    for (const std::string& arg : fakeJliArgs(calls().at(0))) {
      if (arg.rfind("-XX:", 0) == 0) {
        return arg.substr(0, arg.find('='));
      }
    }
    return std::string("(none)");
  };
  const auto traced = [&] {
    return run(b, {}, ChildEnv(withCache).set("WRAPKIN_DEBUG", "true")).err;
  };

  // A start that ended before its runtime wrote the class list is no
  // failure to make the archive.
  EXPECT_EQ("-XX:DumpLoadedClassList",
            classDataOption(ChildEnv(withCache).set("FAKE_JLI_EXIT", "0")));
  EXPECT_EQ("-XX:DumpLoadedClassList",
            classDataOption(ChildEnv(withCache).set("FAKE_JAVA_REFUSE", "1")));
  EXPECT_TRUE(completedArchives(cache).empty());
  EXPECT_NE(std::string::npos, traced().find("failed within the last day"));

  const std::string archive = cacheDirOf(fakeJliArgs(calls().at(0))) + "/T.jsa";
  fs::remove(archive + ".failed");
  EXPECT_EQ("-XX:DumpLoadedClassList", classDataOption(withCache));
  ASSERT_EQ(1u, completedArchives(cache).size());
  const std::string done = childprocess::readFile(archive + ".done");
  EXPECT_EQ(2, std::count(done.begin(), done.end(), '\n')) << done;
  EXPECT_EQ("-XX:SharedArchiveFile", classDataOption(withCache));

  fs::last_write_time(dep, fs::last_write_time(dep) + std::chrono::seconds(1));
  EXPECT_NE(std::string::npos,
            traced().find("\"" + archive + "\" made before \"" + dep +
                          "\" changed: adding the options of "
                          "\"AppCDSGenerateCacheJavaOptions\""));
  ASSERT_EQ(1u, completedArchives(cache).size());
  EXPECT_EQ("-XX:SharedArchiveFile", classDataOption(withCache));
}

// `ps` on the process `pid` for one field, without its header and blanks.
std::string processField(pid_t pid, const std::string& field) {
  std::istringstream out(
      runChild({"/bin/sh", "-c",
                "exec ps -o " + field + "= -p " + std::to_string(pid)},
               ChildEnv::clean())
          .out);
  std::string value;
  out >> value;
  return value;
}

// Whether a process of group `group` is alive (not a zombie).
bool isGroupAlive(pid_t group) {
  std::istringstream table(
      runChild({"/bin/sh", "-c", "exec ps -A -o pgid= -o stat="},
               ChildEnv::clean())
          .out);
  for (long id; table >> id;) {
    std::string state;
    table >> state;
    if (id == group && state[0] != 'Z') {
      return true;
    }
  }
  return false;
}

// The process left behind by a start that wrote a class list: the waiter,
// in a session of its own, at low priority, small, holding no descriptor of
// the application's, named for what it does. SIGTERM ends it and the dump,
// and the next start cleans up after them.
TEST_F(LauncherEndToEndTest, TheProcessLeftBehindIsSmallAndEndsOnSigterm) {
  const Bundle b =
      bundle(std::string("[Application]\napp.mainclass=a.B\n") + kClassListCds,
             {"--java-home", runtimes.withJava});
  const std::string cache = tmp.path() + "/cache";
  const ChildEnv withCache = env().set("XDG_CACHE_HOME", cache);
  ASSERT_EQ(0, run(b, {},
                   ChildEnv(withCache)
                       .set("FAKE_JAVA_WAIT", "1")
                       .set("FAKE_JLI_KEEP_OPEN", b.cfg))
                   .exitCode);
  const std::vector<std::string> args = fakeJliArgs(calls().at(0));
  const std::string archive = cacheDirOf(args) + "/T.jsa";
  const std::string classList = args.at(3).substr(args.at(3).find('=') + 1);

  const std::string title = "Tool (class-data archive) " + archive + " ";
  pid_t waiter = 0;
  std::istringstream table(
      runChild({"/bin/sh", "-c", "exec ps -A -ww -o pid= -o args="},
               ChildEnv::clean())
          .out);
  for (std::string line; waiter == 0 && std::getline(table, line);) {
    const std::string::size_type at = line.find(title);
    if (at != std::string::npos && line.find_first_not_of(' ') < at) {
      waiter = static_cast<pid_t>(std::stol(line));
    }
  }
  ASSERT_NE(0, waiter) << "no process \"" << title << "...\"";
  // It lowers its priority first thing.
  const auto settled =
      std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (processField(waiter, "nice") != "10" &&
         std::chrono::steady_clock::now() < settled) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ("10", processField(waiter, "nice"));
  EXPECT_LT(std::stol(processField(waiter, "rss")), 64 * 1024) << "KiB";
  EXPECT_EQ(std::to_string(waiter), processField(waiter, "pgid"));
#if defined(__linux__)
  EXPECT_EQ(std::to_string(waiter), processField(waiter, "sid"));
  std::map<int, std::string> descriptors;
  const std::string fds = "/proc/" + std::to_string(waiter) + "/fd";
  for (const auto& entry : fs::directory_iterator(fds)) {
    descriptors[std::stoi(entry.path().filename().string())] =
        fs::read_symlink(entry.path()).string();
  }
  EXPECT_EQ((std::map<int, std::string>{{0, "/dev/null"},
                                        {1, "/dev/null"},
                                        {2, "/dev/null"},
                                        {3, archive + ".lock"}}),
            descriptors);
#endif

  // Meanwhile another start finds the archive being made.
  ASSERT_EQ(0, run(b, {}, withCache).exitCode);
  EXPECT_EQ((std::vector<std::string>{b.launcher, args.at(1), "-Xmx64m",
                                      "-Dwrapkin.app-path=" + b.launcher,
                                      "a.B"}),
            fakeJliArgs(calls().at(0)));

  ASSERT_EQ(0, kill(waiter, SIGTERM));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (isGroupAlive(waiter) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_FALSE(isGroupAlive(waiter));
  EXPECT_TRUE(fs::exists(classList));

  ASSERT_EQ(0, run(b, {}, withCache).exitCode);
  EXPECT_EQ(0u, fakeJliArgs(calls().at(0)).at(3).rfind("-XX:DumpLoadedClassList=", 0));
  EXPECT_FALSE(fs::exists(classList));
  EXPECT_EQ(1u, completedArchives(cache).size());
}

// A ":" in the launcher's name, as the Finder stores a "/" (wrapkin-bundle
// refuses such a name; another packager may not), reaches no archive path:
// the runtime would cut the path there.
TEST_F(LauncherEndToEndTest, AColonInTheLaunchersNameReachesNoArchivePath) {
  const std::string cache = tmp.path() + "/cache";
  Bundle b = bundle(std::string("[Application]\napp.mainclass=a.B\n") +
                        kClassListCds,
                    {"--java-home", runtimes.withJava}, "ACDC");
  fs::rename(b.cfg, b.appDir + "/AC:DC.cfg");
  const std::string launcher = b.root + "/Contents/MacOS/AC:DC";
  fs::rename(b.launcher, launcher);
  b.launcher = launcher;

  ASSERT_EQ(0, run(b, {}, env().set("XDG_CACHE_HOME", cache)).exitCode);

  const std::vector<std::string> args = fakeJliArgs(calls().at(0));
  const std::string cacheDir = cacheDirOf(args);
  EXPECT_EQ(0u, cacheDir.find(cache + "/AC_DC/")) << cacheDir;
  expectMatching({b.launcher, "-Dcache=@K", "-Xmx64m",
                  "-XX:DumpLoadedClassList=@K/T.jsa.@P.tmp",
                  "-Dwrapkin.app-path=" + b.launcher, "a.B"},
                 args, cacheDir);
  EXPECT_EQ(1u, completedArchives(cache).size());
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
