// The log of a standard error that reaches no one: the lines kept for the
// alert, in-process; the log's rules with the launcher executable, started
// as the Finder starts it (standard error on the null device) in a bundle
// around the fake runtime library (doubles/FakeJli.cpp), which writes to
// standard error, starts a helper, waits, is killed or fails as asked. The
// Linux stand-in of the alert records it in a file.

#include "StderrLog.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "BundleTool.h"
#include "ChildProcess.h"
#include "StartLogs.h"

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
      {"an indented error kept, frames not",
       {"E: x\n\tjava.lang.E: y\n\t\tat a.B\n\t\t... 2 more\n"},
       {"E: x", "\tjava.la"}},
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
        alerts(tmp.path() + "/alerts"),
        b(makeBundle(tmp.path(), "Tool",
                     {"--java-home",
                      makeFakeJavaHome(tmp.path() + "/fake-jli", FAKE_JLI_PATH),
                      "--main-class", "a.B"})) {}

  // A start from the Finder whose runtime writes `size` bytes to standard
  // error and then fails, or does what `more` says; its alert goes to
  // `alertFile`.
  ChildResult start(std::size_t size, ChildEnv more = ChildEnv::clean(),
                    const std::string& alertFile = std::string()) const {
    const std::string alert = alertFile.empty() ? alerts : alertFile;
    std::error_code ignored;
    fs::remove(alert, ignored);
    return runChild({b.launcher},
                    more.set("XDG_STATE_HOME", state)
                        .set("WRAPKIN_TEST_ALERTS", alert)
                        .set("FAKE_JLI_STDERR", std::to_string(size)),
                    std::chrono::seconds(60), ErrorOutput::NullDevice);
  }

  static ChildEnv failing() {
    return ChildEnv::clean().set("FAKE_JLI_RESULT", "1");
  }

  static unsigned mode(const std::string& path) {
    return static_cast<unsigned>(fs::symlink_status(path).permissions());
  }

  const CanonicalTempDir tmp;
  const std::string state;
  const std::string folder;
  const std::string alerts;
  const Bundle b;
};

TEST_F(StderrLogEndToEndTest, AStartsLogEndsAtTheBound) {
  const std::string written = stderrLines(StderrLog::kMaxLogSize + 1024);

  const ChildResult result = start(written.size(), failing());

  EXPECT_EQ(1, result.exitCode) << result.describe();
  // The folders it made, for the user alone.
  EXPECT_EQ(0700u, mode(state));
  EXPECT_EQ(0700u, mode(folder));
  const std::string alert = childprocess::readFile(alerts);
  const std::string log = readFinishedLog(logNamedBy(alert));
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
  EXPECT_NE(std::string::npos,
            alert.find("\n" + written.substr(written.rfind(
                                   "\n", written.size() - 2) + 1)))
      << alert;
}

