// Serial port on Windows: the COM device opened exclusively, the speed and 8N1
// set through its DCB, the write bounded by the port's time-outs.
#include <windows.h>

#include <string>

#include "trigger/serial_port.h"

HANDLE hSerial = INVALID_HANDLE_VALUE;

namespace {

// The write of the 10-byte command is given 10 ms a byte plus 50 ms; whatever
// is not sent by then is dropped. Nothing is ever read.
const COMMTIMEOUTS kTimeouts = {
    50,  // ReadIntervalTimeout
    10,  // ReadTotalTimeoutMultiplier
    50,  // ReadTotalTimeoutConstant
    10,  // WriteTotalTimeoutMultiplier
    50,  // WriteTotalTimeoutConstant
};

void close_handle() {
  CloseHandle(hSerial);
  hSerial = INVALID_HANDLE_VALUE;
}

}  // namespace

SerialOpen open_serial_port(const char* port_name, uint32_t baud) {
  // \\.\COM12: the device namespace, which also reaches ports above COM9.
  const std::string path = std::string("\\\\.\\") + port_name;
  hSerial = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hSerial == INVALID_HANDLE_VALUE) return SerialOpen::kOpenFailed;

  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(hSerial, &dcb)) {
    close_handle();
    return SerialOpen::kStateUnreadable;
  }
  // Only the speed and 8N1; flow control and the rest stay as the port had them.
  dcb.BaudRate = baud;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  if (!SetCommState(hSerial, &dcb)) {
    close_handle();
    return SerialOpen::kSettingsRefused;
  }
  COMMTIMEOUTS timeouts = kTimeouts;
  if (!SetCommTimeouts(hSerial, &timeouts)) return SerialOpen::kOpenedWithoutTimeouts;
  return SerialOpen::kOpened;
}

void write_serial_port(const char* data, size_t size) {
  DWORD written = 0;
  WriteFile(hSerial, data, static_cast<DWORD>(size), &written, nullptr);
}

bool close_serial_port() {
  if (hSerial == INVALID_HANDLE_VALUE) return false;
  close_handle();
  return true;
}
