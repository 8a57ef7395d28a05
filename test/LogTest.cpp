#include "Log.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "RecordingLogAppender.h"

namespace {

// Writes a fixed tag for every event, to show the order appenders are called.
class TagAppender : public LogAppender {
 public:
  TagAppender(std::string& sinkText, const char* tagText)
      : sink(sinkText), tag(tagText) {}
  void append(const LogEvent&) override { sink += tag; }

 private:
  std::string& sink;
  const char* const tag;
};

TEST(LogTest, NamesLevelsAndShortensFilePaths) {
  RecordingLogAppender recorder;
  const Logger logger(recorder, Logger::TRACE);
  struct {
    int level;
    const char* name;
  } const levels[] = {{0, "TRACE"},   {1, "INFO"},    {2, "WARNING"},
                      {3, "ERROR"},   {4, "UNKNOWN"}, {-1, "UNKNOWN"},
                      {INT_MIN, "UNKNOWN"}};
  for (const auto& r : levels) {
    logger.log(static_cast<Logger::LogLevel>(r.level), "f", 1, "g", "m");
    EXPECT_EQ(r.name, recorder.events.back().levelName) << r.level;
  }

  struct {
    const char* file;
    const char* fileName;
  } const files[] = {{"name.cpp", "name.cpp"},
                     {"/src/a/worker.cpp", "worker.cpp"},
                     {"a/b/", ""},
                     {"c:\\src\\w.cpp", "w.cpp"},
                     {"a\\b/c.cpp", "c.cpp"}};
  for (const auto& r : files) {
    logger.log(Logger::TRACE, r.file, 42, "run", "msg");
    const LogEvent& v = recorder.events.back();
    EXPECT_EQ(r.fileName, v.fileName) << r.file;
    EXPECT_EQ(42, v.lineNumber);
    EXPECT_EQ("run", v.functionName);
    EXPECT_EQ("msg", v.message);
  }
}

TEST(LogTest, LevelFiltersOnlyThroughIsLoggable) {
  RecordingLogAppender recorder;
  Logger logger(recorder, Logger::WARNING);
  EXPECT_FALSE(logger.isLoggable(Logger::INFO));
  EXPECT_TRUE(logger.isLoggable(Logger::WARNING));
  EXPECT_TRUE(logger.isLoggable(static_cast<Logger::LogLevel>(4)));
  logger.setLogLevel(Logger::TRACE);
  EXPECT_FALSE(logger.isLoggable(static_cast<Logger::LogLevel>(-1)));

  logger.setLogLevel(Logger::ERROR);
  logger.log(Logger::TRACE, "f", 1, "g", "not filtered");
  EXPECT_EQ(1u, recorder.events.size());
}

TEST(LogTest, StreamAppenderWritesTwoLineRecord) {
  std::ostringstream out;
  StreamLogAppender appender(out);
  const Logger logger(appender, Logger::TRACE);
  logger.log(Logger::TRACE, "src/worker", 42, "run", "Entering run");
  logger.log(static_cast<Logger::LogLevel>(9), "", -3, "", "two\nlines");
  EXPECT_EQ(
      "[worker:42 (run)]\n\tTRACE: Entering run\n"
      "[:-3 ()]\n\tUNKNOWN: two\nlines\n",
      out.str());
}

TEST(LogTest, UntouchedDefaultLoggerWritesToStandardOutput) {
  // A fresh process: the default logger must not have been used before.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        Logger::defaultLogger().log(Logger::TRACE, "a/worker", 42, "run",
                                    "Entering run");
        std::fflush(stdout);
        _exit(0);
      },
      ::testing::ExitedWithCode(0),
      ::testing::Matcher<const std::string&>(
          std::string("[worker:42 (run)]\n\tTRACE: Entering run\n")));
}

TEST(LogTest, TeeForwardsToFirstThenSecondSkippingNull) {
  std::string order;
  TagAppender a(order, "a");
  TagAppender b(order, "b");
  const LogEvent v;
  TeeLogAppender(&a, &b).append(v);
  TeeLogAppender(nullptr, &b).append(v);
  TeeLogAppender(&a, nullptr).append(v);
  TeeLogAppender(nullptr, nullptr).append(v);
  EXPECT_EQ("abba", order);
}

TEST(LogTest, ExtraAppendersNestLastInFirstOut) {
  std::string order;
  TagAppender base(order, "0");
  TagAppender one(order, "1");
  TagAppender two(order, "2");
  Logger& logger = Logger::defaultLogger();
  const DefaultAppenderScope scope(base);
  {
    const WithExtraLogAppender outer(one);
    logger.log(Logger::TRACE, "f", 1, "g", "m");
    {
      const WithExtraLogAppender inner(two);
      logger.log(Logger::TRACE, "f", 1, "g", "m");
    }
    logger.log(Logger::TRACE, "f", 1, "g", "m");
  }
  EXPECT_EQ(&base, &logger.getAppender());
  logger.log(Logger::TRACE, "f", 1, "g", "m");
  EXPECT_EQ("01" "012" "01" "0", order);
}

TEST(LogTest, ScopeTracerWritesEntryAndExitRecords) {
  RecordingLogAppender recorder;
  Logger logger(recorder, Logger::INFO);
  {
    const Logger::ScopeTracer tracer(logger, Logger::INFO, "/src/app.cpp", 17,
                                     "launch", "launch");
    // The level at the exit is not consulted again.
    logger.setLogLevel(Logger::ERROR);
  }
  ASSERT_EQ(2u, recorder.events.size());
  const LogEvent& entry = recorder.events[0];
  const LogEvent& leave = recorder.events[1];
  EXPECT_EQ("Entering launch", entry.message);
  EXPECT_EQ(17, entry.lineNumber);
  EXPECT_EQ("Exiting launch (entered at app.cpp:17)", leave.message);
  EXPECT_EQ(0, leave.lineNumber);
  for (const LogEvent* v : {&entry, &leave}) {
    EXPECT_EQ("INFO", v->levelName);
    EXPECT_EQ("app.cpp", v->fileName);
    EXPECT_EQ("launch", v->functionName);
  }
}

TEST(LogTest, InactiveScopeTracerWritesNothing) {
  RecordingLogAppender recorder;
  Logger logger(recorder, Logger::WARNING);
  {
    const Logger::ScopeTracer tracer(logger, Logger::TRACE, "f.cpp", 1, "g",
                                     "s");
    logger.setLogLevel(Logger::TRACE);
  }
  EXPECT_TRUE(recorder.events.empty());
}

TEST(LogTest, ScopeTracerSwallowsFailureOfExitRecord) {
  class FailOnExit : public LogAppender {
   public:
    void append(const LogEvent& v) override {
      if (v.message.rfind("Exiting", 0) == 0) {
        throw std::runtime_error("disk full");
      }
    }
  } appender;
  Logger logger(appender, Logger::TRACE);
  EXPECT_NO_THROW({
    const Logger::ScopeTracer tracer(logger, Logger::TRACE, "f.cpp", 1, "g",
                                     "s");
  });
}

}  // namespace
