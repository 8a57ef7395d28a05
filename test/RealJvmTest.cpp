// The launcher executable starting real Java runtimes: every runtime on the
// machine (tools/find-java-homes), each linked into a bundle by
// wrapkin-bundle (copied or made by jlink where the bundle's own runtime is
// the point), runs the probe program (test/java/probe), which reports what
// it was started with.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "BundleTool.h"
#include "ChildProcess.h"
#include "ClassDataArchives.h"
#include "JarFiles.h"
#include "StartLogs.h"
#include "ZipFiles.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> result;
  std::string::size_type start = 0;
  for (std::string::size_type end;
       (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    result.push_back(text.substr(start, end - start));
  }
  return result;
}

// The Java runtime homes on this machine; none without `java` on the PATH.
const std::vector<std::string>& javaHomes() {
  static const std::vector<std::string> homes = [] {
    const ChildResult found =
        runChild({std::string(WRAPKIN_SOURCE_DIR) + "/tools/find-java-homes"},
                 ChildEnv::clean());
    return found.exitCode == 0 ? splitLines(found.out)
                               : std::vector<std::string>();
  }();
  return homes;
}

bool hasJavac() {
  return runChild({"/bin/sh", "-c", "command -v javac"}, ChildEnv::clean())
             .exitCode == 0;
}

// The compiled probe. The test run compiles it once before these tests
// (the build-probe fixture); a run of the test program by hand compiles it
// on first use.
std::string probeDir() {
  static bool built = fs::exists(std::string(WRAPKIN_PROBE_DIR) + "/newer");
  if (!built) {
    runTool("test/java/build-probe", {WRAPKIN_PROBE_DIR});
    built = true;
  }
  return WRAPKIN_PROBE_DIR;
}

// What the probe reported.
struct ProbeReport {
  std::string main;
  std::vector<std::string> jvmOptions;
  std::vector<std::string> args;
  std::string property(const std::string& name) const {
    for (const std::string& line : properties) {
      if (line.compare(0, name.size() + 1, name + "=") == 0) {
        return line.substr(name.size() + 1);
      }
    }
    return "(not reported)";
  }
  std::vector<std::string> properties;
  long long maxMemory = -1;
  bool complete = false;
};

ProbeReport parseReport(const std::string& out) {
  ProbeReport report;
  for (const std::string& line : splitLines(out)) {
    const std::string::size_type eq = line.find('=');
    const std::string key = line.substr(0, eq);
    const std::string value =
        eq == std::string::npos ? std::string() : line.substr(eq + 1);
    if (key == "main") {
      report.main = value;
    } else if (key == "jvm-option") {
      report.jvmOptions.push_back(value);
    } else if (key == "arg") {
      report.args.push_back(value);
    } else if (key == "max-memory") {
      report.maxMemory = std::stoll(value);
    } else if (key.compare(0, 9, "property.") == 0) {
      report.properties.push_back(line.substr(9));
    } else if (line == "end") {
      report.complete = true;
    }
  }
  return report;
}

// Whether `wanted` appear in `all` in this order, others between them.
bool inOrder(const std::vector<std::string>& wanted,
             const std::vector<std::string>& all) {
  auto next = all.begin();
  for (const std::string& item : wanted) {
    next = std::find(next, all.end(), item);
    if (next == all.end()) {
      return false;
    }
    ++next;
  }
  return true;
}

class RealJvmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (javaHomes().empty()) {
      GTEST_SKIP() << "No Java runtime on this machine (no `java` on the "
                      "PATH): nothing to launch";
    }
    if (!fs::exists(std::string(WRAPKIN_PROBE_DIR) + "/probe.jar") &&
        !hasJavac()) {
      GTEST_SKIP() << "No `javac` on the PATH to compile the probe program";
    }
    probe = probeDir();
  }

  // A bundle for `home` running the probe in one of its four shapes, with
  // the bundle tool's options `more`: links to the runtime unless they say
  // otherwise.
  Bundle bundle(const std::string& home, const std::string& shape,
                const std::vector<std::string>& more = {"--link-runtime"}) {
    std::vector<std::string> options{"--java-home",   home,
                                     "--java-option", "-Dtest.plain=1",
                                     "--java-option", "-Dtest.blank=a b",
                                     "--java-option", "-Dtest.appdir=$APPDIR",
                                     "--java-option", "-Xss2m",
                                     "--argument",    "default",
                                     "--argument",    "$APPDIR/arg"};
    if (shape == "class path") {
      options.insert(options.end(), {"--class-path", probe + "/classes",
                                     "--main-class", "wrapkin.probe.Probe"});
    } else if (shape == "jar") {
      options.insert(options.end(), {"--main-jar", probe + "/probe.jar"});
    } else if (shape == "jar and class path") {
      // The main class comes from the jar's manifest, which jar deflates.
      options.insert(options.end(), {"--main-jar", probe + "/probe.jar",
                                     "--class-path", probe + "/classes"});
    } else {
      options.insert(options.end(),
                     {"--module-path", probe + "/mods", "--main-module",
                      "wrapkin.probe/wrapkin.probe.Probe"});
    }
    options.insert(options.end(), more.begin(), more.end());
    const std::string out = tmp.path() + "/" + std::to_string(++bundles);
    return makeBundle(out, "Probe", options);
  }

  static ChildResult run(const std::string& launcher,
                         const std::vector<std::string>& args = {},
                         ChildEnv env = ChildEnv::clean(),
                         ErrorOutput errorOutput = ErrorOutput::File) {
    std::vector<std::string> argv{launcher};
    argv.insert(argv.end(), args.begin(), args.end());
    // LeakSanitizer fails at the exit of a process that ran a JVM.
    return runChild(argv, env.addAsanOptions("detect_leaks=0"),
                    std::chrono::seconds(120), errorOutput);
  }

  const CanonicalTempDir tmp;
  std::string probe;
  int bundles = 0;
};