// Three starts at once, each still writing while the others begin: each
// keeps its own log, whole, and its alert names it. Pruning keeps the
// newest logs, and passes over an old one that a start still writes.
TEST_F(StderrLogEndToEndTest, OverlappingStartsEachKeepTheirOwnLog) {
  fs::create_directories(folder);
  const std::string inUse = folder + "/Tool-20000101-000000-1.log";
  std::ofstream(inUse) << "in use\n";
  const int held = open(inUse.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(0, flock(held, LOCK_SH));
  std::vector<std::string> older;
  for (int i = 2; i < 8; ++i) {
    older.push_back(folder + "/Tool-20000101-00000" + std::to_string(i) +
                    "-" + std::to_string(i) + ".log");
    std::ofstream(older.back()) << "older\n";
  }

  const std::string go = tmp.path() + "/go";
  const std::size_t sizes[] = {10, 20, 30};
  ChildResult results[3];
  std::vector<std::thread> starts;
  for (std::size_t i = 0; i < 3; ++i) {
    starts.emplace_back([&, i] {
      results[i] = start(sizes[i], failing().set("FAKE_JLI_WAIT", go),
                         alerts + std::to_string(i));
    });
  }
  const auto newLogs = [&] {
    std::size_t count = 0;
    for (const std::string& log : logsIn(folder)) {
      count += log.find("/Tool-2000") == std::string::npos ? 1 : 0;
    }
    return count;
  };
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (newLogs() < 3 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::ofstream(go).flush();
  for (std::thread& t : starts) {
    t.join();
  }

  std::set<std::string> ownLogs;
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(1, results[i].exitCode) << results[i].describe();
    const std::string alert = childprocess::readFile(alerts + std::to_string(i));
    const std::string log = logNamedBy(alert);
    EXPECT_EQ(folder, fs::path(log).parent_path().string()) << alert;
    EXPECT_EQ("Tool: Failed to launch JVM\n\n" +
                  stderrLines(sizes[i]) + "\n\nThe full log is in \"" + log +
                  "\".\n",
              alert);
    EXPECT_EQ(stderrLines(sizes[i]) + "Failed to launch JVM\n",
              readFinishedLog(log));
    EXPECT_EQ(0600u, mode(log));
    ownLogs.insert(log);
  }
  EXPECT_EQ(3u, ownLogs.size());
  // Made for the user alone.
  EXPECT_EQ(0700u, mode(folder));

  // One more start: the newest five, and the one in use.
  EXPECT_EQ(1, start(5, failing()).exitCode);
  std::set<std::string> kept(ownLogs);
  kept.insert({inUse, older.back(), logNamedBy(childprocess::readFile(alerts))});
  const std::vector<std::string> logs = logsIn(folder);
  EXPECT_EQ(kept, std::set<std::string>(logs.begin(), logs.end()));
  EXPECT_EQ("in use\n", childprocess::readFile(inUse));
  close(held);
}

// A helper that the application started inherits the log's pipe as its
// standard error: it may go on writing after the application ended, and
// its words are logged.
TEST_F(StderrLogEndToEndTest, AHelperWritesOnAfterTheApplicationEnded) {
  const std::string status = tmp.path() + "/status";

  const ChildResult result = start(
      10, ChildEnv::clean().set("FAKE_JLI_CHILD", "sleep 0.5; echo late >&2; "
                                                  "echo $? > '" + status + "'"));

  EXPECT_EQ(0, result.exitCode) << result.describe();
  const std::vector<std::string> logs = logsIn(folder);
  ASSERT_EQ(1u, logs.size());
  EXPECT_EQ(stderrLines(10) + "late\n", readFinishedLog(logs[0]));
  EXPECT_EQ("0\n", childprocess::readFile(status));
  EXPECT_FALSE(fs::exists(alerts));
}

// What the application wrote before it was killed is all in the log.
TEST_F(StderrLogEndToEndTest, AKillWhileWritingLosesNothing) {
  const std::size_t size = 1024 * 1024;

  const ChildResult result =
      start(size, ChildEnv::clean().set("FAKE_JLI_KILL", "1"));

  EXPECT_EQ(SIGKILL, result.signal) << result.describe();
  const std::vector<std::string> logs = logsIn(folder);
  ASSERT_EQ(1u, logs.size());
  const std::string log = readFinishedLog(logs[0]);
  // Not a diff of a megabyte.
  ASSERT_EQ(size, log.size());
  EXPECT_TRUE(stderrLines(size) == log);
  EXPECT_FALSE(fs::exists(alerts));
}

// Where no log can be written, the start is as it was before logs: the
// alert shows the launcher's line alone. A link is never written through,
// and a folder keeps the permissions its owner gave it.
TEST_F(StderrLogEndToEndTest, NoLinkIsFollowedAndNoLogChangesNothing) {
  const std::string elsewhere = tmp.path() + "/elsewhere";
  const struct {
    const char* label;
    void (*make)(const std::string& folder, const std::string& elsewhere);
    bool logged;
  } rows[] = {
      {"an old log a link to a file elsewhere",
       [](const std::string& dir, const std::string& other) {
         std::ofstream(other) << "kept\n";
         fs::create_symlink(other, dir + "/Tool-20000101-000000-1.log");
         for (int i = 2; i < 6; ++i) {
           std::ofstream(dir + "/Tool-20000101-00000" + std::to_string(i) +
                         "-1.log");
         }
       },
       true},
      {"the folder a link to a folder elsewhere",
       [](const std::string& dir, const std::string& other) {
         fs::create_directory(other);
         fs::remove(dir);
         fs::create_directory_symlink(other, dir);
       },
       false},
      {"the folder read-only",
       [](const std::string& dir, const std::string&) {
         fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
       },
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    if (fs::exists(folder)) {
      fs::permissions(folder, fs::perms::owner_all);
    }
    fs::remove_all(state);
    fs::remove_all(elsewhere);
    fs::create_directories(folder);
    row.make(folder, elsewhere);
    const unsigned folderMode = mode(folder);

    const ChildResult result = start(10, failing());

    EXPECT_EQ(1, result.exitCode) << result.describe();
    if (fs::is_regular_file(elsewhere)) {
      EXPECT_EQ("kept\n", childprocess::readFile(elsewhere));
    } else if (fs::is_directory(elsewhere)) {
      EXPECT_TRUE(fs::is_empty(elsewhere));
    }
    if (!row.logged) {
      EXPECT_EQ(folderMode, mode(folder));
    }
    const std::string alert = childprocess::readFile(alerts);
    EXPECT_EQ(row.logged, !logNamedBy(alert).empty()) << alert;
    if (!row.logged) {
      EXPECT_EQ("Tool: Failed to launch JVM\n", alert);
    }
  }
  fs::permissions(folder, fs::perms::owner_all);
}

}  // namespace
