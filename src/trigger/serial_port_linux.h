// The Linux serial port: what the tests of serial_port_linux.cpp look at
// beyond the seam in serial_port.h.
#ifndef FLASHDROP_TRIGGER_SERIAL_PORT_LINUX_H_
#define FLASHDROP_TRIGGER_SERIAL_PORT_LINUX_H_

#include <cstdint>
#include <string>

// The open port's file descriptor, -1 when no port is open.
extern int hSerial;

// The device a -s value names: the value itself when it holds a '/', else the
// node of that name under /dev (ttyUSB0 is /dev/ttyUSB0).
std::string serial_device_path(const char* port_name);

// Whether a driver that reports `reported` after being asked for `asked` took
// the speed. Drivers round to what their clock can divide (an FTDI adapter
// gives 57553 for 57600); one that cannot get close falls back to another
// speed, which counts as a refusal. Speed 0 means "hang up", never a speed.
bool speed_accepted(uint32_t asked, uint32_t reported);

#endif  // FLASHDROP_TRIGGER_SERIAL_PORT_LINUX_H_
