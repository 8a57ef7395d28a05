// wrapkin-bundle's last steps before a bundle is shipped: --sign with the
// native code inside jars, --dmg and --notarize, run against stand-ins for
// codesign, hdiutil and xcrun (test/doubles/apple-tools) that check their
// arguments, record each call and mark what they sign.

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "BundleTool.h"
#include "ChildProcess.h"
#include "ExpectedText.h"
#include "TestFiles.h"
#include "ZipFiles.h"

namespace fs = std::filesystem;

namespace {

const std::string kStandIns =
    std::string(WRAPKIN_SOURCE_DIR) + "/test/doubles/apple-tools";
const std::string kIdentity = "Developer ID Application: Example (TEAM)";
const std::string kMachO = "\xCF\xFA\xED\xFE thin Mach-O";
// A universal file of two architectures, whose table fits.
const std::string kFatMachO = std::string("\xCA\xFE\xBA\xBE\0\0\0\x02", 8) +
                              std::string(40, 'a') + "fat Mach-O";
// A class file starts as a universal file does; its version tells it apart
// (the table of 65 architectures would fit).
const std::string kClassFile =
    std::string("\xCA\xFE\xBA\xBE\0\0\0\x41", 8) + std::string(1400, 'c');

std::string signedBy(const std::string& bytes) {
  return bytes + "\nsigned by " + kIdentity + "\n";
}

class BundleSigningTest : public ::testing::Test {
 protected:
  // The stand-ins first on the PATH, and where they record their calls.
  ChildEnv env(const std::string& path = kStandIns) const {
    return ChildEnv::clean()
        .set("PATH", path + ":" + std::getenv("PATH"))
        .set("APPLE_TOOLS_RECORD", record);
  }

  std::vector<std::string> bundleArgs(const std::vector<std::string>& more) {
    std::vector<std::string> argv{WRAPKIN_BUNDLE,   "--name", "Tool",
                                  "--out",          out,      "--launcher",
                                  WRAPKIN_LAUNCHER, "--omit", "runtime",
                                  "--main-class",   "a.B"};
    argv.insert(argv.end(), more.begin(), more.end());
    return argv;
  }

  // The recorded calls, one a line, the staging folder shown as "S" and
  // the files taken out of archives as "<taken out>/<name>".
  std::string calls() const {
    const std::string text = std::regex_replace(
        childprocess::readFile(record),
        std::regex(escapedForRegex(out) + "/\\.Tool\\.app-[^/]{6}"), "S");
    return std::regex_replace(text, std::regex("S/scratch/[0-9]+/"),
                              "<taken out>/");
  }

