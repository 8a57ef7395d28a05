// wrapkin-bundle run as a program: what it copies from linked inputs and
// runtimes, its Info.plist read back by a real parser, and its failures,
// each one line and exit code 1 with the output folder left as it was.

#include "BundleTool.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "ExpectedText.h"
#include "FakeJliRecord.h"

namespace fs = std::filesystem;

namespace {

#if defined(__APPLE__)
const std::string kRuntimeLibrary = "libjli.dylib";
#else
const std::string kRuntimeLibrary = "libjli.so";
#endif

void writeFile(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

void writeScript(const std::string& path, const std::string& body) {
  writeFile(path, "#!/bin/sh\n" + body + "\n");
  fs::permissions(path, fs::perms::owner_all);
}

std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class BundleToolTest : public ::testing::Test {
 protected:
  static ChildResult bundleTool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{WRAPKIN_BUNDLE};
    argv.insert(argv.end(), args.begin(), args.end());
    return runChild(argv, ChildEnv::clean());
  }

  // A Java home whose jlink prints its help without the capability to link
  // from its run-time image, and fails to link with `linkError`; with
  // `jmods`, it has a jmods folder.
  std::string fakeJdk(const std::string& name, bool jmods,
                      const std::string& linkError = "") {
    const std::string home =
        makeFakeJavaHome(tmp.path() + "/" + name, FAKE_JLI_PATH);
    writeScript(home + "/bin/jlink", "echo 'Usage: jlink'; echo '" + linkError +
                                         "' >&2; exit " +
                                         (linkError.empty() ? "0" : "1"));
    writeScript(home + "/bin/jdeps", "echo java.base");
    if (jmods) {
      fs::create_directories(home + "/jmods");
    }
    return home;
  }

  const CanonicalTempDir tmp;
};

TEST_F(BundleToolTest, CopiesWhatLinksLeadToAndKeepsTheRuntimesInnerLinks) {
  const std::string in = tmp.path() + "/in";
  writeFile(in + "/app-1.0.jar", "jar bytes");
  fs::create_symlink("app-1.0.jar", in + "/app.jar");
  writeFile(in + "/resources/x.txt", "x");
  fs::create_symlink("x.txt", in + "/resources/y.txt");
  fs::create_symlink("resources", in + "/linked-resources");
  writeFile(in + "/splash.png", "png");
  const std::string home = makeFakeJavaHome(tmp.path() + "/jdk", FAKE_JLI_PATH);
  writeFile(home + "/legal/base/LICENSE", "license");
  fs::create_directories(home + "/legal/desktop");
  fs::create_symlink("../base/LICENSE", home + "/legal/desktop/LICENSE");
  writeFile(tmp.path() + "/etc/net.properties", "net");
  fs::create_directories(home + "/conf");
  fs::create_symlink(tmp.path() + "/etc/net.properties",
                     home + "/conf/net.properties");
  fs::create_symlink("../../gone/src.zip", home + "/lib/src.zip");

  const Bundle b = makeBundle(
      tmp.path() + "/out", "Tool",
      {"--java-home", home, "--main-jar", in + "/app.jar", "--class-path",
       "$APPDIR/plugins/*", "--app-file", in + "/linked-resources", "--splash",
       in + "/splash.png", "--version", "2.1", "--user-options",
       "--java-option", "-Xmx1g", "--argument", "--verbose"});

  EXPECT_EQ(
      "[Application]\n"
      "app.mainjar=$APPDIR/app.jar\n"
      "app.classpath=$APPDIR/plugins/*\n"
      "app.splash=$APPDIR/splash.png\n"
      "app.version=2.1\n"
      "app.user-options=$CONFIGDIR/Tool.cfg\n"
      "\n[JavaOptions]\njava-options=-Xmx1g\n"
      "\n[ArgOptions]\narguments=--verbose\n",
      childprocess::readFile(b.cfg));
  for (const char* copied :
       {"/app.jar", "/linked-resources/x.txt", "/linked-resources/y.txt"}) {
    SCOPED_TRACE(copied);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(b.appDir + copied)));
  }
  EXPECT_EQ("jar bytes", childprocess::readFile(b.appDir + "/app.jar"));
  const std::string runtime = b.root + "/Contents/runtime/Contents/Home";
  EXPECT_EQ("../base/LICENSE",
            fs::read_symlink(runtime + "/legal/desktop/LICENSE").string());
