#include "RuntimeWords.h"

#include <algorithm>
#include <cstddef>

namespace {

// The first lines of the runtime's refusals, as Java 11 to 25 word them in
// English.
const char* const kRefusals[] = {
    "Error: Could not find or load main class ",
    // not found, not static, not void
    "Error: Main method ",
    "Error: LinkageError occurred while loading main class ",
    "Error: Unable to initialize main class ",
    "Error: Unable to load main class ",
    "Error: JavaFX runtime components are missing",
    "Error: no non-private zero argument constructor found in class ",
    "Error: non-static inner class ",
    "Error: abstract class ",
    "Error: An unexpected error occurred while trying to open file ",
    "no main manifest attribute, in ",
    "manifest not found in ",
};

// The advice under a refused main method, in every language; the German
// one ends with ":".
const char kMainMethodAdvice[] = "   public static void main(String[] args)";

// The runtime indents the error of a main class it cannot link by one tab,
// where a stack trace has "\tat ", "\t... ", "\tCaused by: "...
const char kLinkageError[] = "\tjava.lang.";

const char kFailedJvmStart[] = "Error occurred during initialization of ";

// A refusal's lines: its first, then "Caused by: ...", or the advice and the
// JavaFX line of a missing main method.
constexpr std::ptrdiff_t kRefusalLines = 3;

bool startsWith(const std::string& line, const char* start) {
  return line.rfind(start, 0) == 0;
}

bool isRefusal(const std::string& line) {
  for (const char* refusal : kRefusals) {
    if (startsWith(line, refusal)) {
      return true;
    }
  }
  return line == kMainMethodAdvice ||
         line == std::string(kMainMethodAdvice) + ":" ||
         startsWith(line, kLinkageError) ||
         (startsWith(line, "module ") &&
          line.find(" does not have a ModuleMainClass attribute") !=
              std::string::npos);
}

}  // namespace

namespace RuntimeWords {

bool refuseTheEntryPoint(const std::vector<std::string>& lastLines) {
  const std::ptrdiff_t last = std::min<std::ptrdiff_t>(
      static_cast<std::ptrdiff_t>(lastLines.size()), kRefusalLines);
  return std::any_of(lastLines.end() - last, lastLines.end(), isRefusal);
}

bool tellOfFailedJvmStart(const std::vector<std::string>& lastLines) {
  return std::any_of(lastLines.begin(), lastLines.end(),
                     [](const std::string& line) {
                       return startsWith(line, kFailedJvmStart);
                     });
}

}  // namespace RuntimeWords
