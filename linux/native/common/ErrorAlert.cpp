#include <stdlib.h>

#include <fstream>
#include <string>

#include "SysInfo.h"

namespace SysInfo {

// A Linux desktop has no one alert that every session shows; the line on
// standard error is all. For the tests of the launcher executable, the
// alert that macOS would show is appended as "<title>: <message>" and a line
// feed to the file that WRAPKIN_TEST_ALERTS names, when it names one.
void showErrorAlert(const std::string& title, const std::string& message) {
  const char* const record = getenv("WRAPKIN_TEST_ALERTS");
  if (record != nullptr && *record != '\0') {
    std::ofstream(record, std::ios::binary | std::ios::app)
        << title << ": " << message << "\n";
  }
}

}  // namespace SysInfo
