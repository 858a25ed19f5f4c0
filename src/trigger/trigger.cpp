#include "trigger/trigger.h"

#include <cctype>

bool is_hid_port(const char* port) {
  const char kHid[] = "hid";
  for (int i = 0; i < 3; ++i) {
    if (std::tolower(static_cast<unsigned char>(port[i])) != kHid[i]) return false;
  }
  return port[3] == '\0';
}
