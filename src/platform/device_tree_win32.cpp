#include "platform/device_tree_win32.h"

#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/usb_chain.h"

namespace {

// Deeper than any real tree: HTREE\ROOT\0 is a few levels above a hub's port.
constexpr int kDeepestChain = 32;
// Larger than any list of location paths.
constexpr ULONG kLargestProperty = 64 * 1024;

const DEVPROPKEY kLocationPathsKey = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 37};

// Only the system's own copy: never a DLL of that name beside the program or
// in the current folder.
HMODULE system_library(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  return LoadLibraryW((std::wstring(folder, length) + L"\\" + name).c_str());
}

// GetProcAddress gives every function one type; the cast through void (*)()
// is the one GCC takes as deliberate.
template <typename Function>
void look_up(HMODULE library, const char* name, Function* function) {
  *function = library == nullptr ? nullptr
                                 : reinterpret_cast<Function>(reinterpret_cast<void (*)()>(
                                       GetProcAddress(library, name)));
}

// The libraries stay loaded for the rest of the run.
DeviceTree load_device_tree() {
  DeviceTree tree;
  const HMODULE cfgmgr = system_library(L"cfgmgr32.dll");
  look_up(cfgmgr, "CM_Locate_DevNodeW", &tree.locate_node);
  look_up(cfgmgr, "CM_Get_Parent", &tree.parent);
  look_up(cfgmgr, "CM_Get_Device_IDW", &tree.device_id);
  look_up(cfgmgr, "CM_Get_DevNode_PropertyW", &tree.node_property);
  look_up(cfgmgr, "CM_Get_DevNode_Registry_PropertyW", &tree.registry_property);
  look_up(cfgmgr, "CM_Get_Device_Interface_PropertyW", &tree.interface_property);
  const HMODULE setupapi = system_library(L"setupapi.dll");
  look_up(setupapi, "SetupDiGetClassDevsW", &tree.class_devices);
  look_up(setupapi, "SetupDiEnumDeviceInfo", &tree.enum_device);
  look_up(setupapi, "SetupDiEnumDeviceInterfaces", &tree.enum_interface);
  look_up(setupapi, "SetupDiGetDeviceInterfaceDetailW", &tree.interface_detail);
  look_up(setupapi, "SetupDiOpenDevRegKey", &tree.open_device_key);
  look_up(setupapi, "SetupDiDestroyDeviceInfoList", &tree.destroy_list);
  const HMODULE advapi = system_library(L"advapi32.dll");
  look_up(advapi, "RegQueryValueExW", &tree.query_value);
  look_up(advapi, "RegCloseKey", &tree.close_key);
  return tree;
}

// A string or string list property as wide characters, followed by two
// zero characters whatever was stored. Empty when the node has none.
std::vector<wchar_t> wide_buffer(ULONG bytes) {
  return std::vector<wchar_t>(bytes / sizeof(wchar_t) + 2, L'\0');
}

std::vector<wchar_t> node_property(const DeviceTree& tree, DEVINST node, const DEVPROPKEY& key,
                                   DEVPROPTYPE wanted) {
  if (tree.node_property == nullptr) return {};
  DEVPROPTYPE type = 0;
  ULONG size = 0;
  if (tree.node_property(node, &key, &type, nullptr, &size, 0) != CR_BUFFER_SMALL ||
      type != wanted || size > kLargestProperty) {
    return {};
  }
  std::vector<wchar_t> units = wide_buffer(size);
  if (tree.node_property(node, &key, &type, reinterpret_cast<PBYTE>(units.data()), &size, 0) !=
          CR_SUCCESS ||
      type != wanted) {
    return {};
  }
  return units;
}

std::vector<wchar_t> registry_property(const DeviceTree& tree, DEVINST node, ULONG which) {
  if (tree.registry_property == nullptr) return {};
  ULONG type = 0;
  ULONG size = 0;
  if (tree.registry_property(node, which, &type, nullptr, &size, 0) != CR_BUFFER_SMALL ||
      size > kLargestProperty) {
    return {};
  }
  std::vector<wchar_t> units = wide_buffer(size);
  if (tree.registry_property(node, which, &type, units.data(), &size, 0) != CR_SUCCESS ||
      (type != REG_SZ && type != REG_MULTI_SZ)) {
    return {};
  }
  return units;
}

// The strings of a list ended by an empty one (a single string is a list of one).
std::vector<std::string> string_list(const std::vector<wchar_t>& units) {
  std::vector<std::string> list;
  for (size_t at = 0; at < units.size() && units[at] != L'\0';) {
    const std::wstring item(&units[at]);
    list.push_back(wide_to_utf8(item));
    at += item.size() + 1;
  }
  return list;
}

// The unified property where the system has it, else the registry's copy.
std::vector<std::string> location_paths(const DeviceTree& tree, DEVINST node) {
  std::vector<std::string> paths =
      string_list(node_property(tree, node, kLocationPathsKey, DEVPROP_TYPE_STRING_LIST));
  if (paths.empty()) paths = string_list(registry_property(tree, node, CM_DRP_LOCATION_PATHS));
  return paths;
}

DeviceNode captured_node(const DeviceTree& tree, DEVINST node, const std::wstring& id) {
  DeviceNode captured;
  captured.instance_id = wide_to_utf8(id);
  captured.location_paths = location_paths(tree, node);
  const std::vector<std::string> information =
      string_list(registry_property(tree, node, CM_DRP_LOCATION_INFORMATION));
  if (!information.empty()) captured.location_information = information.front();
  return captured;
}

}  // namespace

const DeviceTree& device_tree() {
  static const DeviceTree tree = load_device_tree();
  return tree;
}

bool device_lists_usable(const DeviceTree& tree) {
  return tree.class_devices != nullptr && tree.enum_device != nullptr &&
         tree.destroy_list != nullptr;
}

UsbPlace usb_place_of_node(DEVINST node) {
  const DeviceTree& tree = device_tree();
  if (tree.device_id == nullptr || tree.parent == nullptr) return UsbPlace();
  std::vector<DeviceNode> chain;
  for (int depth = 0; depth < kDeepestChain; ++depth) {
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (tree.device_id(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) break;
    chain.push_back(captured_node(tree, node, id));
    DEVINST parent = 0;
    if (tree.parent(&parent, node, 0) != CR_SUCCESS) break;
    node = parent;
  }
  return usb_place_of_chain(chain);
}

bool locate_node(const std::wstring& id, DEVINST* node) {
  const DeviceTree& tree = device_tree();
  if (tree.locate_node == nullptr || id.empty()) return false;
  std::wstring copy = id;  // the function takes a non-const pointer
  return tree.locate_node(node, &copy[0], CM_LOCATE_DEVNODE_NORMAL) == CR_SUCCESS;
}
