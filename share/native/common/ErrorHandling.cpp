#include "ErrorHandling.h"

#include <cerrno>
#include <cstring>

#include "Log.h"

namespace {

std::string getFilename(const SourceCodePos& pos) {
  const std::string file(pos.file);
  const std::string::size_type sep = file.find_last_of("/\\");
  if (sep == std::string::npos) {
    return file;
  }
  return file.substr(sep + 1);
}

void reportError(const SourceCodePos& pos, const std::string& msg) {
  Logger::defaultLogger().log(Logger::ERROR, getFilename(pos).c_str(),
                              pos.line, pos.func, msg);
}

const char* const whiteSpace = " \t\n\v\f\r";

}  // namespace

std::string makeMessage(const std::runtime_error& e, const SourceCodePos& pos) {
  return (tstrings::any() << getFilename(pos) << "(" << pos.line << ") at "
                          << pos.func << "(): " << e.what())
      .str();
}

WkError<std::runtime_error> makeException(const tstrings::any& msg,
                                          const SourceCodePos& pos) {
  return WkError<std::runtime_error>(std::runtime_error(msg.str()), pos);
}

WkError<std::runtime_error> makeException(const char* msg,
                                          const SourceCodePos& pos) {
  return WkError<std::runtime_error>(std::runtime_error(msg), pos);
}

void reportError(const SourceCodePos& pos, const std::runtime_error& e) {
  reportError(pos, (tstrings::any() << "Exception with message '" << e.what()
                                    << "' caught")
                       .str());
}

void reportUnknownError(const SourceCodePos& pos) {
  reportError(pos, std::string("Unknown exception caught"));
}

std::string joinErrorMessages(const std::string& a, const std::string& b) {
  std::string first(a);
  first.erase(first.find_last_not_of(whiteSpace) + 1);
  const std::string second = tstrings::trim(b, whiteSpace);
  if (second.empty()) {
    return first;
  }
  if (first.empty()) {
    return second;
  }
  const bool endsSentence =
      std::string(";.,:!?").find(first.back()) != std::string::npos;
  return first + (endsSentence ? " " : ". ") + second;
}

std::string lastCRTError() { return std::strerror(errno); }
