#include "app.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ErrorHandling.h"
#include "Log.h"
#include "tstrings.h"

namespace {

const char* const debugVar = "WRAPKIN_DEBUG";

// Sets or (for null) unsets WRAPKIN_DEBUG until the end of the scope.
class DebugVarScope {
 public:
  explicit DebugVarScope(const char* value) {
    const char* old = getenv(debugVar);
    hadOld = old != nullptr;
    oldValue = hadOld ? old : "";
    set(value);
  }
  ~DebugVarScope() { set(hadOld ? oldValue.c_str() : nullptr); }
  DebugVarScope(const DebugVarScope&) = delete;
  DebugVarScope& operator=(const DebugVarScope&) = delete;

  static void set(const char* value) {
    if (value != nullptr) {
      setenv(debugVar, value, 1);
    } else {
      unsetenv(debugVar);
    }
  }

 private:
  bool hadOld;
  std::string oldValue;
};

struct Outcome {
  int exitCode;
  std::string err;
};

// Runs the frame in a child process, the way the launcher runs it, and
// returns its exit code and everything it wrote to standard error.
Outcome launchInChild(app::LauncherFunc func, const char* debug) {
  int fds[2];
  if (pipe(fds) != 0) {
    throw std::runtime_error("pipe failed");
  }
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDERR_FILENO);
    close(fds[0]);
    close(fds[1]);
    DebugVarScope::set(debug);
    _exit(app::launch(std::nothrow, func, nullptr));
  }
  close(fds[1]);
  Outcome outcome{-1, std::string()};
  char buffer[512];
  for (;;) {
    const ssize_t n = read(fds[0], buffer, sizeof(buffer));
    if (n > 0) {
      outcome.err.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  close(fds[0]);
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
    outcome.exitCode = WEXITSTATUS(status);
  }
  return outcome;
}

// The frame's own line numbers change with every edit of app.cpp; the exit
// record's line 0 is kept, it is part of the format.
std::string maskFrameLines(const std::string& text) {
  static const std::regex frameLine("app\\.cpp:[1-9][0-9]*");
  return std::regex_replace(text, frameLine, "app.cpp:L");
}

const char* const jvmNotFound = "Failed to find JVM in \"/x y\" directory.";

void succeed() {}

void failWithWkError() { THROW_ERROR(tstrings::any() << jvmNotFound); }
const int raiseLine = __LINE__ - 1;

void failWithRuntimeError() {
  errno = ENOENT;  // a stale errno must not become the message
  throw std::runtime_error("Plain failure");
}

void failWithInt() { throw 42; }

void failInFormat() {
  const char* const nullFormat = nullptr;
  tstrings::unsafe_format(nullFormat);
}

void logAndFail() {
  Logger::defaultLogger().log(Logger::TRACE, "dir/Step.cpp", 5, "step",
                              "Reading");
  failWithWkError();
}

TEST(AppTest, PrintsOneLineOrLogPerOutcome) {
  const std::string entering = "[TRACE] app.cpp:L: Entering launch\n";
  const std::string exiting =
      "[TRACE] app.cpp:0: Exiting launch (entered at app.cpp:L)\n";
  const std::string composed = "AppTest.cpp(" + std::to_string(raiseLine) +
                               ") at failWithWkError(): " + jvmNotFound;
  struct {
    const char* name;
    app::LauncherFunc func;
    int exitCode;
    std::string loggingOff;
    std::string errorRecord;  // the ERROR line with logging on
  } const rows[] = {
      {"success", succeed, 0, "", ""},
      {"WkError", failWithWkError, 1, jvmNotFound + std::string("\n"),
       "[ERROR] app.cpp:L: Exception with message '" + composed +
           "' caught\n"},
      {"runtime_error", failWithRuntimeError, 1, "Plain failure\n",
       "[ERROR] app.cpp:L: Exception with message 'Plain failure' caught\n"},
      {"int", failWithInt, 1, "Unknown error\n",
       "[ERROR] app.cpp:L: Unknown exception caught\n"},
      {"invalid_argument", failInFormat, 1, "Unknown error\n",
       "[ERROR] app.cpp:L: Unknown exception caught\n"},
  };
  for (const auto& r : rows) {
    const Outcome off = launchInChild(r.func, nullptr);
    EXPECT_EQ(r.exitCode, off.exitCode) << r.name;
    EXPECT_EQ(r.loggingOff, off.err) << r.name;

    const Outcome on = launchInChild(r.func, "true");
    EXPECT_EQ(r.exitCode, on.exitCode) << r.name;
    EXPECT_EQ(entering + r.errorRecord + r.loggingOff + exiting,
              maskFrameLines(on.err))
        << r.name;
  }
}

TEST(AppTest, LogsWhatTheLaunchLogsOnlyWhenDebugIsTrue) {
  const Outcome on = launchInChild(logAndFail, "true");
  EXPECT_EQ(1, on.exitCode);
  EXPECT_NE(std::string::npos,
            on.err.find("\n[TRACE] Step.cpp:5: Reading\n[ERROR] app.cpp:"))
      << on.err;

  for (const char* value : {"", "TRUE", "True", "true ", " true", "1"}) {
    const Outcome off = launchInChild(logAndFail, value);
    EXPECT_EQ(1, off.exitCode) << '"' << value << '"';
    EXPECT_EQ(jvmNotFound + std::string("\n"), off.err) << '"' << value << '"';
  }
}

TEST(AppTest, LoggingIsOnExactlyForTrue) {
  const struct {
    const char* value;
    bool on;
  } rows[] = {{nullptr, false}, {"", false},     {"TRUE", false},
              {"True", false},  {"true ", false}, {"1", false},
              {"truex", false}, {"true", true}};
  for (const auto& r : rows) {
    const DebugVarScope debug(r.value);
    EXPECT_EQ(r.on, app::isWithLogging()) << (r.value ? r.value : "(unset)");
  }
}

// Keeps each event with the last error message seen while it was appended.
class LastErrorRecorder : public LogAppender {
 public:
  void append(const LogEvent& v) override {
    events.push_back(v.levelName + " " + v.message);
    lastErrors.push_back(app::lastErrorMsg());
  }
  std::vector<std::string> events;
  std::vector<std::string> lastErrors;
};

TEST(AppTest, ExtraAppenderReceivesOnlyTheFailureReport) {
  const DebugVarScope debug(nullptr);
  LastErrorRecorder extra;
  EXPECT_EQ(1, app::launch(std::nothrow, logAndFail, &extra));
  ASSERT_EQ(1u, extra.events.size());
  EXPECT_EQ("ERROR Exception with message 'AppTest.cpp(" +
                std::to_string(raiseLine) + ") at failWithWkError(): " +
                jvmNotFound + "' caught",
            extra.events[0]);
  EXPECT_EQ(jvmNotFound, extra.lastErrors[0]);
  EXPECT_EQ("", app::lastErrorMsg());

  // The tee is gone: later events do not reach the extra appender.
  Logger::defaultLogger().log(Logger::ERROR, "f", 1, "g", "after");
  EXPECT_EQ(0, app::launch(std::nothrow, succeed, &extra));
  EXPECT_EQ(1u, extra.events.size());
}

}  // namespace
