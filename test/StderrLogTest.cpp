// The log of a standard error that reaches no one: the lines kept for the
// alert, in-process; the log's rules with the launcher executable, started
// as the Finder starts it (standard error on the null device) in a bundle
// around the fake runtime library (doubles/FakeJli.cpp), which writes to
// standard error and fails as asked. The Linux stand-in of the alert
// records it in a file.

#include "StderrLog.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BundleTool.h"
#include "ChildProcess.h"

namespace fs = std::filesystem;

namespace {

TEST(StderrLogTest, LastLinesKeepWhatAPersonShouldRead) {
  const struct {
    const char* label;
    std::vector<std::string> writes;
    std::vector<std::string> expected;  // the last 3, cut at 8 bytes
  } rows[] = {
      {"lines across writes", {"one\ntw", "o\nthr"}, {"one", "two", "thr"}},
      {"the last three", {"1\n2\n3\n4\n5\n"}, {"3", "4", "5"}},
      {"the unfinished one among them", {"1\n2\n3\n4"}, {"2", "3", "4"}},
      {"no empty lines, no stack frames, no CR",
       {"Exc: x\r\n\tat a.B.c(B.java)\n\r\n\n\t... 3 more\nCause: y\r\n"},
       {"Exc: x", "Cause: y"}},
      {"long lines cut",
       {"123456789\nabcdefghij", "klm"},
       {"12345678", "abcdefgh"}},
  };
  for (const auto& row : rows) {
    LastLines lastLines(3, 8);
    for (const std::string& bytes : row.writes) {
      lastLines.add(bytes.data(), bytes.size());
    }
    EXPECT_EQ(row.expected, lastLines.get()) << row.label;
  }
}

std::string stderrLines(std::size_t size) {
  std::string text;
  for (long line = 1; text.size() < size; ++line) {
    text += "stderr line " + std::to_string(line) + "\n";
  }
  return text.substr(0, size);
}

class StderrLogEndToEndTest : public ::testing::Test {
 protected:
  StderrLogEndToEndTest()
      : state(tmp.path() + "/state"),
        folder(state + "/Tool"),
        logPath(folder + "/Tool.log"),
        alerts(tmp.path() + "/alerts"),
        b(makeBundle(tmp.path(), "Tool",
                     {"--java-home",
                      makeFakeJavaHome(tmp.path() + "/fake-jli", FAKE_JLI_PATH),
                      "--main-class", "a.B"})) {}

  // A start from the Finder whose runtime writes `size` bytes to standard
  // error and then fails.
  ChildResult start(std::size_t size) {
    std::error_code ignored;
    fs::remove(alerts, ignored);
    return runChild({b.launcher},
                    ChildEnv::clean()
                        .set("XDG_STATE_HOME", state)
                        .set("WRAPKIN_TEST_ALERTS", alerts)
                        .set("FAKE_JLI_STDERR", std::to_string(size))
                        .set("FAKE_JLI_RESULT", "1"),
                    std::chrono::seconds(60), ErrorOutput::NullDevice);
  }

  static unsigned mode(const std::string& path) {
    return static_cast<unsigned>(fs::symlink_status(path).permissions());
  }

  const CanonicalTempDir tmp;
  const std::string state;
  const std::string folder;
  const std::string logPath;
  const std::string alerts;
  const Bundle b;
};

TEST_F(StderrLogEndToEndTest, AStartsLogEndsAtTheBound) {
  const std::string written = stderrLines(StderrLog::kMaxLogSize + 1024);

  const ChildResult result = start(written.size());

  EXPECT_EQ(1, result.exitCode) << result.describe();
  const std::string log = childprocess::readFile(logPath);
  const std::string dropped =
      "[The log holds 10 MiB at most: the rest of this start's output is "
      "dropped]\n";
  ASSERT_LE(log.size(), StderrLog::kMaxLogSize);
  ASSERT_GE(log.size(), StderrLog::kMaxLogSize - dropped.size() - 1);
  const std::string kept = log.substr(0, log.size() - dropped.size());
  EXPECT_EQ(dropped, log.substr(kept.size()));
  EXPECT_EQ(written.substr(0, kept.size() - 1),
            kept.substr(0, kept.size() - 1));
  // The alert still shows the last lines: they were read, not logged.
  EXPECT_NE(
      std::string::npos,
      childprocess::readFile(alerts).find(
          "\n" + written.substr(written.rfind("\n", written.size() - 2) + 1)))
      << childprocess::readFile(alerts);
}

TEST_F(StderrLogEndToEndTest, EachStartBeginsALogAndKeepsThePreviousOne) {
  for (std::size_t size : {10, 20, 30}) {
    const ChildResult result = start(size);
    EXPECT_EQ(1, result.exitCode) << result.describe();
  }

  EXPECT_EQ(stderrLines(30) + "Failed to launch JVM\n",
            childprocess::readFile(logPath));
  EXPECT_EQ(stderrLines(20) + "Failed to launch JVM\n",
            childprocess::readFile(logPath + ".1"));
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ((std::set<std::string>{"Tool.log", "Tool.log.1"}), names);
  EXPECT_EQ(0700u, mode(state));
  EXPECT_EQ(0700u, mode(folder));
  EXPECT_EQ(0600u, mode(logPath));
  EXPECT_EQ(0600u, mode(logPath + ".1"));
  EXPECT_EQ("Tool: Failed to launch JVM\n\n" + stderrLines(30) +
                "\n\nThe full log is in \"" + logPath + "\".\n",
            childprocess::readFile(alerts));
}

// Where no log can be written, the start is as it was before logs: the
// alert shows the launcher's line alone. A link is never written through.
TEST_F(StderrLogEndToEndTest, NoLinkIsFollowedAndNoLogChangesNothing) {
  const std::string elsewhere = tmp.path() + "/elsewhere";
  const struct {
    const char* label;
    void (*make)(const std::string& folder, const std::string& elsewhere);
    bool logged;
  } rows[] = {
      {"the log a link to a file elsewhere",
       [](const std::string& dir, const std::string& other) {
         std::ofstream(other) << "kept\n";
         fs::create_symlink(other, dir + "/Tool.log");
       },
       true},
      {"the folder a link to a folder elsewhere",
       [](const std::string& dir, const std::string& other) {
         fs::create_directory(other);
         fs::remove(dir);
         fs::create_directory_symlink(other, dir);
       },
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    fs::remove_all(state);
    fs::remove_all(elsewhere);
    fs::create_directories(folder);
    row.make(folder, elsewhere);

    const ChildResult result = start(10);

    EXPECT_EQ(1, result.exitCode) << result.describe();
    if (fs::is_regular_file(elsewhere)) {
      EXPECT_EQ("kept\n", childprocess::readFile(elsewhere));
    } else {
      EXPECT_TRUE(fs::is_empty(elsewhere));
    }
    EXPECT_EQ(row.logged, fs::is_regular_file(fs::symlink_status(logPath)));
    const std::string alert = childprocess::readFile(alerts);
    if (!row.logged) {
      EXPECT_EQ("Tool: Failed to launch JVM\n", alert);
    }
  }
}

}  // namespace