#if !defined(__APPLE__)
  EXPECT_EQ("libjli.so",
            fs::read_symlink(runtime + "/lib/libjli.dylib").string());
#endif
  EXPECT_TRUE(fs::is_regular_file(
      fs::symlink_status(runtime + "/lib/" + kRuntimeLibrary)));
  EXPECT_EQ("net", childprocess::readFile(runtime + "/conf/net.properties"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(runtime + "/lib/src.zip")));

  // The bundle runs on its copy even when the inputs are gone.
  fs::remove_all(in);
  fs::remove_all(home);
  const std::string record = tmp.path() + "/calls";
  const ChildResult run =
      runChild({b.launcher}, ChildEnv::clean().set("FAKE_JLI_RECORD", record));
  ASSERT_EQ(0, run.exitCode) << run.describe();
  const std::vector<FakeJliCall> calls = readFakeJliCalls(record);
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ((std::vector<std::string>{
                b.launcher, "-classpath", b.appDir + "/plugins/*",
                "-splash:" + b.appDir + "/splash.png", "-Xmx1g",
                "-Dwrapkin.app-path=" + b.launcher, "-jar",
                b.appDir + "/app.jar", "--verbose"}),
            fakeJliArgs(calls[0]));
}

TEST_F(BundleToolTest, InfoPlistAndEntitlementsReadBackAsPropertyLists) {
  if (runChild({"/bin/sh", "-c", "command -v python3"}, ChildEnv::clean())
          .exitCode != 0) {
    GTEST_SKIP() << "No python3 on the PATH to parse the property lists";
  }
  const std::string name = "Logisim \xc3\x9c & <Co>";
  writeFile(tmp.path() + "/in/App.icns", "icns");
  const Bundle b =
      makeBundle(tmp.path(), name,
                 {"--omit", "runtime", "--version", "1.0 <beta> & more",
                  "--icon", tmp.path() + "/in/App.icns", "--entitlements"});

  // Each file as JSON, keys sorted, all but ASCII escaped.
  const auto parsed = [](const std::string& path) {
    return runChild({"/bin/sh", "-c",
                     "exec python3 -c 'import json, plistlib, sys; "
                     "print(json.dumps(plistlib.load(open(sys.argv[1], "
                     "\"rb\")), sort_keys=True))' \"$0\"",
                     path},
                    ChildEnv::clean());
  };
  const ChildResult info = parsed(b.root + "/Contents/Info.plist");
  ASSERT_EQ(0, info.exitCode) << info.describe();
  EXPECT_EQ(
      "{\"CFBundleExecutable\": \"Logisim \\u00dc & <Co>\", "
      "\"CFBundleIconFile\": \"App.icns\", "
      "\"CFBundleIdentifier\": \"wrapkin.Logisim------Co-\", "
      "\"CFBundleInfoDictionaryVersion\": \"6.0\", "
      "\"CFBundleName\": \"Logisim \\u00dc & <Co>\", "
      "\"CFBundlePackageType\": \"APPL\", "
      "\"CFBundleShortVersionString\": \"1.0 <beta> & more\", "
      "\"CFBundleVersion\": \"1.0 <beta> & more\", "
      "\"LSMinimumSystemVersion\": \"11.0\", "
      "\"NSHighResolutionCapable\": true}\n",
      info.out);
  EXPECT_TRUE(fs::is_regular_file(b.root + "/Contents/Resources/App.icns"));
  const ChildResult entitlements =
      parsed(tmp.path() + "/" + name + ".entitlements");
  ASSERT_EQ(0, entitlements.exitCode) << entitlements.describe();
  EXPECT_EQ(
      "{\"com.apple.security.cs.allow-jit\": true, "
      "\"com.apple.security.cs.allow-unsigned-executable-memory\": true, "
      "\"com.apple.security.cs.disable-library-validation\": true}\n",
      entitlements.out);
}

