// Where a USB device sits: the port it hangs on and its serial number, as
// the operating system tells them. A board that restarts into its
// bootloader comes back as another USB device on the same port, so the port
// ties the device a trigger reached to the drive it shows afterwards. One
// implementation per OS (usb_place_linux.cpp, usb_place_win32.cpp).
#ifndef FLASHDROP_PLATFORM_USB_PLACE_H_
#define FLASHDROP_PLATFORM_USB_PLACE_H_

#include <string>

struct UsbPlace {
  // Linux: the port path in sysfs ("1-2.3": bus 1, port 2 of the root hub,
  // port 3 of the hub there); Windows: the USB device's location path
  // ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(3)"). Empty when unknown.
  std::string port;
  std::string serial;  // the USB device's serial number; empty when it has none or unknown
};

// The place of the HID interface at `path` (as hidapi lists it).
UsbPlace usb_place_of_hid(const char* path);

// The place of the serial port named as -s names it (Linux: a path, or a
// name under /dev/; Windows: COM3).
UsbPlace usb_place_of_serial_port(const char* name);

#endif  // FLASHDROP_PLATFORM_USB_PLACE_H_
