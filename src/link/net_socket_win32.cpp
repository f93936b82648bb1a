// The network port's sockets on Windows: Winsock 2 (started once, on the first connect),
// getaddrinfo, a non-blocking connect bounded by select, recv and send.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include "link/net_socket.h"

namespace kordel::net {

namespace {

int leftMs(std::uint64_t deadline) {
  const std::uint64_t now = tickCount();
  return now >= deadline ? 0 : static_cast<int>(deadline - now);
}

bool startWinsock(SocketError& error) {
  // Started once for the process (a function-local static is initialised once, whatever the
  // threads), never cleaned up: the port may be opened again at any time.
  static const int started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (started != 0) error = {NetFault::kNetworkError, static_cast<std::uint32_t>(started)};
  return started == 0;
}

NetFault faultOf(int error) {
  switch (error) {
    case WSAECONNREFUSED:
      return NetFault::kRefused;
    case WSAETIMEDOUT:
      return NetFault::kNoAnswer;
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAESHUTDOWN:
      return NetFault::kClosed;
    default:
      return NetFault::kNetworkError;
  }
}

// select on one socket; 1 ready, 0 time-out, -1 error (WSAGetLastError).
int selectOne(SOCKET s, bool forWrite, int ms, bool withErrors) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  timeval limit{ms / 1000, (ms % 1000) * 1000};
  const int r = select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr,
                       withErrors ? &failed : nullptr, &limit);
  return r == SOCKET_ERROR ? -1 : (r > 0 ? 1 : 0);
}

void setOptions(SOCKET s) {
  BOOL on = TRUE;
  (void)setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  (void)setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
}

SOCKET connectOne(const addrinfo* a, std::uint64_t deadline, SocketError& error) {
  SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
  if (s == INVALID_SOCKET) {
    error = {NetFault::kNetworkError, static_cast<std::uint32_t>(WSAGetLastError())};
    return INVALID_SOCKET;
  }
  u_long nonBlocking = 1;
  if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    error = {NetFault::kNetworkError, static_cast<std::uint32_t>(WSAGetLastError())};
    ::closesocket(s);
    return INVALID_SOCKET;
  }
  if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
    const int started = WSAGetLastError();
    if (started != WSAEWOULDBLOCK) {
      error = {faultOf(started), static_cast<std::uint32_t>(started)};
      ::closesocket(s);
      return INVALID_SOCKET;
    }
    const int r = selectOne(s, true, leftMs(deadline), true);
    int soError = 0;
    int length = sizeof soError;
    if (r == 1 &&
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length) != 0) {
      soError = WSAGetLastError();
    }
    if (r <= 0 || soError != 0) {
      if (r == 0) {
        error = {NetFault::kNoAnswer, static_cast<std::uint32_t>(WSAETIMEDOUT)};
      } else {
        const int code = r < 0 ? WSAGetLastError() : soError;
        error = {faultOf(code), static_cast<std::uint32_t>(code)};
      }
      ::closesocket(s);
      return INVALID_SOCKET;
    }
  }
  setOptions(s);
  return s;
}

}  // namespace

SocketHandle connectTcp(const std::string& host, const std::string& port, int timeoutMs,
                        SocketError& error) {
  if (!startWinsock(error)) return kNoSocket;
  const std::uint64_t deadline = tickCount() + static_cast<std::uint64_t>(timeoutMs);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const int found = getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
  if (found != 0) {
    const bool missing = found == WSAHOST_NOT_FOUND || found == WSANO_DATA || found == WSATRY_AGAIN;
    error = {missing ? NetFault::kNameNotFound : NetFault::kNetworkError,
             static_cast<std::uint32_t>(found)};
    return kNoSocket;
  }
  error = {NetFault::kNoAnswer, static_cast<std::uint32_t>(WSAETIMEDOUT)};
  SOCKET s = INVALID_SOCKET;
  for (const addrinfo* a = list; a != nullptr && s == INVALID_SOCKET; a = a->ai_next) {
    if (leftMs(deadline) == 0) break;
    s = connectOne(a, deadline, error);
  }
  freeaddrinfo(list);
  return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

int waitSocket(SocketHandle s, bool forWrite, int ms, SocketError& error) {
  const int r = selectOne(static_cast<SOCKET>(s), forWrite, ms > 0 ? ms : 0, false);
  if (r < 0) error = {NetFault::kNetworkError, static_cast<std::uint32_t>(WSAGetLastError())};
  return r;
}

long receiveSome(SocketHandle s, std::uint8_t* buffer, std::size_t size, SocketError& error) {
  const int n =
      ::recv(static_cast<SOCKET>(s), reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
  if (n >= 0) return n;
  const int code = WSAGetLastError();
  if (code == WSAEWOULDBLOCK) return -1;
  error = {faultOf(code), static_cast<std::uint32_t>(code)};
  return -2;
}

long sendSome(SocketHandle s, const std::uint8_t* data, std::size_t size, SocketError& error) {
  const int n = ::send(static_cast<SOCKET>(s), reinterpret_cast<const char*>(data),
                       static_cast<int>(size), 0);
  if (n >= 0) return n;
  const int code = WSAGetLastError();
  if (code == WSAEWOULDBLOCK) return 0;
  error = {faultOf(code), static_cast<std::uint32_t>(code)};
  return -2;
}

void closeSocket(SocketHandle s) {
  if (s != kNoSocket) ::closesocket(static_cast<SOCKET>(s));
}

}  // namespace kordel::net
