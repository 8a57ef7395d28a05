#include "ErrorAlertLogAppender.h"

#include <cstddef>
#include <exception>
#include <string>

#include "FileUtils.h"
#include "StderrLog.h"
#include "SysInfo.h"
#include "app.h"

namespace {

constexpr int kStandardErrorFd = 2;

// U+FFFD REPLACEMENT CHARACTER.
constexpr char kReplacement[] = "\xEF\xBF\xBD";

// The length of the well-formed UTF-8 sequence at `pos`, or 0: no overlong
// forms, no surrogates, nothing beyond U+10FFFF.
std::size_t utf8SequenceLength(const std::string& s, std::size_t pos) {
  const unsigned char lead = static_cast<unsigned char>(s[pos]);
  if (lead < 0x80) {
    return 1;
  }
  std::size_t length = 0;
  unsigned char low = 0x80;  // the range of the second byte
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : low;
    high = lead == 0xED ? 0x9F : high;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : low;
    high = lead == 0xF4 ? 0x8F : high;
  } else {
    return 0;
  }
  if (s.size() - pos < length) {
    return 0;
  }
  const unsigned char second = static_cast<unsigned char>(s[pos + 1]);
  if (second < low || second > high) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if ((static_cast<unsigned char>(s[pos + i]) & 0xC0) != 0x80) {
      return 0;
    }
  }
  return length;
}

// CoreFoundation refuses a string that is not valid UTF-8 as a whole; a
// path or an argument in a message may hold any bytes. Each byte that does
// not belong to a well-formed sequence becomes U+FFFD.
std::string validUtf8(const std::string& s) {
  std::string result;
  result.reserve(s.size());
  for (std::size_t pos = 0; pos < s.size();) {
    const std::size_t length = utf8SequenceLength(s, pos);
    if (length == 0) {
      result += kReplacement;
      ++pos;
    } else {
      result.append(s, pos, length);
      pos += length;
    }
  }
  return result;
}

// Looked up only now: start-up does not pay for a failure that mostly never
// comes. The failure being reported may be that the path cannot be had.
std::string launcherName() {
  try {
    return FileUtils::basename(SysInfo::getProcessModulePath());
  } catch (const std::exception&) {
  }
  return SysInfo::argc > 0 && SysInfo::argv != nullptr
             ? FileUtils::basename(SysInfo::argv[0])
             : std::string();
}

// The failure, then what standard error got last (the runtime's own words
// about it), then where all of that is.
std::string alertText(const std::string& failure,
                      const StderrLog::Tail& stderrTail) {
  std::string text = failure;
  if (!stderrTail.lines.empty()) {
    text += "\n";
  }
  for (const std::string& line : stderrTail.lines) {
    text += "\n" + line;
  }
  if (!stderrTail.path.empty()) {
    text += "\n\nThe full log is in \"" + stderrTail.path + "\".";
  }
  return text;
}

}  // namespace

void ErrorAlertLogAppender::append(const LogEvent& v) {
  // Taken before the launcher's own line joins them. A standard error that
  // is logged reached no one before.
  const StderrLog::Tail stderrTail = StderrLog::tail();
  app::defaultLastErrorLogAppender().append(v);
  if (!stderrTail.path.empty() || SysInfo::isWrittenToNoOne(kStandardErrorFd)) {
    showAlert(validUtf8(launcherName()),
              validUtf8(alertText(app::lastErrorMsg(), stderrTail)));
  }
}
