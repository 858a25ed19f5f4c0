#include "trigger/serial_trigger.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/settings.h"
#include "fakes/fake_platform.h"
#include "fakes/fake_serial_port.h"

namespace {

class SerialTriggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_settings();
    fake_clock::reset();
    fake_serial_port::reset();
    serial_port = "COM3";
    use_serial = true;
  }

  // Runs the trigger and returns what it printed.
  static std::string trigger() {
    testing::internal::CaptureStdout();
    send_serial_trigger();
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(SerialTriggerTest, OpensWritesTheCommandClosesThenPauses) {
  baud_rate = 9600;
  EXPECT_EQ(trigger(), "串口 COM3 已打开，波特率: 9600, 8N1格式\n串口已关闭\n");
  ASSERT_EQ(fake_serial_port::opens().size(), 1u);
  EXPECT_EQ(fake_serial_port::opens()[0].port_name, "COM3");
  EXPECT_EQ(fake_serial_port::opens()[0].baud, 9600u);
  EXPECT_EQ(fake_serial_port::written(), "bootloader");
  EXPECT_FALSE(fake_serial_port::wrote_while_closed());
  EXPECT_EQ(fake_serial_port::closes(), 1);
  EXPECT_FALSE(fake_serial_port::is_open());
  EXPECT_EQ(fake_clock::sleeps(), std::vector<unsigned>{1000});
}

TEST_F(SerialTriggerTest, DefaultSpeedIs115200) {
  EXPECT_EQ(trigger(), "串口 COM3 已打开，波特率: 115200, 8N1格式\n串口已关闭\n");
  EXPECT_EQ(fake_serial_port::opens()[0].baud, 115200u);
}

TEST_F(SerialTriggerTest, SpeedAboveTwoToThe31PrintsUnsigned) {
  baud_rate = 4000000000u;
  EXPECT_EQ(trigger(), "串口 COM3 已打开，波特率: 4000000000, 8N1格式\n串口已关闭\n");
}

TEST_F(SerialTriggerTest, RefusedTimeoutsWarnAndTheTriggerGoesOn) {
  fake_serial_port::script_open(SerialOpen::kOpenedWithoutTimeouts);
  EXPECT_EQ(trigger(),
            "警告: 无法设置串口超时\n串口 COM3 已打开，波特率: 115200, 8N1格式\n串口已关闭\n");
  EXPECT_EQ(fake_serial_port::written(), "bootloader");
  EXPECT_EQ(fake_clock::sleeps(), std::vector<unsigned>{1000});
}

TEST_F(SerialTriggerTest, EachOpenFailureHasItsMessageAndNeitherWriteNorPause) {
  const struct {
    SerialOpen result;
    const char* message;
  } kFailures[] = {
      {SerialOpen::kOpenFailed, "错误: 无法打开串口 COM3\n"},
      {SerialOpen::kStateUnreadable, "错误: 无法获取串口状态\n"},
      {SerialOpen::kSettingsRefused, "错误: 无法设置串口参数\n"},
  };
  for (const auto& failure : kFailures) {
    SCOPED_TRACE(failure.message);
    fake_serial_port::reset();
    fake_clock::reset();
    fake_serial_port::script_open(failure.result);
    EXPECT_EQ(trigger(), failure.message);
    EXPECT_TRUE(fake_serial_port::written().empty());
    EXPECT_EQ(fake_serial_port::closes(), 0);
    EXPECT_TRUE(fake_clock::sleeps().empty());
  }
}

TEST_F(SerialTriggerTest, PortNameIsPrintedAsTyped) {
  const std::string name = "/dev/serial/by-id/usb-Board_" + std::string(300, 'x') + "-if00";
  serial_port = name.c_str();
  fake_serial_port::script_open(SerialOpen::kOpenFailed);
  EXPECT_EQ(trigger(), "错误: 无法打开串口 " + name + "\n");
  EXPECT_EQ(fake_serial_port::opens()[0].port_name, name);
}

}  // namespace
