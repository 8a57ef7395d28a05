#pragma once

#include <stdexcept>
#include <string>

#include "tstrings.h"

// Where an error was raised or reported. Owns nothing: `file` and `func` are
// the compiler's static strings.
struct SourceCodePos {
  SourceCodePos(const char* fileName, const char* funcName, int lineNo)
      : file(fileName), func(funcName), line(lineNo) {}

  const char* file;
  const char* func;
  int line;
};

#define THIS_SOURCE_CODE_POS SourceCodePos(__FILE__, __func__, __LINE__)

// Gives the raw message (without the source position) of any WkError.
class WkErrorBase {
 public:
  virtual const char* rawMessage() const = 0;

 protected:
  WkErrorBase() = default;
  WkErrorBase(const WkErrorBase&) = default;
  WkErrorBase& operator=(const WkErrorBase&) = default;
  ~WkErrorBase() = default;
};

// file name + "(" + line + ") at " + function + "(): " + e.what()
std::string makeMessage(const std::runtime_error& e, const SourceCodePos& pos);

// The one error type of the launcher. Seen as its Base, what() gives the
// message composed with the raise position; seen as WkErrorBase,
// rawMessage() gives the message alone.
template <class Base>
class WkError : public WkErrorBase, public Base {
 public:
  WkError(const Base& e, const SourceCodePos& pos)
      : Base(e), composedMsg(makeMessage(e, pos)) {}

  const char* rawMessage() const override { return Base::what(); }
  ~WkError() override = default;
  const char* what() const noexcept override { return composedMsg.c_str(); }

 private:
  std::string composedMsg;
};

WkError<std::runtime_error> makeException(const tstrings::any& msg,
                                          const SourceCodePos& pos);
WkError<std::runtime_error> makeException(const char* msg,
                                          const SourceCodePos& pos);

// Log a caught failure as one ERROR event on the default logger.
void reportError(const SourceCodePos& pos, const std::runtime_error& e);
void reportUnknownError(const SourceCodePos& pos);

// Joins a message with a reason as two sentences.
std::string joinErrorMessages(const std::string& a, const std::string& b);

// The system's text for the current errno. Call it right after the failed
// call, before anything else can change errno.
std::string lastCRTError();

#define THROW_ERROR(msg) throw makeException((msg), THIS_SOURCE_CODE_POS)
