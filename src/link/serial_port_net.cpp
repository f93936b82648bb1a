// SerialPort over the network: the serial port of a device server (or of ser2net on a small
// Linux box) reached over TCP, one build for every platform on the socket layer of
// net_socket.h.
//
// "socket://HOST:PORT" is a raw byte stream: every byte written goes to the PBX as it is, and
// the line settings are the server's business (they are stored, as on a pseudo-terminal).
// "rfc2217://HOST:PORT" is a Telnet server with COM port control: the open offers
// COM-PORT-OPTION, BINARY and SUPPRESS-GO-AHEAD, sets 19200 baud, 8 data bits, no parity,
// 2 stop bits, no flow control, DTR on and RTS off, purges the server's receive buffer, and
// waits for the server to take COM port control and answer the four line settings (the
// modem lines are not waited for: a server on a pseudo-terminal cannot set them and stays
// silent). A line setting the server answers with another value fails the open (code 15);
// 0xFF data bytes travel doubled both ways.
//
// Time-outs are those of the device: each one-byte read and write waits at most 251 ms.
// Bytes are received in blocks and handed out one at a time; purgeInput drops what has
// arrived (it reads what the socket holds first) and counts it in discardedBytes. The
// server's own buffer is purged only at open: a purge there would drop bytes unseen and
// uncounted, and the reader relies on counting what the PBX sent unasked.
//
// Failures: open code 8 (a bad name, a name that does not resolve, a refused connection, no
// connection or no COM port control within 5 s), reads code 10 and writes code 9 (a dropped
// connection among them: a read that meets the end of the stream fails, never times out).
// Each carries the NetFault and the port's name for the messages.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "link/net_socket.h"
#include "link/serial_port.h"
#include "link/telnet_stream.h"

namespace kordel {

namespace {

constexpr int kConnectLimitMs = 5000;
constexpr int kTransferLimitMs = 251;
// How long a line setting changed on an open port waits for the server's answer.
constexpr int kSettingAnswerMs = 1000;
constexpr std::size_t kReceiveBlock = 4096;
// Bytes waiting to be sent beyond this are dropped, as a device drops a byte whose write
// timed out (only a server that stopped reading lets it fill).
constexpr std::size_t kMaxPendingOutput = 65536;
// A purge reads at most this many blocks, so that a server that never stops sending cannot
// hold it.
constexpr int kMaxPurgeBlocks = 64;

int millisecondsLeft(std::uint64_t deadline) {
  const std::uint64_t now = tickCount();
  return now >= deadline ? 0 : static_cast<int>(deadline - now);
}

std::uint32_t rfcParity(std::uint8_t parity) { return parity + 1u; }  // 0 none -> 1 NONE ...
std::uint32_t rfcStopSize(std::uint8_t stopBits) {
  return stopBits == 0 ? 1u : (stopBits == 1 ? 3u : 2u);  // 1, 1.5 and 2 stop bits
}

bool validSettings(const LineSettings& s) {
  return s.baudRate > 0 && s.byteSize >= 5 && s.byteSize <= 8 && s.parity <= 4 && s.stopBits <= 2;
}

bool digitsOnly(const std::string& s) {
  return !s.empty() && s.size() <= 5 && std::all_of(s.begin(), s.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c));
  });
}

}  // namespace

struct NetPort {
  ~NetPort() { net::closeSocket(socket); }

  bool telnet = false;
  std::string host;
  std::string service;
  std::shared_ptr<const std::string> where;
  net::SocketHandle socket = net::kNoSocket;
  telnet::TelnetStream stream;
  std::vector<std::uint8_t> input;  // data bytes received and not yet read, from inputAt on
  std::size_t inputAt = 0;
  std::vector<std::uint8_t> output;  // bytes to send, in order
  bool peerClosed = false;           // the end of the stream was met (or a reset)
  net::SocketError closedBy{NetFault::kClosed, 0};

  std::size_t available() const { return input.size() - inputAt; }

  ECommError error(std::uint8_t code, const net::SocketError& e) const {
    return ECommError(code, e.error, e.fault, where);
  }

  // Sends what is waiting until it is gone or the deadline has passed (then the rest waits
  // for the next send). Raises `code` on a failed send.
  void flush(std::uint64_t deadline, std::uint8_t code) {
    std::size_t sent = 0;
    while (sent < output.size()) {
      net::SocketError e;
      const long n = net::sendSome(socket, output.data() + sent, output.size() - sent, e);
      if (n < 0) {
        output.clear();
        throw error(code, e);
      }
      sent += static_cast<std::size_t>(n);
      if (n > 0) continue;
      const int left = millisecondsLeft(deadline);
      if (left == 0) break;
      if (net::waitSocket(socket, true, left, e) < 0) throw error(code, e);
    }
    output.erase(output.begin(), output.begin() + static_cast<std::ptrdiff_t>(sent));
  }

