#include "platform/usb_chain.h"

#include <cctype>
#include <cstddef>

namespace {

char upper(char c) { return static_cast<char>(toupper(static_cast<unsigned char>(c))); }

std::string upper(const std::string& text) {
  std::string result = text;
  for (char& c : result) c = upper(c);
  return result;
}

bool starts_with(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

// Instance ids and port names are ASCII, and Windows compares them without
// regard to letter case.
bool same_text(const std::string& a, const std::string& b) { return upper(a) == upper(b); }

// "USB\VID_0D28&PID_0204\SN" as enumerator "USB", device "VID_0D28&PID_0204"
// and instance "SN", upper-cased but the instance. False for fewer components.
struct InstanceId {
  std::string enumerator;
  std::string device;
  std::string instance;
};

bool split_instance_id(const std::string& id, InstanceId* split) {
  const size_t first = id.find('\\');
  const size_t last = id.rfind('\\');
  if (first == std::string::npos || first == 0 || last == first || last + 1 == id.size()) {
    return false;
  }
  split->enumerator = upper(id.substr(0, first));
  split->device = upper(id.substr(first + 1, last - first - 1));
  split->instance = id.substr(last + 1);
  return true;
}

// A USB device itself: the node the hub enumerated for the port, not one of
// a composite device's functions (USB\VID_0D28&PID_0204&MI_00\...) and not a
// root hub (USB\ROOT_HUB30\...), which hangs on no port.
bool is_usb_device_node(const InstanceId& id) {
  return id.enumerator == "USB" && id.device.find("&MI_") == std::string::npos &&
         !starts_with(id.device, "ROOT_HUB");
}

// BTHENUM, BTHLE, BTHLEDEVICE, BTH: a device reached over Bluetooth, whose
// radio may well be a USB device of its own.
bool is_bluetooth_node(const InstanceId& id) { return starts_with(id.enumerator, "BTH"); }

// The path that tells the port by the USB tree (PCIROOT(0)#...#USBROOT(0)#USB(2)),
// else the first the node has: both devices that meet on a port give the
// same list.
std::string preferred_path(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    if (path.find("#USBROOT(") != std::string::npos) return path;
  }
  for (const std::string& path : paths) {
    if (!path.empty()) return path;
  }
  return "";
}

// The port number in "Port_#0003.Hub_#0002", or 0.
unsigned long hub_port_number(const std::string& information) {
  const std::string prefix = "PORT_#";
  const std::string text = upper(information);
  if (!starts_with(text, prefix)) return 0;
  unsigned long port = 0;
  size_t at = prefix.size();
  for (; at < text.size() && isdigit(static_cast<unsigned char>(text[at])) && port < 1000; ++at) {
    port = port * 10 + static_cast<unsigned long>(text[at] - '0');
  }
  return at > prefix.size() && (at == text.size() || text[at] == '.') ? port : 0;
}

// The node's location path; a USB device without one gets the one Windows
// gives it, made from its hub's path and its port number on that hub.
std::string location_path_of(const std::vector<DeviceNode>& chain, size_t at) {
  const std::string own = preferred_path(chain[at].location_paths);
  if (!own.empty() || at + 1 >= chain.size()) return own;
  const unsigned long port = hub_port_number(chain[at].location_information);
  const std::string hub = preferred_path(chain[at + 1].location_paths);
  if (port == 0 || hub.empty()) return "";
  return hub + "#USB(" + std::to_string(port) + ")";
}

}  // namespace

std::string instance_id_of_interface_path(const std::string& path) {
  if (!starts_with(path, "\\\\?\\") && !starts_with(path, "\\\\.\\")) return "";
  const size_t guid = path.rfind("#{");
  if (guid == std::string::npos || guid <= 4) return "";
  std::string id = path.substr(4, guid - 4);
  for (char& c : id) {
    if (c == '#') c = '\\';
  }
  InstanceId split;
  return split_instance_id(id, &split) ? id : "";
}

std::string serial_of_instance_id(const std::string& instance_id) {
  InstanceId split;
  if (!split_instance_id(instance_id, &split)) return "";
  return split.instance.find('&') == std::string::npos ? split.instance : "";
}

UsbPlace usb_place_of_chain(const std::vector<DeviceNode>& chain) {
  UsbPlace place;
  for (size_t at = 0; at < chain.size(); ++at) {
    InstanceId id;
    if (!split_instance_id(chain[at].instance_id, &id)) continue;
    if (is_bluetooth_node(id)) break;
    if (!is_usb_device_node(id)) continue;
    place.port = location_path_of(chain, at);
    place.serial = serial_of_instance_id(chain[at].instance_id);
    break;
  }
  return place;
}

bool com_port_named(const std::string& given, const std::string& port_name) {
  const std::string device_namespace = "\\\\.\\";
  const std::string name =
      starts_with(given, device_namespace) ? given.substr(device_namespace.size()) : given;
  return !name.empty() && same_text(name, port_name);
}

bool drive_letter_named(const std::string& name, const std::string& root) {
  if (root.size() != 3 || !isalpha(static_cast<unsigned char>(root[0])) || root[1] != ':' ||
      root[2] != '\\') {
    return false;
  }
  if (name.empty() || name.size() > 3 || upper(name[0]) != upper(root[0])) return false;
  if (name.size() >= 2 && name[1] != ':') return false;
  return name.size() < 3 || name[2] == '\\' || name[2] == '/';
}