  const CanonicalTempDir tmp;
  const std::string out = tmp.path() + "/out";
  const std::string record = tmp.path() + "/calls";
};

TEST_F(BundleSigningTest, SignsInsideOutThenMakesTheImageNotarizesAndStaples) {
  const std::string in = tmp.path() + "/in";
  const std::string innerJar = zipBytes(
      {{"native/libfat.jnilib", kFatMachO, true, true}, {"x.txt", "x"}});
  writeFile(in + "/app.jar", zipBytes({{"a/B.class", kClassFile},
                                       {"lib/libthin.dylib", kMachO},
                                       {"inner.jar", innerJar},
                                       {"notes.txt", "notes", true, true}}));
  // Signed by jarsigner, but without native code: left as it is.
  const std::string signedJar = zipBytes({{"META-INF/SIGNER.SF", "sf"},
                                          {"META-INF/SIGNER.RSA", "rsa"},
                                          {"lib/B.class", kClassFile}});
  writeFile(in + "/signed.jar", signedJar);
  writeFile(in + "/helper", kMachO);

  const ChildResult result = runChild(
      bundleArgs({"--class-path", in + "/app.jar", "--class-path",
                  in + "/signed.jar", "--app-file", in + "/helper", "--sign",
                  kIdentity, "--dmg", "--notarize", "notary"}),
      env());

  ASSERT_EQ(0, result.exitCode) << result.describe();
  EXPECT_EQ(out + "/Tool.app\n" + out + "/Tool.dmg\n", result.out);
  const std::string codesign =
      "codesign --force --timestamp --options runtime --entitlements "
      "S/Tool.entitlements --sign " +
      kIdentity + " ";
  EXPECT_EQ(
      "xcrun --find notarytool\n"
      "xcrun --find stapler\n" +
          codesign + "<taken out>/libfat.jnilib\n" + codesign +
          "<taken out>/libthin.dylib\n" + codesign +
          "S/root/Tool.app/Contents/app/helper\n" + codesign +
          "S/root/Tool.app/Contents/MacOS/Tool\n" + codesign +
          "S/root/Tool.app\n"
          "hdiutil create -volname Tool -srcfolder S/root -fs HFS+ "
          "-format UDZO S/Tool.dmg\n"
          "codesign --force --timestamp --sign " +
          kIdentity +
          " S/Tool.dmg\n"
          "xcrun notarytool submit S/Tool.dmg --keychain-profile notary "
          "--wait --output-format json\n"
          "xcrun stapler staple S/Tool.dmg\n"
          "xcrun stapler staple S/root/Tool.app\n",
      calls());

  const std::string app = out + "/Tool.app";
  const std::string jar = childprocess::readFile(app + "/Contents/app/app.jar");
  EXPECT_EQ(signedBy(kMachO), zipContent(jar, "lib/libthin.dylib"));
  EXPECT_EQ(signedBy(kFatMachO),
            zipContent(zipContent(jar, "inner.jar"), "native/libfat.jnilib"));
  EXPECT_EQ("x", zipContent(zipContent(jar, "inner.jar"), "x.txt"));
  EXPECT_EQ(kClassFile, zipContent(jar, "a/B.class"));
  EXPECT_EQ("notes", zipContent(jar, "notes.txt"));
  EXPECT_EQ(signedJar,
            childprocess::readFile(app + "/Contents/app/signed.jar"));
  EXPECT_EQ(signedBy(kMachO),
            childprocess::readFile(app + "/Contents/app/helper"));
  EXPECT_EQ("ticket\n",
            childprocess::readFile(app + "/Contents/CodeResources"));

  // The image (a tar file from the stand-in) holds the signed bundle and a
  // link to /Applications, and is signed and stapled itself.
  EXPECT_EQ(
      (std::vector<std::string>{"Tool.app", "Tool.dmg", "Tool.entitlements"}),
      namesIn(out));
  const ChildResult listed =
      runChild({"/bin/sh", "-c", "tar -tvf \"$0\" | sed 's/.* \\.\\///' | sort",
                out + "/Tool.dmg"},
               ChildEnv::clean());
  EXPECT_NE(std::string::npos,
            listed.out.find("\nApplications -> /Applications\n"))
      << listed.describe();
  EXPECT_NE(
      std::string::npos,
      listed.out.find("\nTool.app/Contents/_CodeSignature/CodeResources\n"))
      << listed.out;
  const std::string image = childprocess::readFile(out + "/Tool.dmg");
  const std::string marks = "\nsigned by " + kIdentity + "\n\nstapled\n";
  EXPECT_EQ(marks,
            image.substr(image.size() - std::min(image.size(), marks.size())));
}

TEST_F(BundleSigningTest, EachFailureIsOneLineAndLeavesNothingBehind) {
  const std::string in = tmp.path() + "/in";
  writeFile(in + "/signed-native.jar",
            zipBytes({{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n"},
                      {"META-INF/SIGNER.SF", "sf"},
                      {"META-INF/SIGNER.RSA", "rsa"},
                      {"lib/libx.dylib", kMachO, true}}));
  writeFile(in + "/zip64.jar", zipBytes({{"lib/libx.dylib", kMachO}}, true));
  writeFile(in + "/broken.jar", "no zip");
  std::string nested = zipBytes({{"x.txt", "x"}});
  for (int level = 5; level > 0; --level) {
    nested = zipBytes({{std::to_string(level) + ".jar", nested}});
  }
  writeFile(in + "/deep.jar", nested);
  // codesign and hdiutil, but no xcrun.
  const std::string noXcrun = tmp.path() + "/no-xcrun";
  for (const char* tool : {"codesign", "hdiutil"}) {
    writeFile(noXcrun + "/" + tool,
              "#!/bin/sh\nexec " + kStandIns + "/" + tool + " \"$@\"\n");
    fs::permissions(noXcrun + "/" + tool, fs::perms::owner_all);
  }
  const std::string app = "\"Tool.app/Contents/app/";
  const std::string issue =
      "wrapkin-bundle: notary issue: \"App.dmg/App.app/Contents/app/lib";
  const std::string certificate =
      ".dylib\": The binary is not signed with a valid Developer ID "
      "certificate \xC2\xAB";
  const struct {
    const char* label;
    std::vector<std::string> args;
    ChildEnv env;
    std::string err;  // after "wrapkin-bundle: " on its last line
  } rows[] = {
      {"jarsigner's jar with native code",
       {"--sign", kIdentity, "--app-file", in + "/signed-native.jar"},
       env(),
       "cannot sign the native code in " + app +
           "signed-native.jar\": the jar is signed with jarsigner "
           "(META-INF/SIGNER.SF), whose signature any change breaks; its "
           "native code must be signed before jarsigner signs it"},
      {"Zip64 jar with native code",
       {"--sign", kIdentity, "--app-file", in + "/zip64.jar"},
       env(),
       "cannot sign the native code in " + app +
           "zip64.jar\": it is a Zip64 archive, which the tool does not "
           "rewrite"},
      {"jar that is no zip file",
       {"--sign", kIdentity, "--app-file", in + "/broken.jar"},
       env(),
       "cannot sign the native code in " + app +
           "broken.jar\": it is no zip file: it has no end of central "
           "directory"},
      {"archives nested too deep",
       {"--sign", kIdentity, "--app-file", in + "/deep.jar"},
       env(),
       "cannot sign the native code in " + app +
           "deep.jar!/1.jar!/2.jar!/3.jar!/4.jar\": archives nest more than 4 "
           "deep in it, deeper than the tool looks"},
      {"--notarize without --dmg",
       {"--sign", kIdentity, "--notarize", "notary"},
       env(),
       "--notarize needs --sign and --dmg: the notary service takes a disk "
       "image signed with a Developer ID"},
      {"--notarize without a profile",
       {"--notarize="},
       env(),
       "--notarize needs the name of a keychain profile: the one given to "
       "`xcrun notarytool store-credentials`"},
      {"--dmg without hdiutil",
       {"--dmg"},
       ChildEnv::clean(),
       "--dmg needs macOS: there is no hdiutil on this system"},
      {"--notarize without xcrun",
       {"--sign", kIdentity, "--dmg", "--notarize", "notary"},
       env(noXcrun),
       "--notarize needs macOS: there is no xcrun on this system"},
      {"xcrun without notarytool",
       {"--sign", kIdentity, "--dmg", "--notarize", "notary"},
       env().set("APPLE_TOOLS_NO_NOTARYTOOL", "1"),
       "--notarize needs notarytool, which `xcrun --find notarytool` does "
       "not find (xcrun: error: unable to find utility \"notarytool\", not a "
       "developer tool or in PATH): install Xcode or its command line tools"},
      // The one failure that says more: the first issues of the notary log.
      {"notarization rejected",
       {"--sign", kIdentity, "--dmg", "--notarize", "notary"},
       env().set("NOTARY_STATUS", "Invalid"),
       issue + "1" + certificate + "1\xC2\xBB. (arm64)\n" + issue + "2" +
           certificate + "2\xC2\xBB. (arm64)\n" + issue + "3" + certificate +
           "3\xC2\xBB. (arm64)\n" + issue + "4" + certificate +
           "4\xC2\xBB. (arm64)\n" + issue + "5" + certificate +
           "5\xC2\xBB. (arm64)\n"
           "wrapkin-bundle: the notary service did not accept \"Tool.dmg\" "
           "(status Invalid, 7 issues, the first 5 above): `xcrun notarytool "
           "log 2efe2717-52ef-43a5-96dc-0797e4ca1041 --keychain-profile "
           "notary` shows its log"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const ChildResult result = runChild(bundleArgs(row.args), row.env);

    EXPECT_EQ(1, result.exitCode);
    EXPECT_EQ("", result.out);
    const std::string err = result.err;
    EXPECT_EQ(row.err.find('\n') == std::string::npos
                  ? "wrapkin-bundle: " + row.err + "\n"
                  : row.err + "\n",
              err);
    EXPECT_FALSE(fs::exists(out));
    fs::remove_all(out);
  }
}

// Whether the process `pid` runs, a zombie not counted; on Linux.
bool runs(const std::string& pid) {
  std::ifstream stat("/proc/" + pid + "/stat");
  std::string line;
  std::getline(stat, line);
  const std::string::size_type state = line.rfind(") ");
  return state != std::string::npos && line.compare(state + 2, 1, "Z") != 0;
}

// The running processes whose command line holds `text`.
std::vector<std::string> processesNaming(const std::string& text) {
  std::vector<std::string> found;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator("/proc", ignored)) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") == std::string::npos &&
        childprocess::readFile("/proc/" + pid + "/cmdline").find(text) !=
            std::string::npos &&
        runs(pid)) {
      found.push_back(pid);
    }
  }
  return found;
}