  // Waits at most `ms` for bytes and takes one block. False when nothing came or the stream
  // ended (peerClosed). Raises `code` on a failed wait.
  bool receive(int ms, std::uint8_t code) {
    if (peerClosed) return false;
    net::SocketError e;
    const int ready = net::waitSocket(socket, false, ms, e);
    if (ready < 0) throw error(code, e);
    if (ready == 0) return false;
    std::uint8_t block[kReceiveBlock];
    const long n = net::receiveSome(socket, block, sizeof block, e);
    if (n == -1) return false;
    if (n <= 0) {
      peerClosed = true;
      if (n == -2) closedBy = e;
      return false;
    }
    if (inputAt > 0 && inputAt == input.size()) {
      input.clear();
      inputAt = 0;
    }
    if (telnet) {
      const std::size_t before = output.size();
      stream.receive(block, static_cast<std::size_t>(n), input, output);
      if (output.size() > before) flush(tickCount(), code);  // answers to the negotiation
    } else {
      input.insert(input.end(), block, block + n);
    }
    return true;
  }

  void sendComPortCommand(std::uint8_t command, std::uint32_t value) {
    telnet::appendComPortCommand(output, command, value, command == telnet::kSetBaudRate ? 4 : 1);
  }
  void sendLineSettings(const LineSettings& s) {
    sendComPortCommand(telnet::kSetBaudRate, s.baudRate);
    sendComPortCommand(telnet::kSetDataSize, s.byteSize);
    sendComPortCommand(telnet::kSetParity, rfcParity(s.parity));
    sendComPortCommand(telnet::kSetStopSize, rfcStopSize(s.stopBits));
  }
  // The first line setting the server answered with another value (0 is taken as "not
  // told"), or nothing.
  std::optional<std::uint32_t> refusedSetting(const LineSettings& s) const {
    const std::pair<std::uint8_t, std::uint32_t> wanted[] = {
        {telnet::kSetBaudRate, s.baudRate},
        {telnet::kSetDataSize, s.byteSize},
        {telnet::kSetParity, rfcParity(s.parity)},
        {telnet::kSetStopSize, rfcStopSize(s.stopBits)}};
    for (const auto& [command, value] : wanted) {
      const std::optional<std::uint32_t> got = stream.reported(command);
      if (got && *got != 0 && *got != value) return got;
    }
    return std::nullopt;
  }
  bool settingsAnswered() const {
    for (const std::uint8_t c :
         {telnet::kSetBaudRate, telnet::kSetDataSize, telnet::kSetParity, telnet::kSetStopSize}) {
      if (!stream.reported(c)) return false;
    }
    return true;
  }
};

void NetPortDeleter::operator()(NetPort* p) const { delete p; }

namespace {

// "socket://HOST:PORT" or "rfc2217://HOST:PORT"; HOST may be an IPv6 address in brackets.
bool parseName(const std::string& name, NetPort& port) {
  const std::size_t scheme = name.find("://");
  if (scheme == std::string::npos) return false;
  std::string kind = name.substr(0, scheme);
  for (char& c : kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (kind != "socket" && kind != "rfc2217") return false;
  port.telnet = kind == "rfc2217";
  const std::string rest = name.substr(scheme + 3);
  std::size_t colon = 0;
  if (!rest.empty() && rest[0] == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
      return false;
    }
    port.host = rest.substr(1, close - 1);
    colon = close + 1;
  } else {
    colon = rest.rfind(':');
    if (colon == std::string::npos) return false;
    port.host = rest.substr(0, colon);
    if (port.host.find(':') != std::string::npos) return false;  // IPv6 needs brackets
  }
  port.service = rest.substr(colon + 1);
  if (port.host.empty() || !digitsOnly(port.service)) return false;
  const long number = std::stol(port.service);
  return number >= 1 && number <= 65535;
}

}  // namespace

