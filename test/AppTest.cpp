#include "app.h"

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ErrorHandling.h"
#include "Log.h"

namespace {

void setDebug(const char* value) {
  value ? setenv("WRAPKIN_DEBUG", value, 1) : unsetenv("WRAPKIN_DEBUG");
}

// Runs the frame in a child process with WRAPKIN_DEBUG set to `debug` (null:
// unset); returns the exit code and, masked, what it wrote on standard error.
std::pair<int, std::string> launchInChild(app::LauncherFunc func,
                                          const char* debug) {
  int fds[2];
  const pid_t pid = pipe(fds) == 0 ? fork() : -1;
  if (pid < 0) {
    throw std::runtime_error("cannot start a child process");
  }
  if (pid == 0) {
    dup2(fds[1], STDERR_FILENO);
    setDebug(debug);
    _exit(app::launch(std::nothrow, func, nullptr));
  }
  close(fds[1]);
  std::string err;
  char buffer[512];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof(buffer))) > 0;) {
    err.append(buffer, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  // The frame's own lines move with every edit of app.cpp; the exit record's
  // line 0 belongs to the format and stays.
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
          std::regex_replace(err, std::regex("app\\.cpp:[1-9][0-9]*"),
                             "app.cpp:L")};
}

const std::string jvmNotFound = "Failed to find JVM in \"/x y\" directory.";

void succeed() {}
void failWithWkError() {
  THROW_ERROR(tstrings::any() << jvmNotFound);
}
const std::string composed = "AppTest.cpp(" + std::to_string(__LINE__ - 2) +
                             ") at failWithWkError(): " + jvmNotFound;
void failWithRuntimeError() {
  errno = ENOENT;  // a stale errno must not become the message
  throw std::runtime_error("Plain failure");
}
void failWithInt() {
  throw 42;
}
void logAndFail() {
  Logger::defaultLogger().log(Logger::TRACE, "d/Step.cpp", 5, "step", "Read");
  failWithWkError();
}

TEST(AppTest, PrintsOneLineOrTheLogPerOutcome) {
  const std::string entering = "[TRACE] app.cpp:L: Entering launch\n";
  const std::string exiting =
      "[TRACE] app.cpp:0: Exiting launch (entered at app.cpp:L)\n";
  const std::string caught = "[ERROR] app.cpp:L: Exception with message '";
  const std::string unknown = "[ERROR] app.cpp:L: Unknown exception caught\n";
  const struct {
    app::LauncherFunc func;
    std::string loggingOff;
    std::string errorRecord;  // with logging on, before loggingOff's line
  } rows[] = {
      {succeed, "", ""},
      {failWithWkError, jvmNotFound + "\n", caught + composed + "' caught\n"},
      {failWithRuntimeError, "Plain failure\n",
       caught + "Plain failure' caught\n"},
      {failWithInt, "Unknown error\n", unknown},
  };
  for (const auto& r : rows) {
    const int exitCode = r.func == succeed ? 0 : 1;
    for (const char* off : {static_cast<const char*>(nullptr), "", "TRUE",
                            "True", "true ", "1"}) {
      EXPECT_EQ(std::make_pair(exitCode, r.loggingOff),
                launchInChild(r.func, off))
          << (off ? off : "(unset)");
    }
    EXPECT_EQ(std::make_pair(exitCode,
                             entering + r.errorRecord + r.loggingOff + exiting),
              launchInChild(r.func, "true"));
  }
  EXPECT_EQ(std::make_pair(1, entering + "[TRACE] Step.cpp:5: Read\n" + caught +
                                  composed + "' caught\n" + jvmNotFound + "\n" +
                                  exiting),
            launchInChild(logAndFail, "true"));
}

// Keeps each event with the last error message of the moment.
struct LastErrorRecorder : LogAppender {
  void append(const LogEvent& v) override {
    events.push_back(v.levelName + " " + v.message + " / " +
                     app::lastErrorMsg());
  }
  std::vector<std::string> events;
};

TEST(AppTest, ExtraAppenderReceivesOnlyTheFailureReport) {
  const char* const old = getenv("WRAPKIN_DEBUG");
  const std::string oldValue = old ? old : "";
  setDebug(nullptr);
  LastErrorRecorder extra;
  EXPECT_EQ(1, app::launch(std::nothrow, logAndFail, &extra));
  EXPECT_EQ("", app::lastErrorMsg());
  // The tee is gone once the frame returns.
  Logger::defaultLogger().log(Logger::ERROR, "f", 1, "g", "after");
  EXPECT_EQ(0, app::launch(std::nothrow, succeed, &extra));
  setDebug(old ? oldValue.c_str() : nullptr);
  EXPECT_EQ(std::vector<std::string>{"ERROR Exception with message '" +
                                     composed + "' caught / " + jvmNotFound},
            extra.events);
}

}  // namespace
