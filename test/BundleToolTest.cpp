// wrapkin-bundle run as a program: what it copies from linked inputs and
// runtimes, its Info.plist read back by a real parser, and its failures,
// each one line and exit code 1 with the output folder left as it was.

#include "BundleTool.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "ExpectedText.h"
#include "FakeJliRecord.h"
#include "TestFiles.h"

namespace fs = std::filesystem;

namespace {

#if defined(__APPLE__)
const std::string kRuntimeLibrary = "libjli.dylib";
#else
const std::string kRuntimeLibrary = "libjli.so";
#endif

// A zip file of one entry, deflated as a jar tool does it, after `prefix`.
void writeJar(const std::string& path, const std::string& entry,
              const std::string& text, const std::string& prefix = "") {
  uLongf size = compressBound(text.size());
  std::string packed(size, '\0');
  compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
            reinterpret_cast<const Bytef*>(text.data()), text.size(),
            Z_BEST_COMPRESSION);
  // Without zlib's header and checksum: raw deflate, as zip files hold it.
  packed = packed.substr(2, size - 6);
  const auto le = [](std::uint64_t value, int bytes) {
    std::string encoded;
    for (int i = 0; i < bytes; ++i) {
      encoded += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return encoded;
  };
  const std::uint64_t crc =
      crc32(0, reinterpret_cast<const Bytef*>(text.data()), text.size());
  // From the version needed to the length of the extra field: the same in
  // the entry's header and in the central directory.
  const std::string common = le(20, 2) + le(0, 2) + le(8, 2) + le(0, 4) +
                             le(crc, 4) + le(packed.size(), 4) +
                             le(text.size(), 4) + le(entry.size(), 2) +
                             le(0, 2);
  const std::string local = le(0x04034b50, 4) + common + entry + packed;
  const std::string central = le(0x02014b50, 4) + le(20, 2) + common +
                              le(0, 2) + le(0, 2) + le(0, 2) + le(0, 4) +
                              le(0, 4) + entry;
  const std::string end = le(0x06054b50, 4) + le(0, 4) + le(1, 2) + le(1, 2) +
                          le(central.size(), 4) + le(local.size(), 4) +
                          le(0, 2);
  writeFile(path, prefix + local + central + end);
}

void writeScript(const std::string& path, const std::string& body) {
  writeFile(path, "#!/bin/sh\n" + body + "\n");
  fs::permissions(path, fs::perms::owner_all);
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
  writeFile(in + "/splash$1.png", "png");
  const std::string home = makeFakeJavaHome(tmp.path() + "/jdk", FAKE_JLI_PATH);
  writeFile(home + "/legal/base/LICENSE", "license");
  fs::create_directories(home + "/legal/desktop");
  fs::create_symlink("../base/LICENSE", home + "/legal/desktop/LICENSE");
  writeFile(tmp.path() + "/etc/net.properties", "net");
  fs::create_directories(home + "/conf");
  fs::create_symlink(tmp.path() + "/etc/net.properties",
                     home + "/conf/net.properties");
  fs::create_symlink("../../gone/src.zip", home + "/lib/src.zip");

  // A main jar with a class path goes first on it: with -jar, the runtime
  // would ignore the class path.
  const Bundle b = makeBundle(tmp.path() + "/out", "Tool",
                              {"--java-home",      home,
                               "--main-jar",       in + "/app.jar",
                               "--class-path",     "$APPDIR/plugins/*",
                               "--class-path",     in + "/app-1.0.jar",
                               "--main-class",     "a.B",
                               "--app-file",       in + "/linked-resources",
                               "--splash",         in + "/splash$1.png",
                               "--bundle-version", "2.1",
                               "--java-option",    "-Xmx1g",
                               "--argument",       "--verbose",
                               "--user-options"});

  EXPECT_EQ(
      "[Application]\n"
      "app.classpath=$APPDIR/app.jar\n"
      "app.classpath=$APPDIR/plugins/*\n"
      "app.classpath=$APPDIR/app-1.0.jar\n"
      "app.mainclass=a.B\n"
      "app.splash=$APPDIR/splash$1.png\n"
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
                b.launcher, "-classpath",
                b.appDir + "/app.jar:" + b.appDir + "/plugins/*:" + b.appDir +
                    "/app-1.0.jar",
                "-splash:" + b.appDir + "/splash$1.png", "-Xmx1g",
                "-Dwrapkin.app-path=" + b.launcher, "a.B", "--verbose"}),
            fakeJliArgs(calls[0]));
}

