#include <cerrno>
#include <ctime>

#include "platform/platform.h"
#include "platform/text.h"

// Linux terminals and pipes carry UTF-8 already: nothing to switch.
void console_init() {}

void sleep_ms(unsigned ms) {
  struct timespec left = {static_cast<time_t>(ms / 1000),
                          static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// Command-line arguments on Linux are UTF-8 in practice, whatever the locale.
std::wstring narrow_to_wide(const char* text) { return utf8_to_wide(text); }
