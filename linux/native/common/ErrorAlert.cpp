#include <string>

#include "SysInfo.h"

namespace SysInfo {

// A Linux desktop has no one alert that every session shows; the line on
// standard error is all.
void showErrorAlert(const std::string&, const std::string&) {}

}  // namespace SysInfo
