#pragma once

#include <cstddef>

// File descriptors as the standard error log uses them.
namespace Descriptors {

// `fd` as a descriptor above the standard three, close-on-exec: with
// descriptor 2 closed, the system hands that number out first, and a
// program started later would take the file for its standard error. Closes
// `fd` when it moves it. -1 for -1, and when it cannot be moved.
int privateDescriptor(int fd);

// Writes all of `bytes`, retrying after signals. False when the descriptor
// refuses them (a full disk, a pipe without a reader).
bool writeAll(int fd, const char* bytes, std::size_t size);

}  // namespace Descriptors