TEST_F(BundleToolTest, InfoPlistAndEntitlementsReadBackAsPropertyLists) {
  if (runChild({"/bin/sh", "-c", "command -v python3"}, ChildEnv::clean())
          .exitCode != 0) {
    GTEST_SKIP() << "No python3 on the PATH to parse the property lists";
  }
  const std::string name = "Logisim \xc3\x9c & <Co>";
  writeFile(tmp.path() + "/in/App.icns", "icns");
  writeFile(tmp.path() + "/in/docs/Doc.icns", "icns");
  const Bundle b = makeBundle(
      tmp.path(), name,
      {"--omit", "runtime", "--main-class", "a.B", "--bundle-version",
       "1.0 <beta> & more", "--icon", tmp.path() + "/in/App.icns",
       "--entitlements", "--document-type",
       "circ,TXT:Logisim <circuit>: 1:" + tmp.path() + "/in/docs/Doc.icns",
       "--document-type", "lgz:Library", "--url-scheme", "logisim+x",
       "--plist-string", "NSHumanReadableCopyright=\xc2\xa9 2024 <Co> & co",
       "--plist-string",
       "LSApplicationCategoryType=public.app-category.education"});

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
  // A known extension gets the system's content type, the others one of
  // the bundle's own; only a type of its own makes the application owner.
  EXPECT_EQ(
      "{\"CFBundleDocumentTypes\": ["
      "{\"CFBundleTypeIconFile\": \"Doc.icns\", "
      "\"CFBundleTypeName\": \"Logisim <circuit>: 1\", "
      "\"CFBundleTypeRole\": \"Editor\", \"LSHandlerRank\": \"Alternate\", "
      "\"LSItemContentTypes\": "
      "[\"wrapkin.Logisim------Co-.circ\", \"public.plain-text\"]}, "
      "{\"CFBundleTypeName\": \"Library\", \"CFBundleTypeRole\": \"Editor\", "
      "\"LSHandlerRank\": \"Owner\", "
      "\"LSItemContentTypes\": [\"wrapkin.Logisim------Co-.lgz\"]}], "
      "\"CFBundleExecutable\": \"Logisim \\u00dc & <Co>\", "
      "\"CFBundleIconFile\": \"App.icns\", "
      "\"CFBundleIdentifier\": \"wrapkin.Logisim------Co-\", "
      "\"CFBundleInfoDictionaryVersion\": \"6.0\", "
      "\"CFBundleName\": \"Logisim \\u00dc & <Co>\", "
      "\"CFBundlePackageType\": \"APPL\", "
      "\"CFBundleShortVersionString\": \"1.0 <beta> & more\", "
      "\"CFBundleURLTypes\": ["
      "{\"CFBundleURLName\": \"wrapkin.Logisim------Co-.logisim+x\", "
      "\"CFBundleURLSchemes\": [\"logisim+x\"]}], "
      "\"CFBundleVersion\": \"1.0 <beta> & more\", "
      "\"LSApplicationCategoryType\": \"public.app-category.education\", "
      "\"LSMinimumSystemVersion\": \"11.0\", "
      "\"NSHighResolutionCapable\": true, "
      "\"NSHumanReadableCopyright\": \"\\u00a9 2024 <Co> & co\", "
      "\"UTExportedTypeDeclarations\": ["
      "{\"UTTypeConformsTo\": [\"public.data\", \"public.content\"], "
      "\"UTTypeDescription\": \"Logisim <circuit>: 1\", "
      "\"UTTypeIconFile\": \"Doc.icns\", "
      "\"UTTypeIdentifier\": \"wrapkin.Logisim------Co-.circ\", "
      "\"UTTypeTagSpecification\": "
      "{\"public.filename-extension\": [\"circ\"]}}, "
      "{\"UTTypeConformsTo\": [\"public.data\", \"public.content\"], "
      "\"UTTypeDescription\": \"Library\", "
      "\"UTTypeIdentifier\": \"wrapkin.Logisim------Co-.lgz\", "
      "\"UTTypeTagSpecification\": "
      "{\"public.filename-extension\": [\"lgz\"]}}]}\n",
      info.out);
  EXPECT_EQ((std::vector<std::string>{"App.icns", "Doc.icns"}),
            namesIn(b.root + "/Contents/Resources"));
  const ChildResult entitlements =
      parsed(tmp.path() + "/" + name + ".entitlements");
  ASSERT_EQ(0, entitlements.exitCode) << entitlements.describe();
  EXPECT_EQ(
      "{\"com.apple.security.cs.allow-jit\": true, "
      "\"com.apple.security.cs.allow-unsigned-executable-memory\": true, "
      "\"com.apple.security.cs.disable-library-validation\": true}\n",
      entitlements.out);
}

