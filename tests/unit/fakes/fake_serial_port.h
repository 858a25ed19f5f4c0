// A fake serial port in place of the OS layer: the open's outcome is scripted,
// every open, write and close is recorded.
#ifndef FLASHDROP_TESTS_FAKE_SERIAL_PORT_H_
#define FLASHDROP_TESTS_FAKE_SERIAL_PORT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "trigger/serial_port.h"

namespace fake_serial_port {

struct Open {
  std::string port_name;
  uint32_t baud;
};

void reset();
// What the next open reports; kOpened unless set.
void script_open(SerialOpen result);
const std::vector<Open>& opens();
// The bytes written while the port was open, and whether any write came when
// no port was open.
const std::string& written();
bool wrote_while_closed();
int closes();
bool is_open();

}  // namespace fake_serial_port

#endif  // FLASHDROP_TESTS_FAKE_SERIAL_PORT_H_
