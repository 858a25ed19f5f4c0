// The real Linux serial port, with the portable trigger on top, against
// pseudo-terminal pairs.
#include "trigger/serial_port_linux.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "fakes/fake_platform.h"
#include "pty_pair.h"
#include "temp_dir.h"
#include "trigger/serial_trigger.h"

namespace {

class SerialPortPosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_settings();
    fake_clock::reset();
    ASSERT_TRUE(open_pty_pair(&pty_));
    use_serial = true;
    serial_port = pty_.slave_path.c_str();
  }
  void TearDown() override { close_pty_pair(&pty_); }

  std::string trigger() {
    testing::internal::CaptureStdout();
    send_serial_trigger();
    return testing::internal::GetCapturedStdout();
  }

  std::string opened_and_closed(uint32_t baud) const {
    return "串口 " + pty_.slave_path + " 已打开，波特率: " + std::to_string(baud) +
           ", 8N1格式\n串口已关闭\n";
  }

  struct termios2 line() const {
    struct termios2 tio = {};
    EXPECT_EQ(ioctl(pty_.slave, TCGETS2, &tio), 0);
    return tio;
  }

  void set_line(struct termios2 tio) const { ASSERT_EQ(ioctl(pty_.slave, TCSETS2, &tio), 0); }

  bool held_exclusively() const {
    int exclusive = -1;
    EXPECT_EQ(ioctl(pty_.slave, TIOCGEXCL, &exclusive), 0);
    return exclusive != 0;
  }

  PtyPair pty_;
};

const std::vector<unsigned> kOnePause = {1000};

TEST_F(SerialPortPosixTest, ExactlyTheCommandArrivesAndThePortIsReleased) {
  EXPECT_EQ(trigger(), opened_and_closed(115200));
  EXPECT_EQ(read_master(pty_), "bootloader");
  EXPECT_EQ(fake_clock::sleeps(), kOnePause);
  EXPECT_EQ(hSerial, -1);
  // Neither the exclusive mode nor the lock outlives the trigger.
  EXPECT_FALSE(held_exclusively());
  EXPECT_EQ(flock(pty_.slave, LOCK_EX | LOCK_NB), 0);
}

