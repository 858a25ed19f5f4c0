// Character conversions shared by every platform.
#ifndef FLASHDROP_PLATFORM_TEXT_H_
#define FLASHDROP_PLATFORM_TEXT_H_

#include <string>

// Decodes UTF-8. A byte that does not start a valid sequence stands for the
// character of the same value, so no input is ever lost or rejected.
std::wstring utf8_to_wide(const std::string& text);

// Encodes wide characters as UTF-8: UTF-16 where wchar_t has 16 bits
// (Windows), UTF-32 where it has 32 (Linux). A unit that is not a character
// (a lone surrogate, a value past U+10FFFF) becomes U+FFFD, so the rest of the
// string is still printed.
std::string wide_to_utf8(const std::wstring& text);

// Writes control characters as octal escapes (\033 for ESC), so text from
// outside (mount points, file names, device strings) can neither forge an
// output line nor reach the terminal as a control sequence: bytes below 0x20
// and 0x7F, the C1 controls U+0080 to U+009F in UTF-8 (both bytes: U+009B,
// CSI, is \302\233), and bytes 0x80 to 0x9F that are not part of a UTF-8
// character, which a terminal in an 8-bit mode takes as C1 controls.
std::string escape_controls(const std::string& text);

// The bytes as a JSON string, quotes included. Valid UTF-8 stays as it is
// (quote, backslash and control characters escaped); a byte that is not
// part of a valid sequence becomes \udcXX (XX its value), as Python's
// "surrogateescape" reads it, so that no byte of a name is lost.
std::string json_string(const std::string& bytes);

#endif  // FLASHDROP_PLATFORM_TEXT_H_
