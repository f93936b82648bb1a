// SerialPort on Windows COM devices: synchronous Win32 serial I/O, one byte per call.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "link/serial_port.h"

namespace kordel {

std::uint32_t lastSystemError() { return static_cast<std::uint32_t>(GetLastError()); }

std::uint64_t tickCount() { return static_cast<std::uint64_t>(GetTickCount64()); }

void pauseMs(int ms) {
  if (ms > 0) Sleep(static_cast<DWORD>(ms));
}

struct SerialPort::Native {
  HANDLE handle = nullptr;
  DCB dcb{};
  COMMTIMEOUTS timeouts{};
};

namespace {

void copyInto(const LineSettings& line, DCB& dcb) {
  dcb.BaudRate = line.baudRate;
  dcb.ByteSize = line.byteSize;
  dcb.Parity = line.parity;
  dcb.StopBits = line.stopBits;
}

}  // namespace

SerialPort::SerialPort() : native_(std::make_unique<Native>()) {
  native_->dcb.DCBlength = sizeof(DCB);
  copyInto(lineSettings, native_->dcb);
}

SerialPort::~SerialPort() {
  try {
    close();
  } catch (const ECommError&) {
    // A destructor cannot report a failed CloseHandle.
  }
}

void SerialPort::applySetting(std::uint8_t code, LineSettings previous) {
  copyInto(lineSettings, native_->dcb);
  if (!SetCommState(native_->handle, &native_->dcb)) {
    const ECommError error(code);
    lineSettings = previous;
    copyInto(previous, native_->dcb);
    throw error;
  }
}

void SerialPort::openDevice(const LineSettings& requested) {
  HANDLE handle = CreateFileA(deviceName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) throw ECommError(kCommOpenFailed);
  auto fail = [handle](std::uint8_t code) {
    const ECommError error(code);  // takes GetLastError before CloseHandle can change it
    CloseHandle(handle);
    throw error;
  };

  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  if (!GetCommState(handle, &dcb)) fail(kCommGetStateFailed);
  // Only the four members this program sets are replaced; flow control, DTR/RTS modes,
  // XON/XOFF characters and the rest stay as the device reported them.
  copyInto(requested, dcb);
  if (!SetCommState(handle, &dcb)) fail(kCommSetStateFailed);
  if (!SetupComm(handle, 32768, 9216)) fail(kCommSetupFailed);

  // With one-byte transfers these give every read and every write a limit of 251 ms.
  COMMTIMEOUTS ct{};
  ct.ReadIntervalTimeout = 15;
  ct.ReadTotalTimeoutMultiplier = 1;
  ct.ReadTotalTimeoutConstant = 250;
  ct.WriteTotalTimeoutMultiplier = 1;
  ct.WriteTotalTimeoutConstant = 250;
  if (!SetCommTimeouts(handle, &ct)) fail(kCommTimeoutsFailed);
  timeouts.readIntervalTimeout = ct.ReadIntervalTimeout;
  timeouts.readTotalTimeoutMultiplier = ct.ReadTotalTimeoutMultiplier;
  timeouts.readTotalTimeoutConstant = ct.ReadTotalTimeoutConstant;
  timeouts.writeTotalTimeoutMultiplier = ct.WriteTotalTimeoutMultiplier;
  timeouts.writeTotalTimeoutConstant = ct.WriteTotalTimeoutConstant;

  // DTR on, RTS off. Some adapters refuse the modem-control lines; the port still works, so a
  // refusal is not an error.
  (void)EscapeCommFunction(handle, SETDTR);
  (void)EscapeCommFunction(handle, CLRRTS);

  native_->handle = handle;
  native_->dcb = dcb;
  native_->timeouts = ct;
  lineSettings = requested;
  isOpen = true;
}

void SerialPort::closeDevice() {
  if (!isOpen) return;
  if (!CloseHandle(native_->handle)) throw ECommError(kCommCloseFailed);
  native_->handle = nullptr;
  isOpen = false;
}

void SerialPort::purgeDevice() {
  if (!isOpen) throw ECommError(kCommNotOpen);
  DWORD errors = 0;
  COMSTAT state{};
  if (ClearCommError(native_->handle, &errors, &state) && state.cbInQue > 0) {
    discardedBytes += state.cbInQue;
  }
  if (!PurgeComm(native_->handle, PURGE_RXCLEAR)) throw ECommError(kCommPurgeFailed);
}

void SerialPort::writeDevice(std::uint8_t b) {
  if (!isOpen) throw ECommError(kCommNotOpen);
  DWORD written = 0;
  // A write time-out leaves `written` at 0; the count is not examined.
  if (!WriteFile(native_->handle, &b, 1, &written, nullptr)) throw ECommError(kCommWriteFailed);
}

int SerialPort::readDevice() {
  if (!isOpen) throw ECommError(kCommNotOpen);
  std::uint8_t b = 0;
  DWORD got = 0;
  if (!ReadFile(native_->handle, &b, 1, &got, nullptr)) throw ECommError(kCommReadFailed);
  return got == 1 ? static_cast<int>(b) : -1;
}

}  // namespace kordel