TEST_F(RealJvmTest, RunsTheApplicationInEachShapeOnEveryRuntime) {
  const struct {
    const char* shape;
    const char* main;
    const char* classPath;  // under the app folder, entries after ":"
  } rows[] = {
      {"class path", "unnamed/wrapkin.probe.Probe", "/classes"},
      {"jar", "unnamed/wrapkin.probe.Probe", "/probe.jar"},
      {"jar and class path", "unnamed/wrapkin.probe.Probe",
       "/probe.jar:/classes"},
      {"module", "wrapkin.probe/wrapkin.probe.Probe", nullptr},
  };
  for (const std::string& home : javaHomes()) {
    for (const auto& row : rows) {
      SCOPED_TRACE(home + ", " + row.shape);
      const Bundle b = bundle(home, row.shape);

      const ChildResult result = run(b.launcher);

      ASSERT_EQ(0, result.exitCode) << result.describe();
      const ProbeReport report = parseReport(result.out);
      EXPECT_TRUE(report.complete) << result.out;
      EXPECT_EQ(row.main, report.main);
      std::vector<std::string> options{"-Dtest.plain=1", "-Dtest.blank=a b",
                                       "-Dtest.appdir=" + b.appDir, "-Xss2m",
                                       "-Dwrapkin.app-path=" + b.launcher};
      if (row.classPath == nullptr) {
        options.insert(options.begin(), "--module-path=" + b.appDir + "/mods");
        EXPECT_EQ("wrapkin.probe", report.property("jdk.module.main"));
      } else {
        std::string classPath = b.appDir;
        for (const char* c = row.classPath; *c != '\0'; ++c) {
          classPath += *c == ':' ? ":" + b.appDir : std::string(1, *c);
        }
        EXPECT_EQ(classPath, report.property("java.class.path"));
      }
      EXPECT_TRUE(inOrder(options, report.jvmOptions))
          << ::testing::PrintToString(report.jvmOptions);
      EXPECT_EQ("a b", report.property("test.blank"));
      EXPECT_EQ(b.launcher, report.property("wrapkin.app-path"));
      // The runtime may report its home through the bundle's links.
      EXPECT_EQ(fs::path(home),
                fs::weakly_canonical(report.property("java.home")));
      EXPECT_EQ((std::vector<std::string>{"default", b.appDir + "/arg"}),
                report.args);
    }
  }
}

// A runtime of the bundle's own: a copy of the Java home, and one that the
// home's jlink made with the modules that jdeps found the probe needs (from
// jmods, or from its own run-time image where it has none).
TEST_F(RealJvmTest, StartsOnARuntimeOfItsOwn) {
  const struct {
    const char* label;
    std::vector<std::string> options;
  } runtimes[] = {{"copied", {}}, {"made by jlink", {"--jlink"}}};
  for (const std::string& home : javaHomes()) {
    for (const auto& runtime : runtimes) {
      SCOPED_TRACE(home + ", " + runtime.label);
      const Bundle b = bundle(home, "jar", runtime.options);

      const ChildResult result = run(b.launcher);

      ASSERT_EQ(0, result.exitCode) << result.describe();
      const ProbeReport report = parseReport(result.out);
      EXPECT_TRUE(report.complete) << result.out;
      EXPECT_EQ(b.root + "/Contents/runtime/Contents/Home",
                report.property("java.home"));
    }
  }
}

// A Java home of links to the entries of `home`, whose jlink makes a
// runtime of the same modules once, with the home's jlink, and links each
// bundle's runtime to it: jlink takes seconds a runtime.
std::string homeWithSharedJlink(const std::string& home,
                                const std::string& mirror) {
  fs::create_directories(mirror + "/bin");
  for (const auto& entry : fs::directory_iterator(home)) {
    if (entry.path().filename() != "bin") {
      fs::create_symlink(entry.path(),
                         fs::path(mirror) / entry.path().filename());
    }
  }
  for (const auto& entry : fs::directory_iterator(home + "/bin")) {
    if (entry.path().filename() != "jlink") {
      fs::create_symlink(entry.path(),
                         fs::path(mirror) / "bin" / entry.path().filename());
    }
  }
  const std::string jlink = mirror + "/bin/jlink";
  std::ofstream(jlink) << "#!/bin/sh\njlink='" << home
                       << "/bin/jlink'\nruntimes='" << mirror << "/runtimes'\n"
                       << R"(for a; do
  case $previous in --add-modules) modules=$a;; --output) out=$a;; esac
  previous=$a
done
[ -z "$out" ] && exec "$jlink" "$@"
if [ ! -d "$runtimes/$modules" ]; then
  "$jlink" "$@" && mkdir -p "$runtimes" && mv "$out" "$runtimes/$modules" ||
    exit 1
fi
mkdir -p "$out/lib" && cd "$runtimes/$modules" && for e in *; do
  [ "$e" = lib ] || ln -s "$PWD/$e" "$out"
