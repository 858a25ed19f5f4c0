// Thin operating-system calls used by the portable logic. One implementation
// per OS (platform_linux.cpp, platform_win32.cpp); tests link fakes instead.
#ifndef FLASHDROP_PLATFORM_PLATFORM_H_
#define FLASHDROP_PLATFORM_PLATFORM_H_

#include <string>

// Makes the console show the tool's UTF-8 messages correctly.
void console_init();

// Lets the C library's multibyte functions convert UTF-8, as the HID
// library needs for the board's strings. Numbers keep their formatting.
void use_utf8_character_type();

// Blocks the calling thread for `ms` milliseconds.
void sleep_ms(unsigned ms);

// Converts a narrow string in the system's encoding to wide characters.
std::wstring narrow_to_wide(const char* text);

// Flushes standard output, so redirected output keeps its order, then sleeps.
void pause_ms(unsigned ms);

#endif  // FLASHDROP_PLATFORM_PLATFORM_H_
