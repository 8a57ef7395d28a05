#include <CoreFoundation/CoreFoundation.h>

#include <memory>
#include <string>
#include <type_traits>

#include "SysInfo.h"

namespace {

struct CFStringReleaser {
  void operator()(CFStringRef s) const { CFRelease(s); }
};

typedef std::unique_ptr<std::remove_pointer_t<CFStringRef>, CFStringReleaser>
    OwnedCFString;

// Null when CoreFoundation refuses the text or has no memory for it.
OwnedCFString newCFString(const std::string& utf8) {
  return OwnedCFString(CFStringCreateWithBytes(
      kCFAllocatorDefault, reinterpret_cast<const UInt8*>(utf8.data()),
      static_cast<CFIndex>(utf8.size()), kCFStringEncodingUTF8, false));
}

}  // namespace

namespace SysInfo {

void showErrorAlert(const std::string& title, const std::string& message) {
  const OwnedCFString header = newCFString(title);
  const OwnedCFString text = newCFString(message);
  if (text == nullptr) {
    return;
  }
  // The alert and not the notice: the notice returns at once, and the
  // launcher would exit before anyone saw it. No timeout; the null button
  // title gives the system's own "OK".
  CFOptionFlags response = 0;
  CFUserNotificationDisplayAlert(0, kCFUserNotificationStopAlertLevel, nullptr,
                                 nullptr, nullptr, header.get(), text.get(),
                                 nullptr, nullptr, nullptr, &response);
}

}  // namespace SysInfo
