// PBX link, below the network port: a TCP connection to a serial device server, one small
// layer per platform (net_socket_posix.cpp: BSD sockets; net_socket_win32.cpp: Winsock).
//
// The socket is non-blocking from the connect on; every wait is a poll (select on Windows)
// with a limit, so no call here waits longer than it is told. Failures are returned, never
// thrown: the network port turns them into ECommError with its own step codes.
//
// May use: the standard library only (and the platform's socket interface in the .cpp files).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "link/serial_port.h"

namespace kordel::net {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

struct SocketError {
  NetFault fault = NetFault::kNone;
  std::uint32_t error = 0;  // errno, WSAGetLastError, or getaddrinfo's code for kNameNotFound
};

// Resolves `host` (getaddrinfo, any address family) and connects to `port` (a decimal number),
// trying each address in turn until `timeoutMs` has passed in all. On success the socket is
// non-blocking, with TCP_NODELAY and keep-alive (probes after 30 s idle, every 10 s, 3 lost
// ones drop the connection, where the platform lets that be set). kNoSocket on failure:
// kNameNotFound, kRefused (every address refused), kNoAnswer (the time ran out), or
// kNetworkError. The name look-up itself is the system's and is not bounded here.
SocketHandle connectTcp(const std::string& host, const std::string& port, int timeoutMs,
                        SocketError& error);

// Waits at most `ms` (0: only looks) until the socket is readable (or writable, with
// `forWrite`). 1 ready (readable includes a closed or failed connection), 0 time-out, -1 error.
int waitSocket(SocketHandle s, bool forWrite, int ms, SocketError& error);

// Bytes received (> 0), 0 when the server closed the connection, -1 when nothing is waiting,
// -2 on an error (`error` set; a reset connection is kClosed).
long receiveSome(SocketHandle s, std::uint8_t* buffer, std::size_t size, SocketError& error);

// Bytes sent (>= 0; 0 when the send queue is full), -2 on an error (a connection the server
// closed or reset is kClosed). Never raises SIGPIPE.
long sendSome(SocketHandle s, const std::uint8_t* data, std::size_t size, SocketError& error);

void closeSocket(SocketHandle s);

}  // namespace kordel::net
