// Linux: a HID or serial device node's place, through its device number in
// sysfs (/sys/dev/char/MAJ:MIN links to the device's directory).
#include <sys/stat.h>

#include "platform/sysfs_usb_linux.h"
#include "platform/usb_place.h"
#include "trigger/serial_port_linux.h"

namespace {

UsbPlace place_of_node(const std::string& node) {
  struct stat st;
  if (stat(node.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return UsbPlace();
  return usb_place_in_sysfs("/sys", "char", st.st_rdev);
}

}  // namespace

UsbPlace usb_place_of_hid(const char* path) { return path ? place_of_node(path) : UsbPlace(); }

UsbPlace usb_place_of_serial_port(const char* name) {
  return place_of_node(serial_device_path(name));
}
