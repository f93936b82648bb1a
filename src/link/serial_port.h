// PBX link, lowest layer: the serial byte channel to the PBX.
//
// One COM device, opened with the line settings the PBX needs (19200 baud, 8 data bits, no
// parity, 2 stop bits, DTR on, RTS off), read and written one byte at a time. The protocol
// layers above use only open, close, purgeInput, writeByte, readByte and readByteWithin.
// Everything platform-specific sits in serial_port_posix.cpp or serial_port_win32.cpp, picked
// by the build. Every failure of an operating-system call is raised as ECommError.
//
// The same port may be a serial port reached over the network: a name "socket://HOST:PORT"
// (a raw TCP byte stream, as a serial device server or ser2net gives it) or
// "rfc2217://HOST:PORT" (a Telnet server with COM port control, which also takes the line
// settings and the modem lines) opens serial_port_net.cpp instead of the device, with the
// same operations, time-outs and error codes. The choice is made at open from the name; the
// callers never ask which kind they hold.
//
// May use: the standard library only.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "link/wire_trace.h"

namespace kordel {

// Which step of the serial port failed. Codes 2 and 13 are not used.
enum : std::uint8_t {
  kCommSetBaudRate = 1,     // the device refused the line settings with a new baud rate
  kCommSetStopBits = 3,     // ... with new stop bits
  kCommSetParity = 4,       // ... with a new parity
  kCommSetByteSize = 5,     // ... with a new byte size
  kCommNameWhileOpen = 6,   // setDeviceName on an open port
  kCommNotOpen = 7,         // purgeInput, writeByte or readByte on a closed port
  kCommOpenFailed = 8,      // the device could not be opened
  kCommWriteFailed = 9,     // writing a byte failed
  kCommReadFailed = 10,     // reading a byte failed, or the other end hung up
  kCommCloseFailed = 11,    // closing the device failed
  kCommPurgeFailed = 12,    // discarding the received input failed
  kCommGetStateFailed = 14, // the line settings could not be read at open
  kCommSetStateFailed = 15, // the line settings could not be applied at open
  kCommSetupFailed = 16,    // the driver queues could not be sized at open
  kCommTimeoutsFailed = 17, // the time-outs could not be applied at open
};

// What went wrong with a port reached over the network (kNone for a local device). The step
// code stays the port's (8 for the open, 10 for a read, 9 for a write); this tells the
// messages what to say.
enum class NetFault : std::uint8_t {
  kNone,
  kBadName,         // the name is not socket://HOST:PORT or rfc2217://HOST:PORT
  kNameNotFound,    // HOST does not resolve
  kRefused,         // nothing listens at HOST:PORT
  kNoAnswer,        // no connection, or no answer to the COM port control, within the time-out
  kNoPortControl,   // the Telnet server refused COM port control
  kLineRefused,     // the server did not take the line settings (lastError: the value it kept)
  kClosed,          // the server closed the connection
  kNetworkError,    // any other socket failure (lastError: errno or WSAGetLastError)
};

// The exception of every failing serial port operation; copied by value.
class ECommError : public std::exception {
 public:
  // Takes the operating system's last error number (errno or GetLastError) now.
  explicit ECommError(std::uint8_t code);
  ECommError(std::uint8_t code, std::uint32_t lastError) : code(code), lastError(lastError) {}
  ECommError(std::uint8_t code, std::uint32_t lastError, NetFault net,
             std::shared_ptr<const std::string> where)
      : code(code), lastError(lastError), net(net), where(std::move(where)) {}
  const char* what() const noexcept override;

