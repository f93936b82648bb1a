// A minimal host side of the serial line for the simulator's own tests: plain POSIX calls on
// the pseudo-terminal slave, written independently of the program's link code.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace pbxsim_test {

class HostPort {
 public:
  explicit HostPort(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd_ >= 0) {
      termios t{};
      tcgetattr(fd_, &t);
      cfmakeraw(&t);
      tcsetattr(fd_, TCSANOW, &t);
    }
  }
  ~HostPort() {
    if (fd_ >= 0) ::close(fd_);
  }
  HostPort(const HostPort&) = delete;
  HostPort& operator=(const HostPort&) = delete;

  bool isOpen() const { return fd_ >= 0; }

  void write(std::vector<std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }
  void purge() { tcflush(fd_, TCIFLUSH); }

  // One byte, or -1 when nothing came within the time-out, -2 when the line hung up.
  int read(int timeoutMs = 500) {
    pollfd p{fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, timeoutMs);
    if (r <= 0) return -1;
    std::uint8_t b;
    const ssize_t n = ::read(fd_, &b, 1);
    if (n == 1) return b;
    return -2;
  }

  // Reads exactly n bytes; shorter when a byte does not come in time.
  std::vector<std::uint8_t> readN(std::size_t n, int timeoutMs = 500) {
    std::vector<std::uint8_t> out;
    while (out.size() < n) {
      const int b = read(timeoutMs);
      if (b < 0) break;
      out.push_back(static_cast<std::uint8_t>(b));
    }
    return out;
  }

  // Five probes, each answered by 0x00.
  bool handshake() {
    for (int i = 0; i < 5; ++i) {
      purge();
      write({0x00});
      if (read(500) != 0x00) return false;
    }
    return true;
  }

  // Length byte, data, checksum: returns {length (-1 when none), data, checksum (-1 when none)}.
  struct Reply {
    int length = -1;
    std::vector<std::uint8_t> data;
    int checksum = -1;
  };
  Reply readFramed(int timeoutMs = 500) {
    Reply r;
    r.length = read(timeoutMs);
    if (r.length < 0) return r;
    r.data = readN(static_cast<std::size_t>(r.length), timeoutMs);
    r.checksum = read(timeoutMs);
    return r;
  }

 private:
  int fd_ = -1;
};

inline std::uint8_t sum8(const std::vector<std::uint8_t>& bytes) {
  unsigned s = 0;
  for (auto b : bytes) s += b;
  return static_cast<std::uint8_t>(s & 0xFF);
}

inline std::vector<std::uint8_t> unmask(std::vector<std::uint8_t> bytes, std::uint8_t key) {
  for (auto& b : bytes) b ^= key;
  return bytes;
}

}  // namespace pbxsim_test
