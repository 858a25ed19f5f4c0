// Character conversions shared by every platform.
#ifndef FLASHDROP_PLATFORM_TEXT_H_
#define FLASHDROP_PLATFORM_TEXT_H_

#include <string>

// Decodes UTF-8. A byte that does not start a valid sequence stands for the
// character of the same value, so no input is ever lost or rejected.
std::wstring utf8_to_wide(const std::string& text);

#endif  // FLASHDROP_PLATFORM_TEXT_H_
