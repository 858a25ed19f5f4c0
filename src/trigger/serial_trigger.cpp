#include "trigger/serial_trigger.h"

#include <string>

#include "output/events.h"
#include "platform/platform.h"
#include "platform/usb_place.h"
#include "settings/settings.h"
#include "trigger/serial_port.h"

namespace {

// The bootloader-entry command: these 10 bytes, no terminator, no line end.
const char kCommand[] = "bootloader";

Event trigger_event(const std::string& text, const char* port_name, uint32_t baud, bool sent,
                    const std::string& error) {
  Event event("trigger", text);
  event.str("kind", "serial").str("port_name", port_name).num("baud", baud).boolean("sent", sent);
  return event.opt_str("error", error);
}

// Reports an open that failed; false then.
bool open_failed(const std::string& line, const char* port_name, uint32_t baud) {
  emit(trigger_event(line + "\n", port_name, baud, false, line));
  return false;
}

// Prints the outcome of the open; true when the trigger may go on.
bool report_open(SerialOpen result, const char* port_name, uint32_t baud) {
  switch (result) {
    case SerialOpen::kOpenFailed:
      return open_failed(std::string("错误: 无法打开串口 ") + port_name, port_name, baud);
    case SerialOpen::kStateUnreadable:
      return open_failed("错误: 无法获取串口状态", port_name, baud);
    case SerialOpen::kSettingsRefused:
      return open_failed("错误: 无法设置串口参数", port_name, baud);
    case SerialOpen::kOpenedWithoutTimeouts:
      emit_line("警告: 无法设置串口超时");
      break;
    case SerialOpen::kOpened:
      break;
  }
  // The speed is unsigned 32-bit, so a large one never prints negative.
  emit_line(std::string("串口 ") + port_name + " 已打开，波特率: " + std::to_string(baud) +
            ", 8N1格式");
  return true;
}

}  // namespace

TriggerReach send_serial_trigger() {
  TriggerReach reach;
  // Read before the command: the device leaves the bus once it restarts.
  const UsbPlace place = usb_place_of_serial_port(serial_port);
  if (!report_open(open_serial_port(serial_port, baud_rate), serial_port, baud_rate)) {
    return reach;
  }
  write_serial_port(kCommand, sizeof kCommand - 1);
  const bool closed = close_serial_port();
  emit(trigger_event(closed ? "串口已关闭\n" : "", serial_port, baud_rate, true, ""));
  reach.ports.push_back(place.port);
  reach.keys.push_back(serial_port);
  pause_ms(1000);
  return reach;
}
