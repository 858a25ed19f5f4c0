#include "fakes/fake_serial_port.h"

namespace {
SerialOpen g_result = SerialOpen::kOpened;
std::vector<fake_serial_port::Open> g_opens;
std::string g_written;
bool g_wrote_while_closed = false;
bool g_open = false;
int g_closes = 0;

bool opens_the_port(SerialOpen result) {
  return result == SerialOpen::kOpened || result == SerialOpen::kOpenedWithoutTimeouts;
}
}  // namespace

namespace fake_serial_port {
void reset() {
  g_result = SerialOpen::kOpened;
  g_opens.clear();
  g_written.clear();
  g_wrote_while_closed = false;
  g_open = false;
  g_closes = 0;
}
void script_open(SerialOpen result) { g_result = result; }
const std::vector<Open>& opens() { return g_opens; }
const std::string& written() { return g_written; }
bool wrote_while_closed() { return g_wrote_while_closed; }
int closes() { return g_closes; }
bool is_open() { return g_open; }
}  // namespace fake_serial_port

SerialOpen open_serial_port(const char* port_name, uint32_t baud) {
  g_opens.push_back({port_name, baud});
  g_open = opens_the_port(g_result);
  return g_result;
}

void write_serial_port(const char* data, size_t size) {
  if (!g_open) g_wrote_while_closed = true;
  g_written.append(data, size);
}

bool close_serial_port() {
  if (!g_open) return false;
  g_open = false;
  ++g_closes;
  return true;
}
