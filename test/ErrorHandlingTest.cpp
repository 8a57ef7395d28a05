#include "ErrorHandling.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RecordingLogAppender.h"

namespace {

void raiseOpenError() {
  THROW_ERROR(tstrings::any() << "Error opening \"" << 7 << '"');
}
const int raiseLine = __LINE__ - 2;

TEST(ErrorHandlingTest, ErrorCarriesRawAndComposedMessage) {
  try {
    raiseOpenError();
    ADD_FAILURE() << "no exception";
  } catch (const WkErrorBase& e) {
    EXPECT_STREQ("Error opening \"7\"", e.rawMessage());
    EXPECT_EQ("ErrorHandlingTest.cpp(" + std::to_string(raiseLine) +
                  ") at raiseOpenError(): Error opening \"7\"",
              dynamic_cast<const std::runtime_error&>(e).what());
  }
  const char* const rows[][2] = {{"a/b/f", "f(7) at g(): M"},
                                 {"a\\b\\f.cpp", "f.cpp(7) at g(): M"},
                                 {"f.cpp", "f.cpp(7) at g(): M"},
                                 {"a/b/", "(7) at g(): M"}};
  for (const auto& r : rows) {
    const WkError<std::runtime_error> copy(
        makeException("M", SourceCodePos(r[0], "g", 7)));
    EXPECT_STREQ(r[1], copy.what()) << r[0];
    EXPECT_STREQ("M", copy.rawMessage()) << r[0];
  }
}

TEST(ErrorHandlingTest, ReportsCaughtFailureAsOneErrorEvent) {
  RecordingLogAppender recorder;
  const DefaultAppenderScope scope(recorder);
  Logger::defaultLogger().setLogLevel(static_cast<Logger::LogLevel>(9));
  const SourceCodePos at("dir/app.cpp", "launch", 12);
  reportError(at, std::runtime_error("M"));
  reportError(at, makeException("Raw", SourceCodePos("x/R.cpp", "load", 3)));
  reportUnknownError(at);
  Logger::defaultLogger().setLogLevel(Logger::TRACE);

  EXPECT_EQ((std::vector<std::string>{
                "ERROR app.cpp:12 launch: Exception with message 'M' caught",
                "ERROR app.cpp:12 launch: Exception with message "
                "'R.cpp(3) at load(): Raw' caught",
                "ERROR app.cpp:12 launch: Unknown exception caught"}),
            recorder.events);
}

TEST(ErrorHandlingTest, JoinsMessagesAsSentences) {
  const char* const rows[][3] = {
      {"Failed", "reason", "Failed. reason"},
      {"Failed:", " reason ", "Failed: reason"},
      {"Failed.  ", "", "Failed."},
      {"", "reason", "reason"},
      {"  Failed", "reason", "  Failed. reason"},
      {"Failed", "   ", "Failed"},
      {"Failed?\t\r\n", "\v\freason\n", "Failed? reason"},
      {";", "b", "; b"},
      {"!", "b", "! b"},
      {",", "b", ", b"}};
  for (const auto& r : rows) {
    EXPECT_EQ(r[2], joinErrorMessages(r[0], r[1])) << r[0] << " + " << r[1];
  }
}

TEST(ErrorHandlingTest, LastCrtErrorIsSystemTextOfErrno) {
  const bool failed = open("/nonexistent-dir/file", O_RDONLY) == -1;
  const std::string text = lastCRTError();
  ASSERT_TRUE(failed);
  EXPECT_EQ(std::strerror(ENOENT), text);
}

}  // namespace
