#pragma once

#include <string>
#include <vector>

#include "Log.h"

// Keeps every event it is given.
class RecordingLogAppender : public LogAppender {
 public:
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
};

// Makes a RecordingLogAppender the default logger's only appender while it
// lives, so the records a test causes neither reach standard output nor mix
// with other tests' records.
class ScopedLogRecorder {
 public:
  ScopedLogRecorder() : previous(Logger::defaultLogger().getAppender()) {
    Logger::defaultLogger().setAppender(recorder);
  }
  ~ScopedLogRecorder() { Logger::defaultLogger().setAppender(previous); }
  ScopedLogRecorder(const ScopedLogRecorder&) = delete;
  ScopedLogRecorder& operator=(const ScopedLogRecorder&) = delete;

  const RecordingLogAppender& log() const { return recorder; }

 private:
  LogAppender& previous;
  RecordingLogAppender recorder;
};
