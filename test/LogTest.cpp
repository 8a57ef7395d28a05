#include "Log.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RecordingLogAppender.h"

namespace {

// Adds a fixed tag for every event, to show the order of the appenders.
struct TagAppender : LogAppender {
  TagAppender(std::string& out, char c) : sink(out), tag(c) {}
  void append(const LogEvent&) override { sink += tag; }
  std::string& sink;
  const char tag;
};

TEST(LogTest, EventNamesLevelAndKeepsBaseNameOfFile) {
  RecordingLogAppender recorder;
  const Logger logger(recorder, Logger::ERROR);  // log() does not filter
  const struct {
    int level;
    const char* file;
  } rows[] = {{0, "name.cpp"},     {1, "/s/a.cpp"}, {2, "a/b/"},
              {3, "c:\\s\\w.cpp"}, {4, "a\\b/c"},   {-1, "f"},
              {INT_MIN, "f"}};
  for (const auto& r : rows) {
    logger.log(Logger::LogLevel(r.level), r.file, 42, "run", "m");
  }
  EXPECT_EQ(
      (std::vector<std::string>{"TRACE name.cpp:42 run: m",
                                "INFO a.cpp:42 run: m", "WARNING :42 run: m",
                                "ERROR w.cpp:42 run: m", "UNKNOWN c:42 run: m",
                                "UNKNOWN f:42 run: m", "UNKNOWN f:42 run: m"}),
      recorder.events);
  EXPECT_FALSE(logger.isLoggable(Logger::WARNING));
  EXPECT_TRUE(logger.isLoggable(Logger::LogLevel(4)));
  EXPECT_FALSE(Logger(recorder).isLoggable(Logger::LogLevel(-1)));
}

TEST(LogTest, StreamAppenderWritesTwoLineRecord) {
  std::ostringstream out;
  StreamLogAppender appender(out);
  const Logger logger(appender);
  logger.log(Logger::TRACE, "src/worker", 42, "run", "Entering run");
  logger.log(Logger::LogLevel(9), "", -3, "", "two\nlines");
  EXPECT_EQ(
      "[worker:42 (run)]\n\tTRACE: Entering run\n"
      "[:-3 ()]\n\tUNKNOWN: two\nlines\n",
      out.str());
}

TEST(LogTest, UntouchedDefaultLoggerWritesToStandardOutput) {
  // Re-run in a fresh process, where nothing has used the default logger.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::fflush(stdout);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        Logger::defaultLogger().log(Logger::TRACE, "a/worker", 42, "run",
                                    "Entering run");
        _exit(0);
      },
      ::testing::ExitedWithCode(0),
      ::testing::Matcher<const std::string&>(
          std::string("[worker:42 (run)]\n\tTRACE: Entering run\n")));
}

TEST(LogTest, TeeAndExtraAppendersKeepOrder) {
  std::string order;
  TagAppender a(order, 'a'), b(order, 'b'), c(order, 'c');
  const LogEvent v;
  TeeLogAppender(&a, &b).append(v);
  TeeLogAppender(nullptr, &b).append(v);
  TeeLogAppender(&a, nullptr).append(v);
  TeeLogAppender(nullptr, nullptr).append(v);
  EXPECT_EQ("abba", order);

  order.clear();
  Logger& logger = Logger::defaultLogger();
  const DefaultAppenderScope scope(a);
  {
    const WithExtraLogAppender outer(b);
    {
      const WithExtraLogAppender inner(c);
      logger.log(Logger::TRACE, "f", 1, "g", "m");
    }
    logger.log(Logger::TRACE, "f", 1, "g", "m");
  }
  logger.log(Logger::TRACE, "f", 1, "g", "m");
  EXPECT_EQ("abcaba", order);
}

TEST(LogTest, ScopeTracerWritesEntryAndExitRecords) {
  RecordingLogAppender recorder;
  Logger logger(recorder, Logger::INFO);
  {
    const Logger::ScopeTracer on(logger, Logger::INFO, "/s/app.cpp", 17, "f",
                                 "launch");
    const Logger::ScopeTracer off(logger, Logger::TRACE, "x", 1, "g", "no");
    logger.setLogLevel(Logger::TRACE);  // not consulted again at the exit
  }
  EXPECT_EQ((std::vector<std::string>{
                "INFO app.cpp:17 f: Entering launch",
                "INFO app.cpp:0 f: Exiting launch (entered at app.cpp:17)"}),
            recorder.events);
}

TEST(LogTest, ScopeTracerSwallowsFailureOfExitRecord) {
  struct : LogAppender {
    void append(const LogEvent& v) override {
      if (v.message.rfind("Exiting", 0) == 0) {
        throw std::runtime_error("disk full");
      }
    }
  } failOnExit;
  Logger logger(failOnExit);
  // An escaping exception would end the process from the destructor.
  { const Logger::ScopeTracer tracer(logger, Logger::TRACE, "f", 1, "g", "s"); }
}

}  // namespace