// The manifest read as Java reads it: deflated, with CR LF line ends, a
// continued line and other sections, in a jar that a launch script precedes.
TEST_F(BundleToolTest, AMainJarWithAClassPathStartsTheMainClassOfItsManifest) {
  const std::string jar = tmp.path() + "/in/app.jar";
  writeJar(jar, "META-INF/MANIFEST.MF",
           "Manifest-Version: 1.0\r\nmain-class: org.exam\r\n ple.Main \r\n"
           "\r\nName: a/B.class\r\nMain-Class: not.This\r\n",
           "#!/bin/sh\nexec java -jar \"$0\" \"$@\"\n");
  fs::create_directories(tmp.path() + "/in/lib");
  const struct {
    std::vector<std::string> options;
    std::string application;
  } rows[] = {
      {{"--class-path", tmp.path() + "/in/lib"},
       "app.classpath=$APPDIR/app.jar\napp.classpath=$APPDIR/lib\n"
       "app.mainclass=org.example.Main\n"},
      {{"--main-class", "a.B", "--class-path", jar},
       "app.classpath=$APPDIR/app.jar\napp.mainclass=a.B\n"},
      {{}, "app.mainjar=$APPDIR/app.jar\n"},
  };
  int bundles = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.options));
    std::vector<std::string> options{"--omit", "runtime", "--main-jar", jar};
    options.insert(options.end(), row.options.begin(), row.options.end());

    const Bundle b = makeBundle(
        tmp.path() + "/out/" + std::to_string(++bundles), "Tool", options);

    EXPECT_EQ("[Application]\n" + row.application +
                  "\n[JavaOptions]\n\n[ArgOptions]\n",
              childprocess::readFile(b.cfg));
  }
}

