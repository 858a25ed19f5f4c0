#include "drive/win32/system_win32.h"

#include <cstring>
#include <vector>

std::string system_message(DWORD error) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length > 0 ? std::string(text, length) : std::string();
  LocalFree(text);
  while (!message.empty() && strchr("\r\n .", message.back()) != nullptr) message.pop_back();
  if (message.empty()) message = "error " + std::to_string(error);
  return message;
}

std::string environment_value(const char* name) {
  std::vector<char> value(MAX_PATH);
  DWORD length = GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
  if (length >= value.size()) {
    value.resize(length);
    length = GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
  }
  return length > 0 && length < value.size() ? std::string(value.data(), length) : std::string();
}

std::string base_name(const std::string& path) {
  const size_t cut = path.find_last_of("\\/:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// | < > and the like make a name that no file can have.
bool is_missing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_INVALID_NAME || error == ERROR_BAD_NETPATH || error == ERROR_BAD_NET_NAME;
}

bool file_size(const std::string& path, uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  *size = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  return true;
}

