// Windows's device tree, as the configuration manager and SetupAPI show it,
// for finding where a USB device sits. Their DLLs are loaded when first
// needed, from the system folder: flashdrop.exe imports only kernel32 and
// the C runtime, and wine lacks some of these functions. A function that
// cannot be had is null, and whatever needs it finds no place.
#ifndef FLASHDROP_PLATFORM_DEVICE_TREE_WIN32_H_
#define FLASHDROP_PLATFORM_DEVICE_TREE_WIN32_H_

#include <windows.h>
// windows.h first: these need its types.
#include <cfgmgr32.h>
#include <setupapi.h>

#include <string>

#include "platform/usb_place.h"

struct DeviceTree {
  decltype(&CM_Locate_DevNodeW) locate_node;
  decltype(&CM_Get_Parent) parent;
  decltype(&CM_Get_Device_IDW) device_id;
  decltype(&CM_Get_DevNode_PropertyW) node_property;
  decltype(&CM_Get_DevNode_Registry_PropertyW) registry_property;
  // Windows 8 and later; missing from mingw-w64's header and from wine.
  CONFIGRET(WINAPI* interface_property)
  (LPCWSTR, const DEVPROPKEY*, DEVPROPTYPE*, PBYTE, PULONG, ULONG);
  decltype(&SetupDiGetClassDevsW) class_devices;
  decltype(&SetupDiEnumDeviceInfo) enum_device;
  decltype(&SetupDiEnumDeviceInterfaces) enum_interface;
  decltype(&SetupDiGetDeviceInterfaceDetailW) interface_detail;
  decltype(&SetupDiOpenDevRegKey) open_device_key;
  decltype(&SetupDiDestroyDeviceInfoList) destroy_list;
  decltype(&RegQueryValueExW) query_value;
  decltype(&RegCloseKey) close_key;
};

// The functions, looked up once for the whole process (any thread).
const DeviceTree& device_tree();

// True when SetupAPI's device lists can be used.
bool device_lists_usable(const DeviceTree& tree);

// Where the device at `node` sits, found on its way up the tree.
UsbPlace usb_place_of_node(DEVINST node);

// The device node of the instance id `id`; false when there is none.
bool locate_node(const std::wstring& id, DEVINST* node);

#endif  // FLASHDROP_PLATFORM_DEVICE_TREE_WIN32_H_
