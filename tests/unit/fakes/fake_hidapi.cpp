#include "fakes/fake_hidapi.h"

#include <hidapi.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "trigger/hid_pad.h"

struct hid_device_ {
  const FakeHidDevice* device;
  size_t reads = 0;
  bool open = true;
};

namespace {

std::vector<FakeHidDevice> g_devices;
bool g_init_fails = false;
bool g_initialised = false;
std::vector<std::string> g_calls;
std::vector<FakeWrite> g_writes;
std::vector<std::string> g_misuse;
hid_device_info* g_list = nullptr;  // the list handed out and not yet freed
std::vector<std::unique_ptr<hid_device_>> g_handles;

void call(const std::string& what) {
  g_calls.push_back(what);
  if (!g_initialised && what != "hid_init") g_misuse.push_back(what + " outside init/exit");
}

const FakeHidDevice* find_device(const char* path) {
  for (const FakeHidDevice& device : g_devices) {
    if (path != nullptr && device.path == path) return &device;
  }
  return nullptr;
}

bool usable(hid_device* handle, const char* what) {
  const bool known = std::any_of(g_handles.begin(), g_handles.end(),
                                 [&](const auto& h) { return h.get() == handle; });
  if (!known || !handle->open) {
    g_misuse.push_back(std::string(what) + " on a closed or unknown handle");
    return false;
  }
  return true;
}

wchar_t* copy_of(const std::shared_ptr<std::wstring>& text) {
  if (!text) return nullptr;
  wchar_t* out = new wchar_t[text->size() + 1];
  std::copy(text->begin(), text->end(), out);
  out[text->size()] = L'\0';
  return out;
}

}  // namespace

std::shared_ptr<std::wstring> wide(const wchar_t* text) {
  return std::make_shared<std::wstring>(text);
}

namespace fake_hidapi {
void script(const std::vector<FakeHidDevice>& devices) { g_devices = devices; }
void fail_init() { g_init_fails = true; }
const std::vector<std::string>& calls() { return g_calls; }
const std::vector<FakeWrite>& writes() { return g_writes; }
const std::vector<std::string>& misuse() { return g_misuse; }
void reset() {
  if (g_list != nullptr) hid_free_enumeration(g_list);
  g_devices.clear();
  g_init_fails = g_initialised = false;
  g_calls.clear();
  g_writes.clear();
  g_misuse.clear();
  g_handles.clear();
}
}  // namespace fake_hidapi

int hid_init(void) {
  call("hid_init");
  if (g_init_fails) return -1;
  g_initialised = true;
  return 0;
}

int hid_exit(void) {
  call("hid_exit");
  for (const auto& handle : g_handles) {
    if (handle->open) g_misuse.push_back("hid_exit with " + handle->device->path + " open");
  }
  if (g_list != nullptr) g_misuse.push_back("hid_exit before hid_free_enumeration");
  g_initialised = false;
  return 0;
}

hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
  char what[64];
  snprintf(what, sizeof what, "hid_enumerate %04x %04x", vendor_id, product_id);
  call(what);
  hid_device_info* head = nullptr;
  hid_device_info** tail = &head;
  for (const FakeHidDevice& device : g_devices) {
    if (device.vendor_id != vendor_id || device.product_id != product_id) continue;
    hid_device_info* entry = new hid_device_info();
    entry->path = new char[device.path.size() + 1];
    memcpy(entry->path, device.path.c_str(), device.path.size() + 1);
    entry->vendor_id = device.vendor_id;
    entry->product_id = device.product_id;
    entry->serial_number = copy_of(device.serial_number);
    entry->release_number = device.release_number;
    entry->manufacturer_string = copy_of(device.manufacturer);
    entry->product_string = copy_of(device.product);
    entry->interface_number = device.interface_number;
    *tail = entry;
    tail = &entry->next;
  }
  if (g_list != nullptr) g_misuse.push_back("hid_enumerate while a list is alive");
  g_list = head;
  return head;
}

void hid_free_enumeration(hid_device_info* devices) {
  call("hid_free_enumeration");
  if (devices != g_list) g_misuse.push_back("hid_free_enumeration of a list not handed out");
  while (devices != nullptr) {
    hid_device_info* next = devices->next;
    delete[] devices->path;
    delete[] devices->serial_number;
    delete[] devices->manufacturer_string;
    delete[] devices->product_string;
    delete devices;
    devices = next;
  }
  g_list = nullptr;
}

hid_device* hid_open_path(const char* path) {
  call(std::string("hid_open_path ") + (path ? path : "(null)"));
  // The path must point into the live list, as DoHID hands it on.
  bool in_list = false;
  for (hid_device_info* entry = g_list; entry != nullptr; entry = entry->next) {
    in_list = in_list || entry->path == path;
  }
  if (!in_list) g_misuse.push_back("hid_open_path with a path outside the live list");
  const FakeHidDevice* device = find_device(path);
  if (device == nullptr || device->open_fails) return nullptr;
  g_handles.push_back(std::make_unique<hid_device_>());
  g_handles.back()->device = device;
  return g_handles.back().get();
}

int hid_write(hid_device* handle, const unsigned char* data, size_t length) {
  if (!usable(handle, "hid_write")) return -1;
  call("hid_write " + handle->device->path + " " + std::to_string(length));
  g_writes.push_back({handle->device->path, std::vector<unsigned char>(data, data + length)});
  const int result = handle->device->write_result;
  return result != 0 ? result : static_cast<int>(length);
}

int hid_read_timeout(hid_device* handle, unsigned char* data, size_t length, int milliseconds) {
  if (!usable(handle, "hid_read_timeout")) return -1;
  call("hid_read_timeout " + handle->device->path + " " + std::to_string(length) + " " +
       std::to_string(milliseconds));
  const std::vector<FakeRead>& replies = handle->device->replies;
  if (handle->reads >= replies.size()) return 0;
  const FakeRead& reply = replies[handle->reads++];
  if (reply.result > 0) {
    const size_t n = std::min(reply.bytes.size(), length);
    memcpy(data, reply.bytes.data(), n);
  }
  return reply.result;
}

// A read without a time limit could hold the tool forever: the fake records
// it so tests can show it is never used.
int hid_read(hid_device* handle, unsigned char*, size_t) {
  if (!usable(handle, "hid_read")) return -1;
  call("hid_read " + handle->device->path);
  return -1;
}

void hid_close(hid_device* handle) {
  if (!usable(handle, "hid_close")) return;
  call("hid_close " + handle->device->path);
  handle->open = false;
}

size_t hid_write_length(const char* path, unsigned, size_t length) {
  const FakeHidDevice* device = find_device(path);
  return device != nullptr && device->write_length > length ? device->write_length : length;
}