TEST_F(BundleToolTest, AFailedRebuildKeepsTheEarlierBundle) {
  const std::string out = tmp.path() + "/out";
  const std::string home = fakeJdk("jdk", true, "Error: Module x not found");
  const std::vector<std::string> common{
      "--name",     "Tool",           "--out",       out,
      "--launcher", WRAPKIN_LAUNCHER, "--java-home", home};
  const auto withCommon = [&](std::vector<std::string> args) {
    args.insert(args.begin(), common.begin(), common.end());
    return args;
  };
  ASSERT_EQ(0, bundleTool(withCommon({"--main-class", "a.B"})).exitCode);
  const std::string mark = out + "/Tool.app/Contents/app/earlier";
  writeFile(mark, "");
  const struct {
    const char* label;
    std::vector<std::string> args;
    std::string err;
  } rows[] = {
      {"before building",
       {"--main-jar", out + "/none.jar"},
       "--main-jar \"" + out + "/none.jar\": no such file or folder"},
      {"while building the runtime",
       {"--jlink", "x"},
       "\"" + home +
           "/bin/jlink\" failed (exit code 1): Error: Module x not "
           "found"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const ChildResult failed = bundleTool(withCommon(row.args));

    EXPECT_EQ(1, failed.exitCode);
    EXPECT_EQ("wrapkin-bundle: " + row.err + "\n", failed.err);
    EXPECT_TRUE(fs::exists(mark));
    EXPECT_EQ(std::vector<std::string>{"Tool.app"}, namesIn(out));
  }

  ASSERT_EQ(0, bundleTool(withCommon({"--main-class", "a.C"})).exitCode);
  EXPECT_FALSE(fs::exists(mark));
  EXPECT_EQ(std::vector<std::string>{"Tool.app"}, namesIn(out));
}

TEST_F(BundleToolTest, EachFailureIsOneLineAndLeavesNothingBehind) {
  const std::string t = tmp.path();
  writeFile(t + "/file", "");
  writeFile(t + "/in/app.jar", "");
  writeFile(t + "/other/app.jar", "");
  fs::create_symlink("gone.jar", t + "/in/dangling.jar");
  fs::create_directories(t + "/in/loop");
  fs::create_symlink(".", t + "/in/loop/self");
  fs::create_directories(t + "/empty-home");
  const std::string noJmods = fakeJdk("no-jmods", false);
  const std::string noRelease = fakeJdk("no-release", true);
  const std::string java11 = fakeJdk("java11", true);
  writeFile(java11 + "/release", "JAVA_VERSION=\"11.0.2\"\n");
  const std::string home = makeFakeJavaHome(t + "/jdk", FAKE_JLI_PATH);
  const struct {
    const char* label;
    std::vector<std::string> args;
    std::string err;
  } rows[] = {
    {"unknown option",
     {"--jar", "a.jar"},
     "unknown option \"--jar\" (see --help)"},
    {"option without its value",
     {"--main-class"},
     "option \"--main-class\" needs a value"},
    {"flag with a value",
     {"--link-runtime=yes"},
     "option \"--link-runtime\" takes no value"},
    {"value with a line break",
     {"--java-option", "-Da=1\n-Db=2"},
     "the value of \"--java-option\" holds a line break"},
    {"two runtimes",
     {"--jlink", "--link-runtime"},
     "give only one of --jlink and --link-runtime"},
    {"--cfg and a configuration line",
     {"--cfg", t + "/file", "--argument", "a"},
     "--cfg replaces the configuration that --argument writes a line of; "
     "give one or the other"},
    {"empty name", {"--name="}, "the name is empty: give --name NAME"},
    {"name with a slash",
     {"--name", "a/b"},
     "the name \"a/b\" is not a file name"},
    {"name that is not UTF-8",
     {"--name", "a\xff"},
     "the name \"a\xff\" is not UTF-8 text without control characters"},
    {"identifier with a blank",
     {"--identifier", "com.example.My App"},
     "the identifier \"com.example.My App\" is not reverse-DNS: use ASCII "
     "letters, digits, \"-\" and \".\", as in com.example.MyApp"},
    {"identifier ending in a dot",
     {"--identifier", "com.example."},
     "the identifier \"com.example.\" is not reverse-DNS: use ASCII "
     "letters, digits, \"-\" and \".\", as in com.example.MyApp"},
    {"identifier starting with a dot",
     {"--identifier", ".a"},
     "the identifier \".a\" is not reverse-DNS: use ASCII letters, digits, "
     "\"-\" and \".\", as in com.example.MyApp"},
    {"identifier with an empty part",
     {"--identifier", "a..b"},
     "the identifier \"a..b\" is not reverse-DNS: use ASCII letters, "
     "digits, \"-\" and \".\", as in com.example.MyApp"},
    {"output folder below a file",
     {"--out", t + "/file/out"},
     "cannot create the output folder \"" + t +
         "/file/out\": " + std::strerror(ENOTDIR)},
    {"Java home without libjli",
     {"--java-home", t + "/empty-home"},
     "\"" + t + "/empty-home\" holds no lib/" + kRuntimeLibrary},
    {"--jlink on a runtime that cannot link",
     {"--java-home", noJmods, "--jlink"},
     "\"" + noJmods +
         "\" cannot link a runtime: it has no jmods folder, and its jlink "
         "cannot link from its own run-time image"},
    {"release file it cannot read",
     {"--java-home", noRelease, "--jlink", "--main-jar", t + "/in/app.jar"},
     "cannot read \"" + noRelease +
         "/release\", which names the runtime's version: " +
         std::strerror(ENOENT)},
    {"--cds on a runtime before 13",
     {"--java-home", java11, "--cds"},
     "--cds needs a Java runtime of version 13 or later; \"" + java11 +
         "\" is 11"},
    {"missing input",
     {"--class-path", t + "/in/none.jar"},
     "--class-path \"" + t + "/in/none.jar\": no such file or folder"},
    {"dangling input",
     {"--main-jar", t + "/in/dangling.jar"},
     "--main-jar \"" + t +
         "/in/dangling.jar\" is a link to \"gone.jar\", which does not "
         "exist"},
    {"two inputs of one name",
     {"--main-jar", t + "/in/app.jar", "--class-path", t + "/other/app.jar"},
     "two inputs are named \"app.jar\": \"" + t + "/in/app.jar\" and \"" + t +
         "/other/app.jar\""},
    {"link loop in a copied folder",
     {"--app-file", t + "/in/loop"},
     "\"" + t +
         "/in/loop/self\" leads back into a folder that holds it: a link "
         "loop"},
    {"input that holds the output folder",
     {"--app-file", t},
     "cannot copy \"" + t +
         "\" into the bundle: it holds the bundle being "
         "made"},
#if !defined(__APPLE__)
    {"--sign without codesign",
     {"--sign", "Developer ID"},
     "--sign needs macOS: there is no codesign on this system"},
#endif
  };
  int attempt = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const std::string out = t + "/out/" + std::to_string(++attempt);
    // A row's own --name or --java-home comes later and wins.
    std::vector<std::string> args{"--name",      "Tool",       "--out",
                                  out,           "--launcher", WRAPKIN_LAUNCHER,
                                  "--java-home", home};
    args.insert(args.end(), row.args.begin(), row.args.end());

    const ChildResult result = bundleTool(args);

    EXPECT_EQ(1, result.exitCode);
    EXPECT_EQ("", result.out);
    EXPECT_EQ("wrapkin-bundle: " + row.err + "\n", result.err);
    EXPECT_FALSE(fs::exists(fs::symlink_status(out)));
  }
  EXPECT_EQ(std::vector<std::string>{}, namesIn(t + "/out"));
  EXPECT_EQ("", childprocess::readFile(t + "/file"));
}

