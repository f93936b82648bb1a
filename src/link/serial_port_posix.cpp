// SerialPort on POSIX terminals (Linux serial ports, USB adapters and pseudo-terminals).
//
// How the Windows steps map onto termios:
// - CreateFileA with no sharing: open(O_RDWR | O_NOCTTY | O_NONBLOCK), then ioctl TIOCEXCL so
//   no other process can open the device, and flock(LOCK_EX | LOCK_NB) so that a second open
//   in this process (or by root, whom TIOCEXCL lets through) fails as well. Any of these
//   failing is code 8.
// - GetCommState / SetCommState: tcgetattr (code 14) / tcsetattr (code 15). The line is put
//   in raw 8-bit mode without character translation or flow control (cfmakeraw, CLOCAL |
//   CREAD, no CRTSCTS, no IXON/IXOFF) at 19200 baud, 8 data bits, no parity, 2 stop bits
//   (CSTOPB). The settings are read back afterwards: a pseudo-terminal accepts some and
//   ignores others (the baud rate means nothing there), so a difference is not an error and
//   lineSettings keeps the values requested.
// - SetupComm has no equivalent (the kernel sizes its own queues): code 16 is never raised.
// - SetCommTimeouts: the same limits are kept in `timeouts` and enforced with poll on a
//   non-blocking descriptor (VMIN = 0, VTIME = 0): each one-byte read and write waits at most
//   251 ms. Nothing is applied to the device, so code 17 is never raised.
// - EscapeCommFunction SETDTR / CLRRTS: ioctl TIOCMBIS / TIOCMBIC. Pseudo-terminals refuse
//   these calls, so a failure is ignored.
// - PurgeComm PURGE_RXCLEAR: tcflush(TCIFLUSH).
// - ReadFile / WriteFile of one byte: poll then read / write. A hang-up of the other end
//   (POLLHUP or POLLERR, end of file, EIO) is a read failure (code 10) or a write failure
//   (code 9), never a time-out.
// - GetLastError: errno. GetTickCount: CLOCK_MONOTONIC in milliseconds. Sleep: nanosleep.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "link/serial_port.h"

namespace kordel {

std::uint32_t lastSystemError() { return static_cast<std::uint32_t>(errno); }

std::uint64_t tickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

void pauseMs(int ms) {
  if (ms <= 0) return;
  timespec rest{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
  }
}

struct SerialPort::Native {
  int fd = -1;
  termios state{};  // the device's settings as last read back
};

namespace {

// The limit on every one-byte transfer: the constant plus one byte times the multiplier.
constexpr int kTransferLimitMs = 251;

bool speedFor(std::uint32_t baud, speed_t& speed) {
  switch (baud) {
    case 110:
      speed = B110;
      return true;
    case 300:
      speed = B300;
      return true;
    case 600:
      speed = B600;
      return true;
    case 1200:
      speed = B1200;
      return true;
    case 2400:
      speed = B2400;
      return true;
    case 4800:
      speed = B4800;
      return true;
    case 9600:
      speed = B9600;
      return true;
    case 19200:
      speed = B19200;
      return true;
    case 38400:
      speed = B38400;
      return true;
    case 57600:
      speed = B57600;
      return true;
    case 115200:
      speed = B115200;
      return true;
    default:
      return false;
  }
}

// Puts the four members of `line` into `t` (raw mode, no flow control). False, with errno
// EINVAL, for a value the terminal interface cannot express.
bool composeState(const LineSettings& line, termios& t) {
  speed_t speed{};
  if (!speedFor(line.baudRate, speed)) {
    errno = EINVAL;
    return false;
  }
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
#ifdef CRTSCTS
  t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
  switch (line.byteSize) {
    case 5:
      t.c_cflag |= CS5;
      break;
    case 6:
      t.c_cflag |= CS6;
      break;
    case 7:
      t.c_cflag |= CS7;
      break;
    case 8:
      t.c_cflag |= CS8;
      break;
    default:
      errno = EINVAL;
      return false;
  }
  t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD);
#ifdef CMSPAR
  t.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
  switch (line.parity) {  // Win32 coding: 0 none, 1 odd, 2 even, 3 mark, 4 space
    case 0:
      break;
    case 1:
      t.c_cflag |= PARENB | PARODD;
      break;
    case 2:
      t.c_cflag |= PARENB;
      break;
#ifdef CMSPAR
    case 3:
      t.c_cflag |= PARENB | PARODD | CMSPAR;
      break;
    case 4:
      t.c_cflag |= PARENB | CMSPAR;
      break;
#endif
    default:
      errno = EINVAL;
      return false;
  }
  // Win32 coding: 0 one stop bit, 1 one and a half, 2 two. Termios knows only one or two;
  // the half is rounded up, as the UARTs do for 5-bit bytes.
  if (line.stopBits == 0) {
    t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
  } else if (line.stopBits <= 2) {
    t.c_cflag |= CSTOPB;
  } else {
    errno = EINVAL;
    return false;
  }
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  return true;
}

// Applies `line` and reads the result back into `state`. False with errno set on failure.
bool applyState(int fd, const LineSettings& line, termios& state) {
  termios wanted = state;
  if (!composeState(line, wanted)) return false;
  if (tcsetattr(fd, TCSANOW, &wanted) != 0) return false;
  // A pseudo-terminal ignores part of the settings; what it kept is only recorded.
  termios actual{};
  if (tcgetattr(fd, &actual) != 0) return false;
  state = actual;
  return true;
}

int millisecondsLeft(std::uint64_t deadline) {
  const std::uint64_t now = tickCount();
  return now >= deadline ? 0 : static_cast<int>(deadline - now);
}

}  // namespace

