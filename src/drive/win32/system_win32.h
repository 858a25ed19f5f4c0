// Small Windows helpers the drive layer's files share.
#ifndef FLASHDROP_DRIVE_WIN32_SYSTEM_WIN32_H_
#define FLASHDROP_DRIVE_WIN32_SYSTEM_WIN32_H_

#include <windows.h>

#include <cstdint>
#include <string>

// The system's message for `error`, without its line end and final dot.
std::string system_message(DWORD error);

// A variable's value, or nothing when it is unset or empty.
std::string environment_value(const char* name);

// The part of `path` after its last \, / or :.
std::string base_name(const std::string& path);

// No file of that name, nor a folder or server on its way.
bool is_missing(DWORD error);

// The size of the file (not a folder) at `path`.
bool file_size(const std::string& path, uint64_t* size);

#endif  // FLASHDROP_DRIVE_WIN32_SYSTEM_WIN32_H_
