#include "Log.h"

#include <cstdint>
#include <iostream>
#include <new>

#include "FileUtils.h"

// The default logger is constant-initialised and never destroyed, so it can
// be used from any static initialiser or destructor of the process. The union
// keeps the compiler from ever running the logger's destructor.
union DefaultLoggerStorage {
  constexpr DefaultLoggerStorage() : logger() {}
  ~DefaultLoggerStorage() {}
  Logger logger;
};

namespace {

DefaultLoggerStorage defaultLoggerMemory;

// Raw storage for the stream appender that the default logger starts with;
// it is built on first use and never destroyed.
alignas(StreamLogAppender) unsigned char
    defaultLogAppenderMemory[sizeof(StreamLogAppender)];

enum State { NotInitialized = 0, Initializing = 1, Initialized = 2 };
int state = NotInitialized;

const char* const levelNames[] = {"TRACE", "INFO", "WARNING", "ERROR"};

const char* levelName(Logger::LogLevel level) {
  const auto index = static_cast<std::uint32_t>(level);
  if (index < sizeof(levelNames) / sizeof(levelNames[0])) {
    return levelNames[index];
  }
  return "UNKNOWN";
}

}  // namespace

Logger& Logger::defaultLogger() {
  Logger& reply = defaultLoggerMemory.logger;
  if (reply.appender == nullptr) {
    reply.appender =
        new (defaultLogAppenderMemory) StreamLogAppender(std::cout);
  }

  switch (state) {
    case NotInitialized:
      state = Initializing;
      initializeLogging();
      state = Initialized;
      break;
    case Initializing:
      initializingLogging();
      break;
    default:
      break;
  }
  return reply;
}

void Logger::log(LogLevel logLevel, const char* fileName, int lineNum,
                 const char* funcName, const std::string& message) const {
  LogEvent logEvent;
  LogEvent::init(logEvent);
  logEvent.fileName = FileUtils::basename(fileName ? fileName : "");
  logEvent.functionName = funcName ? funcName : "";
  logEvent.levelName = levelName(logLevel);
  logEvent.lineNumber = lineNum;
  logEvent.message = message;
  appender->append(logEvent);
}

void StreamLogAppender::append(const LogEvent& v) {
  // One insertion per record, so that records of two threads never mix.
  std::string platformLogStr;
  LogEvent::appendFormatted(v, platformLogStr);
  const std::string record =
      (tstrings::any() << "[" << platformLogStr << v.fileName << ":"
                       << v.lineNumber << " (" << v.functionName << ")]\n\t"
                       << v.levelName << ": " << v.message)
          .str();
  *consumer << record << std::endl;
}

void TeeLogAppender::append(const LogEvent& v) {
  if (first != nullptr) {
    first->append(v);
  }
  if (second != nullptr) {
    second->append(v);
  }
}

Logger::ScopeTracer::ScopeTracer(Logger& owner, LogLevel logLevel,
                                 const char* fileName, int lineNum,
                                 const char* funcName,
                                 const std::string& name)
    : logger(owner),
      level(logLevel),
      file(fileName),
      line(lineNum),
      function(funcName),
      scopeName(name),
      active(owner.isLoggable(logLevel)) {
  if (active) {
    logger.log(level, file.c_str(), line, function.c_str(),
               "Entering " + scopeName);
  }
}

Logger::ScopeTracer::~ScopeTracer() {
  if (!active) {
    return;
  }
  try {
    logger.log(level, file.c_str(), 0, function.c_str(),
               (tstrings::any() << "Exiting " << scopeName << " (entered at "
                                << FileUtils::basename(file) << ":" << line
                                << ")")
                   .str());
  } catch (...) {
    // A tracer runs during unwinding; it must not end the process.
  }
}

WithExtraLogAppender::WithExtraLogAppender(LogAppender& extra)
    : previousAppender(&Logger::defaultLogger().getAppender()),
      tee(previousAppender, &extra) {
  Logger::defaultLogger().setAppender(tee);
}

WithExtraLogAppender::~WithExtraLogAppender() {
  Logger::defaultLogger().setAppender(*previousAppender);
}
