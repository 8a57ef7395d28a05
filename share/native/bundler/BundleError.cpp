#include "BundleError.h"

#include <system_error>

std::string withReason(const std::string& what, const std::error_code& error) {
  return what + ": " + error.message();
}

std::string inQuotes(const std::string& path) {
  return "\"" + path + "\"";
}
