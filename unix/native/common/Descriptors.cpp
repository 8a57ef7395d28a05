#include "Descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr int kStandardErrorFd = 2;

}  // namespace

namespace Descriptors {

int privateDescriptor(int fd) {
  if (fd > kStandardErrorFd) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
  }
  if (fd < 0) {
    return -1;
  }
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, kStandardErrorFd + 1);
  close(fd);
  return moved;
}

bool writeAll(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, bytes, size);
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

}  // namespace Descriptors
