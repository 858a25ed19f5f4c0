// The serial port seam: open one port, write to it, close it. One file per OS
// (serial_port_linux.cpp, serial_port_win32.cpp); the handle of the open port,
// hSerial, lives in that file. Nothing here prints: the trigger reports.
#ifndef FLASHDROP_TRIGGER_SERIAL_PORT_H_
#define FLASHDROP_TRIGGER_SERIAL_PORT_H_

#include <cstddef>
#include <cstdint>

enum class SerialOpen {
  kOpened,                  // open, at the speed asked, 8N1
  kOpenedWithoutTimeouts,   // open and configured, but the write time-outs were refused
  kOpenFailed,              // missing, busy, or the name cannot be a device
  kStateUnreadable,         // opened, but the line settings could not be read
  kSettingsRefused,         // opened, but the speed or 8N1 was refused
};

// Opens `port_name` exclusively and sets `baud` and 8N1, leaving every other
// line setting as found. On any failure after the open the port is closed
// again, without a message, and hSerial holds the invalid value.
SerialOpen open_serial_port(const char* port_name, uint32_t baud);

// Writes `size` bytes to the open port, giving up after a short bound
// (150 ms). Whatever is not sent by then is dropped when the port closes.
void write_serial_port(const char* data, size_t size);

// Closes the open port, if any, discarding unsent output so that closing never
// waits on a stuck line. True when a port was open.
bool close_serial_port();

#endif  // FLASHDROP_TRIGGER_SERIAL_PORT_H_
