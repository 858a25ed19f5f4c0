#include <cerrno>
#include <clocale>
#include <ctime>

#include "platform/platform.h"
#include "platform/text.h"

// Linux terminals and pipes carry UTF-8 already: nothing to switch.
void console_init() {}

// hidapi converts the board's strings with mbstowcs, which knows only ASCII
// in the "C" locale. Set when the HID trigger runs, not at start-up: loading
// the locale costs every other run a fifth of a MiB.
void use_utf8_character_type() {
  if (setlocale(LC_CTYPE, "C.UTF-8") == nullptr) setlocale(LC_CTYPE, "C.utf8");
}

void sleep_ms(unsigned ms) {
  struct timespec left = {static_cast<time_t>(ms / 1000),
                          static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// Command-line arguments on Linux are UTF-8 in practice, whatever the locale.
std::wstring narrow_to_wide(const char* text) { return utf8_to_wide(text); }
