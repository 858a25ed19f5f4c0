// Thin operating-system calls used by the portable logic. One implementation
// per OS (platform_linux.cpp, platform_win32.cpp; the clock and the terminal
// test in clock_<os>.cpp and terminal_<os>.cpp, which the copy layers link
// too); tests link fakes instead.
#ifndef FLASHDROP_PLATFORM_PLATFORM_H_
#define FLASHDROP_PLATFORM_PLATFORM_H_

#include <cstdint>
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

// Milliseconds on a clock that only moves forward, from an arbitrary start.
uint64_t monotonic_ms();

// True when standard output is a terminal (on Windows, a console).
bool stdout_is_terminal();

// True when standard output is a terminal that takes the ANSI cursor
// movements (cursor up, erase to the end of the line or screen); on Windows,
// a console whose virtual terminal processing is on or could be turned on.
bool stdout_moves_cursor();

// Flushes standard output, so redirected output keeps its order, then sleeps.
void pause_ms(unsigned ms);

#endif  // FLASHDROP_PLATFORM_PLATFORM_H_
