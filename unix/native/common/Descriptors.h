#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>

// File descriptors as the standard error log uses them.
namespace Descriptors {

// `fd` as a descriptor above the standard three, close-on-exec: with
// descriptor 2 closed, the system hands that number out first, and a
// program started later would take the file for its standard error. Closes
// `fd` when it moves it. -1 for -1, and when it cannot be moved.
int privateDescriptor(int fd);

// Hands all of `bytes` to `transfer` (a write or a send, which takes bytes
// and a size and returns what it took or -1), retrying after signals. False
// when it refuses them (a full disk, a pipe without a reader).
template <typename Transfer>
bool transferAll(const char* bytes, std::size_t size, Transfer transfer) {
  while (size > 0) {
    const ssize_t n = transfer(bytes, size);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool writeAll(int fd, const char* bytes, std::size_t size);

}  // namespace Descriptors
