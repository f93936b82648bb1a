// The network port's sockets on POSIX: getaddrinfo, a non-blocking connect bounded by poll,
// recv and send with MSG_NOSIGNAL.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "link/net_socket.h"

namespace kordel::net {

namespace {

int leftMs(std::uint64_t deadline) {
  const std::uint64_t now = tickCount();
  return now >= deadline ? 0 : static_cast<int>(deadline - now);
}

void setOptions(int fd) {
  int on = 1;
  (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  (void)setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
#ifdef TCP_KEEPIDLE
  int idle = 30;
  int interval = 10;
  int count = 3;
  (void)setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  (void)setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  (void)setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
#endif
}

NetFault faultOf(int error) {
  switch (error) {
    case ECONNREFUSED:
      return NetFault::kRefused;
    case ETIMEDOUT:
      return NetFault::kNoAnswer;
    case ECONNRESET:
    case EPIPE:
    case ECONNABORTED:
      return NetFault::kClosed;
    default:
      return NetFault::kNetworkError;
  }
}

// One address: kNoSocket with `error` set, or the connected socket.
int connectOne(const addrinfo* a, std::uint64_t deadline, SocketError& error) {
  const int fd =
      ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
  if (fd < 0) {
    error = {NetFault::kNetworkError, static_cast<std::uint32_t>(errno)};
    return -1;
  }
  int result = ::connect(fd, a->ai_addr, a->ai_addrlen);
  if (result != 0 && errno == EINPROGRESS) {
    for (;;) {
      pollfd p{fd, POLLOUT, 0};
      const int r = poll(&p, 1, leftMs(deadline));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) {
        error = {r == 0 ? NetFault::kNoAnswer : NetFault::kNetworkError,
                 static_cast<std::uint32_t>(r == 0 ? ETIMEDOUT : errno)};
        ::close(fd);
        return -1;
      }
      break;
    }
    int soError = 0;
    socklen_t length = sizeof soError;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) != 0) soError = errno;
    if (soError != 0) {
      errno = soError;
      result = -1;
    } else {
      result = 0;
    }
  }
  if (result != 0) {
    error = {faultOf(errno), static_cast<std::uint32_t>(errno)};
    ::close(fd);
    return -1;
  }
  setOptions(fd);
  return fd;
}

}  // namespace

SocketHandle connectTcp(const std::string& host, const std::string& port, int timeoutMs,
                        SocketError& error) {
  const std::uint64_t deadline = tickCount() + static_cast<std::uint64_t>(timeoutMs);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const int found = getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
  if (found != 0) {
    const bool missing = found == EAI_NONAME || found == EAI_AGAIN || found == EAI_FAIL
#ifdef EAI_NODATA
                         || found == EAI_NODATA
#endif
#ifdef EAI_ADDRFAMILY
                         || found == EAI_ADDRFAMILY
#endif
        ;
    error = {missing ? NetFault::kNameNotFound : NetFault::kNetworkError,
             static_cast<std::uint32_t>(found == EAI_SYSTEM ? errno : found)};
    return kNoSocket;
  }
  error = {NetFault::kNoAnswer, ETIMEDOUT};
  int fd = -1;
  for (const addrinfo* a = list; a != nullptr && fd < 0; a = a->ai_next) {
    if (leftMs(deadline) == 0) break;
    fd = connectOne(a, deadline, error);
  }
  freeaddrinfo(list);
  return fd < 0 ? kNoSocket : fd;
}

int waitSocket(SocketHandle s, bool forWrite, int ms, SocketError& error) {
  const std::uint64_t deadline = tickCount() + static_cast<std::uint64_t>(ms > 0 ? ms : 0);
  for (;;) {
    pollfd p{static_cast<int>(s), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    const int r = poll(&p, 1, leftMs(deadline));
    if (r < 0) {
      if (errno == EINTR) continue;
      error = {NetFault::kNetworkError, static_cast<std::uint32_t>(errno)};
      return -1;
    }
    return r > 0 ? 1 : 0;
  }
}

long receiveSome(SocketHandle s, std::uint8_t* buffer, std::size_t size, SocketError& error) {
  for (;;) {
    const ssize_t n = ::recv(static_cast<int>(s), buffer, size, 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return -1;
    error = {faultOf(errno), static_cast<std::uint32_t>(errno)};
    return -2;
  }
}

long sendSome(SocketHandle s, const std::uint8_t* data, std::size_t size, SocketError& error) {
  for (;;) {
    const ssize_t n = ::send(static_cast<int>(s), data, size, MSG_NOSIGNAL);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    error = {faultOf(errno), static_cast<std::uint32_t>(errno)};
    return -2;
  }
}

void closeSocket(SocketHandle s) {
  if (s != kNoSocket) ::close(static_cast<int>(s));
}

}  // namespace kordel::net