SerialPort::SerialPort() : native_(std::make_unique<Native>()) {}

SerialPort::~SerialPort() {
  try {
    close();
  } catch (const ECommError&) {
    // A destructor cannot report; the descriptor is released by the failed close anyway.
  }
}

void SerialPort::applySetting(std::uint8_t code, LineSettings previous) {
  if (!applyState(native_->fd, lineSettings, native_->state)) {
    const ECommError error(code);
    lineSettings = previous;
    throw error;
  }
}

void SerialPort::openDevice(const LineSettings& requested) {
  const std::string path = resolveDevicePath(deviceName);
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw ECommError(kCommOpenFailed);
  auto fail = [fd](std::uint8_t code) {
    const ECommError error(code);  // takes errno before close can change it
    ::close(fd);
    throw error;
  };
  if (ioctl(fd, TIOCEXCL) != 0) fail(kCommOpenFailed);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) fail(kCommOpenFailed);

  termios state{};
  if (tcgetattr(fd, &state) != 0) fail(kCommGetStateFailed);
  if (!applyState(fd, requested, state)) fail(kCommSetStateFailed);

  timeouts.readIntervalTimeout = 15;
  timeouts.readTotalTimeoutMultiplier = 1;
  timeouts.readTotalTimeoutConstant = 250;
  timeouts.writeTotalTimeoutMultiplier = 1;
  timeouts.writeTotalTimeoutConstant = 250;

  // DTR on, RTS off. Pseudo-terminals refuse modem-control calls; that is not an error.
  int bits = TIOCM_DTR;
  (void)ioctl(fd, TIOCMBIS, &bits);
  bits = TIOCM_RTS;
  (void)ioctl(fd, TIOCMBIC, &bits);

  lineSettings = requested;
  native_->fd = fd;
  native_->state = state;
  isOpen = true;
}

void SerialPort::closeDevice() {
  if (!isOpen) return;
  const int fd = native_->fd;
  // Give the device back for other processes; the lock goes with the descriptor.
  (void)ioctl(fd, TIOCNXCL);
  // The descriptor is released even when close reports an error, so the port counts as
  // closed either way; keeping it "open" would let a later call touch a reused number.
  native_->fd = -1;
  isOpen = false;
  if (::close(fd) != 0 && errno != EINTR) throw ECommError(kCommCloseFailed);
}

void SerialPort::purgeDevice() {
  if (!isOpen) throw ECommError(kCommNotOpen);
  // The input is read away rather than flushed with tcflush: every byte thrown away is then
  // counted, also one that arrives while the purge runs (a count taken before a flush would
  // miss it, and the reader relies on seeing every byte the PBX sent unasked).
  std::uint8_t buffer[256];
  for (;;) {
    const ssize_t n = ::read(native_->fd, buffer, sizeof buffer);
    if (n > 0) {
      discardedBytes += static_cast<std::uint64_t>(n);
      continue;
    }
    if (n == 0) return;  // nothing waiting (VMIN = VTIME = 0)
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return;
    throw ECommError(kCommPurgeFailed);  // the line went away (EIO after a hang-up)
  }
}

void SerialPort::writeDevice(std::uint8_t b) {
  if (!isOpen) throw ECommError(kCommNotOpen);
  const std::uint64_t deadline = tickCount() + kTransferLimitMs;
  for (;;) {
    const ssize_t n = ::write(native_->fd, &b, 1);
    if (n == 1) return;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      throw ECommError(kCommWriteFailed);
    }
    // The output queue is full: wait for room, at most until the write limit.
    const int left = millisecondsLeft(deadline);
    if (left == 0) return;  // a write time-out, like WriteFile's: the count is not examined
    pollfd p{native_->fd, POLLOUT, 0};
    const int r = poll(&p, 1, left);
    if (r < 0 && errno != EINTR) throw ECommError(kCommWriteFailed);
    if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      throw ECommError(kCommWriteFailed, EIO);
    }
  }
}

int SerialPort::readDevice() {
  if (!isOpen) throw ECommError(kCommNotOpen);
  const std::uint64_t deadline = tickCount() + kTransferLimitMs;
  bool signalled = false;  // poll reported input or a hang-up before this read
  for (;;) {
    std::uint8_t b = 0;
    const ssize_t n = ::read(native_->fd, &b, 1);
    if (n == 1) return b;
    if (n == 0) {
      // With VMIN = VTIME = 0 an empty queue reads as 0 bytes; after poll has signalled the
      // descriptor, 0 bytes is the end of the line: the other end hung up.
      if (signalled) throw ECommError(kCommReadFailed, EIO);
    } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      throw ECommError(kCommReadFailed);
    }
    const int left = millisecondsLeft(deadline);
    if (left == 0) return -1;
    pollfd p{native_->fd, POLLIN, 0};
    const int r = poll(&p, 1, left);
    if (r < 0) {
      if (errno == EINTR) continue;
      throw ECommError(kCommReadFailed);
    }
    if (r == 0) return -1;
    signalled = true;
    // POLLIN goes to read above; a hang-up without data makes that read fail with EIO.
    if ((p.revents & POLLIN) == 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
      throw ECommError(kCommReadFailed, EIO);
    }
  }
}

}  // namespace kordel
