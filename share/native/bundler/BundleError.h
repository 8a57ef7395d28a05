#pragma once

#include <stdexcept>
#include <string>
#include <system_error>

// A failure of the bundle tool. Its text is the one line the user sees, so
// it names the problem and the file or option it concerns, file names in
// double quotes.
class BundleError : public std::runtime_error {
 public:
  explicit BundleError(const std::string& message)
      : std::runtime_error(message) {}
};

// "<what>: <the system's text>", for a failed file system step.
std::string withReason(const std::string& what, const std::error_code& error);

// A path in double quotes, as messages name files.
std::string inQuotes(const std::string& path);
