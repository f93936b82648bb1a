// The platform-neutral part of SerialPort: the exception, the line setters, the settings an
// open starts from, the read with a deadline, the mapping of port names to device paths, and
// the choice between the device and a network port. The platform files supply the device
// calls, the clock, the pause and the system error number; serial_port_net.cpp the network
// port.
#include <cctype>
#include <cstdlib>
#include <string>

#include "link/serial_port.h"

namespace kordel {

// Defined by the platform file: errno on POSIX, GetLastError on Windows.
std::uint32_t lastSystemError();

namespace {

const char* commErrorText(std::uint8_t code) {
  switch (code) {
    case kCommSetBaudRate:
      return "serial port: the device refused the baud rate";
    case kCommSetStopBits:
      return "serial port: the device refused the stop bits";
    case kCommSetParity:
      return "serial port: the device refused the parity";
    case kCommSetByteSize:
      return "serial port: the device refused the byte size";
    case kCommNameWhileOpen:
      return "serial port: the device name cannot change while the port is open";
    case kCommNotOpen:
      return "serial port: the port is not open";
    case kCommOpenFailed:
      return "serial port: the device could not be opened";
    case kCommWriteFailed:
      return "serial port: writing a byte failed";
    case kCommReadFailed:
      return "serial port: reading a byte failed";
    case kCommCloseFailed:
      return "serial port: closing the device failed";
    case kCommPurgeFailed:
      return "serial port: discarding the input failed";
    case kCommGetStateFailed:
      return "serial port: the line settings could not be read";
    case kCommSetStateFailed:
      return "serial port: the line settings could not be applied";
    case kCommSetupFailed:
      return "serial port: the driver queues could not be sized";
    case kCommTimeoutsFailed:
      return "serial port: the time-outs could not be applied";
    default:
      return "serial port error";
  }
}

}  // namespace

ECommError::ECommError(std::uint8_t code) : code(code), lastError(lastSystemError()) {}

const char* ECommError::what() const noexcept { return commErrorText(code); }

void SerialPort::open(const std::string& name) {
  if (isOpen) return;
  setDeviceName(name);
  setBaudRate(19200);
  setParity(0);
  setStopBits(2);
  setByteSize(8);
  const LineSettings requested = lineSettings;
  lastFailure = ECommError(0, 0);
  try {
    const std::string target = resolveDevicePath(deviceName);
    if (isNetworkPortName(target)) {
      openNetwork(target, requested);
    } else {
      openDevice(requested);
    }
  } catch (const ECommError& e) {
    lastFailure = e;
    throw;
  }
}

void SerialPort::close() {
  if (!isOpen) return;
  if (net_) {
    closeNetwork();
  } else {
    closeDevice();
  }
}

void SerialPort::setDeviceName(const std::string& name) {
  if (isOpen) throw ECommError(kCommNameWhileOpen);
  deviceName = name;
}

void SerialPort::setBaudRate(std::uint32_t value) {
  const LineSettings previous = lineSettings;
  lineSettings.baudRate = value;
  if (isOpen)
    net_ ? applyNetworkSetting(kCommSetBaudRate, previous)
         : applySetting(kCommSetBaudRate, previous);
}

void SerialPort::setByteSize(std::uint8_t value) {
  const LineSettings previous = lineSettings;
  lineSettings.byteSize = value;
  if (isOpen)
    net_ ? applyNetworkSetting(kCommSetByteSize, previous)
         : applySetting(kCommSetByteSize, previous);
}

void SerialPort::setParity(std::uint8_t value) {
  const LineSettings previous = lineSettings;
  lineSettings.parity = value;
  if (isOpen)
    net_ ? applyNetworkSetting(kCommSetParity, previous) : applySetting(kCommSetParity, previous);
}

void SerialPort::setStopBits(std::uint8_t value) {
  const LineSettings previous = lineSettings;
  lineSettings.stopBits = value;
  if (isOpen)
    net_ ? applyNetworkSetting(kCommSetStopBits, previous)
         : applySetting(kCommSetStopBits, previous);
}

void SerialPort::purgeInput() {
  const std::uint64_t before = discardedBytes;
  try {
    if (net_) {
      purgeNetwork();
    } else {
      purgeDevice();
    }
  } catch (const ECommError& e) {
    lastFailure = e;
    throw;
  }
  if (trace) trace->purged(static_cast<int>(discardedBytes - before));
}

void SerialPort::writeByte(std::uint8_t b) {
  try {
    if (net_) {
      writeNetwork(b);
    } else {
      writeDevice(b);
    }
  } catch (const ECommError& e) {
    lastFailure = e;
    throw;
  }
  if (trace) trace->sent(b);
}

int SerialPort::readByte() {
  int b = -1;
  try {
    b = net_ ? readNetwork() : readDevice();
  } catch (const ECommError& e) {
    lastFailure = e;
    throw;
  }
  if (trace) trace->received(b);
  return b;
}

int SerialPort::readByteWithin(int ms) {
  int result = readByte();
  if (result >= 0) return result;
  // Every readByte may itself wait its full time-out, so even a small `ms` gives a second try.
  const std::uint64_t deadline = tickCount() + static_cast<std::uint64_t>(ms > 0 ? ms : 0);
  do {
    result = readByte();
  } while (result < 0 && tickCount() <= deadline);
  return result;
}

bool isNetworkPortName(const std::string& name) {
  auto startsWith = [&name](const char* prefix) {
    std::size_t i = 0;
    for (; prefix[i] != '\0'; ++i) {
      if (i >= name.size() || std::tolower(static_cast<unsigned char>(name[i])) !=
                                  static_cast<unsigned char>(prefix[i]))
        return false;
    }
    return true;
  };
  return startsWith("socket://") || startsWith("rfc2217://");
}

std::string resolveDevicePath(const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  if (isNetworkPortName(name)) return name;
  if (name.size() < 4) return name;
  for (int i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return name;
  }
  int number = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (!std::isdigit(c)) return name;
    number = number * 10 + (c - '0');
    if (number > 255) return name;
  }
  if (number < 1) return name;
  const std::string variable = "KORDEL_COM" + std::to_string(number);
  if (const char* path = std::getenv(variable.c_str()); path != nullptr && *path != '\0') {
    return path;
  }
  return "/dev/ttyS" + std::to_string(number - 1);
}

}  // namespace kordel
