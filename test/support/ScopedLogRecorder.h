#pragma once

#include <string>
#include <vector>

#include "Log.h"

// Makes itself the default logger's appender while it lives and keeps every
// event, so a test sees its own records and nothing reaches standard output.
class ScopedLogRecorder : public LogAppender {
 public:
  ScopedLogRecorder() : previous(Logger::defaultLogger().getAppender()) {
    Logger::defaultLogger().setAppender(*this);
  }
  ~ScopedLogRecorder() override {
    Logger::defaultLogger().setAppender(previous);
  }
  ScopedLogRecorder(const ScopedLogRecorder&) = delete;
  ScopedLogRecorder& operator=(const ScopedLogRecorder&) = delete;

  void append(const LogEvent& v) override { events.push_back(v); }

  // The events whose message starts with `prefix`.
  std::vector<LogEvent> withPrefix(const std::string& prefix) const {
    std::vector<LogEvent> out;
    for (const LogEvent& e : events) {
      if (e.message.compare(0, prefix.size(), prefix) == 0) {
        out.push_back(e);
      }
    }
    return out;
  }

  std::vector<LogEvent> events;

 private:
  LogAppender& previous;
};
