#include "app.h"

#include <iostream>
#include <memory>
#include <stdexcept>

#include "ErrorHandling.h"
#include "Log.h"
#include "SysInfo.h"

namespace {

// "[LEVEL] file:line: message" on standard error.
class StandardLogAppender : public LogAppender {
 public:
  void append(const LogEvent& v) override {
    const std::string record =
        (tstrings::any() << "[" << v.levelName << "] " << v.fileName << ":"
                         << v.lineNumber << ": " << v.message)
            .str();
    std::cerr << record << std::endl;
  }
};

const std::string* theLastErrorMsg = nullptr;

// Prints the message of the failure being reported, whatever the event says:
// the user sees the failure in the system's words, without positions.
class LastErrorLogAppender : public LogAppender {
 public:
  void append(const LogEvent&) override {
    const std::string* msg = theLastErrorMsg;
    std::cerr << (msg != nullptr ? *msg : std::string()) << std::endl;
  }
};

NopLogAppender nopLogAppender;
StandardLogAppender standardLogAppender;
LastErrorLogAppender lastErrorLogAppender;

// Adds the extra appender beside the current one once the launch function
// has ended, so that only the failure report reaches it.
class SetLoggerAtEndOfScope {
 public:
  SetLoggerAtEndOfScope(std::unique_ptr<WithExtraLogAppender>& holder,
                        LogAppender* extraAppender)
      : withLogAppender(holder), lastErrorLogAppender(extraAppender) {}

  ~SetLoggerAtEndOfScope() {
    try {
      withLogAppender.reset(new WithExtraLogAppender(*lastErrorLogAppender));
    } catch (const std::runtime_error& e) {
      reportError(THIS_SOURCE_CODE_POS, e);
    } catch (...) {
      reportUnknownError(THIS_SOURCE_CODE_POS);
    }
  }

  SetLoggerAtEndOfScope(const SetLoggerAtEndOfScope&) = delete;
  SetLoggerAtEndOfScope& operator=(const SetLoggerAtEndOfScope&) = delete;

 private:
  std::unique_ptr<WithExtraLogAppender>& withLogAppender;
  LogAppender* const lastErrorLogAppender;
};

// Points theLastErrorMsg at the message while the failure is reported.
class LastErrorMsgScope {
 public:
  explicit LastErrorMsgScope(const std::string& msg) { theLastErrorMsg = &msg; }
  ~LastErrorMsgScope() { theLastErrorMsg = nullptr; }
  LastErrorMsgScope(const LastErrorMsgScope&) = delete;
  LastErrorMsgScope& operator=(const LastErrorMsgScope&) = delete;
};

}  // namespace

namespace app {

bool isWithLogging() {
  return SysInfo::getEnvVariable(std::nothrow, "WRAPKIN_DEBUG",
                                 std::string()) == "true";
}

std::string lastErrorMsg() {
  const std::string* msg = theLastErrorMsg;
  return msg != nullptr ? *msg : std::string();
}

LogAppender& defaultLastErrorLogAppender() { return lastErrorLogAppender; }

int launch(const std::nothrow_t&, LauncherFunc func,
           LogAppender* lastErrorLogAppender) {
  Logger& logger = Logger::defaultLogger();
  if (isWithLogging()) {
    logger.setAppender(standardLogAppender);
  } else {
    logger.setAppender(nopLogAppender);
  }

  // Declared in this order so that on the way out the extra appender goes
  // first and the tracer's exit record reaches the restored appender.
  const Logger::ScopeTracer tracer(logger, Logger::TRACE, __FILE__, __LINE__,
                                   __func__, "launch");
  std::unique_ptr<WithExtraLogAppender> withLogAppender;
  std::string errorMsg;

  if (lastErrorLogAppender == nullptr) {
    lastErrorLogAppender = &defaultLastErrorLogAppender();
  }

  try {
    try {
      SetLoggerAtEndOfScope setLogger(withLogAppender, lastErrorLogAppender);
      func();
      return 0;
    } catch (const WkErrorBase& e) {
      errorMsg = e.rawMessage();
      const LastErrorMsgScope lastErrorMsgScope(errorMsg);
      const auto* runtimeError = dynamic_cast<const std::runtime_error*>(&e);
      if (runtimeError != nullptr) {
        reportError(THIS_SOURCE_CODE_POS, *runtimeError);
      } else {
        reportUnknownError(THIS_SOURCE_CODE_POS);
      }
    } catch (const std::runtime_error& e) {
      // The failure's own text: errno has nothing to do with it.
      errorMsg = e.what();
      const LastErrorMsgScope lastErrorMsgScope(errorMsg);
      reportError(THIS_SOURCE_CODE_POS, e);
    } catch (...) {
      errorMsg = "Unknown error";
      const LastErrorMsgScope lastErrorMsgScope(errorMsg);
      reportUnknownError(THIS_SOURCE_CODE_POS);
    }
  } catch (...) {
    // Reporting itself failed (out of memory); the exit code still tells.
  }
  return 1;
}

}  // namespace app
