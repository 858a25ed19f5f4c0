#include "trigger/serial_trigger.h"

#include <cstdio>

#include "settings/settings.h"
#include "platform/platform.h"
#include "trigger/serial_port.h"

namespace {

// The bootloader-entry command: these 10 bytes, no terminator, no line end.
const char kCommand[] = "bootloader";

// Prints the outcome of the open; true when the trigger may go on.
bool report_open(SerialOpen result, const char* port_name, uint32_t baud) {
  switch (result) {
    case SerialOpen::kOpenFailed:
      printf("错误: 无法打开串口 %s\n", port_name);
      return false;
    case SerialOpen::kStateUnreadable:
      printf("错误: 无法获取串口状态\n");
      return false;
    case SerialOpen::kSettingsRefused:
      printf("错误: 无法设置串口参数\n");
      return false;
    case SerialOpen::kOpenedWithoutTimeouts:
      printf("警告: 无法设置串口超时\n");
      break;
    case SerialOpen::kOpened:
      break;
  }
  // %u: the speed is unsigned 32-bit, so a large one never prints negative.
  printf("串口 %s 已打开，波特率: %u, 8N1格式\n", port_name, static_cast<unsigned>(baud));
  return true;
}

}  // namespace

void send_serial_trigger() {
  if (!report_open(open_serial_port(serial_port, baud_rate), serial_port, baud_rate)) return;
  write_serial_port(kCommand, sizeof kCommand - 1);
  if (close_serial_port()) printf("串口已关闭\n");
  pause_ms(1000);
}
