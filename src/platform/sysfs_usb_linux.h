// The USB device behind a device node, as sysfs tells it. Every device's
// directory under sys/devices lies below the USB device it belongs to, and
// that directory is named by its port path: bus, then the port at each hub
// ("3-1.4"); its interfaces add ":config.interface" ("3-1.4:1.0").
#ifndef FLASHDROP_PLATFORM_SYSFS_USB_LINUX_H_
#define FLASHDROP_PLATFORM_SYSFS_USB_LINUX_H_

#include <cstdint>
#include <string>

#include "platform/usb_place.h"

// The port path of the USB device in the sysfs device path `path` (the last
// component shaped like "3-1.4"), or "" when it lies below no USB device.
std::string usb_port_in_device_path(const std::string& path);

// The sysfs directory of the character ("char") or block ("block") device
// `number` (a dev_t) below the root `sys`, its links resolved; "" when none.
std::string sysfs_device_dir(const std::string& sys, const char* kind, uint64_t number);

// The place of the character ("char") or block ("block") device `number`
// (a dev_t), read below the sysfs root `sys`.
UsbPlace usb_place_in_sysfs(const std::string& sys, const char* kind, uint64_t number);

#endif  // FLASHDROP_PLATFORM_SYSFS_USB_LINUX_H_