  std::uint8_t code;
  std::uint32_t lastError;
  NetFault net = NetFault::kNone;
  // The network port's name as opened (HOST:PORT with its scheme); null for a local device.
  std::shared_ptr<const std::string> where;
};

// The device time-outs, in milliseconds (the Win32 COMMTIMEOUTS record).
struct CommTimeouts {
  std::uint32_t readIntervalTimeout = 0;
  std::uint32_t readTotalTimeoutMultiplier = 0;
  std::uint32_t readTotalTimeoutConstant = 0;
  std::uint32_t writeTotalTimeoutMultiplier = 0;
  std::uint32_t writeTotalTimeoutConstant = 0;
};

// The members of the line settings this program sets. Stop bits use the Win32 coding:
// 0 = one, 1 = one and a half, 2 = two. Parity: 0 = none.
struct LineSettings {
  std::uint32_t baudRate = 9600;
  std::uint8_t byteSize = 8;
  std::uint8_t parity = 0;
  std::uint8_t stopBits = 0;
};

// Milliseconds of a monotonic clock (stands in for GetTickCount; never wraps here).
std::uint64_t tickCount();
// Suspends the calling thread (Sleep).
void pauseMs(int ms);

// Maps a port name to what the port opens: "COMn" is the value of the environment variable
// KORDEL_COMn when that is set (a device path or a network port name), else /dev/ttyS{n-1};
// a name that begins with "/" is a path, and a network port name (isNetworkPortName) a
// network port, as they stand. Any other name is returned unchanged (and will not open).
// On Windows a "COMn" is opened as the device "COMn" unless KORDEL_COMn holds a network name.
std::string resolveDevicePath(const std::string& name);
// True for a name that begins with "socket://" or "rfc2217://" (in any case): a serial port
// reached over the network. Whether the rest is a usable HOST:PORT is found at open.
bool isNetworkPortName(const std::string& name);

struct NetPort;  // serial_port_net.cpp
struct NetPortDeleter {
  void operator()(NetPort* p) const;
};

// REQUIRES: external synchronisation; the program runs one link operation at a time.
class SerialPort {
 public:
  SerialPort();
  ~SerialPort();  // closes the port when open
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Raises kCommNameWhileOpen when the port is open (the old name stays).
  void setDeviceName(const std::string& name);
  // Each stores one member; on an open port it also applies the settings and, when the device
  // refuses them, puts the old value back and raises its code (1, 5, 4, 3).
  void setBaudRate(std::uint32_t value);
  void setByteSize(std::uint8_t value);
  void setParity(std::uint8_t value);
  void setStopBits(std::uint8_t value);

  // Opens the device at 19200 8N2 with 251 ms limits on each one-byte read and write.
  // Does nothing when already open. Any failure leaves the port closed with no handle held,
  // and is kept in lastFailure as well (as every failure of the byte operations is). A network port is connected within 5 s (and its
  // COM port control answered within the same 5 s).
  void open(const std::string& name);
  // Does nothing when closed. A failing close raises kCommCloseFailed; on Windows the handle is
  // then kept and isOpen stays true, on POSIX the descriptor is released by the failed call
  // itself, so the port counts as closed.
  void close();
  // Discards bytes received and not yet read, and counts them in discardedBytes (as far as the
  // platform tells how many were waiting).
  void purgeInput();
  // Writes exactly one byte; the count written is not examined.
  void writeByte(std::uint8_t b);
  // One byte 0..255, or -1 when none arrived within the device time-outs (about 251 ms).
  int readByte();
  // readByte; when nothing came, repeats it until a byte arrives or, after a try, the clock is
  // strictly past the deadline taken after the first try. Returns the last result.
  int readByteWithin(int ms);

  bool isOpen = false;
  // Bytes purgeInput has thrown away since the port was made: bytes that came unasked.
  std::uint64_t discardedBytes = 0;
  // When set, every byte written and read (and each purge) is recorded; off by default.
  std::shared_ptr<WireTrace> trace;
  CommTimeouts timeouts;
  std::string deviceName = "COM1";
  LineSettings lineSettings;
  // The last failure of open, purgeInput, writeByte or readByte since the last open began
  // (code 0: none), for the messages: the link reports only that the port failed.
  ECommError lastFailure{0, 0};

  struct Native;  // the platform's handle and full line-settings record

 private:
  void applySetting(std::uint8_t code, LineSettings previous);
  // The platform's halves of purgeInput, writeByte and readByte (the trace is kept around
  // them in one place).
  void purgeDevice();
  void writeDevice(std::uint8_t b);
  int readDevice();
  // The platform's half of open: opens deviceName with `requested` and, on success, stores
  // the handle, the time-outs and the settings and sets isOpen.
  void openDevice(const LineSettings& requested);
  // The platform's half of close, on an open device.
  void closeDevice();
  // The network port's halves (serial_port_net.cpp).
  void openNetwork(const std::string& name, const LineSettings& requested);
  void closeNetwork();
  void applyNetworkSetting(std::uint8_t code, LineSettings previous);
  void purgeNetwork();
  void writeNetwork(std::uint8_t b);
  int readNetwork();

  std::unique_ptr<Native> native_;
  std::unique_ptr<NetPort, NetPortDeleter> net_;  // set while a network port is open
};

}  // namespace kordel