void SerialPort::openNetwork(const std::string& name, const LineSettings& requested) {
  std::unique_ptr<NetPort, NetPortDeleter> p(new NetPort);
  p->where = std::make_shared<const std::string>(name);
  if (!parseName(name, *p)) throw ECommError(kCommOpenFailed, EINVAL, NetFault::kBadName, p->where);
  const std::uint64_t deadline = tickCount() + kConnectLimitMs;
  net::SocketError e;
  p->socket = net::connectTcp(p->host, p->service, kConnectLimitMs, e);
  if (p->socket == net::kNoSocket) throw p->error(kCommOpenFailed, e);

  if (p->telnet) {
    if (!validSettings(requested)) throw p->error(kCommSetStateFailed, {NetFault::kNone, EINVAL});
    p->stream.start(p->output);
    p->sendLineSettings(requested);
    p->sendComPortCommand(telnet::kSetControl, telnet::kControlNoFlowControl);
    p->sendComPortCommand(telnet::kSetControl, telnet::kControlDtrOn);
    p->sendComPortCommand(telnet::kSetControl, telnet::kControlRtsOff);
    p->sendComPortCommand(telnet::kPurgeData, telnet::kPurgeReceiveBuffer);
    p->flush(deadline, kCommOpenFailed);
    while (p->stream.comPort() != telnet::Agreement::kRefused &&
           !(p->stream.comPort() == telnet::Agreement::kAgreed && p->settingsAnswered())) {
      const int left = millisecondsLeft(deadline);
      if (left == 0) {
        throw p->error(kCommOpenFailed, {NetFault::kNoAnswer, ETIMEDOUT});
      }
      if (!p->output.empty()) p->flush(deadline, kCommOpenFailed);
      p->receive(left, kCommOpenFailed);
      if (p->peerClosed) throw p->error(kCommOpenFailed, p->closedBy);
    }
    if (p->stream.comPort() == telnet::Agreement::kRefused) {
      throw p->error(kCommOpenFailed, {NetFault::kNoPortControl, 0});
    }
    if (const std::optional<std::uint32_t> kept = p->refusedSetting(requested)) {
      throw p->error(kCommSetStateFailed, {NetFault::kLineRefused, *kept});
    }
  }

  timeouts.readIntervalTimeout = 15;
  timeouts.readTotalTimeoutMultiplier = 1;
  timeouts.readTotalTimeoutConstant = 250;
  timeouts.writeTotalTimeoutMultiplier = 1;
  timeouts.writeTotalTimeoutConstant = 250;
  lineSettings = requested;
  net_ = std::move(p);
  isOpen = true;
}

void SerialPort::closeNetwork() {
  // The socket closes with the port; what the kernel still holds to send goes out after it.
  net_.reset();
  isOpen = false;
}

void SerialPort::applyNetworkSetting(std::uint8_t code, LineSettings previous) {
  NetPort& p = *net_;
  // A value no line can carry is refused here, as the device refuses it (EINVAL).
  if (!validSettings(lineSettings)) {
    lineSettings = previous;
    throw p.error(code, {NetFault::kNone, EINVAL});
  }
  if (!p.telnet) return;  // a raw stream carries no line settings
  const std::uint8_t command = code == kCommSetBaudRate   ? telnet::kSetBaudRate
                               : code == kCommSetByteSize ? telnet::kSetDataSize
                               : code == kCommSetParity   ? telnet::kSetParity
                                                          : telnet::kSetStopSize;
  p.stream.forget(command);
  const std::uint64_t deadline = tickCount() + kSettingAnswerMs;
  try {
    p.sendLineSettings(lineSettings);
    p.flush(deadline, code);
    while (!p.stream.reported(command) && !p.peerClosed) {
      const int left = millisecondsLeft(deadline);
      if (left == 0) break;  // no answer: the setting stays as sent
      p.receive(left, code);
    }
  } catch (const ECommError&) {
    lineSettings = previous;
    throw;
  }
  if (const std::optional<std::uint32_t> kept = p.refusedSetting(lineSettings)) {
    lineSettings = previous;
    throw p.error(code, {NetFault::kLineRefused, *kept});
  }
}

void SerialPort::purgeNetwork() {
  if (!isOpen) throw ECommError(kCommNotOpen);
  NetPort& p = *net_;
  // What the socket holds has arrived as far as this program can tell: it goes too.
  for (int i = 0; i < kMaxPurgeBlocks && p.receive(0, kCommPurgeFailed); ++i) {
  }
  discardedBytes += p.available();
  p.input.clear();
  p.inputAt = 0;
}

void SerialPort::writeNetwork(std::uint8_t b) {
  if (!isOpen) throw ECommError(kCommNotOpen);
  NetPort& p = *net_;
  if (p.peerClosed) throw p.error(kCommWriteFailed, p.closedBy);
  if (p.output.size() < kMaxPendingOutput) {
    if (p.telnet) {
      telnet::appendData(p.output, b);
    } else {
      p.output.push_back(b);
    }
  }
  p.flush(tickCount() + kTransferLimitMs, kCommWriteFailed);
}

int SerialPort::readNetwork() {
  if (!isOpen) throw ECommError(kCommNotOpen);
  NetPort& p = *net_;
  const std::uint64_t deadline = tickCount() + kTransferLimitMs;
  for (;;) {
    if (p.available() > 0) return p.input[p.inputAt++];
    if (p.peerClosed) throw p.error(kCommReadFailed, p.closedBy);
    if (!p.output.empty()) p.flush(tickCount(), kCommWriteFailed);
    const int left = millisecondsLeft(deadline);
    if (!p.receive(left, kCommReadFailed) && !p.peerClosed && left == 0) return -1;
  }
}

}  // namespace kordel
