#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "PlatformLogEvent.h"
#include "tstrings.h"

// One log record. `fileName` is the base name of the caller's source path.
struct LogEvent : public PlatformLogEvent {
  std::string levelName;
  std::string fileName;
  int lineNumber = 0;
  std::string functionName;
  std::string message;

  LogEvent() = default;

  static void init(PlatformLogEvent& logEvent);
  static void appendFormatted(const PlatformLogEvent& logEvent,
                              std::string& buffer);
};

// Sink of log events. Appenders are never owned by the logger: whoever
// installs one keeps it alive while it is installed.
class LogAppender {
 public:
  virtual ~LogAppender() {}
  virtual void append(const LogEvent& v) = 0;
};

// Writes "[file:line (function)]\n\tLEVEL: message" to a stream.
class StreamLogAppender : public LogAppender {
 public:
  explicit StreamLogAppender(std::ostream& stream) : consumer(&stream) {}
  void append(const LogEvent& v) override;

 private:
  std::ostream* consumer;
};

class NopLogAppender : public LogAppender {
 public:
  void append(const LogEvent&) override {}
};

// Forwards every event to `first`, then to `second`; either may be null.
class TeeLogAppender : public LogAppender {
 public:
  TeeLogAppender(LogAppender* firstAppender, LogAppender* secondAppender)
      : first(firstAppender), second(secondAppender) {}
  void append(const LogEvent& v) override;

 private:
  LogAppender* first;
  LogAppender* second;
};

class Logger {
 public:
  // Any int is a valid level; values outside 0..3 print as "UNKNOWN".
  enum LogLevel : std::int32_t { TRACE = 0, INFO = 1, WARNING = 2, ERROR = 3 };

  Logger(LogAppender& logAppender, LogLevel logLevel = TRACE)
      : level(logLevel), appender(&logAppender) {}
  ~Logger() {}

  // The process-wide logger. Starts at TRACE with an appender that writes to
  // standard output; it is never destroyed, so logging works during exit.
  static Logger& defaultLogger();

  void setLogLevel(LogLevel logLevel) { level = logLevel; }
  bool isLoggable(LogLevel logLevel) const { return logLevel >= level; }

  LogAppender& getAppender() const { return *appender; }
  Logger& setAppender(LogAppender& v) {
    appender = &v;
    return *this;
  }

  // Builds one event and hands it to the current appender; does not filter
  // by level.
  void log(LogLevel logLevel, const char* fileName, int lineNum,
           const char* funcName, const std::string& message) const;

  // Writes "Entering <scope>" on construction and, when that was written,
  // "Exiting <scope> (entered at <file>:<line>)" on destruction.
  class ScopeTracer {
   public:
    ScopeTracer(Logger& owner, LogLevel logLevel, const char* fileName,
                int lineNum, const char* funcName, const std::string& name);
    ~ScopeTracer();
    ScopeTracer(const ScopeTracer&) = delete;
    ScopeTracer& operator=(const ScopeTracer&) = delete;

   private:
    Logger& logger;
    const LogLevel level;
    const std::string file;
    const int line;
    const std::string function;
    const std::string scopeName;
    const bool active;
  };

 private:
  friend union DefaultLoggerStorage;
  // Only the default logger is made this way: TRACE and no appender yet.
  constexpr Logger() : level(TRACE), appender(nullptr) {}

  static void initializeLogging();
  static void initializingLogging();

  LogLevel level;
  LogAppender* appender;
};

// Installs `extra` beside the default logger's current appender until it is
// destroyed. Instances nest in last-in, first-out order.
class WithExtraLogAppender {
 public:
  explicit WithExtraLogAppender(LogAppender& extra);
  virtual ~WithExtraLogAppender();
  WithExtraLogAppender(const WithExtraLogAppender&) = delete;
  WithExtraLogAppender& operator=(const WithExtraLogAppender&) = delete;

 private:
  LogAppender* const previousAppender;
  TeeLogAppender tee;
};

#define LOG_AT(level, msg)                                              \
  do {                                                                  \
    Logger& wkLogger = Logger::defaultLogger();                         \
    if (wkLogger.isLoggable(Logger::level)) {                           \
      wkLogger.log(Logger::level, __FILE__, __LINE__, __func__,         \
                   (tstrings::any() << msg).str());                     \
    }                                                                   \
  } while (false)

#define LOG_TRACE(msg) LOG_AT(TRACE, msg)
#define LOG_WARNING(msg) LOG_AT(WARNING, msg)