done && ln -s "$PWD"/lib/* "$out/lib"
)";
  fs::permissions(jlink, fs::perms::owner_all);
  return mirror;
}

// The files under `folder` as entries of a jar, without the module's
// descriptor unless `modular`: a plain jar of the same classes.
std::vector<JarEntry> jarEntries(const std::string& folder, bool modular) {
  std::vector<JarEntry> entries;
  for (const auto& file : fs::recursive_directory_iterator(folder)) {
    const std::string name =
        file.path().lexically_relative(folder).generic_string();
    if (file.is_regular_file() && (modular || name != "module-info.class")) {
      entries.emplace_back(name, childprocess::readFile(file.path()));
    }
  }
  return entries;
}

// --jlink without modules asks jdeps as the application runs, and each kind
// of application gets a runtime that starts it: a jar with others on its
// class path; modules on the module path; and modular jars on the class
// path, as JavaFX's are, one of them requiring a module that the class path
// holds as a plain jar, as libraries often are (Automatic-Module-Name). A
// single jar is StartsOnARuntimeOfItsOwn's, which links on every runtime;
// these rows, seconds each, take the first: what the tool asks jdeps does
// not depend on the runtime, and jdeps answered the same on each here.
TEST_F(RealJvmTest, JlinkFindsWhatEachKindOfApplicationNeeds) {
  const std::string jars = tmp.path() + "/jars";
  const std::string manifest = "Main-Class: wrapkin.kinds.app.Main\n";
  for (const char* module : {"app", "base", "controls", "log"}) {
    const std::string classes = probe + "/kinds/wrapkin.kinds." + module;
    std::vector<JarEntry> plain = jarEntries(classes, false);
    if (std::string(module) == "app") {
      plain.insert(plain.begin(), {"META-INF/MANIFEST.MF", manifest});
    } else if (std::string(module) == "log") {
      plain.insert(plain.begin(),
                   {"META-INF/MANIFEST.MF",
                    "Automatic-Module-Name: wrapkin.kinds.log\n"});
    }
    writeJar(jars + "/plain/" + module + ".jar", plain);
    writeJar(jars + "/modular/" + module + ".jar", jarEntries(classes, true));
  }
  const struct {
    const char* label;
    std::vector<std::string> options;
  } rows[] = {
      {"a jar with a class path",
       {"--main-jar", jars + "/plain/app.jar", "--class-path",
        jars + "/plain/base.jar", "--class-path", jars + "/plain/controls.jar",
        "--class-path", jars + "/plain/log.jar"}},
      {"modules",
       {"--module-path", jars + "/modular", "--main-module",
        "wrapkin.kinds.app/wrapkin.kinds.app.Main"}},
      {"modular jars on the class path",
       {"--main-jar", jars + "/plain/app.jar", "--class-path",
        jars + "/modular/base.jar", "--class-path",
        jars + "/modular/controls.jar", "--class-path",
        jars + "/plain/log.jar"}},
  };
  const std::string home =
      homeWithSharedJlink(javaHomes().front(), tmp.path() + "/home");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    std::vector<std::string> options{"--java-home", home, "--jlink"};
    options.insert(options.end(), row.options.begin(), row.options.end());
    const Bundle b = makeBundle(tmp.path() + "/" + std::to_string(++bundles),
                                "Kinds", options);

    const ChildResult result = run(b.launcher);

    EXPECT_EQ(0, result.exitCode) << result.describe();
    EXPECT_EQ(0u, result.out.rfind("kinds wrapkin.kinds Point2D", 0))
        << result.out;
  }
}

// The bundle tool reads a main jar's manifest as the runtime does: it takes
// a jar that `java -jar` starts, with the main class that it starts, and
// refuses one that `java -jar` does not start.
TEST_F(RealJvmTest, TheBundleToolReadsAManifestAsTheRuntimeDoes) {
  const std::string main = "Main-Class: wrapkin.probe.Probe\n";
  const struct {
    const char* label;
    std::vector<JarEntry> manifests;
    bool starts;
  } rows[] = {
      {"the second of two",
       {{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\n"},
        {"META-INF/MANIFEST.MF", main}},
       true},
      {"the last in any case, continued",
       {{"META-INF/MANIFEST.MF", "Main-Class: wrapkin.None\n"},
        {"meta-inf/manifest.mf", "main-class: wrapkin.probe.Pro\n be \n"}},
       true},
      {"none in exact case", {{"Meta-Inf/Manifest.MF", main}}, false},
      {"a last line without a line end",
       {{"META-INF/MANIFEST.MF",
         "Manifest-Version: 1.0\r\n" + main.substr(0, main.size() - 1)}},
       false},
      {"a continuation without a line end where the launcher reads",
       {{"META-INF/MANIFEST.MF", "X: 1\n 2"}, {"meta-inf/manifest.mf", main}},
       false},
  };
  const std::string probeClass =
      childprocess::readFile(probe + "/classes/wrapkin/probe/Probe.class");
  int jars = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const std::string jar = tmp.path() + "/" + std::to_string(++jars) + ".jar";
    std::vector<JarEntry> entries = row.manifests;
    entries.emplace_back("wrapkin/probe/Probe.class", probeClass);
    writeJar(jar, entries);
    for (const std::string& home : javaHomes()) {
      const ChildResult java =
          runChild({home + "/bin/java", "-jar", jar}, ChildEnv::clean());
      EXPECT_EQ(row.starts, java.exitCode == 0) << home << java.describe();
    }
    const std::string out = tmp.path() + "/out" + std::to_string(jars);
    const ChildResult byJar =
        runChild({WRAPKIN_BUNDLE, "--name", "P", "--launcher", WRAPKIN_LAUNCHER,
                  "--out", out, "--omit", "runtime", "--main-jar", jar},
                 ChildEnv::clean());
    EXPECT_EQ(row.starts, byJar.exitCode == 0) << byJar.describe();
    if (row.starts) {
      const ChildResult onClassPath =
          runChild({WRAPKIN_BUNDLE, "--name", "P", "--launcher",
                    WRAPKIN_LAUNCHER, "--out", out, "--omit", "runtime",
                    "--main-jar", jar, "--class-path", probe + "/classes"},
                   ChildEnv::clean());
      ASSERT_EQ(0, onClassPath.exitCode) << onClassPath.describe();
      EXPECT_NE(std::string::npos,
                childprocess::readFile(out + "/P.app/Contents/app/P.cfg")
                    .find("\napp.mainclass=wrapkin.probe.Probe\n"));
    }
  }
}

// --sign signs a native library inside the jar and writes it back (here
// with the stand-in codesign of test/doubles/apple-tools): the runtime runs
// the jar, its jar tool reads every entry back by the headers before the
// data, and every other entry keeps its bytes.
TEST_F(RealJvmTest, RunsAJarWhoseNativeCodeWasSigned) {
  const std::string jarTool = javaHomes()[0] + "/bin/jar";
  const std::string jar = tmp.path() + "/app.jar";
  const std::string library = "\xCF\xFA\xED\xFE a library";
  const std::string natives = tmp.path() + "/natives";
  fs::create_directories(natives + "/lib");
  std::ofstream(natives + "/lib/libfake.dylib") << library;
  std::ofstream(natives + "/readme.txt") << "after the library";
  fs::copy_file(probe + "/probe.jar", jar);
  runProgram(jarTool, {"--update", "--file", jar, "-C", natives,
                       "lib/libfake.dylib", "-C", natives, "readme.txt"});
  const std::vector<ZipRecord> original =
      zipRecords(childprocess::readFile(jar));
  const auto libraryRecord = [](const std::vector<ZipRecord>& records) {
    return std::find_if(records.begin(), records.end(), [](const auto& r) {
      return r.name == "lib/libfake.dylib";
    });
  };
  // Deflated, its sizes in a data descriptor after the data.
  ASSERT_NE(original.end(), libraryRecord(original));
  ASSERT_EQ(8, libraryRecord(original)->method);
  ASSERT_EQ(8, libraryRecord(original)->bytes[6] & 8);
  ASSERT_EQ("readme.txt", original.back().name);
  const ChildEnv withStandIns =
      ChildEnv::clean()
          .set("PATH", std::string(WRAPKIN_SOURCE_DIR) +
                           "/test/doubles/apple-tools:" + std::getenv("PATH"))
          .set("APPLE_TOOLS_RECORD", tmp.path() + "/calls");
  for (const std::string& home : javaHomes()) {
    SCOPED_TRACE(home);
    const Bundle b =
        makeBundle(tmp.path() + "/" + std::to_string(++bundles), "Probe",
                   {"--java-home", home, "--link-runtime", "--main-jar", jar,
                    "--sign", "Developer ID"},
                   withStandIns);

    const ChildResult result = run(b.launcher);

    ASSERT_EQ(0, result.exitCode) << result.describe();
    EXPECT_TRUE(parseReport(result.out).complete) << result.out;
    const std::string signedJar = b.appDir + "/app.jar";
    const std::vector<ZipRecord> rewritten =
        zipRecords(childprocess::readFile(signedJar));
    ASSERT_EQ(original.size(), rewritten.size());
    for (std::size_t i = 0; i < original.size(); ++i) {
      SCOPED_TRACE(original[i].name);
      EXPECT_EQ(original[i].name, rewritten[i].name);
      if (original[i].name != "lib/libfake.dylib") {
        EXPECT_TRUE(original[i].bytes == rewritten[i].bytes);
      } else {
        EXPECT_TRUE(rewritten[i].completeWithoutDescriptor());
        // Its time and date too.
        EXPECT_EQ(original[i].bytes.substr(10, 4),
                  rewritten[i].bytes.substr(10, 4));
      }
    }
    const std::string extracted = tmp.path() + "/x" + std::to_string(bundles);
    fs::create_directories(extracted);
    runProgram("/bin/sh",
               {"-c", "cd \"$0\" && exec \"$1\" --extract --file \"$2\"",
                extracted, home + "/bin/jar", signedJar});
    EXPECT_EQ(library + "\nsigned by Developer ID\n",
              childprocess::readFile(extracted + "/lib/libfake.dylib"));
  }
}

TEST_F(RealJvmTest, HandsOverArgumentsAndTheApplicationsExitCode) {
  for (const std::string& home : javaHomes()) {
    SCOPED_TRACE(home);
    const Bundle b = bundle(home, "class path");

    const ChildResult exited = run(b.launcher, {"--exit=3", "$APPDIR", ""});

    EXPECT_EQ(3, exited.exitCode) << exited.describe();
    const ProbeReport report = parseReport(exited.out);
    EXPECT_TRUE(report.complete) << exited.out;
    EXPECT_EQ((std::vector<std::string>{"--exit=3", "$APPDIR", ""}),
              report.args);

    const ChildResult thrown = run(b.launcher, {"--throw"});

    EXPECT_EQ(1, thrown.exitCode) << thrown.describe();
    EXPECT_TRUE(parseReport(thrown.out).complete) << thrown.out;
    const std::string failed = "\nFailed to launch JVM\n";
    EXPECT_TRUE(thrown.err.size() > failed.size() &&
                thrown.err.compare(thrown.err.size() - failed.size(),
                                   failed.size(), failed) == 0)
        << thrown.err;
  }
}

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() &&
         text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Started from the Finder, standard error and standard output are the null
// device: what the runtime says about a failed start goes to the log and
// into the alert (the Linux stand-in records it). Through a pipe, the same
// words go there and no log is written. A JVM the runtime cannot create
// ends the process inside JLI_Launch; an exception from main makes
// JLI_Launch return 1; System.exit is no failure. An entry point that the
// runtime refuses (it exits with 1 as System.exit does) and a JVM that
// fails while it initialises (it ends the process at once) are told by
// their words, which the launcher reads only from the log.
TEST_F(RealJvmTest, AFailedStartFromTheFinderShowsTheRuntimesWords) {
  const std::string corrupt = tmp.path() + "/corrupt.jar";
  std::ofstream(corrupt) << "PK not a zip file\n";
  const struct {
    const char* label;
    // After --java-home and --link-runtime; a main jar that the bundle tool
    // would refuse gets a configuration of the test's.
    std::vector<std::string> options;
    std::string refusedJar;
    std::vector<std::string> args;
    int exitCode;
    const char* said;  // null for a start that did not fail
    bool onlyFromTheFinder;
  } rows[] = {
      {"unknown JVM option",
       {"--main-jar", probe + "/probe.jar", "--java-option",
        "-XX:+WrapkinNoSuchOption"},
       "",
       {},
       1,
       "Unrecognized VM option 'WrapkinNoSuchOption'",
       false},
      {"exception from main",
       {"--main-jar", probe + "/probe.jar"},
       "",
       {"--throw"},
       1,
       "java.lang.IllegalStateException: thrown on request",
       false},
      {"System.exit", {"--main-jar", probe + "/probe.jar"}, "", {"--exit=3"},
       3, nullptr, false},
      {"main class not found",
       {"--class-path", probe + "/classes", "--main-class",
        "wrapkin.probe.NoSuch"},
       "",
       {},
       1,
       "Error: Could not find or load main class wrapkin.probe.NoSuch",
       true},
      {"no Main-Class",
       {},
       probe + "/no-main-class.jar",
       {},
       1,
       "no main manifest attribute, in ",
       true},
      {"no main method",
       {"--class-path", probe + "/classes", "--main-class", "java.lang.Object"},
       "",
       {},
       1,
       "Error: Main method not found in class java.lang.Object",
       true},
      {"class of a newer Java",
       {"--class-path", probe + "/newer", "--main-class",
        "wrapkin.probe.Probe"},
       "",
       {},
       1,
       "\tjava.lang.UnsupportedClassVersionError: wrapkin/probe/Probe has "
       "been compiled by a more recent version",
       true},
      {"corrupt jar",
       {},
       corrupt,
       {},
       1,
       "Error: Invalid or corrupt jarfile ",
       false},
      {"module not found",
       {"--module-path", probe + "/mods", "--main-module",
        "wrapkin.nosuch/wrapkin.probe.Probe"},
       "",
       {},
       1,
       "java.lang.module.FindException: Module wrapkin.nosuch not found",
       true},
  };
  for (const std::string& home : javaHomes()) {
    for (const auto& row : rows) {
      SCOPED_TRACE(home + ", " + row.label);
      std::vector<std::string> options{"--java-home", home, "--link-runtime"};
      options.insert(options.end(), row.options.begin(), row.options.end());
      const std::string out = tmp.path() + "/" + std::to_string(++bundles);
      if (!row.refusedJar.empty()) {
        std::ofstream(out + ".cfg")
            << "[Application]\napp.mainjar=$APPDIR/"
            << fs::path(row.refusedJar).filename().string() << "\n";
        options.insert(options.end(),
                       {"--app-file", row.refusedJar, "--cfg", out + ".cfg"});
      }
      const Bundle b = makeBundle(out, "Probe", options);
      const std::string state = out + ".state";
      const std::string alerts = out + ".alerts";
      const ChildEnv env = ChildEnv::clean()
                               .set("XDG_STATE_HOME", state)
                               .set("WRAPKIN_TEST_ALERTS", alerts);

      const ChildResult fromFinder =
          run(b.launcher, row.args, env, ErrorOutput::Finder);

      EXPECT_EQ(row.exitCode, fromFinder.exitCode) << fromFinder.describe();
      const std::vector<std::string> logs = logsIn(state + "/Probe");
      ASSERT_EQ(1u, logs.size());
      const std::string log = readFinishedLog(logs[0]);
      const std::string alert = childprocess::readFile(alerts);
      if (row.said == nullptr) {
        EXPECT_FALSE(fs::exists(alerts)) << alert;
      } else {
        EXPECT_NE(std::string::npos, log.find(row.said)) << log;
        EXPECT_TRUE(endsWith(log, "\nFailed to launch JVM\n")) << log;
        EXPECT_EQ(0u, alert.rfind("Probe: Failed to launch JVM\n\n", 0))
            << alert;
        EXPECT_NE(std::string::npos, alert.find(row.said)) << alert;
        EXPECT_TRUE(
            endsWith(alert, "\n\nThe full log is in \"" + logs[0] + "\".\n"))
            << alert;
      }

      const ChildResult piped =
          run(b.launcher, row.args, env, ErrorOutput::PipeWithOutput);

      EXPECT_EQ(row.exitCode, piped.exitCode) << piped.describe();
      EXPECT_EQ(log, piped.err + (row.onlyFromTheFinder
                                      ? "Failed to launch JVM\n"
                                      : ""));
      EXPECT_EQ(logs, logsIn(state + "/Probe")) << "a second log";
      EXPECT_EQ(alert, childprocess::readFile(alerts)) << "a second alert";
    }
  }
}

TEST_F(RealJvmTest, FindsItsBundleThroughARelativeLinkFromAnotherFolder) {
  for (const std::string& home : javaHomes()) {
    SCOPED_TRACE(home);
    const Bundle b = bundle(home, "jar");
    const std::string elsewhere =
        tmp.path() + "/elsewhere/" + std::to_string(bundles);
    fs::create_directories(elsewhere);
    fs::create_symlink(fs::relative(b.launcher, elsewhere), elsewhere + "/run");

    const ChildResult result = run(elsewhere + "/run", {"linked"});

    ASSERT_EQ(0, result.exitCode) << result.describe();
    const ProbeReport report = parseReport(result.out);
    EXPECT_EQ(std::vector<std::string>{"linked"}, report.args);
    // The launcher follows the link; the folders on the way stay as written.
    const std::string appPath = report.property("wrapkin.app-path");
    EXPECT_EQ(fs::canonical(b.launcher), fs::weakly_canonical(appPath))
        << appPath;
  }
}

// The user's own options come after the bundle's, and the JVM takes the last
// -Xmx it is given.
TEST_F(RealJvmTest, AUsersMaximumHeapWins) {
  const std::string config = tmp.path() + "/config";
  fs::create_directories(config + "/Probe");
  std::ofstream(config + "/Probe/Probe.cfg")
      << "[JavaOptions]\njava-options=-Xmx256m\n";
  for (const std::string& home : javaHomes()) {
    SCOPED_TRACE(home);
    const std::string out = tmp.path() + "/" + std::to_string(++bundles);
    std::ofstream(out + ".cfg")
        << "[Application]\napp.classpath=" << probe
        << "/classes\napp.mainclass=wrapkin.probe.Probe\n"
           "app.user-options=$CONFIGDIR/Probe.cfg\n"
           "[JavaOptions]\njava-options=-Xmx64m\n";
    const Bundle b =
        makeBundle(out, "Probe", {"--java-home", home, "--cfg", out + ".cfg"});

    const ChildResult result =
        run(b.launcher, {}, ChildEnv::clean().set("XDG_CONFIG_HOME", config));

    ASSERT_EQ(0, result.exitCode) << result.describe();
    // The JVM reports the maximum less what it keeps aside, never more.
    const long long maxMiB = parseReport(result.out).maxMemory >> 20;
    EXPECT_TRUE(maxMiB > 128 && maxMiB <= 256) << maxMiB << " MiB";
  }
}

// With LD_LIBRARY_PATH naming another runtime's libjvm, the Linux runtime
// starts the launcher anew with the command line it was handed; the
// application must see what it sees without the variable.
TEST_F(RealJvmTest, AnotherRuntimeOnTheLibraryPathChangesNothing) {
  if (javaHomes().size() < 2) {
    GTEST_SKIP() << "Only one Java runtime on this machine: there is no "
                    "other runtime's lib/server to put on LD_LIBRARY_PATH";
  }
  for (std::size_t i = 0; i < javaHomes().size(); ++i) {
    const std::string& home = javaHomes()[i];
    const std::string other = javaHomes()[(i + 1) % javaHomes().size()];
    SCOPED_TRACE(home + " with " + other + "/lib/server");
    const Bundle b = bundle(home, "class path");
    const std::vector<std::string> args{"in.pdf", "a b"};

    const ChildResult plain = run(b.launcher, args);
    const ChildResult restarted =
        run(b.launcher, args,
            ChildEnv::clean().set("LD_LIBRARY_PATH", other + "/lib/server"));

    ASSERT_EQ(0, restarted.exitCode) << restarted.describe();
    const ProbeReport expected = parseReport(plain.out);
    const ProbeReport report = parseReport(restarted.out);
    EXPECT_TRUE(report.complete) << restarted.out;
    EXPECT_EQ(args, report.args);
    EXPECT_EQ(expected.main, report.main);
    EXPECT_EQ(expected.jvmOptions, report.jvmOptions);
    // The library path is where the restart shows; all else is the same.
    for (const char* name :
         {"wrapkin.app-path", "java.home", "java.class.path", "test.blank"}) {
      EXPECT_EQ(expected.property(name), report.property(name)) << name;
    }
    // The runtime's own folder in front shows that it did start anew.
    EXPECT_EQ(0u, report.property("java.library.path")
                      .rfind(home + "/lib/server:" + home + "/lib:", 0))
        << report.property("java.library.path");
  }
}

// The major version of the runtime at `home`, from its release file.
int javaMajorVersion(const std::string& home) {
  std::ifstream release(home + "/release");
  for (std::string line; std::getline(release, line);) {
    if (line.rfind("JAVA_VERSION=\"", 0) == 0) {
      return std::atoi(line.c_str() + 14);
    }
  }
  return 0;
}

// With --cds, the first start records its classes and the archive is made
// after it; later starts map it. Nothing about it reaches the application's
// output, and a bad or unfitting archive never reaches the runtime.
TEST_F(RealJvmTest, MakesAndMapsAClassDataArchive) {
  for (const std::string& home : javaHomes()) {
    SCOPED_TRACE(home);
    if (javaMajorVersion(home) < 13) {
      continue;
    }
    const std::string loaded = tmp.path() + "/loaded" + std::to_string(bundles);
    const std::string cache = tmp.path() + "/cache" + std::to_string(bundles);
    const Bundle b =
        bundle(home, "jar",
               {"--link-runtime", "--cds", "--java-option",
                // Without rotation: JVMs that start at once would rename the
                // file under each other.
                "-Xlog:class+load=info:file=" + loaded + "::filecount=0"});
    const ChildEnv env = ChildEnv::clean().set("XDG_CACHE_HOME", cache);
    const auto cleanStart = [&](const std::string& launcher) {
      const ChildResult result = run(launcher, {}, env);
      EXPECT_EQ(0, result.exitCode) << result.describe();
      EXPECT_TRUE(parseReport(result.out).complete) << result.describe();
      EXPECT_EQ("", result.err);
      // Every line of the output is the probe's.
      EXPECT_EQ(std::string::npos, result.out.find('[')) << result.out;
    };
    const auto mapped = [&] {
      return childprocess::readFile(loaded).find(
                 "wrapkin.probe.Probe source: shared objects file") !=
             std::string::npos;
    };
    const auto traced = [&](const std::string& launcher) {
      return run(launcher, {}, ChildEnv(env).set("WRAPKIN_DEBUG", "true")).err;
    };

    // Two first starts at once: both run, one archive comes of it.
    std::thread other([&] { cleanStart(b.launcher); });
    cleanStart(b.launcher);
    other.join();
    const std::vector<std::string> made = completedArchives(cache);
    ASSERT_EQ(1u, made.size());
    cleanStart(b.launcher);
    EXPECT_TRUE(mapped());

    // Truncated: the runtime gets the options that make it anew.
    fs::resize_file(made[0], 100 * 1024);
    const std::string trace = traced(b.launcher);
    EXPECT_NE(
        std::string::npos,
        trace.find("\"" + made[0] + "\" not as the launcher completed it"))
        << trace;
    EXPECT_EQ(made, completedArchives(cache));

    // A copy of the bundle makes an archive of its own.
    const std::string copy = tmp.path() + "/copy" + std::to_string(bundles);
    fs::copy(fs::path(b.root).parent_path(), copy,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    const std::string copied = copy + "/Probe.app/Contents/MacOS/Probe";
    cleanStart(copied);
    ASSERT_EQ(2u, completedArchives(cache).size());
    cleanStart(copied);
    EXPECT_TRUE(mapped());
  }
}

// A user's own -Xmx40g turns compressed object pointers off, which an
// archive records: the start gets a key, and an archive, of its own, and
// the runtime maps it.
TEST_F(RealJvmTest, AUsersOwnJvmOptionsGetAnArchiveThatFits) {
  const std::string config = tmp.path() + "/config";
  const std::string userOptions = config + "/Probe/Probe.cfg";
  for (const std::string& home : javaHomes()) {
    SCOPED_TRACE(home);
    if (javaMajorVersion(home) < 13) {
      continue;
    }
    fs::remove(userOptions);
    const std::string cache = tmp.path() + "/cache" + std::to_string(bundles);
    const Bundle b =
        bundle(home, "jar", {"--link-runtime", "--cds", "--user-options"});
    const ChildEnv env = ChildEnv::clean()
                             .set("XDG_CACHE_HOME", cache)
                             .set("XDG_CONFIG_HOME", config);
    const auto start = [&] {
      const ChildResult result = run(b.launcher, {}, env);
      EXPECT_EQ(0, result.exitCode) << result.describe();
      return parseReport(result.out);
    };
    start();
    ASSERT_EQ(1u, completedArchives(cache).size());
    EXPECT_NE(std::string::npos,
              start().property("java.vm.info").find("sharing"));

    fs::create_directories(fs::path(userOptions).parent_path());
    std::ofstream(userOptions) << "[JavaOptions]\njava-options=-Xmx40g\n";
    start();
    ASSERT_EQ(2u, completedArchives(cache).size());
    const ProbeReport report = start();
    EXPECT_GT(report.maxMemory, 32LL << 30);
    EXPECT_NE(std::string::npos,
              report.property("java.vm.info").find("sharing"))
        << report.property("java.vm.info");
  }
}

// Has the `jar` tool of the first runtime on the machine create `file`.
ChildResult createJar(const std::string& file,
                      const std::vector<std::string>& args) {
  std::vector<std::string> argv{javaHomes().front() + "/bin/jar", "--create",
                                "--file", file};
  argv.insert(argv.end(), args.begin(), args.end());
  return runChild(argv, ChildEnv::clean());
}

// The runtime records the main module in an archive, and from Java 24 on,
// where classes are linked ahead of time, maps it only into a start with
// the same. (It archives no module of a folder, so the module is a jar.)
TEST_F(RealJvmTest, AMainModuleMapsItsArchive) {
  const std::string mods = tmp.path() + "/modular";
  fs::create_directories(mods);
  const ChildResult jarred = createJar(
      mods + "/wrapkin.probe.jar", {"-C", probe + "/mods/wrapkin.probe", "."});
  ASSERT_EQ(0, jarred.exitCode) << jarred.describe();
  for (const std::string& home : javaHomes()) {
    SCOPED_TRACE(home);
    if (javaMajorVersion(home) < 24) {
      continue;
    }
    const std::string cache = tmp.path() + "/cache" + std::to_string(bundles);
    const Bundle b =
        makeBundle(tmp.path() + "/" + std::to_string(++bundles), "Probe",
                   {"--java-home", home, "--link-runtime", "--cds",
                    "--module-path", mods + "/wrapkin.probe.jar",
                    "--main-module", "wrapkin.probe/wrapkin.probe.Probe"});
    const ChildEnv env = ChildEnv::clean().set("XDG_CACHE_HOME", cache);
    ASSERT_EQ(0, run(b.launcher, {}, env).exitCode);
    ASSERT_EQ(1u, completedArchives(cache).size());

    const ChildResult result = run(b.launcher, {}, env);

    EXPECT_EQ(0, result.exitCode) << result.describe();
    const std::string info = parseReport(result.out).property("java.vm.info");
    EXPECT_NE(std::string::npos, info.find("sharing")) << info;
  }
}

// For a start that runs as nobody (root writes where it likes, so a folder
// that must be read-only to the launcher needs another user): the folders
// under `top` may be searched and read, and `own` is nobody's.
void handToNobody(const std::string& top, const std::string& own) {
  const fs::perms rx = fs::perms::others_read | fs::perms::others_exec;
  fs::permissions(top, rx, fs::perm_options::add);
  for (const auto& entry : fs::recursive_directory_iterator(top)) {
    if (fs::is_directory(entry.symlink_status())) {
      fs::permissions(entry.path(), rx, fs::perm_options::add);
    }
  }
  ASSERT_EQ(0, lchown(own.c_str(), 65534, 65534));
  for (const auto& entry : fs::recursive_directory_iterator(own)) {
    ASSERT_EQ(0, lchown(entry.path().c_str(), 65534, 65534));
  }
}

// The runtime also checks the jars that a class path jar's manifest names
// (Class-Path), and maps nothing once one has changed: the launcher learns
// them from the runtime and then makes the archive anew. A key folder that
// cannot be written leaves the start without class-data options, and the
// runtime with nothing to say about a class list it cannot write.
TEST_F(RealJvmTest, ClassPathJarsAndAReadOnlyKeyFolder) {
  const std::string setpriv = "/usr/bin/setpriv";
  const bool root = geteuid() == 0;
  if (root && access(setpriv.c_str(), X_OK) != 0) {
    GTEST_SKIP() << "root writes into any folder, and without " << setpriv
                 << " the launcher cannot run as another user";
  }
  // The probe's classes come from dep.jar, which the runtime then checks.
  const std::string jars = tmp.path() + "/jars";
  fs::create_directories(jars);
  fs::copy_file(probe + "/probe.jar", jars + "/dep.jar");
  std::ofstream(jars + "/manifest")
      << "Main-Class: wrapkin.probe.Probe\nClass-Path: dep.jar\n";
  const ChildResult jarred =
      createJar(jars + "/main.jar", {"--manifest", jars + "/manifest"});
  ASSERT_EQ(0, jarred.exitCode) << jarred.describe();

  for (const std::string& home : javaHomes()) {
    SCOPED_TRACE(home);
    if (javaMajorVersion(home) < 13) {
      continue;
    }
    const std::string user = tmp.path() + "/user" + std::to_string(bundles);
    const std::string cache = user + "/cache";
    const std::string loaded = user + "/loaded";
    fs::create_directories(user);
    const Bundle b = makeBundle(
        tmp.path() + "/" + std::to_string(++bundles), "Probe",
        {"--java-home", home, "--link-runtime", "--cds", "--main-jar",
         jars + "/main.jar", "--app-file", jars + "/dep.jar", "--java-option",
         "-Xlog:class+load=info:file=" + loaded + "::filecount=0"});
    std::vector<std::string> asUser;
    const auto cleanStart = [&] {
      std::vector<std::string> argv = asUser;
      argv.push_back(b.launcher);
      const ChildResult result =
          runChild(argv,
                   ChildEnv::clean()
                       .set("XDG_CACHE_HOME", cache)
                       .addAsanOptions("detect_leaks=0"),
                   std::chrono::seconds(120), ErrorOutput::File);
      EXPECT_EQ(0, result.exitCode) << result.describe();
      EXPECT_TRUE(parseReport(result.out).complete) << result.describe();
      EXPECT_EQ("", result.err);
    };
    const auto mapped = [&] {
      return childprocess::readFile(loaded).find(
                 "wrapkin.probe.Probe source: shared objects file") !=
             std::string::npos;
    };
    cleanStart();
    ASSERT_EQ(1u, completedArchives(cache).size());
    cleanStart();
    EXPECT_TRUE(mapped());

    const std::string dep = b.appDir + "/dep.jar";
    fs::last_write_time(dep,
                        fs::last_write_time(dep) + std::chrono::seconds(1));
    cleanStart();
    const std::vector<std::string> made = completedArchives(cache);
    ASSERT_EQ(1u, made.size());
    cleanStart();
    EXPECT_TRUE(mapped());

    // The archive to be made anew, in a folder the user cannot write.
    fs::remove(made[0] + ".done");
    const std::string keyFolder = fs::path(made[0]).parent_path();
    if (root) {
      handToNobody(tmp.path(), user);
      asUser = {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups",
                "--"};
    }
    fs::permissions(keyFolder, fs::perms::owner_read | fs::perms::owner_exec);
    cleanStart();
    fs::permissions(keyFolder, fs::perms::owner_all);
  }
}

}  // namespace