TEST_F(BundleToolTest, AFailedRebuildKeepsTheEarlierBundle) {
  const std::string out = tmp.path() + "/out";
  const std::string home = fakeJdk("jdk", true, "Error: Module x not found");
  const std::vector<std::string> common{"--name",       "Tool",
                                        "--out",        out,
                                        "--launcher",   WRAPKIN_LAUNCHER,
                                        "--java-home",  home,
                                        "--main-class", "a.B"};
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
  const std::string lostDeps = fakeJdk("lost-deps", true);
  writeFile(lostDeps + "/release", "JAVA_VERSION=\"21\"\n");
  writeScript(lostDeps + "/bin/jdeps",
              "echo 'Error: Module javafx.base not found' >&2; exit 1");
  writeJar(t + "/in/library.jar", "META-INF/MANIFEST.MF",
           "Manifest-Version: 1.0\r\n\r\nName: a\r\nMain-Class: a.B\r\n");
  // Deflated to a few kilobytes, which must not become megabytes in memory.
  writeJar(t + "/in/bomb.jar", "META-INF/MANIFEST.MF",
           "Main-Class: a.B\n" + std::string(16 << 20, ' '));
  writeFile(t + "/in/pro:be.jar", "");
  writeFile(t + "/in/$CACHEDIR.jar", "");
  writeFile(t + "/in/other/App.icns", "");
  writeFile(t + "/in/App.icns", "");
  // A 64-bit Mach-O header whose one load command would take 64 KiB.
  std::string damaged(32, '\0');
  damaged.replace(0, 4, "\xCF\xFA\xED\xFE");
  damaged[16] = 1;
  damaged[20] = damaged[21] = '\xFF';
  writeFile(t + "/in/damaged", damaged);
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
    {"--version with a value",
     {"--version", "2.0"},
     "--version prints this tool's version and takes no value: give the "
     "bundle's version as --bundle-version 2.0"},
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
     "the name \"a\xff\" is not UTF-8 text without control characters and "
     "noncharacters"},
    {"name with U+FFFE",
     {"--name", "a\xef\xbf\xbe"},
     "the name \"a\xef\xbf\xbe\" is not UTF-8 text without control "
     "characters and noncharacters"},
    {"name with a backslash",
     {"--name", "My\\App"},
     "the name \"My\\App\" holds \"\\\", which the launcher takes for a "
     "folder separator: choose another name"},
    {"name with a colon",
     {"--name", "A:B"},
     "the name \"A:B\" holds \":\", which Java takes for the separator of a "
     "path list: choose another name"},
    {"name with a launcher macro",
     {"--name", "A$APPDIR"},
     "the name \"A$APPDIR\" holds \"$APPDIR\", which the launcher replaces "
     "by a folder: choose another name"},
    {"icon name with a control character",
     {"--icon", t + "/in/a\x01.icns"},
     "the icon file name \"a\x01.icns\" is not UTF-8 text without control "
     "characters and noncharacters"},
    {"two icons of one name",
     {"--icon", t + "/in/App.icns", "--document-type",
      "circ:Circuit:" + t + "/in/other/App.icns"},
     "two icons are named \"App.icns\": \"" + t + "/in/App.icns\" and \"" + t +
         "/in/other/App.icns\""},
    {"document type without a description",
     {"--document-type", "circ"},
     "--document-type \"circ\" is not EXTENSIONS:DESCRIPTION[:ICON.icns]: "
     "the description is missing"},
    {"extension with a dot",
     {"--document-type", "tar.gz:Archive"},
     "the extension \"tar.gz\" of --document-type \"tar.gz:Archive\" is not "
     "the last part of a file name: give it without a dot or a blank"},
    {"extension of two document types",
     {"--document-type", "circ:A", "--document-type", "CIRC:B"},
     "the extension \"CIRC\" is in both --document-type \"circ:A\" and "
     "--document-type \"CIRC:B\""},
    {"URL scheme that is none",
     {"--url-scheme", "1x"},
     "--url-scheme \"1x\" is not a URL scheme: a letter, then letters, "
     "digits, \"+\", \"-\" and \".\""},
    {"--plist-string of a key the tool writes",
     {"--plist-string", "CFBundleVersion=7"},
     "--plist-string \"CFBundleVersion\" is a key that the tool writes: give "
     "--bundle-version instead"},
    {"application category that is not Apple's",
     {"--plist-string", "LSApplicationCategoryType=games"},
     "--plist-string \"LSApplicationCategoryType\" is not a category of "
     "Apple's: give public.app-category.WORD, as in "
     "public.app-category.productivity"},
    {"no entry point",
     {"--main-class="},
     "no entry point: give --main-jar JAR, --main-class CLASS or "
     "--main-module MODULE"},
    {"main jar and main module",
     {"--main-class=", "--main-jar", t + "/in/app.jar", "--main-module", "m"},
     "--main-jar and --main-module are two entry points, and the runtime "
     "starts one: give a modular jar as --module-path with --main-module"},
    {"main class and main module",
     {"--main-module", "m"},
     "--main-class and --main-module are two entry points, and the runtime "
     "starts one: give --main-module MODULE/CLASS"},
    {"main class with a launcher macro",
     {"--main-class", "a.B$APPDIR"},
     "the main class \"a.B$APPDIR\" holds \"$APPDIR\", which the launcher "
     "replaces by a folder: the configuration cannot name it"},
    {"main jar that is not a zip file",
     {"--main-class=", "--main-jar", t + "/in/app.jar"},
     "--main-jar \"" + t +
         "/in/app.jar\" cannot be read for its main class: it is no zip "
         "file: it has no end of central directory"},
    {"main jar whose manifest names no main class",
     {"--main-class=", "--main-jar", t + "/in/library.jar"},
     "--main-jar \"" + t +
         "/in/library.jar\" names no Main-Class in its manifest: give "
         "--main-class CLASS"},
    {"main jar whose manifest inflates beyond 1 MiB",
     {"--main-class=", "--main-jar", t + "/in/bomb.jar", "--class-path",
      t + "/in/app.jar"},
     "--main-jar \"" + t +
         "/in/bomb.jar\" cannot be read for its main class: the main section "
         "of its manifest is larger than 1 MiB"},
    {"input with a colon",
     {"--class-path", t + "/in/pro:be.jar"},
     "--class-path \"" + t +
         "/in/pro:be.jar\": its name holds \":\", which Java takes for the "
         "separator of a path list: rename it"},
    {"value that starts with \"$\" but no launcher macro",
     {"--class-path", "$HOME/x.jar"},
     "--class-path \"$HOME/x.jar\": no such file or folder"},
    {"input with a launcher macro",
     {"--class-path", t + "/in/$CACHEDIR.jar"},
     "--class-path \"" + t +
         "/in/$CACHEDIR.jar\": its name holds \"$CACHEDIR\", which the "
         "launcher replaces by a folder: rename it"},
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
    {"--jlink where jdeps cannot find the modules",
     {"--java-home", lostDeps, "--jlink", "--main-jar", t + "/in/app.jar"},
     "\"" + lostDeps +
         "/bin/jdeps\" cannot list the modules that the application needs "
         "(Error: Module javafx.base not found): name them, --jlink "
         "MODULE,..."},
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
    {"damaged Mach-O launcher",
     {"--launcher", t + "/in/damaged"},
     "the launcher \"" + t +
         "/in/damaged\" is a damaged Mach-O file: its load commands run past "
         "the end of the slice"},
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
    // A row's own --name, --java-home or --main-class comes later and wins;
    // "--main-class=" leaves the bundle without one.
    std::vector<std::string> args{"--name",      "Tool",       "--out",
                                  out,           "--launcher", WRAPKIN_LAUNCHER,
                                  "--java-home", home,         "--main-class",
                                  "a.B"};
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

