// Where the device a trigger reaches sits on Windows: its device node in the
// configuration manager's tree, from hidapi's interface path or from the
// serial port's name, then up the tree to the USB device.
#include "platform/usb_place.h"

#include <string>

#include "platform/device_tree_win32.h"
#include "platform/text.h"
#include "platform/usb_chain.h"

namespace {

const DEVPROPKEY kInstanceIdKey = {
    {0x78c34fc8, 0x104a, 0x4aca, {0x9e, 0xa4, 0x52, 0x4d, 0x52, 0x99, 0x6e, 0x57}}, 256};
const GUID kComPortInterface = {
    0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};
const GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// The interface's own property where the system has it; else the id its
// path is made of, which is how Windows names interfaces.
std::wstring instance_id_of_hid(const char* path) {
  const DeviceTree& tree = device_tree();
  if (tree.interface_property != nullptr) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    DEVPROPTYPE type = 0;
    ULONG size = MAX_DEVICE_ID_LEN * sizeof(wchar_t);
    if (tree.interface_property(utf8_to_wide(path).c_str(), &kInstanceIdKey, &type,
                                reinterpret_cast<PBYTE>(id), &size, 0) == CR_SUCCESS &&
        type == DEVPROP_TYPE_STRING) {
      return id;
    }
  }
  return utf8_to_wide(instance_id_of_interface_path(path));
}

// The PortName a port's driver keeps in the device's key ("COM12").
std::string port_name_of(const DeviceTree& tree, HDEVINFO set, SP_DEVINFO_DATA* device) {
  if (tree.open_device_key == nullptr || tree.query_value == nullptr || tree.close_key == nullptr) {
    return "";
  }
  const HKEY key =
      tree.open_device_key(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
  if (key == nullptr || key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) return "";
  wchar_t name[64] = {};
  DWORD type = 0;
  DWORD size = sizeof name - sizeof name[0];
  const LONG status =
      tree.query_value(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
  tree.close_key(key);
  return status == ERROR_SUCCESS && type == REG_SZ ? wide_to_utf8(name) : "";
}

// The node of the present device, among those `guid` and `flags` select,
// whose port `name` names.
bool find_port(const DeviceTree& tree, const GUID& guid, DWORD flags, const std::string& name,
               DEVINST* node) {
  const HDEVINFO set = tree.class_devices(&guid, nullptr, nullptr, flags | DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  SP_DEVINFO_DATA device;
  device.cbSize = sizeof device;
  for (DWORD index = 0; !found && tree.enum_device(set, index, &device); ++index) {
    if (com_port_named(name, port_name_of(tree, set, &device))) {
      *node = device.DevInst;
      found = true;
    }
  }
  tree.destroy_list(set);
  return found;
}

}  // namespace

UsbPlace usb_place_of_hid(const char* path) {
  DEVINST node = 0;
  if (path == nullptr || !locate_node(instance_id_of_hid(path), &node)) return UsbPlace();
  return usb_place_of_node(node);
}

// The ports that offer the COM port interface, else those of the Ports
// class: some drivers of USB serial adapters register no interface.
UsbPlace usb_place_of_serial_port(const char* name) {
  const DeviceTree& tree = device_tree();
  DEVINST node = 0;
  if (name == nullptr || !device_lists_usable(tree)) return UsbPlace();
  if (!find_port(tree, kComPortInterface, DIGCF_DEVICEINTERFACE, name, &node) &&
      !find_port(tree, kPortsClass, 0, name, &node)) {
    return UsbPlace();
  }
  return usb_place_of_node(node);
}