// Killed during a slow stand-in, the tool leaves it to its watchdog, which
// ends it, and its staging folder to the next run, which removes it.
TEST_F(BundleSigningTest, AKilledRunLeavesNoProcessAndNoFolderBehind) {
  if (!fs::exists("/proc/self/cmdline")) {
    GTEST_SKIP() << "No /proc to look for processes in";
  }
  childprocess::FileActions actions;
  const pid_t tool = childprocess::spawn(
      actions, bundleArgs({"--dmg"}), env().set("APPLE_TOOLS_SLOW", "hdiutil"));
  const std::string pids = record + ".pids";
  const auto waitFor = [](const std::function<bool()>& done) {
    const auto start = std::chrono::steady_clock::now();
    while (!done() && std::chrono::steady_clock::now() - start <
                          std::chrono::seconds(20)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  };
  waitFor([&] { return !childprocess::readFile(pids).empty(); });
  const std::string standIn =
      withoutTrailingNewlines(childprocess::readFile(pids));
  ASSERT_TRUE(runs(standIn)) << standIn;

  kill(tool, SIGKILL);
  int status = 0;
  while (waitpid(tool, &status, 0) < 0 && errno == EINTR) {
  }

  // The watchdog is a copy of the tool, with its arguments, which name this
  // test's folder.
  waitFor([&] { return !runs(standIn) && processesNaming(out).empty(); });
  EXPECT_FALSE(runs(standIn));
  EXPECT_EQ(std::vector<std::string>{}, processesNaming(out));
  const std::vector<std::string> left = namesIn(out);
  ASSERT_EQ(1u, left.size());
  EXPECT_EQ(0u, left[0].rfind(".Tool.app-", 0)) << left[0];

  const ChildResult next = runChild(bundleArgs({"--dmg"}), env());

  ASSERT_EQ(0, next.exitCode) << next.describe();
  EXPECT_EQ((std::vector<std::string>{"Tool.app", "Tool.dmg"}), namesIn(out));
}

}  // namespace