// jdeps stops at classes that the application's jars name but do not hold;
// asked again to leave them out, it lists the rest, and the tool says so.
TEST_F(BundleToolTest, JlinkAsksJdepsAgainWithoutWhatItCannotFind) {
  const std::string home = fakeJdk("jdk", true);
  writeFile(home + "/release", "JAVA_VERSION=\"21.0.1\"\n");
  writeScript(home + "/bin/jdeps",
              "case \" $* \" in *' --ignore-missing-deps '*)\n"
              "  echo 'Warning: split package'; echo java.base,java.desktop;;\n"
              "*) echo 'Error: Missing dependencies' >&2; exit 1;; esac");
  // Records its arguments and makes the runtime's folder.
  writeScript(
      home + "/bin/jlink",
      "echo \"$*\" > \"$0.args\"\n"
      "while [ $# -gt 0 ]; do [ \"$1\" = --output ] && mkdir -p \"$2/lib\";"
      " shift; done");
  writeFile(tmp.path() + "/in/app.jar", "");

  const ChildResult result = bundleTool(
      {"--name", "Tool", "--out", tmp.path() + "/out", "--launcher",
       WRAPKIN_LAUNCHER, "--java-home", home, "--jlink", "--class-path",
       tmp.path() + "/in/app.jar", "--main-class", "a.B"});

  ASSERT_EQ(0, result.exitCode) << result.describe();
  EXPECT_EQ(
      "wrapkin-bundle: jdeps stopped at what it cannot find (Error: Missing "
      "dependencies); asked again with --ignore-missing-deps, it lists "
      "java.base,java.desktop, without the modules that only that needs\n",
      result.err);
  EXPECT_EQ(tmp.path() + "/out/Tool.app\n", result.out);
  EXPECT_EQ(0u,
            childprocess::readFile(home + "/bin/jlink.args")
                .rfind("--add-modules java.base,java.desktop --output ", 0));
}

// A signal while the runtime is made: the tool passes it on to jlink,
// removes what it built, output folders included, and ends by the signal.
TEST_F(BundleToolTest, AnInterruptedBuildLeavesNothingBehind) {
  const std::string home = fakeJdk("jdk", true);
  const std::string started = tmp.path() + "/jlink-started";
  writeScript(home + "/bin/jlink",
              "while [ $# -gt 0 ]; do [ \"$1\" = --output ] && mkdir -p \"$2\";"
              " shift; done; : > " +
                  started + "; exec sleep 60");
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    fs::remove(started);
    const std::string out = tmp.path() + "/out/" + std::to_string(signal);
    const std::string err = tmp.path() + "/err";
    childprocess::FileActions actions;
    posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, "/dev/null",
                                     O_WRONLY, 0);
    posix_spawn_file_actions_addopen(actions.get(), STDERR_FILENO, err.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const pid_t pid = childprocess::spawn(
        actions,
        {WRAPKIN_BUNDLE, "--name", "Tool", "--out", out, "--launcher",
         WRAPKIN_LAUNCHER, "--java-home", home, "--jlink", "java.base",
         "--main-class", "a.B"},
        ChildEnv::clean());
    const auto start = std::chrono::steady_clock::now();
    while (!fs::exists(started) && std::chrono::steady_clock::now() - start <
                                       std::chrono::seconds(30)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(1u, namesIn(out).size());  // the staging folder

    kill(pid, signal);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }

    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_EQ("", childprocess::readFile(err));
    // Not after jlink's minute: the signal went on to it.
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::seconds(30));
    EXPECT_FALSE(fs::exists(out));
  }
}

TEST_F(BundleToolTest, BundlesTheRuntimeOfTheJavaOnThePath) {
  const std::string home = makeFakeJavaHome(tmp.path() + "/jdk", FAKE_JLI_PATH);
  // As a real runtime reports it, among other settings.
  writeScript(tmp.path() + "/bin/java",
              "echo '    java.class.path = ' >&2; echo '    java.home = " +
                  home + "' >&2");
  std::vector<std::string> argv{WRAPKIN_BUNDLE,   "--name",       "Tool",
                                "--out",          tmp.path(),     "--launcher",
                                WRAPKIN_LAUNCHER, "--main-class", "a.B"};
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