TEST_F(SerialPortPosixTest, SpeedIsAppliedAsAskedWith8N1AndTheRestAsFound) {
  struct termios2 found = line();
  found.c_cflag &= ~(CSIZE | CBAUD);
  found.c_cflag |= CS7 | PARENB | PARODD | CSTOPB | CRTSCTS | B1200;
  found.c_iflag |= IXON | IXOFF;
  found.c_oflag &= ~OPOST;
  found.c_lflag &= ~(ICANON | ECHO);
  found.c_cc[VMIN] = 7;
  found.c_cc[VTIME] = 3;
  set_line(found);
  found = line();

  for (uint32_t baud : {9600u, 115200u, 123457u, 3000000u}) {
    SCOPED_TRACE(baud);
    baud_rate = baud;
    EXPECT_EQ(trigger(), opened_and_closed(baud));
    EXPECT_EQ(read_master(pty_), "bootloader");
    const struct termios2 now = line();
    EXPECT_EQ(now.c_ospeed, baud);
    EXPECT_EQ(now.c_ispeed, baud);
    EXPECT_EQ(now.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(now.c_cflag & (PARENB | CSTOPB), 0u);
    const tcflag_t untouched = ~(CBAUD | (CBAUD << IBSHIFT) | CSIZE | PARENB | CSTOPB);
    EXPECT_EQ(now.c_cflag & untouched, found.c_cflag & untouched);
    EXPECT_EQ(now.c_iflag, found.c_iflag);
    EXPECT_EQ(now.c_oflag, found.c_oflag);
    EXPECT_EQ(now.c_lflag, found.c_lflag);
    EXPECT_EQ(std::string(now.c_cc, now.c_cc + NCCS), std::string(found.c_cc, found.c_cc + NCCS));
  }
}

TEST_F(SerialPortPosixTest, SpeedZeroIsRefusedAndTheLineLeftAsFound) {
  const struct termios2 found = line();
  baud_rate = 0;
  EXPECT_EQ(trigger(), "错误: 无法设置串口参数\n");
  EXPECT_EQ(line().c_ospeed, found.c_ospeed);
  EXPECT_EQ(line().c_cflag, found.c_cflag);
  EXPECT_EQ(read_master(pty_), "");
  EXPECT_TRUE(fake_clock::sleeps().empty());
  EXPECT_EQ(hSerial, -1);
  EXPECT_FALSE(held_exclusively());
}

TEST_F(SerialPortPosixTest, DriverRoundingIsAcceptedAFallbackSpeedIsNot) {
  EXPECT_TRUE(speed_accepted(9600, 9600));
  EXPECT_TRUE(speed_accepted(57600, 57553));  // an FTDI adapter's divisor
  EXPECT_TRUE(speed_accepted(4294967295u, 4294967295u));
  EXPECT_FALSE(speed_accepted(5000000, 9600));  // a UART falling back
  EXPECT_FALSE(speed_accepted(115200, 119000));
  EXPECT_FALSE(speed_accepted(0, 0));
}

TEST_F(SerialPortPosixTest, MissingPortFailsTheOpenWithoutPause) {
  for (const char* name : {"/dev/flashdrop-no-such-port", "flashdrop-no-such-port"}) {
    serial_port = name;
    EXPECT_EQ(trigger(), std::string("错误: 无法打开串口 ") + name + "\n");
  }
  EXPECT_TRUE(fake_clock::sleeps().empty());
  EXPECT_EQ(hSerial, -1);
}

TEST_F(SerialPortPosixTest, NameIsAPathWhenItHoldsASlashElseADeviceUnderDev) {
  EXPECT_EQ(serial_device_path("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(serial_device_path("COM3"), "/dev/COM3");
  EXPECT_EQ(serial_device_path("/dev/ttyACM0"), "/dev/ttyACM0");
  EXPECT_EQ(serial_device_path("pts/3"), "pts/3");
  EXPECT_EQ(serial_device_path("./ttyS0"), "./ttyS0");
}

TEST_F(SerialPortPosixTest, FileThatIsNoTerminalHasNoLineState) {
  serial_port = "/dev/null";
  EXPECT_EQ(trigger(), "错误: 无法获取串口状态\n");
  EXPECT_TRUE(fake_clock::sleeps().empty());
  EXPECT_EQ(hSerial, -1);
}

TEST_F(SerialPortPosixTest, PortHeldExclusivelyIsAnOpenFailure) {
  ASSERT_EQ(ioctl(pty_.slave, TIOCEXCL), 0);
  EXPECT_EQ(trigger(), "错误: 无法打开串口 " + pty_.slave_path + "\n");
  ASSERT_EQ(ioctl(pty_.slave, TIOCNXCL), 0);

  const int holder = open(pty_.slave_path.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  EXPECT_EQ(trigger(), "错误: 无法打开串口 " + pty_.slave_path + "\n");
  close(holder);

  EXPECT_EQ(read_master(pty_), "");
  EXPECT_TRUE(fake_clock::sleeps().empty());
  // Once free again, the port works.
  EXPECT_EQ(trigger(), opened_and_closed(115200));
  EXPECT_EQ(read_master(pty_), "bootloader");
}

TEST_F(SerialPortPosixTest, LongNamesAreUsedWhole) {
  TempDir dir;
  std::string relative;
  for (int level = 0; level < 12; ++level) relative += std::string(100, 'd' + level % 10) + "/";
  relative += "port";
  dir.symlink(pty_.slave_path, relative);
  const std::string long_name = dir / relative;
  ASSERT_GT(long_name.size(), 1200u);
  serial_port = long_name.c_str();
  EXPECT_EQ(trigger(), "串口 " + long_name + " 已打开，波特率: 115200, 8N1格式\n串口已关闭\n");
  EXPECT_EQ(read_master(pty_), "bootloader");

  const std::string too_long = "/dev/" + std::string(10000, 'x');
  serial_port = too_long.c_str();
  EXPECT_EQ(trigger(), "错误: 无法打开串口 " + too_long + "\n");
}

TEST_F(SerialPortPosixTest, LineThatNeverDrainsEndsWithinTheWriteBound) {
  ASSERT_GT(fill_slave_output(pty_), 0u);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(trigger(), opened_and_closed(115200));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::seconds(2));  // bound: 150 ms for the write
  EXPECT_EQ(fake_clock::sleeps(), kOnePause);
  EXPECT_EQ(hSerial, -1);
  // What could not be sent was dropped: reading the line now yields the
  // filler only, and the command never follows it.
  const std::string received = read_master(pty_);
  EXPECT_FALSE(received.empty());
  EXPECT_EQ(received.find_first_not_of('x'), std::string::npos);
  EXPECT_EQ(read_master(pty_), "");
}

}  // namespace
