#pragma once

#include <string>
#include <vector>

#include "Log.h"

// Keeps every event as "LEVEL file:line function: message", so that a test
// compares whole events at once.
class RecordingLogAppender : public LogAppender {
 public:
  void append(const LogEvent& v) override {
    events.push_back(v.levelName + " " + v.fileName + ":" +
                     std::to_string(v.lineNumber) + " " + v.functionName +
                     ": " + v.message);
  }

  std::vector<std::string> events;
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

 private:
  LogAppender& previous;
};
