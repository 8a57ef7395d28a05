#include "ErrorAlertLogAppender.h"

#include <fcntl.h>
#include <unistd.h>

#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "ErrorHandling.h"
#include "TempDir.h"
#include "app.h"

namespace {

std::vector<std::string> alerts;  // "title: message"
std::string failure;

void recordAlert(const std::string& title, const std::string& message) {
  alerts.push_back(title + ": " + message);
}

void fail() {
  THROW_ERROR(failure);
}

// The alerts of a launch failing with `message` while standard error is
// `path`.
std::vector<std::string> alertsOfFailure(const std::string& message,
                                         const std::string& path) {
  alerts.clear();
  failure = message;
  ErrorAlertLogAppender appender(recordAlert);
  const int saved = dup(STDERR_FILENO);
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(fd, STDERR_FILENO);
  close(fd);
  EXPECT_EQ(1, app::launch(std::nothrow, fail, &appender));
  dup2(saved, STDERR_FILENO);
  close(saved);
  return alerts;
}

TEST(ErrorAlertLogAppenderTest, AlertsOnlyWhenStandardErrorReachesNoOne) {
  const TempDir dir;
  const std::string file = (dir.path() / "err").string();
  EXPECT_TRUE(alertsOfFailure("Failed", file).empty());
  EXPECT_EQ("Failed\n", childprocess::readFile(file));
  EXPECT_EQ(std::vector<std::string>{"wrapkin_tests: Failed"},
            alertsOfFailure("Failed", "/dev/null"));

  // Well-formed UTF-8 stays; each byte outside it becomes U+FFFD: a stray
  // byte, a cut sequence, an overlong form, a surrogate, beyond U+10FFFF.
  const std::string r = "\xEF\xBF\xBD";
  const std::string kept = "caf\xC3\xA9 \xF0\x9D\x84\x9E ";
  EXPECT_EQ(std::vector<std::string>{"wrapkin_tests: " + kept + r + "b" + r +
                                     r + "c" + r + r + "d" + r + r + r + "e" +
                                     r + r + r + r},
            alertsOfFailure(kept + "\xFF" + "b\xE2\x9C" + "c\xC0\xAF" +
                                "d\xED\xA0\x80" + "e\xF4\x90\x80\x80",
                            "/dev/null"));
}

}  // namespace
