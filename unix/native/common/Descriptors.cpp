#include "Descriptors.h"

#include <fcntl.h>
#include <unistd.h>

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
  return transferAll(bytes, size, [fd](const char* part, std::size_t count) {
    return write(fd, part, count);
  });
}

}  // namespace Descriptors
