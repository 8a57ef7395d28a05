#pragma once

#include <vector>

#include "Log.h"

// Keeps a copy of every event it is given.
class RecordingLogAppender : public LogAppender {
 public:
  void append(const LogEvent& v) override { events.push_back(v); }

  std::vector<LogEvent> events;
};

// Makes `appender` the default logger's appender until the end of the scope,
// then puts the previous one back, even after a failed assertion.
class DefaultAppenderScope {
 public:
  explicit DefaultAppenderScope(LogAppender& appender)
      : previous(Logger::defaultLogger().getAppender()) {
    Logger::defaultLogger().setAppender(appender);
  }
  ~DefaultAppenderScope() { Logger::defaultLogger().setAppender(previous); }
  DefaultAppenderScope(const DefaultAppenderScope&) = delete;
  DefaultAppenderScope& operator=(const DefaultAppenderScope&) = delete;

 private:
  LogAppender& previous;
};
