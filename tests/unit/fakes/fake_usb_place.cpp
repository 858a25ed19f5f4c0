// Where the fake devices sit: the place scripted for a HID path or a serial
// port name, nothing for the rest.
#include "fakes/fake_usb_place.h"

#include <map>

namespace {
std::map<std::string, UsbPlace> g_places;
}  // namespace

namespace fake_usb_place {
void set(const std::string& device, const UsbPlace& place) { g_places[device] = place; }
void reset() { g_places.clear(); }
}  // namespace fake_usb_place

static UsbPlace place_of(const char* device) {
  if (device == nullptr) return UsbPlace();
  auto found = g_places.find(device);
  return found == g_places.end() ? UsbPlace() : found->second;
}

UsbPlace usb_place_of_hid(const char* path) { return place_of(path); }
UsbPlace usb_place_of_serial_port(const char* name) { return place_of(name); }
