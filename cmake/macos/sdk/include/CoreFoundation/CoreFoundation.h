#pragma once

// The few CoreFoundation declarations that the macOS error alert uses, with
// Apple's documented signatures. A Mac has the real header; the Linux build
// compiles the macOS code against this one (and links none of it), and the
// cross build to Mach-O, whose toolchain has the Darwin C headers but no
// frameworks, links it against the framework's text stub beside this folder.

extern "C" {

typedef unsigned char Boolean;
typedef unsigned char UInt8;
typedef signed int SInt32;
typedef unsigned int UInt32;
typedef long CFIndex;
typedef unsigned long CFOptionFlags;
typedef double CFTimeInterval;
typedef UInt32 CFStringEncoding;

typedef const void* CFTypeRef;
typedef const struct __CFAllocator* CFAllocatorRef;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFURL* CFURLRef;

enum : CFStringEncoding { kCFStringEncodingUTF8 = 0x08000100 };
enum : CFOptionFlags { kCFUserNotificationStopAlertLevel = 0 };

extern const CFAllocatorRef kCFAllocatorDefault;

// Null when the bytes are not valid in `encoding`.
CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8* bytes,
                                    CFIndex numBytes, CFStringEncoding encoding,
                                    Boolean isExternalRepresentation);

void CFRelease(CFTypeRef cf);

// Waits until the user answers or `timeout` (0: none) runs out; a null
// defaultButtonTitle gives "OK", null other titles no other buttons.
SInt32 CFUserNotificationDisplayAlert(
    CFTimeInterval timeout, CFOptionFlags flags, CFURLRef iconURL,
    CFURLRef soundURL, CFURLRef localizationURL, CFStringRef alertHeader,
    CFStringRef alertMessage, CFStringRef defaultButtonTitle,
    CFStringRef alternateButtonTitle, CFStringRef otherButtonTitle,
    CFOptionFlags* responseFlags);

}  // extern "C"
