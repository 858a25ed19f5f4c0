#include <windows.h>

#include <cstring>

#include "platform/platform.h"

// Wildcards in the arguments (*.uf2) are expanded by the mingw-w64 runtime
// at start-up when this is set; a pattern that matches nothing stays as typed.
int _dowildcard = -1;

void console_init() {
  // Fails when standard output is not a console (a pipe, a file): harmless,
  // the UTF-8 bytes then pass through unchanged.
  SetConsoleOutputCP(CP_UTF8);
  // A removable drive without a medium (an empty card reader) must not raise
  // a "no disk" dialog when the search looks at it: the call fails instead.
  SetErrorMode(SEM_FAILCRITICALERRORS);
}

// hidapi's Windows backend gets the strings as UTF-16 from the system.
void use_utf8_character_type() {}

void sleep_ms(unsigned ms) { Sleep(ms); }

// From the ANSI code page, which the manifest sets to UTF-8 on Windows 10
// version 1903 and later.
std::wstring narrow_to_wide(const char* text) {
  const int length = static_cast<int>(strlen(text));
  if (length == 0) return std::wstring();
  const int needed = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
  if (needed <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(needed), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, length, &wide[0], needed);
  return wide;
}
