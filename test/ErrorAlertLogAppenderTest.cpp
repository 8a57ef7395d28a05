#include "ErrorAlertLogAppender.h"

#include <fcntl.h>
#include <unistd.h>

#include <iostream>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "ErrorHandling.h"
#include "TempDir.h"
#include "app.h"

namespace {

std::vector<std::pair<std::string, std::string>> alerts;

void recordAlert(const std::string& title, const std::string& message) {
  alerts.emplace_back(title, message);
}

std::string failure;

void fail() {
  THROW_ERROR(failure);
}

// Points standard error at `path` (null: closes it) until the end of the
// scope.
class StandardErrorScope {
 public:
  explicit StandardErrorScope(const char* path) : saved(dup(STDERR_FILENO)) {
    std::cerr.flush();
    const int fd =
        path != nullptr ? open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600) : -1;
    if (fd >= 0) {
      dup2(fd, STDERR_FILENO);
      close(fd);
    } else {
      close(STDERR_FILENO);
    }
  }
  ~StandardErrorScope() {
    dup2(saved, STDERR_FILENO);
    close(saved);
    // A write to the closed descriptor left the stream failed.
    std::cerr.clear();
  }
  StandardErrorScope(const StandardErrorScope&) = delete;
  StandardErrorScope& operator=(const StandardErrorScope&) = delete;

 private:
  const int saved;
};

TEST(ErrorAlertLogAppenderTest, AlertsOnlyWhenStandardErrorReachesNoOne) {
  const TempDir dir;
  const std::string file = (dir.path() / "err").string();
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD
  const struct {
    const char* label;
    const char* stderrPath;  // null: closed
    std::string message;
    std::string alerted;  // empty: no alert
  } rows[] = {
      {"a file", file.c_str(), "Failed", ""},
      {"the null device", "/dev/null", "Failed", "Failed"},
      {"closed", nullptr, "Failed", "Failed"},
      {"well-formed UTF-8 kept", "/dev/null",
       "caf\xC3\xA9 \xE2\x9C\x93 \xF0\x9D\x84\x9E",
       "caf\xC3\xA9 \xE2\x9C\x93 \xF0\x9D\x84\x9E"},
      // Each byte outside a well-formed sequence becomes U+FFFD: a stray
      // byte, a cut sequence, an overlong form, a surrogate, beyond U+10FFFF.
      {"bad bytes replaced", "/dev/null",
       std::string("a\xFF") + "b\xE2\x9C" + "c\xC0\xAF" + "d\xED\xA0\x80" +
           "e\xF4\x90\x80\x80",
       "a" + r + "b" + r + r + "c" + r + r + "d" + r + r + r + "e" + r + r + r +
           r},
  };
  ErrorAlertLogAppender appender(recordAlert);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    alerts.clear();
    failure = row.message;
    int exitCode = 0;
    {
      const StandardErrorScope redirected(row.stderrPath);
      exitCode = app::launch(std::nothrow, fail, &appender);
    }

    EXPECT_EQ(1, exitCode);
    if (row.alerted.empty()) {
      EXPECT_TRUE(alerts.empty());
    } else {
      // Titled with the name of the running executable.
      EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{
                    {"wrapkin_tests", row.alerted}}),
                alerts);
    }
  }
  // Standard error still gets the line, whatever it is.
  EXPECT_EQ("Failed\n", childprocess::readFile(file));
}

}  // namespace
