// Where Windows's device tree puts a USB device, decided on device-instance
// data as the configuration manager gives it for real devices.
#include "platform/usb_chain.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char kHidGuid[] = "{4d1e55b2-f16f-11cf-88cb-001111000030}";

TEST(UsbChain, TheInstanceIdBehindAnInterfacePath) {
  const struct {
    std::string path;
    std::string id;  // empty: not an interface path
  } cases[] = {
      // hidapi's path for a composite board's HID function, as Windows lower-cases it.
      {std::string("\\\\?\\hid#vid_0d28&pid_0204&mi_00#7&1a2b3c4d&0&0000#") + kHidGuid,
       "hid\\vid_0d28&pid_0204&mi_00\\7&1a2b3c4d&0&0000"},
      {"\\\\?\\USB#VID_2E8A&PID_0003#E0C9125B0D9B#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
       "USB\\VID_2E8A&PID_0003\\E0C9125B0D9B"},
      // A reference string after the class: the id still ends before it.
      {std::string("\\\\.\\HID#VID_046D&PID_C52B&MI_02&COL01#8&2e1f3a4b&0&0000#") + kHidGuid +
           "\\kbd",
       "HID\\VID_046D&PID_C52B&MI_02&COL01\\8&2e1f3a4b&0&0000"},
      {std::string("hid#vid_0d28&pid_0204#7&1a2b3c4d&0&0000#") + kHidGuid, ""},  // no \\?\ .
      {std::string("\\\\?\\hid#vid_0d28&pid_0204#") + kHidGuid, ""},  // no instance component
      {"\\\\?\\hid#vid_0d28&pid_0204#7&1a2b3c4d&0&0000", ""},            // no class
      {"\\\\.\\COM3", ""},
      {"/dev/hidraw0", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(instance_id_of_interface_path(c.path), c.id) << c.path;
}

TEST(UsbChain, TheSerialNumberInAnInstanceId) {
  const struct {
    std::string id;
    std::string serial;
  } cases[] = {
      {"USB\\VID_2E8A&PID_0003\\E0C9125B0D9B", "E0C9125B0D9B"},
      {"USB\\VID_0D28&PID_0204\\0240000034544e45001b00028aa9001e8d81000097969900",
       "0240000034544e45001b00028aa9001e8d81000097969900"},
      {"USB\\VID_1209&PID_0D32\\6&2c9b4f0&0&2", ""},  // made up by Windows: no serial number
      {"USBSTOR\\DISK&VEN_RPI&PROD_RP2&REV_3\\E0C9125B0D9B&0", ""},
      {"USB\\VID_2E8A&PID_0003\\", ""},
      {"E0C9125B0D9B", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(serial_of_instance_id(c.id), c.serial) << c.id;
}

// The nodes above a USB controller, the same on every chain below.
std::vector<DeviceNode> above_root_hub() {
  return {
      {"USB\\ROOT_HUB30\\4&2b8e1f4&0&0",
       {"PCIROOT(0)#PCI(1400)#USBROOT(0)", "ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)"},
       ""},
      {"PCI\\VEN_8086&DEV_A36D&SUBSYS_85F41043&REV_10\\3&11583659&0&A0",
       {"PCIROOT(0)#PCI(1400)", "ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)"},
       "PCI bus 0, device 20, function 0"},
      {"ACPI\\PNP0A08\\0", {"ACPI(_SB_)#ACPI(PCI0)"}, ""},
      {"HTREE\\ROOT\\0", {}, ""},
  };
}

std::vector<DeviceNode> chain(std::vector<DeviceNode> below) {
  for (DeviceNode& node : above_root_hub()) below.push_back(node);
  return below;
}

const char kRootPort3[] = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)";
const char kHubOnRootPort4[] = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)";
const char kHubPort2[] = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#USB(2)";

// A hub on root port 4, without a serial number of its own.
DeviceNode hub() {
  return {"USB\\VID_05E3&PID_0610\\5&1a2b3c4d&0&4",
          {kHubOnRootPort4, "ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS04)"},
          "Port_#0004.Hub_#0001"};
}

TEST(UsbChain, ThePlaceIsTheFirstUsbDeviceNodeOnTheWayUp) {
  const struct {
    const char* what;
    std::vector<DeviceNode> chain;
    UsbPlace place;
  } cases[] = {
      {"a composite board's HID function: the device, not its interface node",
       chain({
           {"HID\\VID_0D28&PID_0204&MI_03\\7&2a8b5c1e&0&0000", {}, ""},
           {"USB\\VID_0D28&PID_0204&MI_03\\6&1f3c2d4b&0&0003",
            {std::string(kRootPort3) + "#USBMI(3)"},
            "0000.0014.0000.003.000.000.000.000.000"},
           {"USB\\VID_0D28&PID_0204\\0240000034544E45001B00028AA9001E8D81000097969900",
            {"ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS03)", kRootPort3},
            "Port_#0003.Hub_#0001"},
       }),
       {kRootPort3, "0240000034544E45001B00028AA9001E8D81000097969900"}},
      {"a CDC-ACM port: the COM port is the USB device node itself",
       chain({
           {"USB\\VID_2E8A&PID_000A\\E66038B7133A5A2E",
            {kRootPort3, "ACPI(_SB_)#ACPI(PCI0)#ACPI(XHC_)#ACPI(RHUB)#ACPI(HS03)"},
            "Port_#0003.Hub_#0001"},
       }),
       {kRootPort3, "E66038B7133A5A2E"}},
      {"a bootloader's disk behind a hub: the disk's USB device, not the hub",
       chain({
           {"USBSTOR\\DISK&VEN_RPI&PROD_RP2&REV_3\\E0C9125B0D9B&0", {}, ""},
           {"USB\\VID_2E8A&PID_0003\\E0C9125B0D9B", {kHubPort2}, "Port_#0002.Hub_#0005"},
           hub(),
       }),
       {kHubPort2, "E0C9125B0D9B"}},
      {"a USB device without location paths: its hub's path and its port there",
       chain({
           {"USBSTOR\\DISK&VEN_RPI&PROD_RP2&REV_3\\E0C9125B0D9B&0", {}, ""},
           {"USB\\VID_2E8A&PID_0003\\E0C9125B0D9B", {}, "Port_#0002.Hub_#0005"},
           hub(),
       }),
       {kHubPort2, "E0C9125B0D9B"}},
      {"a device without a serial number: Windows made up its instance id",
       chain({
           {"HID\\VID_1209&PID_0D32\\7&1b2c3d4e&0&0000", {}, ""},
           {"USB\\VID_1209&PID_0D32\\6&2c9b4f0&0&2", {kRootPort3}, "Port_#0003.Hub_#0001"},
       }),
       {kRootPort3, ""}},
      {"a USB device with no location at all: its serial number only",
       {
           {"USB\\VID_2E8A&PID_0003\\E0C9125B0D9B", {}, ""},
           {"USB\\ROOT_HUB30\\4&2b8e1f4&0&0", {}, ""},
       },
       {"", "E0C9125B0D9B"}},
      {"a SATA disk: no USB node on the way up",
       {
           {"SCSI\\DISK&VEN_&PROD_SAMSUNG_SSD_860\\4&2a3b4c5d&0&000000", {}, ""},
           {"PCI\\VEN_8086&DEV_A352&SUBSYS_86941043&REV_10\\3&11583659&0&B8",
            {"PCIROOT(0)#PCI(1702)"},
            ""},
           {"ACPI\\PNP0A08\\0", {"ACPI(_SB_)#ACPI(PCI0)"}, ""},
           {"HTREE\\ROOT\\0", {}, ""},
       },
       {"", ""}},
      {"a Bluetooth HID device: the radio's USB port is not the device's",
       chain({
           {"HID\\{00001124-0000-1000-8000-00805F9B34FB}_VID&0002045E_PID&0800\\8&3b2a1c&0&0000",
            {},
            ""},
           {"BTHENUM\\{00001124-0000-1000-8000-00805F9B34FB}_VID&0002045E_PID&0800\\7&1a2b&0&"
            "001A7DDA7113_C00000000",
            {},
            ""},
           {"BTH\\MS_BTHBRB\\6&2f1e3d&0&1", {}, ""},
           {"USB\\VID_8087&PID_0029\\5&3c4d5e6f&0&10", {"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(10)"},
            "Port_#0010.Hub_#0001"},
       }),
       {"", ""}},
      {"nothing captured", {}, {"", ""}},
  };
  for (const auto& c : cases) {
    const UsbPlace place = usb_place_of_chain(c.chain);
    EXPECT_EQ(place.port, c.place.port) << c.what;
    EXPECT_EQ(place.serial, c.place.serial) << c.what;
  }
}

TEST(UsbChain, TheComPortASerialOptionNames) {
  const struct {
    std::string given;
    std::string port_name;
    bool named;
  } cases[] = {
      {"COM12", "COM12", true},   {"com12", "COM12", true}, {"\\\\.\\COM12", "COM12", true},
      {"\\\\.\\com3", "COM3", true}, {"COM1", "COM12", false}, {"COM12", "COM1", false},
      {"\\\\?\\COM12", "COM12", false}, {"\\\\.\\", "", false}, {"", "", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(com_port_named(c.given, c.port_name), c.named) << c.given << " / " << c.port_name;
  }
}

TEST(UsbChain, TheDriveLetterADriveOptionNames) {
  const struct {
    std::string name;
    std::string root;
    bool named;
  } cases[] = {
      {"E:", "E:\\", true},  {"e", "E:\\", true},    {"E:\\", "E:\\", true},
      {"e:/", "E:\\", true}, {"E", "e:\\", true},     {"F:", "E:\\", false},
      {"E:\\fw", "E:\\", false}, {"E\\", "E:\\", false}, {"E::", "E:\\", false},
      {"EE", "E:\\", false}, {"", "E:\\", false},    {"E:", "\\\\?\\Volume{1}\\", false},
      {"1:", "1:\\", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(drive_letter_named(c.name, c.root), c.named) << c.name << " / " << c.root;
  }
}

}  // namespace
