// What Windows's device tree says about where a USB device sits, decided on
// the strings the configuration manager gives: device instance ids, location
// paths and names. usb_place_win32.cpp captures them; everything decided on
// them is here, free of Windows headers.
#ifndef FLASHDROP_PLATFORM_USB_CHAIN_H_
#define FLASHDROP_PLATFORM_USB_CHAIN_H_

#include <string>
#include <vector>

#include "platform/usb_place.h"

// One device node on the way from a device to the root of the tree.
struct DeviceNode {
  std::string instance_id;  // "USB\VID_2E8A&PID_0003\E0C9125B0D9B"
  // DEVPKEY_Device_LocationPaths ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)",
  // "ACPI(_SB_)#ACPI(PCI0)#..."); empty when the node has none.
  std::vector<std::string> location_paths;
  // CM_DRP_LOCATION_INFORMATION: for a USB device "Port_#0002.Hub_#0001".
  std::string location_information;
};

// The device instance id behind a device-interface path:
// "\\?\hid#vid_0d28&pid_0204&mi_00#7&1a2b3c4d&0&0000#{4d1e55b2-...}" gives
// "hid\vid_0d28&pid_0204&mi_00\7&1a2b3c4d&0&0000". Empty when `path` is not
// such a path.
std::string instance_id_of_interface_path(const std::string& path);

// The serial number a USB device node's instance id carries: its last
// component, unless Windows made that up for a device without a serial
// number ("6&2c9b4f0&0&2"). Empty then.
std::string serial_of_instance_id(const std::string& instance_id);

// Where the device at the head of `chain` (the device first, the root of the
// tree last) sits: the first USB device node on the way up, not a
// function's interface node (&MI_xx) nor a root hub, and its location path
// and serial number. Empty when the way up reaches no such node, or passes a
// Bluetooth node first (that device hangs on no USB port of its own).
UsbPlace usb_place_of_chain(const std::vector<DeviceNode>& chain);

// True when `given`, as -s names a serial port ("com12", "\\.\COM12"), names
// the port whose PortName is `port_name`.
bool com_port_named(const std::string& given, const std::string& port_name);

// True when `name`, as --drive gives it ("E:", "e", "E:\", "e:/"), names the
// drive letter of `root` ("E:\"), without regard to letter case.
bool drive_letter_named(const std::string& name, const std::string& root);

#endif  // FLASHDROP_PLATFORM_USB_CHAIN_H_
