#include "trigger/hid_trigger.h"

#include <hidapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "trigger/hid_pad.h"

namespace {

constexpr unsigned short kVendorId = 0x0D28;
constexpr unsigned short kProductId = 0x0204;
constexpr unsigned char kReportId = 0x01;
constexpr char kCommand[] = "{\"name\":\"entry_brevon_bl\"}";
constexpr size_t kCommandLength = sizeof(kCommand) - 1;  // no terminating zero
constexpr size_t kReportLength = 1 + kCommandLength;     // 27
constexpr size_t kBufferSize = 256;

// The reply wait is bounded: a device that never answers must not hold a
// build script or a production bench forever.
constexpr int kReadTimeoutMs = 1000;
constexpr int kMaxEmptyReads = 5;
constexpr unsigned kPauseAfterReadMs = 500;
constexpr unsigned kPauseAfterTriggerMs = 1000;

// A device string as UTF-8, control characters escaped, or "(null)" when
// the device has none.
std::string printable(const wchar_t* text) {
  return text == nullptr ? "(null)" : escape_controls(wide_to_utf8(text));
}

void print_entry(const hid_device_info* entry) {
  printf("Device Found\n  type: %04hx %04hx\n  path: %s\n  serial_number: %s",
         entry->vendor_id, entry->product_id, entry->path ? escape_controls(entry->path).c_str() : "(null)",
         printable(entry->serial_number).c_str());
  printf("\n");
  printf("  Manufacturer: %s\n", printable(entry->manufacturer_string).c_str());
  printf("  Product:      %s\n", printable(entry->product_string).c_str());
  printf("  Release:      %hx\n", entry->release_number);
  printf("  Interface:    %d\n", entry->interface_number);
  printf("\n");
}

bool selected(const hid_device_info* entry, const wchar_t* filter) {
  if (filter == nullptr) return true;
  return entry->serial_number != nullptr && wcscmp(entry->serial_number, filter) == 0;
}

// Reads until the device answers: each read waits at most kReadTimeoutMs, an
// empty one prints "waiting...", and kMaxEmptyReads empty reads in a row count
// as a failed read. Returns the last read's result.
int read_reply(hid_device* device, unsigned char* buffer) {
  int result = 0;
  int empty_reads = 0;
  while (result == 0) {
    result = hid_read_timeout(device, buffer, kBufferSize, kReadTimeoutMs);
    if (result == 0) {
      printf("waiting...\n");
      if (++empty_reads == kMaxEmptyReads) result = -1;
    }
    if (result < 0) printf("Unable to read()\n");
    pause_ms(kPauseAfterReadMs);
  }
  return result;
}

// The reply's bytes up to the first zero byte or the returned length.
void print_reply(const unsigned char* buffer, int result) {
  printf("Data read:\n   ");
  for (int i = 0; i < result && i < static_cast<int>(kBufferSize) && buffer[i] != 0; ++i) {
    printf("%02hhx ", buffer[i]);
  }
  printf("\n");
}

}  // namespace

int sendHID(const char* path) {
  hid_device* device = hid_open_path(path);
  if (device == nullptr) {
    printf("unable to open device\n");
    return 0;
  }
  // Zeros beyond the command: the padding, where the OS needs it, and the room
  // the reply is read into.
  const size_t write_length = hid_write_length(path, kReportId, kReportLength);
  std::vector<unsigned char> buffer(write_length > kBufferSize ? write_length : kBufferSize, 0);
  buffer[0] = kReportId;
  memcpy(&buffer[1], kCommand, kCommandLength);
  if (hid_write(device, buffer.data(), write_length) < 0) {
    hid_close(device);
    return 0;
  }
  const int result = read_reply(device, buffer.data());
  print_reply(buffer.data(), result);
  hid_close(device);
  return 1;
}

void DoHID(const wchar_t* filter) {
  use_utf8_character_type();
  if (hid_init() != 0) return;
  hid_device_info* devices = hid_enumerate(kVendorId, kProductId);
  for (hid_device_info* entry = devices; entry != nullptr; entry = entry->next) {
    print_entry(entry);
    if (selected(entry, filter)) sendHID(entry->path);
  }
  hid_free_enumeration(devices);
  hid_exit();
}

void send_hid_trigger() {
  DoHID(sn);
  pause_ms(kPauseAfterTriggerMs);
}
