#include "StderrLogChannel.h"

#include <sys/socket.h>

#include <cstdint>
#include <cstring>

#include "Descriptors.h"

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
  return Descriptors::transferAll(
      bytes, size, [fd](const char* part, std::size_t count) {
        return send(fd, part, count, kSendFlags);
      });
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
