#pragma once

#include <string>

#include "Log.h"

// The last-error appender of the run frame on the desktop: prints the
// failure being reported (app::lastErrorMsg) on standard error, as the
// default one does, and when standard error reaches no one (a bundle started
// from the Finder or the Dock has it on the null device) also shows it in an
// alert titled with the launcher's name, so that a failed start says why.
// When standard error goes to a log (StderrLog), the alert also shows the
// log's last lines and where it is.
class ErrorAlertLogAppender : public LogAppender {
 public:
  // Shows an alert and returns once it is dismissed; given valid UTF-8.
  typedef void (*ShowAlert)(const std::string& title,
                            const std::string& message);

  explicit ErrorAlertLogAppender(ShowAlert alert) : showAlert(alert) {}

  void append(const LogEvent& v) override;

 private:
  const ShowAlert showAlert;
};
