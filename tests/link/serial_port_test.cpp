// SerialPort over a real pseudo-terminal: the test holds the master side, the port opens the
// slave like a COM device.
#include "link/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace kordel {
namespace {

class PtyPair {
 public:
  PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    char name[128] = {};
    if (ptsname_r(master_, name, sizeof name) == 0) slave_ = name;
  }
  ~PtyPair() { closeMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& slave() const { return slave_; }
  bool ok() const { return master_ >= 0 && !slave_.empty(); }
  void write(std::uint8_t b) { ASSERT_EQ(::write(master_, &b, 1), 1); }
  // The next byte the port sent, or -1 after `ms`.
  int read(int ms) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return -1;
    std::uint8_t b = 0;
    return ::read(master_, &b, 1) == 1 ? b : -1;
  }
  void closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string slave_;
};

void expectCode(std::uint8_t code, const std::function<void()>& action) {
  try {
    action();
    ADD_FAILURE() << "no ECommError, expected code " << int{code};
  } catch (const ECommError& e) {
    EXPECT_EQ(e.code, code);
    EXPECT_NE(e.what(), nullptr);
  }
}

std::uint64_t elapsedMs(std::uint64_t since) { return tickCount() - since; }

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(pty.ok()); }
  PtyPair pty;
  SerialPort port;
};

TEST_F(SerialPortTest, StartsClosedWithDefaults) {
  EXPECT_FALSE(port.isOpen);
  EXPECT_EQ(port.deviceName, "COM1");
  EXPECT_EQ(port.lineSettings.baudRate, 9600u);
  EXPECT_EQ(port.lineSettings.byteSize, 8);
  EXPECT_EQ(port.lineSettings.parity, 0);
  EXPECT_EQ(port.lineSettings.stopBits, 0);
}

TEST_F(SerialPortTest, OpenSetsTheLineForThePbx) {
  port.open(pty.slave());
  EXPECT_TRUE(port.isOpen);
  EXPECT_EQ(port.deviceName, pty.slave());
  EXPECT_EQ(port.lineSettings.baudRate, 19200u);
  EXPECT_EQ(port.lineSettings.byteSize, 8);
  EXPECT_EQ(port.lineSettings.parity, 0);
  EXPECT_EQ(port.lineSettings.stopBits, 2);
  EXPECT_EQ(port.timeouts.readIntervalTimeout, 15u);
  EXPECT_EQ(port.timeouts.readTotalTimeoutMultiplier, 1u);
  EXPECT_EQ(port.timeouts.readTotalTimeoutConstant, 250u);
  EXPECT_EQ(port.timeouts.writeTotalTimeoutMultiplier, 1u);
  EXPECT_EQ(port.timeouts.writeTotalTimeoutConstant, 250u);
}

TEST_F(SerialPortTest, BytesTravelUnchangedBothWays) {
  port.open(pty.slave());
  // Bytes a cooked terminal would translate or swallow: CR, LF, XON, XOFF, DEL, 0xFF.
  for (const std::uint8_t b : {0x00, 0x0D, 0x0A, 0x11, 0x13, 0x7F, 0x03, 0xFF}) {
    pty.write(b);
    EXPECT_EQ(port.readByteWithin(500), b);
    port.writeByte(b);
    EXPECT_EQ(pty.read(1000), b);
  }
}

TEST_F(SerialPortTest, OpenOnAnOpenPortDoesNothing) {
  port.open(pty.slave());
  port.open("/dev/does-not-exist");
  EXPECT_TRUE(port.isOpen);
  EXPECT_EQ(port.deviceName, pty.slave());
  pty.write(0x42);
  EXPECT_EQ(port.readByteWithin(500), 0x42);
}

TEST_F(SerialPortTest, MissingDeviceRaisesCode8AndStaysClosed) {
  expectCode(kCommOpenFailed, [&] { port.open("/dev/kordel-no-such-port"); });
  EXPECT_FALSE(port.isOpen);
}

TEST_F(SerialPortTest, SecondOpenOfTheSameDeviceRaisesCode8) {
  port.open(pty.slave());
  SerialPort other;
  expectCode(kCommOpenFailed, [&] { other.open(pty.slave()); });
  EXPECT_FALSE(other.isOpen);
  // Once closed, the device can be opened again.
  port.close();
  other.open(pty.slave());
  EXPECT_TRUE(other.isOpen);
}

TEST_F(SerialPortTest, ClosedPortRaisesCode7) {
  expectCode(kCommNotOpen, [&] { port.writeByte(0); });
  expectCode(kCommNotOpen, [&] { port.readByte(); });
  expectCode(kCommNotOpen, [&] { port.purgeInput(); });
  port.close();  // nothing happens on a closed port
  EXPECT_FALSE(port.isOpen);
}

TEST_F(SerialPortTest, DeviceNameCannotChangeWhileOpen) {
  port.setDeviceName("COM3");
  EXPECT_EQ(port.deviceName, "COM3");
  port.open(pty.slave());
  expectCode(kCommNameWhileOpen, [&] { port.setDeviceName("COM2"); });
  EXPECT_EQ(port.deviceName, pty.slave());
}

TEST_F(SerialPortTest, CloseAndReopen) {
  port.open(pty.slave());
  port.close();
  EXPECT_FALSE(port.isOpen);
  expectCode(kCommNotOpen, [&] { port.readByte(); });
  port.open(pty.slave());
  EXPECT_TRUE(port.isOpen);
  pty.write(0x17);
  EXPECT_EQ(port.readByteWithin(500), 0x17);
}

