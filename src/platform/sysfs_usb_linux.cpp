#include "platform/sysfs_usb_linux.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <memory>

#include "platform/file_posix.h"

namespace {

// "3-1" or "3-1.4.2": digits, a dash, then dot-separated digits.
bool is_port_path(const std::string& name) {
  size_t i = 0;
  auto digits = [&]() {
    const size_t start = i;
    while (i < name.size() && std::isdigit(static_cast<unsigned char>(name[i]))) ++i;
    return i > start;
  };
  if (!digits() || i >= name.size() || name[i++] != '-' || !digits()) return false;
  while (i < name.size()) {
    if (name[i++] != '.' || !digits()) return false;
  }
  return true;
}

// The part of `path` up to and including its last port-path component, or "".
std::string usb_device_dir_in_path(const std::string& path) {
  size_t dir_end = 0;
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (is_port_path(path.substr(start, end - start))) dir_end = end;
    start = end + 1;
  }
  return path.substr(0, dir_end);
}

}  // namespace

std::string usb_port_in_device_path(const std::string& path) {
  const std::string dir = usb_device_dir_in_path(path);
  return dir.substr(dir.rfind('/') + 1);
}

std::string sysfs_device_dir(const std::string& sys, const char* kind, uint64_t number) {
  const std::string link = sys + "/dev/" + kind + "/" + std::to_string(major(number)) + ":" +
                           std::to_string(minor(number));
  std::unique_ptr<char, decltype(&free)> resolved(realpath(link.c_str(), nullptr), &free);
  return resolved ? std::string(resolved.get()) : std::string();
}

UsbPlace usb_place_in_sysfs(const std::string& sys, const char* kind, uint64_t number) {
  UsbPlace place;
  const std::string usb_dir = usb_device_dir_in_path(sysfs_device_dir(sys, kind, number));
  if (usb_dir.empty()) return place;
  place.port = usb_dir.substr(usb_dir.rfind('/') + 1);
  const int dir = open(usb_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    if (!read_attribute(dir, "serial", &place.serial)) place.serial.clear();
    close(dir);
  }
  return place;
}
