#pragma once

// Linux stand-in for the one macOS call the launcher needs, so that the same
// executable-path code runs on both systems.

#include <cstdint>

// Copies the path by which the process was executed, NUL-terminated, into
// `buf` and returns 0. When `*bufsize` is too small, stores the size needed
// (the NUL included) in `*bufsize` and returns -1.
extern "C" int _NSGetExecutablePath(char* buf, std::uint32_t* bufsize);
