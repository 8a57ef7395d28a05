#pragma once

#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

// A failure of the bundle tool. Its text is the one line the user sees, so
// it names the problem and the file or option it concerns, file names in
// double quotes.
class BundleError : public std::runtime_error {
 public:
  explicit BundleError(const std::string& message,
                       std::vector<std::string> before = {})
      : std::runtime_error(message), details(std::move(before)) {}

  // A few lines to show before that line, where one cannot say what went
  // wrong: the issues that the notary service found, say. Mostly none.
  const std::vector<std::string>& linesBefore() const { return details; }

 private:
  std::vector<std::string> details;
};

// "<what>: <the system's text>", for a failed file system step.
std::string withReason(const std::string& what, const std::error_code& error);

// A path in double quotes, as messages name files.
std::string inQuotes(const std::string& path);
