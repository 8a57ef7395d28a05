#include "StderrLogChannel.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

#if defined(MSG_NOSIGNAL)
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

}  // namespace

namespace StderrLogChannel {

std::string encodeLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += '\n';
  }
  const std::uint32_t size = static_cast<std::uint32_t>(text.size());
  char header[sizeof(size)];
  std::memcpy(header, &size, sizeof(size));
  return std::string(header, sizeof(header)) + text;
}

bool sendAll(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = send(fd, bytes, size, kSendFlags);
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

void setNoSigpipe(int fd) {
#if defined(SO_NOSIGPIPE)
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof(on));
#else
  (void)fd;
#endif
}

}  // namespace StderrLogChannel
