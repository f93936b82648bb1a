// SerialPort on a network name, against a real TCP peer on 127.0.0.1 that the test holds (a
// raw byte stream is all "socket://" asks of a server). The Telnet server side is tested
// against ser2net itself (tests/scripts/cli_network.sh).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "collect/collector.h"
#include "link/serial_port.h"
#include "support/temp_dir.h"

namespace kordel {
namespace {

std::uint64_t elapsedMs(std::uint64_t since) { return tickCount() - since; }

// A listening socket on a free port of 127.0.0.1 and the one connection it accepts.
class TcpPeer {
 public:
  explicit TcpPeer(int backlog = 4) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener_, backlog) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
      return;
    }
    port_ = ntohs(a.sin_port);
  }
  ~TcpPeer() {
    drop();
    if (listener_ >= 0) ::close(listener_);
  }
  TcpPeer(const TcpPeer&) = delete;
  TcpPeer& operator=(const TcpPeer&) = delete;

  std::string name(const char* scheme = "socket") const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
  }
  int port() const { return port_; }
  bool accept() {
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, 2000) != 1) return false;
    conn_ = ::accept(listener_, nullptr, nullptr);
    return conn_ >= 0;
  }
  void send(const std::vector<std::uint8_t>& bytes) {
    ASSERT_EQ(::send(conn_, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  }
  // The bytes that came within `ms`.
  std::vector<std::uint8_t> receive(int ms) {
    std::vector<std::uint8_t> got;
    const std::uint64_t end = tickCount() + static_cast<std::uint64_t>(ms);
    for (;;) {
      const std::uint64_t now = tickCount();
      pollfd p{conn_, POLLIN, 0};
      if (now >= end || poll(&p, 1, static_cast<int>(end - now)) != 1) break;
      std::uint8_t block[256];
      const ssize_t n = ::recv(conn_, block, sizeof block, 0);
      if (n <= 0) break;
      got.insert(got.end(), block, block + n);
    }
    return got;
  }
  void drop() {
    if (conn_ >= 0) ::close(conn_);
    conn_ = -1;
  }

 private:
  int listener_ = -1;
  int conn_ = -1;
  int port_ = 0;
};

ECommError openFailure(SerialPort& port, const std::string& name) {
  try {
    port.open(name);
  } catch (const ECommError& e) {
    EXPECT_FALSE(port.isOpen);
    EXPECT_EQ(port.lastFailure.code, e.code);
    return e;
  }
  ADD_FAILURE() << name << " opened";
  return ECommError(0, 0);
}

TEST(NetworkPort, BytesTravelUnchangedBothWays) {
  TcpPeer peer;
  SerialPort port;
  port.open(peer.name());
  ASSERT_TRUE(peer.accept());
  EXPECT_TRUE(port.isOpen);
  EXPECT_EQ(port.lineSettings.baudRate, 19200u);
  EXPECT_EQ(port.timeouts.readTotalTimeoutConstant, 250u);
  const std::vector<std::uint8_t> bytes = {0x00, 0xFF, 0x0D, 0x0A, 0x11, 0x13, 0xFF, 0xFF, 0x03};
  peer.send(bytes);
  for (const std::uint8_t b : bytes) EXPECT_EQ(port.readByteWithin(500), b);
  for (const std::uint8_t b : bytes) port.writeByte(b);
  EXPECT_EQ(peer.receive(300), bytes);  // a raw stream: 0xFF is not doubled
  // The line setters only store on a raw stream, and refuse what no line can carry.
  port.setBaudRate(9600);
  EXPECT_EQ(port.lineSettings.baudRate, 9600u);
  EXPECT_THROW(port.setByteSize(9), ECommError);
  EXPECT_EQ(port.lineSettings.byteSize, 8);
}

TEST(NetworkPort, TimeOutsAreTheDevicesAndPurgeCountsWhatCame) {
  TcpPeer peer;
  SerialPort port;
  test::TempDir dir;
  const std::string tracePath = dir.str() + "/wire.txt";
  port.trace = std::make_shared<WireTrace>(tracePath);
  port.open(peer.name());
  ASSERT_TRUE(peer.accept());
  peer.send({0x55, 0x66, 0x77});
  pauseMs(50);
  port.purgeInput();
  EXPECT_EQ(port.discardedBytes, 3u);

  std::uint64_t start = tickCount();
  EXPECT_EQ(port.readByte(), -1);
  EXPECT_GE(elapsedMs(start), 240u);
  EXPECT_LE(elapsedMs(start), 600u);
  start = tickCount();
  EXPECT_EQ(port.readByteWithin(30), -1);
  EXPECT_GE(elapsedMs(start), 480u);
  EXPECT_LE(elapsedMs(start), 1000u);
  port.trace.reset();  // ends the trace's line
  std::ifstream in(tracePath);
  const std::string trace((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(trace.find("[3 unread]"), std::string::npos) << trace;
}

TEST(NetworkPort, ADroppedConnectionIsAReadFailureAndTheNameOpensAgain) {
  TcpPeer peer;
  SerialPort port;
  port.open(peer.name());
  ASSERT_TRUE(peer.accept());
  peer.send({0x01, 0x02});
  pauseMs(30);
  peer.drop();
  // What came before the end is read first; then the read fails at once, never times out.
  EXPECT_EQ(port.readByte(), 0x01);
  EXPECT_EQ(port.readByte(), 0x02);
  const std::uint64_t start = tickCount();
  try {
    port.readByteWithin(500);
    ADD_FAILURE() << "no ECommError after the connection was dropped";
  } catch (const ECommError& e) {
    EXPECT_EQ(e.code, kCommReadFailed);
    EXPECT_EQ(e.net, NetFault::kClosed);
    EXPECT_NE(portErrorText(e).find(peer.name()), std::string::npos);
  }
  EXPECT_LT(elapsedMs(start), 100u);
  EXPECT_EQ(port.lastFailure.net, NetFault::kClosed);  // what the link's messages quote
  EXPECT_THROW(port.writeByte(0x00), ECommError);
  EXPECT_EQ(port.lastFailure.code, kCommWriteFailed);
  port.close();
  EXPECT_THROW(port.readByte(), ECommError);  // code 7 on a closed port, as a device's

  port.open(peer.name());  // what the collector does after a failure
  ASSERT_TRUE(peer.accept());
  peer.send({0x5A});
  EXPECT_EQ(port.readByteWithin(500), 0x5A);
}

TEST(NetworkPort, OpenFailuresSayWhatWentWrong) {
  int unused = 0;
  {
    TcpPeer closed;  // a port just freed: nothing listens there
    unused = closed.port();
  }
  const std::string refusedName = "socket://127.0.0.1:" + std::to_string(unused);
  struct Case {
    std::string name;
    NetFault fault;
  };
  const std::vector<Case> cases = {
      {"socket://127.0.0.1", NetFault::kBadName},
      {"socket://127.0.0.1:", NetFault::kBadName},
      {"socket://:2001", NetFault::kBadName},
      {"rfc2217://127.0.0.1:65536", NetFault::kBadName},
      {"rfc2217://::1:2001", NetFault::kBadName},
      {"socket://127.0.0.1:20x1", NetFault::kBadName},
      {"telnet://127.0.0.1:2001", NetFault::kNone},  // not a network name: a device path
      {"socket://kordel-no-such-host.invalid:2001", NetFault::kNameNotFound},
      {refusedName, NetFault::kRefused},
      {"rfc2217://[::1]:" + std::to_string(unused), NetFault::kRefused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SerialPort port;
    const ECommError e = openFailure(port, c.name);
    EXPECT_EQ(e.code, kCommOpenFailed);
    EXPECT_EQ(e.net, c.fault);
    EXPECT_EQ(networkFaultText(e).empty(), c.fault == NetFault::kNone);
  }
}

TEST(NetworkPort, ServersThatDoNotAnswerFailTheOpenWithinFiveSeconds) {
  // A listener whose queue is full drops the SYN: the connect itself gets no answer.
  {
    TcpPeer full(0);
    SerialPort first;
    first.open(full.name());  // fills the queue; never accepted
    SerialPort second;
    const std::uint64_t start = tickCount();
    const ECommError e = openFailure(second, full.name());
    EXPECT_EQ(e.net, NetFault::kNoAnswer);
    EXPECT_GE(elapsedMs(start), 4900u);
    EXPECT_LE(elapsedMs(start), 6000u);
  }
  // A listener that accepts and never says a word: no COM port control.
  TcpPeer silent;
  SerialPort port;
  const std::uint64_t start = tickCount();
  const ECommError e = openFailure(port, silent.name("rfc2217"));
  EXPECT_EQ(e.net, NetFault::kNoAnswer);
  EXPECT_LE(elapsedMs(start), 6000u);
  EXPECT_NE(networkFaultText(e).find("rfc2217://127.0.0.1:"), std::string::npos);
}

TEST(NetworkPort, AComNameThroughTheEnvironment) {
  TcpPeer peer;
  ::setenv("KORDEL_COM7", peer.name().c_str(), 1);
  EXPECT_EQ(resolveDevicePath("COM7"), peer.name());
  SerialPort port;
  port.open("COM7");
  ::unsetenv("KORDEL_COM7");
  ASSERT_TRUE(peer.accept());
  EXPECT_EQ(port.deviceName, "COM7");
  port.writeByte(0x42);
  EXPECT_EQ(peer.receive(300), std::vector<std::uint8_t>{0x42});
}

}  // namespace
}  // namespace kordel
