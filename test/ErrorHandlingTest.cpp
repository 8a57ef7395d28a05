#include "ErrorHandling.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "RecordingLogAppender.h"

namespace {

TEST(ErrorHandlingTest, ComposesMessageWithFileNameOfPosition) {
  const std::runtime_error e("M");
  struct {
    const char* file;
    const char* composed;
  } const rows[] = {
      {"a/b/f", "f(7) at g(): M"},
      {"a\\b\\f.cpp", "f.cpp(7) at g(): M"},
      {"f.cpp", "f.cpp(7) at g(): M"},
      {"a/b/", "(7) at g(): M"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(r.composed, makeMessage(e, SourceCodePos(r.file, "g", 7)))
        << r.file;
  }
}

TEST(ErrorHandlingTest, ErrorGivesRawAndComposedMessage) {
  const SourceCodePos pos("src/x/AppLauncher.cpp", "findJvmLib", 87);
  const WkError<std::runtime_error> fromAny =
      makeException(tstrings::any() << "Failed " << 2 << " times", pos);
  EXPECT_STREQ("Failed 2 times", fromAny.rawMessage());
  EXPECT_STREQ("AppLauncher.cpp(87) at findJvmLib(): Failed 2 times",
               fromAny.what());

  const WkError<std::runtime_error> fromText = makeException("Plain", pos);
  const WkError<std::runtime_error> copy(fromText);
  EXPECT_STREQ("Plain", copy.rawMessage());
  EXPECT_STREQ("AppLauncher.cpp(87) at findJvmLib(): Plain", copy.what());
}

void raiseLiteral() { THROW_ERROR("Literal message"); }
const int raiseLiteralLine = __LINE__ - 1;

void raiseComposed() {
  THROW_ERROR(tstrings::any() << "Error opening \"" << "a.cfg" << "\" file");
}
const int raiseComposedLine = __LINE__ - 2;

TEST(ErrorHandlingTest, ThrowErrorCarriesRaisePosition) {
  try {
    raiseLiteral();
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ("ErrorHandlingTest.cpp(" + std::to_string(raiseLiteralLine) +
                  ") at raiseLiteral(): Literal message",
              e.what());
    ASSERT_NE(nullptr, dynamic_cast<const WkErrorBase*>(&e));
  }
  try {
    raiseComposed();
    FAIL() << "no exception";
  } catch (const WkErrorBase& e) {
    EXPECT_STREQ("Error opening \"a.cfg\" file", e.rawMessage());
    EXPECT_EQ("ErrorHandlingTest.cpp(" + std::to_string(raiseComposedLine) +
                  ") at raiseComposed(): Error opening \"a.cfg\" file",
              dynamic_cast<const std::runtime_error&>(e).what());
  }
}

TEST(ErrorHandlingTest, ReportsCaughtErrorsAsOneErrorEvent) {
  RecordingLogAppender recorder;
  const DefaultAppenderScope scope(recorder);
  const SourceCodePos catchPos("dir/app.cpp", "launch", 12);

  reportError(catchPos, std::runtime_error("M"));
  reportError(catchPos,
              makeException("Raw", SourceCodePos("x/Raise.cpp", "load", 3)));
  reportUnknownError(catchPos);

  ASSERT_EQ(3u, recorder.events.size());
  const char* const messages[] = {
      "Exception with message 'M' caught",
      "Exception with message 'Raise.cpp(3) at load(): Raw' caught",
      "Unknown exception caught"};
  for (std::size_t i = 0; i < 3; ++i) {
    const LogEvent& v = recorder.events[i];
    EXPECT_EQ(messages[i], v.message);
    EXPECT_EQ("ERROR", v.levelName) << i;
    EXPECT_EQ("app.cpp", v.fileName) << i;
    EXPECT_EQ(12, v.lineNumber) << i;
    EXPECT_EQ("launch", v.functionName) << i;
  }
}

TEST(ErrorHandlingTest, ReportBypassesLoggerLevel) {
  RecordingLogAppender recorder;
  Logger& logger = Logger::defaultLogger();
  const DefaultAppenderScope scope(recorder);
  logger.setLogLevel(static_cast<Logger::LogLevel>(10));
  reportUnknownError(SourceCodePos("f", "g", 1));
  logger.setLogLevel(Logger::TRACE);
  EXPECT_EQ(1u, recorder.events.size());
}

TEST(ErrorHandlingTest, JoinsMessagesAsSentences) {
  struct {
    const char* a;
    const char* b;
    const char* joined;
  } const rows[] = {
      {"Failed", "reason", "Failed. reason"},
      {"Failed:", " reason ", "Failed: reason"},
      {"Failed.  ", "", "Failed."},
      {"", "reason", "reason"},
      {"  Failed", "reason", "  Failed. reason"},
      {"Failed", "   ", "Failed"},
      {"Failed?\t\r\n", "\v\freason\n", "Failed? reason"},
      {"   ", "reason", "reason"},
      {"", "", ""},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(r.joined, joinErrorMessages(r.a, r.b))
        << '"' << r.a << "\" + \"" << r.b << '"';
  }
  for (const char end : std::string(";.,:!?")) {
    EXPECT_EQ(std::string("a") + end + " b",
              joinErrorMessages(std::string("a") + end, "b"))
        << end;
  }
}

TEST(ErrorHandlingTest, LastCrtErrorIsSystemTextOfErrno) {
  const bool failed = open("/nonexistent-dir/file", O_RDONLY) == -1;
  const std::string text = lastCRTError();
  ASSERT_TRUE(failed);
  EXPECT_EQ(std::strerror(ENOENT), text);
}

}  // namespace
