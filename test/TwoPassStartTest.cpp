// The launcher's two passes, with the fake runtime library re-entering main
// the way the macOS runtime does: its first JLI_Launch call starts a thread
// that calls the process's main (found by name) with arguments of its own,
// and then ends the process with that call's result. Calls on that thread
// record and return.

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BundleTool.h"
#include "ChildProcess.h"
#include "FakeJliRecord.h"

namespace fs = std::filesystem;

namespace {

class TwoPassStartTest : public ::testing::Test {
 protected:
  TwoPassStartTest() : record(tmp.path() + "/calls") {
    b = makeBundle(tmp.path(), "Tool",
                   {"--java-home",
                    makeFakeJavaHome(tmp.path() + "/fake-jli", FAKE_JLI_PATH),
                    "--main-class", "a.B", "--argument", "configured"});
  }

  // Runs the launcher with `args`; the double removes the configuration
  // before it re-enters main, so a second reading would fail. `more` goes
  // into the environment too.
  ChildResult run(const std::vector<std::string>& args,
                  const char* secondResult, bool debug,
                  const std::map<std::string, std::string>& more = {}) {
    ChildEnv env = ChildEnv::clean()
                       .set("FAKE_JLI_RECORD", record)
                       .set("FAKE_JLI_ENV", "DYLD_LIBRARY_PATH")
                       .set("FAKE_JLI_REENTER", "1")
                       .set("FAKE_JLI_REMOVE", b.cfg)
                       .set("FAKE_JLI_RESULT", secondResult);
    if (debug) {
      env.set("WRAPKIN_DEBUG", "true");
    }
    for (const auto& var : more) {
      env.set(var.first, var.second);
    }
    std::vector<std::string> argv{b.launcher};
    argv.insert(argv.end(), args.begin(), args.end());
    return runChild(argv, env);
  }

  static int count(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::string::size_type at = 0;
         (at = text.find(part, at)) != std::string::npos; at += part.size()) {
      ++n;
    }
    return n;
  }

  const CanonicalTempDir tmp;
  const std::string record;
  Bundle b;
};

TEST_F(TwoPassStartTest, SecondPassStartsTheFirstPassJvmOnTheOtherThread) {
  const ChildResult result = run({"user"}, "0", false);

  EXPECT_EQ(0, result.exitCode) << result.describe();
  EXPECT_EQ("", result.out + result.err);
  EXPECT_FALSE(fs::exists(b.cfg)) << "the double did not re-enter main";
  const std::vector<FakeJliCall> calls = readFakeJliCalls(record);
  ASSERT_EQ(2u, calls.size());
  const std::vector<std::string> expected{
      b.launcher, "-Dwrapkin.app-path=" + b.launcher, "a.B", "user"};
  EXPECT_EQ(expected, fakeJliArgs(calls[0]));
  // The same vector, not the one the runtime gave main.
  EXPECT_EQ(expected, fakeJliArgs(calls[1]));
  EXPECT_EQ(":" + b.appDir, calls[0].at("env.DYLD_LIBRARY_PATH"));
  EXPECT_EQ(":" + b.appDir, calls[1].at("env.DYLD_LIBRARY_PATH"));
  EXPECT_EQ("1", calls[0].at("main-thread"));
  EXPECT_EQ("0", calls[1].at("main-thread"));
  EXPECT_NE(calls[0].at("tid"), calls[1].at("tid"));
}

TEST_F(TwoPassStartTest, EachPassRunsItsOwnFrameAndReadsNothingAgain) {
  const ChildResult result = run({}, "0", true);

  EXPECT_EQ(0, result.exitCode) << result.describe();
  EXPECT_EQ(2, count(result.err, ": Entering launch\n")) << result.err;
  EXPECT_EQ(2, count(result.err, "\njli lib: [")) << result.err;
  EXPECT_EQ(1, count(result.err, "Launcher config file path:")) << result.err;
  ASSERT_EQ(2u, readFakeJliCalls(record).size());
}

// The runtime ends the process from the second pass's thread, before
// JLI_Launch returns on either pass: for a JVM it could not create (one
// report, not one per pass), or for System.exit (none).
TEST_F(TwoPassStartTest, AnEndWithoutJvmIsReportedOnce) {
  const struct {
    const char* label;
    std::map<std::string, std::string> env;
    int exitCode;
    const char* err;
  } rows[] = {
      {"no JVM", {{"FAKE_JLI_EXIT", "1"}}, 1, "Failed to launch JVM\n"},
      {"a JVM", {{"FAKE_JLI_EXIT", "3"}, {"FAKE_JLI_VM", "1"}}, 3, ""},
  };
  const std::string cfg = childprocess::readFile(b.cfg);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    std::ofstream(b.cfg, std::ios::binary) << cfg;
    fs::remove(record);

    const ChildResult result = run({}, "0", false, row.env);

    EXPECT_EQ(row.exitCode, result.exitCode) << result.describe();
    EXPECT_EQ(row.err, result.out + result.err);
    EXPECT_EQ(2u, readFakeJliCalls(record).size());
  }
}

TEST_F(TwoPassStartTest, FailingSecondPassEndsTheProcessWithOne) {
  const ChildResult result = run({}, "1", false);

  EXPECT_EQ(1, result.exitCode) << result.describe();
  EXPECT_EQ("", result.out);
  EXPECT_EQ("Failed to launch JVM\n", result.err);
  EXPECT_EQ(2u, readFakeJliCalls(record).size());
}

}  // namespace
