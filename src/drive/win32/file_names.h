// The Windows rules for the name of the file to copy: what the command
// interpreter's copy cannot be handed. Pure (the name and the length of its
// full path in), so that the native unit tests run them too.
#ifndef FLASHDROP_DRIVE_WIN32_FILE_NAMES_H_
#define FLASHDROP_DRIVE_WIN32_FILE_NAMES_H_

#include <cstddef>
#include <string>

// The command interpreter's copy handles paths shorter than MAX_PATH (260)
// UTF-16 units; given a longer one it prints "File name is too long." and
// still ends with status 0.
constexpr size_t kLongestCopyPath = 259;

// Why the file `name`, whose full path is `full_path_length` UTF-16 units
// long, cannot be handed to copy, or "" when it can. `name_shown` is set to
// false when the name itself cannot stand on the line that says so.
std::string name_refusal(const std::string& name, size_t full_path_length, bool* name_shown);

#endif  // FLASHDROP_DRIVE_WIN32_FILE_NAMES_H_