TEST_F(BundleToolTest, BundlesTheRuntimeOfTheJavaOnThePath) {
  const std::string home = makeFakeJavaHome(tmp.path() + "/jdk", FAKE_JLI_PATH);
  // As a real runtime reports it, among other settings.
  writeScript(tmp.path() + "/bin/java",
              "echo '    java.class.path = ' >&2; echo '    java.home = " +
                  home + "' >&2");
  std::vector<std::string> argv{WRAPKIN_BUNDLE,  "--name",   "Tool",
                                "--out",         tmp.path(), "--launcher",
                                WRAPKIN_LAUNCHER};
  const ChildResult result =
      runChild(argv, ChildEnv::clean().set("PATH", tmp.path() + "/bin:/bin"));

  ASSERT_EQ(0, result.exitCode) << result.describe();
  EXPECT_TRUE(fs::is_regular_file(tmp.path() +
                                  "/Tool.app/Contents/runtime/Contents/Home/"
                                  "lib/" +
                                  kRuntimeLibrary));
}

// The docs page shows the --help text, and must show it as it is.
TEST_F(BundleToolTest, HelpTextIsTheOneInTheDocs) {
  const ChildResult help = bundleTool({"--help"});
  ASSERT_EQ(0, help.exitCode) << help.describe();
  const std::string docs = childprocess::readFile(
      std::string(WRAPKIN_SOURCE_DIR) + "/docs/BUNDLE-TOOL.md");
  EXPECT_NE(std::string::npos, docs.find("```text\n" + help.out + "```"))
      << "docs/BUNDLE-TOOL.md does not hold the --help text:\n"
      << help.out;
}

}  // namespace