TEST_F(SerialPortTest, RefusedSettingKeepsTheOldValue) {
  port.open(pty.slave());
  port.setBaudRate(9600);  // accepted on an open port
  EXPECT_EQ(port.lineSettings.baudRate, 9600u);
  expectCode(kCommSetBaudRate, [&] { port.setBaudRate(12345); });
  EXPECT_EQ(port.lineSettings.baudRate, 9600u);
  expectCode(kCommSetByteSize, [&] { port.setByteSize(9); });
  EXPECT_EQ(port.lineSettings.byteSize, 8);
  expectCode(kCommSetParity, [&] { port.setParity(9); });
  EXPECT_EQ(port.lineSettings.parity, 0);
  expectCode(kCommSetStopBits, [&] { port.setStopBits(7); });
  EXPECT_EQ(port.lineSettings.stopBits, 2);
  // On a closed port the setters only store.
  port.close();
  port.setByteSize(9);
  EXPECT_EQ(port.lineSettings.byteSize, 9);
}

TEST_F(SerialPortTest, ReadTimeOuts) {
  port.open(pty.slave());
  pty.write(0x55);
  pty.write(0x66);
  pauseMs(50);
  port.purgeInput();  // the two bytes are gone

  std::uint64_t start = tickCount();
  EXPECT_EQ(port.readByte(), -1);
  EXPECT_GE(elapsedMs(start), 200u);
  EXPECT_LE(elapsedMs(start), 600u);

  start = tickCount();
  EXPECT_EQ(port.readByteWithin(30), -1);
  EXPECT_GE(elapsedMs(start), 400u);
  EXPECT_LE(elapsedMs(start), 1000u);

  start = tickCount();
  EXPECT_EQ(port.readByteWithin(500), -1);
  EXPECT_GE(elapsedMs(start), 650u);
  EXPECT_LE(elapsedMs(start), 1300u);
}

TEST_F(SerialPortTest, ReadWithinSeesALateByte) {
  port.open(pty.slave());
  std::jthread sender([this] {
    pauseMs(350);  // later than one read's limit, within the second try
    pty.write(0xA5);
  });
  const std::uint64_t start = tickCount();
  const int got = port.readByteWithin(30);
  sender.join();
  EXPECT_EQ(got, 0xA5);
  EXPECT_LE(elapsedMs(start), 600u);
}

TEST_F(SerialPortTest, HangUpIsAReadFailureNotATimeOut) {
  port.open(pty.slave());
  pty.write(0x01);
  pauseMs(20);
  pty.closeMaster();
  const std::uint64_t start = tickCount();
  try {
    // A byte still queued may be delivered first; the hang-up follows at once.
    for (int i = 0; i < 3; ++i) port.readByte();
    ADD_FAILURE() << "no ECommError after the hang-up";
  } catch (const ECommError& e) {
    EXPECT_EQ(e.code, kCommReadFailed);
  }
  EXPECT_LT(elapsedMs(start), 150u);
  expectCode(kCommReadFailed, [&] { port.readByteWithin(500); });
  EXPECT_LT(elapsedMs(start), 300u);
}

TEST(ResolveDevicePath, MapsPortNames) {
  ::unsetenv("KORDEL_COM3");
  EXPECT_EQ(resolveDevicePath("COM3"), "/dev/ttyS2");
  EXPECT_EQ(resolveDevicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(resolveDevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(resolveDevicePath("LPT1"), "LPT1");
  EXPECT_EQ(resolveDevicePath("COM"), "COM");
  EXPECT_EQ(resolveDevicePath("COM0"), "COM0");
  EXPECT_EQ(resolveDevicePath("COMX"), "COMX");
  ::setenv("KORDEL_COM3", "/tmp/some-adapter", 1);
  EXPECT_EQ(resolveDevicePath("COM3"), "/tmp/some-adapter");
  // Network ports: as they stand, or from the environment.
  EXPECT_EQ(resolveDevicePath("socket://pbx-office:4001"), "socket://pbx-office:4001");
  EXPECT_EQ(resolveDevicePath("RFC2217://127.0.0.1:2001"), "RFC2217://127.0.0.1:2001");
  ::setenv("KORDEL_COM3", "rfc2217://10.0.0.5:2001", 1);
  EXPECT_EQ(resolveDevicePath("COM3"), "rfc2217://10.0.0.5:2001");
  ::unsetenv("KORDEL_COM3");
  EXPECT_TRUE(isNetworkPortName("Socket://h:1"));
  EXPECT_TRUE(isNetworkPortName("rfc2217://"));  // found wanting at open
  EXPECT_FALSE(isNetworkPortName("socket:/h:1"));
  EXPECT_FALSE(isNetworkPortName("/dev/socket://h:1"));
  EXPECT_FALSE(isNetworkPortName("rfc2217"));
}

TEST_F(SerialPortTest, OpensAComNameThroughTheEnvironment) {
  ::setenv("KORDEL_COM8", pty.slave().c_str(), 1);
  port.open("COM8");
  ::unsetenv("KORDEL_COM8");
  EXPECT_TRUE(port.isOpen);
  EXPECT_EQ(port.deviceName, "COM8");
  port.writeByte(0x5A);
  EXPECT_EQ(pty.read(1000), 0x5A);
}

}  // namespace
}  // namespace kordel
